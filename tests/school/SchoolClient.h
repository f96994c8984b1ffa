#pragma once

#include <QByteArray>
#include <QJsonObject>
#include <QList>
#include <QNetworkAccessManager>
#include <QPair>
#include <QString>
#include <QStringList>

// A test's own way of talking to the school: signs calls the way the client must and sends
// plain GETs. Kept apart from the client's libraries so that a fault there is not mirrored.
class SchoolClient
{
public:
    struct Reply
    {
        int status = 0;
        bool networkError = false;
        QByteArray body;
        qint64 announcedLength = -1;
        qint64 elapsedMs = 0;
    };
    using Params = QList<QPair<QString, QString>>;

    explicit SchoolClient(const QString& apiUrl) : api(apiUrl) {}

    static QString sign(const QStringList& values);
    // GET api + path + "?" + params (values percent-encoded) + "&sign=" + signature.
    Reply call(const QString& path, const Params& params, const QStringList& signedValues);
    QJsonObject callJson(const QString& path, const Params& params,
                         const QStringList& signedValues);
    Reply get(const QString& url, const QByteArray& cookie = QByteArray(), int timeoutMs = 10000);

    // Session id, then login; the session id stays in `sid`.
    bool login(const QString& username, const QString& password);
    QJsonObject keysAndUrl(const QString& classId, const QString& lessonId, const QString& cType);

    QString sid;

private:
    QString api;
    QNetworkAccessManager manager;
};
