#include "TransferGuard.h"

#include "LogMask.h"

#include <QDebug>
#include <QNetworkReply>

static const char expiredProperty[] = "tamixTransferExpired";
static const char oversizedProperty[] = "tamixTransferOversized";

TransferGuard* TransferGuard::attach(QNetworkReply* reply, const Limits& limits)
{
    return new TransferGuard(reply, limits);
}

bool TransferGuard::hasExpired(const QNetworkReply* reply)
{
    return reply && reply->property(expiredProperty).toBool();
}

bool TransferGuard::isOversized(const QNetworkReply* reply)
{
    return reply && reply->property(oversizedProperty).toBool();
}

bool TransferGuard::overrun(QNetworkReply* reply, qint64 consumed)
{
    const TransferGuard* guard =
        reply ? reply->findChild<TransferGuard*>(QString(), Qt::FindDirectChildrenOnly) : nullptr;
    if (!guard || guard->limits.maxBytes <= 0 || consumed <= guard->limits.maxBytes) {
        return false;
    }
    if (!isOversized(reply)) {
        qDebug().noquote() << "answer longer than" << guard->limits.maxBytes
                           << "bytes:" << LogMask::url(reply->url());
        reply->setProperty(oversizedProperty, true);
        // Not from within the reader, which goes on with the reply after this.
        QMetaObject::invokeMethod(reply, &QNetworkReply::abort, Qt::QueuedConnection);
    }
    return true;
}

TransferGuard::TransferGuard(QNetworkReply* reply, const Limits& limits)
    : QObject(reply), reply(reply), limits(limits)
{
    answerTimer.setSingleShot(true);
    connect(&answerTimer, &QTimer::timeout, this, [this] {
        expire(this->limits.floorBytes > 0 ? "no answer in time" : "not finished in time");
    });
    connect(&windowTimer, &QTimer::timeout, this, &TransferGuard::check);
    connect(reply, &QNetworkReply::downloadProgress, this, [this](qint64 bytes, qint64) {
        received = bytes;
        if (this->limits.maxBytes > 0 && bytes > this->limits.maxBytes &&
            !isOversized(this->reply)) {
            qDebug().noquote() << "answer longer than" << this->limits.maxBytes
                               << "bytes:" << LogMask::url(this->reply->url());
            // Flagged even when it is already whole: it is refused all the same.
            this->reply->setProperty(oversizedProperty, true);
            if (!this->reply->isFinished()) {
                this->reply->abort();
            }
        }
    });
    connect(reply, &QNetworkReply::metaDataChanged, this, [this] {
        if (answered || this->limits.floorBytes <= 0) {
            return;
        }
        // From the answer on, the floor watches the body instead of the deadline.
        answered = true;
        answerTimer.stop();
        receivedAtWindowStart = received;
        windowTimer.start(this->limits.windowMs);
    });
    connect(reply, &QNetworkReply::finished, this, [this] {
        answerTimer.stop();
        windowTimer.stop();
    });
    if (limits.answerMs > 0) {
        answerTimer.start(limits.answerMs);
    }
}

void TransferGuard::check()
{
    if (received - receivedAtWindowStart < limits.floorBytes) {
        expire("body slower than the floor");
        return;
    }
    receivedAtWindowStart = received;
}

void TransferGuard::expire(const char* why)
{
    if (reply->isFinished()) {
        return;
    }
    qDebug().noquote() << "request ended:" << why << LogMask::url(reply->url());
    reply->setProperty(expiredProperty, true);
    answerTimer.stop();
    windowTimer.stop();
    reply->abort();
}
