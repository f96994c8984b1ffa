#pragma once

#include <QCryptographicHash>
#include <QObject>
#include <QString>

class QNetworkAccessManager;
class QNetworkReply;
class QSaveFile;

// Downloads the installer of a new version to a file, written under a temporary name and put
// in place only when the download is whole and checked: HTTP 2xx, no network error, exactly as
// many bytes as announced, not empty, the SHA-256 of the version answer and, in a build with an
// update-signing key, the school's signature. Anything else leaves no file behind.
//
// The body streams through a bounded read buffer into the file and the digest, so a huge or
// fast answer costs neither memory nor the event loop. It may not be longer than announced
// (the version answer's size, else the answer's Content-Length; 1 GB without either), nor
// than the free space of the file's drive less a margin, nor arrive slower than 1 KB in 30 s.
class InstallerDownload : public QObject
{
    Q_OBJECT
public:
    // What the version answer says about the installer.
    struct Expected
    {
        QString sha256;    // hexadecimal, or empty
        QString signature; // base64, or empty
        qint64 size = -1;  // bytes, or -1
    };
    enum class Refusal { None, Address, Checksum, Signature, Unverifiable, Space };

    explicit InstallerDownload(QObject* parent = nullptr);
    ~InstallerDownload() override;

    // Why an offer must not be downloaded at all: an address other than http/https, a checksum
    // that is not 64 hexadecimal digits, a missing signature where one is required, nothing to
    // check the file by, or a size larger than the free space where `path` would go.
    static Refusal refusal(const QString& url, const QString& path, const Expected& expected);
    // The span over which the body must bring at least 1 KB.
    static void setFloorWindowForTests(int ms);

    // An offer that refusal() refuses fails at once.
    void start(const QString& url, const QString& path, const Expected& expected);
    bool isRunning() const { return reply != nullptr; }

signals:
    void progress(qint64 received, qint64 total);
    // `ok` with the finished file at `path`; otherwise `reason` says what was wrong (for the
    // log).
    void finished(bool ok, const QString& path, const QString& reason);

private:
    void onMetaData();
    void onReadyRead();
    void onFinished();
    void stop(const QString& reason);
    void fail(const QString& reason);

    QNetworkAccessManager* manager;
    QNetworkReply* reply = nullptr;
    QSaveFile* file = nullptr;
    QString target;
    Expected expected;
    qint64 limit = -1;
    bool announced = false; // `limit` is a size the school named, not a ceiling
    qint64 received = 0;
    QString failure;
    QCryptographicHash hash{QCryptographicHash::Sha256};
};
