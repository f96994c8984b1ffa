#include "InstallerDownload.h"

#include "DiskBudget.h"
#include "InstallerSignature.h"
#include "TransferGuard.h"
#include "UrlPolicy.h"

#include <QDebug>
#include <QFileInfo>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QRegularExpression>
#include <QSaveFile>

namespace {

// What the network layer holds for us at most; it stops reading the socket beyond that.
const qint64 readBufferBytes = 256 * 1024;

int& floorWindowMs()
{
    static int ms = 30000;
    return ms;
}

bool isSha256Hex(const QString& text)
{
    static const QRegularExpression hex(QStringLiteral("^[0-9a-fA-F]{64}$"));
    return hex.match(text).hasMatch();
}

// No installer of this client comes near it; an offer without a size is held to it.
constexpr qint64 ceilingBytes = 1024LL * 1024 * 1024;

} // namespace

InstallerDownload::InstallerDownload(QObject* parent)
    : QObject(parent), manager(new QNetworkAccessManager(this))
{
}

InstallerDownload::~InstallerDownload()
{
    if (reply) {
        reply->disconnect(this);
        reply->abort();
    }
    delete file; // an unfinished QSaveFile discards what it wrote
}

InstallerDownload::Refusal InstallerDownload::refusal(const QString& url, const QString& path,
                                                      const Expected& expected)
{
    if (!UrlPolicy::isAllowed(url)) {
        return Refusal::Address;
    }
    const QString sha256 = expected.sha256.trimmed();
    if (!sha256.isEmpty() && !isSha256Hex(sha256)) {
        return Refusal::Checksum;
    }
    if (InstallerSignature::isRequired()) {
        if (!InstallerSignature::isWellFormed(expected.signature)) {
            return Refusal::Signature;
        }
    } else if (sha256.isEmpty()) {
        // Whatever arrived would be started unchecked.
        return Refusal::Unverifiable;
    }
    const qint64 space = DiskBudget::room(path);
    if (expected.size > 0 && space >= 0 && expected.size > space) {
        return Refusal::Space;
    }
    return Refusal::None;
}

void InstallerDownload::setFloorWindowForTests(int ms)
{
    floorWindowMs() = ms;
}

void InstallerDownload::start(const QString& url, const QString& path, const Expected& offer)
{
    if (reply) {
        return;
    }
    target = path;
    expected = offer;
    expected.sha256 = offer.sha256.trimmed().toLower();
    received = 0;
    failure.clear();
    hash.reset();
    delete file;
    file = nullptr;
    QString reason;
    if (refusal(url, path, expected) != Refusal::None) {
        reason = QStringLiteral("refused before downloading");
    } else {
        file = new QSaveFile(path);
        if (!file->open(QIODevice::WriteOnly)) {
            reason = QStringLiteral("cannot write: ") + file->errorString();
        }
    }
    if (!reason.isEmpty()) {
        QMetaObject::invokeMethod(
            this, [this, reason] { fail(reason); }, Qt::QueuedConnection);
        return;
    }
    // Until the answer says otherwise, the ceiling and the drive's room bound the body.
    announced = expected.size > 0;
    limit = announced ? expected.size : ceilingBytes;
    const qint64 room = DiskBudget::room(path);
    if (room >= 0) {
        limit = qMin(limit, room);
    }

    QNetworkRequest request{QUrl(url)};
    UrlPolicy::prepare(request);
    reply = manager->get(request);
    reply->setReadBufferSize(readBufferBytes);
    UrlPolicy::watch(reply);
    TransferGuard::Limits limits;
    limits.answerMs = 30000;
    limits.windowMs = floorWindowMs();
    limits.floorBytes = qint64(limits.windowMs) * 1024 / 1000; // 1 KB for each second of it
    TransferGuard::attach(reply, limits);
    connect(reply, &QNetworkReply::metaDataChanged, this, &InstallerDownload::onMetaData);
    connect(reply, &QNetworkReply::readyRead, this, &InstallerDownload::onReadyRead);
    connect(reply, &QNetworkReply::downloadProgress, this, &InstallerDownload::progress);
    connect(reply, &QNetworkReply::finished, this, &InstallerDownload::onFinished);
}

void InstallerDownload::onMetaData()
{
    if (!reply || !failure.isEmpty()) {
        return;
    }
    const int status = reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt();
    if (status >= 300 && status <= 399) {
        return; // a redirect; the answer that follows it counts
    }
    if (status < 200 || status > 299) {
        stop(QStringLiteral("HTTP status %1").arg(status));
        return;
    }
    const QVariant header = reply->header(QNetworkRequest::ContentLengthHeader);
    if (!header.isValid()) {
        return;
    }
    const qint64 length = header.toLongLong();
    const qint64 space = DiskBudget::room(target);
    if (expected.size > 0 && length != expected.size) {
        stop(QStringLiteral("%1 bytes announced, the version answer says %2")
                 .arg(length)
                 .arg(expected.size));
    } else if (space >= 0 && length > space) {
        stop(QStringLiteral("%1 bytes announced, room for %2").arg(length).arg(space));
    } else if (length > ceilingBytes) {
        stop(QStringLiteral("%1 bytes announced, more than an installer may have").arg(length));
    } else {
        limit = length;
        announced = true;
    }
}

void InstallerDownload::onReadyRead()
{
    while (reply && failure.isEmpty() && reply->bytesAvailable() > 0) {
        const QByteArray chunk = reply->read(readBufferBytes);
        if (chunk.isEmpty()) {
            return;
        }
        received += chunk.size();
        if (limit >= 0 && received > limit) {
            stop(announced ? QStringLiteral("more than the %1 bytes announced").arg(limit)
                           : QStringLiteral("more than the %1 bytes allowed without an announced "
                                            "size (ceiling, or the disk's room)")
                                 .arg(limit));
            return;
        }
        hash.addData(chunk);
        if (file->write(chunk) != chunk.size()) {
            stop(QStringLiteral("cannot write: ") + file->errorString());
            return;
        }
    }
}

void InstallerDownload::onFinished()
{
    onReadyRead();
    QNetworkReply* done = reply;
    reply = nullptr;
    done->deleteLater();

    const int status = done->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt();
    const QByteArray digest = hash.result();
    if (!failure.isEmpty()) {
        fail(failure);
    } else if (UrlPolicy::isRefused(done)) {
        fail(QStringLiteral("redirected to a refused address"));
    } else if (TransferGuard::hasExpired(done)) {
        fail(QStringLiteral("too slow"));
    } else if (done->error() != QNetworkReply::NoError) {
        fail(QStringLiteral("network error: ") + done->errorString());
    } else if (status < 200 || status > 299) {
        fail(QStringLiteral("HTTP status %1").arg(status));
    } else if (received == 0) {
        fail(QStringLiteral("empty file"));
    } else if ((expected.size > 0 ||
                done->header(QNetworkRequest::ContentLengthHeader).isValid()) &&
               received != limit) {
        fail(QStringLiteral("%1 of %2 bytes").arg(received).arg(limit));
    } else if (!expected.sha256.isEmpty() && digest.toHex() != expected.sha256.toLatin1()) {
        fail(QStringLiteral("SHA-256 does not match"));
    } else if (InstallerSignature::isRequired() &&
               !InstallerSignature::verify(digest, expected.signature)) {
        fail(QStringLiteral("signature does not match"));
    } else if (!file->commit()) {
        fail(QStringLiteral("cannot write: ") + file->errorString());
    } else {
        delete file;
        file = nullptr;
        emit finished(true, target, QString());
    }
}

void InstallerDownload::stop(const QString& reason)
{
    failure = reason;
    // Aborting finishes the reply, and onFinished reports the reason. Not from within the
    // reply's own signal, whose handling goes on after it (a second error report).
    if (reply && !reply->isFinished()) {
        QMetaObject::invokeMethod(reply, &QNetworkReply::abort, Qt::QueuedConnection);
    }
}

void InstallerDownload::fail(const QString& reason)
{
    qWarning().noquote() << "installer download failed:" << reason;
    if (file) {
        file->cancelWriting();
        delete file;
        file = nullptr;
    }
    emit finished(false, target, reason);
}
