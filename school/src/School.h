#pragma once

#include <QByteArray>
#include <QHash>
#include <QJsonArray>
#include <QJsonObject>
#include <QString>
#include <QStringList>
#include <QVector>

#include <mutex>

class MediaLibrary;
class RequestQuery;
class Statistics;

// The school's accounts, courses and sessions, and its answers to the signed calls and the
// course pages. Thread-safe: every answer is built under one lock.
class School
{
public:
    struct Answer
    {
        int status = 200;
        QByteArray contentType;
        QByteArray body;
    };

    School(const MediaLibrary& media, Statistics& stats);

    bool loadSeed(const QByteArray& json, QString* error);
    QJsonArray mediaSeed() const { return seedMedia; }
    void setApiBase(const QString& url) { apiBase = url; }
    void setPageTemplates(const QHash<QString, QByteArray>& templates) { pages = templates; }

    // A signed call: folder "foreuser_app" or "course_app", endpoint as in the path. False
    // when there is no such call. A `playlistQuery` goes after the playlist address of the
    // key-and-address answer, as a signed CDN address would carry it.
    bool call(const QString& folder, const QString& endpoint, const RequestQuery& query,
              Answer* answer, const QString& playlistQuery = QString());
    Answer myClassPage(const RequestQuery& query);
    // A plain page of the school's look with a title and one message.
    Answer htmlMessage(int status, const QString& title, const QString& text) const;

    // Whether the "keys" cookie header of a stream request opens the given stream.
    bool cookieOpens(const QString& cookieHeader, const QString& streamId) const;
    QString versionInstallerName() const;
    qint64 installerSize() const { return desktopInstallerSize; }
    // The SHA-256 of the installer the server hands out, in lowercase hexadecimal; the version
    // answer carries it as "meta_sha256", its Ed25519 signature by the school's test signing
    // key as "meta_signature" (base64) and the installer's length as "meta_size". Test builds
    // of the client trust that key: TAMIX_UPDATE_PUBKEY in scripts/test.
    void setInstallerSha256(const QString& hex);

    // Control: bind a session id to a user (without a login call); change the version answer.
    bool bindSession(const QString& sid, const QString& username, QString* error);
    // Forgets every session, as a school restarted or expiring its sessions does; how many.
    int forgetSessions();
    void setDesktopVersion(const QString& version, const QString& content);

private:
    struct Progress
    {
        QString stutas;
        QString watchtimes;
    };
    struct User
    {
        QString uid, username, password, nickname, email, avatar;
        QStringList courses;
        QHash<QString, Progress> progress;
    };
    struct Lesson
    {
        QJsonObject fields; // as the seed gives them, numbers stay numbers
        QString id, type, cType, media, title;
        int number = 0;
    };
    struct Course
    {
        QString id, title, teacher, listForm;
        QVector<Lesson> lessons;
    };
    using Handler = Answer (School::*)(const RequestQuery&);
    struct Call
    {
        QString folder;
        QStringList signedKeys; // query keys in signing order; "=3" is the constant
        Handler handler;
        bool page = false;
    };

    static QByteArray envelope(const QString& flag, const QByteArray& data, const QString& infos);
    static Answer notLoggedIn();
    static Answer courseNotBought();
    static Answer json(const QString& flag, const QByteArray& data, const QString& infos);
    static Answer json(const QString& flag, const QJsonObject& data, const QString& infos);
    Answer renderPage(const QString& name, const QString& title, const QJsonObject& data) const;

    static QStringList signedValues(const QStringList& keys, const RequestQuery& query);
    const User* sessionUser(const RequestQuery& query) const;
    User* sessionUser(const RequestQuery& query);
    const Course* ownedCourse(const User& user, const QString& classId) const;
    QString imageUrl(const QString& path) const;
    QString keysFor(const QString& sid, const QString& lessonId) const;
    QJsonObject lessonFor(const User& user, const Lesson& lesson) const;
    QJsonObject pageCourse(const User& user, const Course& course) const;
    QJsonObject pageUser(const User& user) const;

    Answer getSessionId(const RequestQuery& query);
    Answer doLogin(const RequestQuery& query);
    Answer doRegister(const RequestQuery& query);
    Answer doForget(const RequestQuery& query);
    Answer getMyCourseList(const RequestQuery& query);
    Answer getMyCourseInfoForPc(const RequestQuery& query);
    Answer getMyCourseInfoForPcDownLoad(const RequestQuery& query);
    Answer getKeysAndUrlByLid(const RequestQuery& query);
    Answer pushLearnStatus(const RequestQuery& query);
    Answer getPcUpdate(const RequestQuery& query);

    const MediaLibrary& media;
    Statistics& stats;
    mutable std::mutex mutex;
    QHash<QString, Call> calls;
    QHash<QString, QByteArray> pages;
    QString apiBase;
    QString playlistQuery; // of the call being answered; the handlers share one signature
    QJsonArray seedMedia;
    QHash<QString, User> users; // by user name
    QHash<QString, Course> courses;
    QHash<QString, QString> sessions;           // session id to user name, empty until login
    mutable QHash<QString, QString> issuedKeys; // "keys" text to stream id
    int nextUid = 2001;
    QString desktopVersion, desktopContent, desktopInstaller;
    qint64 desktopInstallerSize = 0;
    QString desktopInstallerSha256;
    QString desktopInstallerSignature;
};
