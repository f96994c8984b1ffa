#include "SchoolClient.h"

#include "SchoolProcess.h"

#include <QCryptographicHash>
#include <QElapsedTimer>
#include <QJsonDocument>
#include <QNetworkReply>
#include <QUrl>

QString SchoolClient::sign(const QStringList& values)
{
    QByteArray text;
    for (const QString& v : values) {
        text += "mavrotq3071|" + v.toLatin1();
    }
    return QString::fromLatin1(QCryptographicHash::hash(text, QCryptographicHash::Md5).toHex());
}

SchoolClient::Reply SchoolClient::get(const QString& url, const QByteArray& cookie, int timeoutMs)
{
    QNetworkRequest request{QUrl(url)};
    if (!cookie.isEmpty()) {
        request.setRawHeader("Cookie", cookie);
    }
    QElapsedTimer clock;
    clock.start();
    QNetworkReply* reply = manager.get(request);
    Reply out;
    out.networkError = !SchoolProcess::waitForReply(reply, timeoutMs);
    out.elapsedMs = clock.elapsed();
    out.status = reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt();
    const QVariant length = reply->header(QNetworkRequest::ContentLengthHeader);
    out.announcedLength = length.isValid() ? length.toLongLong() : -1;
    out.networkError = out.networkError || (reply->error() != QNetworkReply::NoError &&
                                            reply->error() < QNetworkReply::ContentAccessDenied);
    out.body = reply->readAll();
    delete reply;
    return out;
}

SchoolClient::Reply SchoolClient::call(const QString& path, const Params& params,
                                       const QStringList& signedValues)
{
    QByteArray query;
    for (const auto& p : params) {
        query += (query.isEmpty() ? "?" : "&") + p.first.toUtf8() + '=' +
                 QUrl::toPercentEncoding(p.second);
    }
    query += (query.isEmpty() ? "?" : "&") + QByteArray("sign=") + sign(signedValues).toLatin1();
    return get(api + path + QString::fromLatin1(query));
}

QJsonObject SchoolClient::callJson(const QString& path, const Params& params,
                                   const QStringList& signedValues)
{
    return QJsonDocument::fromJson(call(path, params, signedValues).body).object();
}

bool SchoolClient::login(const QString& username, const QString& password)
{
    sid = callJson(QStringLiteral("/foreuser_app/getSessionId/"), {}, {QStringLiteral("3")})
              .value(QLatin1String("data"))
              .toObject()
              .value(QLatin1String("sid"))
              .toString();
    const QJsonObject answer =
        callJson(QStringLiteral("/foreuser_app/dologin/"),
                 {{"key", sid}, {"password", password}, {"username", username}},
                 {sid, password, QStringLiteral("3"), username});
    return !sid.isEmpty() && answer.value(QLatin1String("flag")).toString() == QLatin1String("1");
}

QJsonObject SchoolClient::keysAndUrl(const QString& classId, const QString& lessonId,
                                     const QString& cType)
{
    return callJson(
               QStringLiteral("/course_app/GetKeysAndUrlByLid/"),
               {{"key", sid}, {"class_id", classId}, {"lesson_id", lessonId}, {"c_type", cType}},
               {cType, classId, sid, lessonId, QStringLiteral("3")})
        .value(QLatin1String("data"))
        .toObject();
}
