#pragma once

#include "DownloadOptions.h"
#include "SpeedMeter.h"

#include <QElapsedTimer>
#include <QEventLoop>
#include <QHash>
#include <QObject>
#include <QSet>
#include <QStringList>
#include <QUrl>

class DownloadFlags;
class FileCipher;
class QFile;
class QNetworkAccessManager;
class QNetworkReply;
class QTimer;
class URLManager;

// Fetches one lesson: asks the key-and-address call for the stream, downloads the playlist,
// rewrites it to point at the lesson directory and the key-file server, stores it encrypted
// as "00000.ls" and downloads every segment into the directory. Lives on the thread that calls
// it and blocks there in its own event loop until the lesson ends; the flags stop it at once.
class M3u8Loader : public QObject
{
    Q_OBJECT
public:
    enum class Result {
        Complete,    // every segment is stored
        Failed,      // no stream, a bad playlist or key, or a segment that kept failing
        Stopped,     // quit or cancel
        WriteFailed, // the disk refused a write; what was stored stays
    };
    Q_ENUM(Result)

    M3u8Loader(const FileCipher& cipher, const DownloadFlags& flags,
               const DownloadOptions& options = DownloadOptions(), QObject* parent = nullptr);
    ~M3u8Loader() override;

    // The scheduler's entry point: fetches the lesson of `keyUrl` into `dir`.
    Result downloadLesson(const QString& keyUrl, const QString& dir);
    // The player's entry point: the playlist with absolute segment addresses and the key line
    // pointing at the key-file server, or an empty text. Stores nothing.
    QString onlinePlaylist(const URLManager& urls, const QString& cid, const QString& lid,
                           const QString& c_type);

    // The key-file address of a key name: its first 16 Latin-1 bytes, byte i raised by i + 3
    // (modulo 256), under "/keyfile/2016/" of the key-file server, with ".k".
    static QString encryptStr(const QString& keyName);
    static QString encryptStr(const QString& keyName, const QString& keyBaseUrl);
    // The lesson size in MB from the server's "filesize": "MB" removed, then a number; any
    // other text gives 0.
    static float parseSize(const QString& fileSize);

    QString lessonPath() const { return path; }
    float totalSize() const { return total; }
    qint64 storedBytes() const { return stored; }

signals:
    void downloadingProgress(QString path, float size, float totalSize, float speed);
    // The lesson could not be started (no stream, playlist or key).
    void donwloadError(QString path);

private slots:
    void onControlChanged();
    void onProgressTimer();

private:
    enum class Mode { Stored, Online };
    struct Transfer
    {
        QString name;
        QFile* file = nullptr;
        qint64 received = 0;
    };

    // One playlist, key or key-and-address request, with retries; false when it failed.
    bool fetch(const QUrl& url, bool withCookie, int timeoutMs, QByteArray* body);
    bool parseKeyAndUrl(const QString& keyUrl, QUrl* streamUrl);
    bool rewrite(const QByteArray& playlist, const QUrl& playlistUrl, Mode mode, QString* text);
    bool waitPause(int ms);
    QNetworkReply* get(const QUrl& url, bool withCookie, int timeoutMs);
    static bool replyOk(QNetworkReply* reply, qint64 received, QString* why);

    Result downloadSegments();
    void pump();
    void startSegment(const QString& name);
    void onSegmentData(QNetworkReply* reply);
    void onSegmentFinished(QNetworkReply* reply);
    bool writeChunk(Transfer& transfer, const QByteArray& data);
    void retryOrFail(const QString& name, bool permanent);
    void abortAll();
    void finish(Result result);
    void removePartials() const;
    bool writeAllowed(const QString& name) const;
    bool stopping() const;

    const FileCipher& cipher;
    const DownloadFlags& flags;
    DownloadOptions options;
    QNetworkAccessManager* manager;
    QTimer* progressTimer;
    QEventLoop* loop = nullptr;
    QNetworkReply* pendingSmall = nullptr;

    QString path;
    QByteArray keys;
    float total = 0;
    qint64 stored = 0;
    SpeedMeter meter;
    QElapsedTimer clock;

    QString baseUrl;
    QStringList segments;
    QStringList pending;
    QHash<QNetworkReply*, Transfer> active;
    QHash<QString, int> attempts;
    int retrying = 0;
    bool finished = false;
    bool segmentPhase = false;
    Result outcome = Result::Complete;
};
