#include "InstallerDownload.h"

#include <QDebug>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QSaveFile>

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

void InstallerDownload::start(const QString& url, const QString& path, const QString& sha256)
{
    if (reply) {
        return;
    }
    target = path;
    expectedHash = QByteArray::fromHex(sha256.trimmed().toLatin1());
    delete file;
    file = new QSaveFile(path);
    hash.reset();
    if (!file->open(QIODevice::WriteOnly)) {
        const QString reason = file->errorString();
        QMetaObject::invokeMethod(
            this, [this, reason] { fail(QStringLiteral("cannot write: ") + reason); },
            Qt::QueuedConnection);
        return;
    }
    QNetworkRequest request{QUrl(url)};
    request.setAttribute(QNetworkRequest::RedirectPolicyAttribute,
                         QNetworkRequest::NoLessSafeRedirectPolicy);
    request.setTransferTimeout(30000);
    reply = manager->get(request);
    connect(reply, &QNetworkReply::readyRead, this, &InstallerDownload::onReadyRead);
    connect(reply, &QNetworkReply::downloadProgress, this, &InstallerDownload::progress);
    connect(reply, &QNetworkReply::finished, this, &InstallerDownload::onFinished);
}

void InstallerDownload::onReadyRead()
{
    const QByteArray chunk = reply->readAll();
    hash.addData(chunk);
    if (file->write(chunk) != chunk.size()) {
        reply->abort();
    }
}

void InstallerDownload::onFinished()
{
    onReadyRead();
    QNetworkReply* done = reply;
    reply = nullptr;
    done->deleteLater();

    const int status = done->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt();
    const QVariant announced = done->header(QNetworkRequest::ContentLengthHeader);
    const qint64 size = file->size();
    if (done->error() != QNetworkReply::NoError) {
        fail(QStringLiteral("network error: ") + done->errorString());
    } else if (status < 200 || status > 299) {
        fail(QStringLiteral("HTTP status %1").arg(status));
    } else if (announced.isValid() && announced.toLongLong() != size) {
        fail(QStringLiteral("%1 of %2 bytes").arg(size).arg(announced.toLongLong()));
    } else if (size == 0) {
        fail(QStringLiteral("empty file"));
    } else if (!expectedHash.isEmpty() && hash.result() != expectedHash) {
        fail(QStringLiteral("SHA-256 does not match"));
    } else if (!file->commit()) {
        fail(QStringLiteral("cannot write: ") + file->errorString());
    } else {
        delete file;
        file = nullptr;
        emit finished(true, target, QString());
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
