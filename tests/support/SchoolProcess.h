#pragma once

#include <QHash>
#include <QJsonArray>
#include <QJsonObject>
#include <QString>
#include <QStringList>

class QNetworkAccessManager;
class QProcess;

// Runs the stand-in school (tamix-school) as a child process on free loopback ports for one
// test, and stops it in the destructor.
//
//     SchoolProcess school;
//     QVERIFY2(school.start(), qPrintable(school.errorString()));
//     qputenv("TAMIX_API_URL", school.apiUrl().toUtf8());
//     qputenv("TAMIX_KEY_URL", school.keyUrl().toUtf8());
//     school.addFault({{"route", "/stream/*/seg00001.ts"}, {"status", 500}, {"times", 2}});
//     ... exercise the client ...
//     QCOMPARE(school.stats()["routes"].toObject()["segment"].toInt(), 7);
//
// Fault objects take the keys of `tamix-school --help`: route (path glob), every, times,
// latency, rate, status, cut, stall, html, chunked, playlist, shortKey.
// stats() holds: requests (total), routes {name: count} with the names getSessionId,
// dologin, doregister, doforget, GetMyCourseList, GetMyCourseInfoForPc,
// GetMyCourseInfoForPcDownLoad, GetKeysAndUrlByLid, PushLearnStatus, getPcUpdate, myclass,
// playlist, key, segment, keyfile, image, installer, static, site; paths {path: count};
// cookies [{route, path, cookie}] (header values as decoded by the server);
// learnStatus [{username, class_id, lesson_id, stutas, c_type}]; badSignatures (total);
// badSignatureRoutes {name: count}; faults (the rules with their seen/hit counters).
//
// Control calls block for at most a few seconds and return false (or an empty object) when
// the server does not answer. Use from the thread that created the object.
class QNetworkReply;

class SchoolProcess
{
public:
    explicit SchoolProcess(const QStringList& extraArguments = QStringList());
    ~SchoolProcess();
    SchoolProcess(const SchoolProcess&) = delete;
    SchoolProcess& operator=(const SchoolProcess&) = delete;

    // Starts the server and waits until it answers; false with errorString() otherwise.
    bool start(int timeoutMs = 15000);
    // Terminates the server and waits for it; safe to call twice.
    void stop();
    // An outage: stops the server, keeps it away for `downMs` (connections are refused; this
    // thread's events go on) and starts it again on the same ports. Faults and statistics
    // start afresh; bound sessions stay.
    bool restart(int downMs, int timeoutMs = 15000);
    bool isRunning() const;
    // The server's process id (0 when not running), for benchmarks that watch its CPU time.
    qint64 processId() const;
    QString errorString() const { return error; }

    // "http://127.0.0.1:PORT" of the API server and of the key-file server.
    QString apiUrl() const { return api; }
    QString keyUrl() const { return keys; }

    bool setFaults(const QJsonArray& faults); // replaces every rule; counters restart
    bool addFault(const QJsonObject& fault);
    bool clearFaults() { return setFaults(QJsonArray()); }
    QJsonObject stats();
    bool resetStats();
    // Binds a session id to a user as if that session had logged in (empty user: logged out).
    bool bindSession(const QString& sid, const QString& username);
    // Changes the version answer of the version-check call.
    bool setDesktopVersion(const QString& version, const QString& content = QString());

    // Waits at most `timeoutMs` for a reply; aborts it and returns false when it did not finish.
    static bool waitForReply(QNetworkReply* reply, int timeoutMs);

    static QString executable();
    // Where the generated lessons lie: mediaDir() + "/lessons/<media id>/" holds index.m3u8,
    // key.bin and the segments; mediaDir() + "/img/" the pictures.
    static QString mediaDir();
    // The committed seed file: users, courses, lessons, media.
    static QString seedFile();

private:
    bool post(const QString& path, const QByteArray& body);
    QByteArray get(const QString& path, bool* ok);

    QStringList arguments;
    QProcess* process = nullptr;
    QNetworkAccessManager* manager = nullptr;
    QString api;
    QString keys;
    QString error;
    QHash<QString, QString> sessions; // sid -> user name, bound again by restart()
    int apiPort = 0;                  // 0: a free port
    int keyPort = 0;
};
