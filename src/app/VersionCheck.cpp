#include "VersionCheck.h"

#include "App.h"
#include "HttpHelper.h"
#include "JsonHelper.h"
#include "URLManager.h"
#include "VersionNumber.h"

#include <QDebug>

VersionCheck::VersionCheck(URLManager* urls, QObject* parent)
    : QObject(parent), urls(urls), startHttp(new HttpHelper(this)), askedHttp(new HttpHelper(this))
{
    // The school's version answer may take longer than the other calls.
    startHttp->setTimeout(30000);
    askedHttp->setTimeout(30000);
    connect(startHttp, &HttpHelper::done, this, [this](const QString& result) {
        // The student asked meanwhile: that answer speaks, not this one.
        if (!askedPending) {
            answer(result, false);
        }
    });
    connect(askedHttp, &HttpHelper::done, this, [this](const QString& result) {
        askedPending = false;
        answer(result, true);
    });
}

void VersionCheck::checkAtStart()
{
    startHttp->get(urls->getPcUpdateUrl());
}

void VersionCheck::checkAsked()
{
    if (askedPending) {
        return;
    }
    askedPending = true;
    askedHttp->get(urls->getPcUpdateUrl());
}

void VersionCheck::answer(const QString& result, bool asked)
{
    QString message = QStringLiteral("获取版本信息失败");
    if (!result.isEmpty()) {
        const JsonNode reply = JsonHelper::parse(result);
        if (reply.getString(QStringLiteral("flag")) == QLatin1String("1")) {
            const JsonNode data = reply.getObject(QStringLiteral("data"));
            const QString offered = data.getString(QStringLiteral("meta_version"));
            const VersionNumber newest(offered);
            if (!newest.isValid()) {
                qWarning().noquote() << "the version answer holds no version:" << offered;
            } else if (newest.isNewerThan(VersionNumber(App::version))) {
                FormUpgrade::Offer offer;
                offer.version = offered;
                offer.content = data.getString(QStringLiteral("meta_content"));
                offer.url = data.getString(QStringLiteral("meta_download_url"));
                offer.sha256 = data.getString(QStringLiteral("meta_sha256"));
                offer.signature = data.getString(QStringLiteral("meta_signature"));
                bool sized = false;
                const qint64 size = data.getString(QStringLiteral("meta_size")).toLongLong(&sized);
                offer.size = sized && size > 0 ? size : -1;
                emit newerVersion(offer);
                return;
            } else {
                message = QStringLiteral("当前已经是最新版本");
            }
        } else {
            message = reply.getString(QStringLiteral("infos"));
        }
    }
    if (asked) {
        emit answered(message.isEmpty() ? QStringLiteral("获取版本信息失败") : message);
    }
}
