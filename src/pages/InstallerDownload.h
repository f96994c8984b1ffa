#pragma once

#include <QCryptographicHash>
#include <QObject>
#include <QString>

class QNetworkAccessManager;
class QNetworkReply;
class QSaveFile;

// Downloads the installer of a new version to a file, written under a temporary name and put
// in place only when the download is whole: HTTP 2xx, no network error, as many bytes as the
// server announced (when it did), not empty, and the SHA-256 the version answer gave (when it
// gave one). Anything else leaves no file behind.
class InstallerDownload : public QObject
{
    Q_OBJECT
public:
    explicit InstallerDownload(QObject* parent = nullptr);
    ~InstallerDownload() override;

    // `sha256` in hexadecimal, or empty when the server gave none.
    void start(const QString& url, const QString& path, const QString& sha256);
    bool isRunning() const { return reply != nullptr; }

signals:
    void progress(qint64 received, qint64 total);
    // `ok` with the finished file at `path`; otherwise `reason` says what was wrong (for the
    // log).
    void finished(bool ok, const QString& path, const QString& reason);

private:
    void onReadyRead();
    void onFinished();
    void fail(const QString& reason);

    QNetworkAccessManager* manager;
    QNetworkReply* reply = nullptr;
    QSaveFile* file = nullptr;
    QString target;
    QByteArray expectedHash;
    QCryptographicHash hash{QCryptographicHash::Sha256};
};
