#pragma once

#include "DiskBudget.h"
#include "DownloadOptions.h"
#include "HlsPlaylist.h"
#include "SpeedMeter.h"
#include "TokenBucket.h"

#include <QElapsedTimer>
#include <QHash>
#include <QObject>
#include <QUrl>
#include <functional>

class FileCipher;
class QFile;
class QNetworkAccessManager;
class QNetworkReply;
class QTimer;

// Fetches one lesson: asks the key-and-address call for the stream, downloads the playlist
// (following a master playlist to its best variant), rewrites it to point at the lesson
// directory and the key-file server, stores it encrypted as "00000.ls" and downloads every
// init section and segment into the directory, four at a time on one keep-alive connection
// pool. A lesson counts as complete only when every file it names is on disk and whole.
//
// Entirely driven by the event loop of the thread it lives on: start it, and it reports
// finished() once. Nothing blocks and no nested event loop runs.
class M3u8Loader : public QObject
{
    Q_OBJECT
public:
    enum class Result {
        Complete,    // every file is stored and verified
        Failed,      // a permanent error: no stream, not HLS, a bad key, a file that stays bad
        Stalled,     // the network or the server is away; what is stored stays, try later
        Stopped,     // stop() was called
        WriteFailed, // the disk refused a write; what was stored stays
        SessionLost, // the school no longer knows the session; try after the next login
    };
    Q_ENUM(Result)

    explicit M3u8Loader(const FileCipher& cipher,
                        const DownloadOptions& options = DownloadOptions(),
                        QObject* parent = nullptr);
    ~M3u8Loader() override;

    // The scheduler's entry point: fetches the lesson of `keyUrl` into `dir`; finished() tells
    // how it ended.
    void downloadLesson(const QString& keyUrl, const QString& dir);
    // The player's entry point: onlineReady() gets the playlist with absolute media addresses
    // and key lines pointing at the key-file server, or an empty text. Stores nothing.
    void fetchOnline(const QString& keyUrl);
    // Ends at once: requests aborted, partial files removed, no signal afterwards.
    void stop();
    // While paused no new segment request starts; those in flight finish.
    void setPaused(bool paused);
    // Bytes per second over all segment transfers together, at once for those in flight
    // (0: none). Only the segments are held back; the small answers before them are not.
    void setRateLimit(qint64 bytesPerSecond);

    // The key-file address of a key name: its first 16 Latin-1 bytes, byte i raised by i + 3
    // (modulo 256), under "/keyfile/2016/" of the key-file server, with ".k".
    static QString encryptStr(const QString& keyName);
    static QString encryptStr(const QString& keyName, const QString& keyBaseUrl);
    // The lesson size in MB from the server's "filesize": "MB" removed, then a number; any
    // other text gives 0.
    static float parseSize(const QString& fileSize);
    // Whether an answer of the school says that the session is unknown or has expired.
    static bool isSessionLost(const QString& answer);

    QString lessonPath() const { return path; }
    float totalSize() const { return total; }
    qint64 storedBytes() const { return stored; }
    Result result() const { return outcome; }
    // Why the lesson failed, in the student's words ("服务器拒绝（HTTP 403）", "网络错误",
    // "文件损坏"), or why the disk refused it ("磁盘空间不足（…）"); empty otherwise.
    QString failReason() const { return reason; }
    // The stored bytes with those of the segments now arriving.
    qint64 progressBytes() const;

signals:
    void downloadingProgress(QString path, float size, float totalSize, float speed);
    // The lesson could not be fetched for good (it is marked failed).
    void donwloadError(QString path);
    void finished(M3u8Loader::Result result);
    void onlineReady(QString playlist);

private:
    enum class Mode { Stored, Online };
    // How a reply ended, as far as trying again is concerned.
    enum class Outcome { Ok, Transient, Permanent };
    struct Answer
    {
        Outcome outcome = Outcome::Transient;
        QByteArray body;
        QString why;
        QString cause = QStringLiteral("网络错误"); // for the student, should the lesson fail
    };
    struct Task
    {
        int media = 0; // index into playlist.media()
        int tries = 0;
        int badContent = 0;
        qint64 notBefore = 0; // clock time of the next try
        bool active = false;
        bool done = false;
    };
    struct Transfer
    {
        int task = 0;
        QFile* file = nullptr;
        qint64 received = 0;
        bool ended = false; // the reply has finished; under a limit its last bytes wait in it
    };

    void begin(Mode mode, const QString& keyUrl);
    // One small request (key-and-address, playlist, key name, key file) with quick retries of
    // transient failures; `then` gets the last answer.
    void fetch(const QUrl& url, bool withCookie, int timeoutMs,
               std::function<void(const Answer&)> then, int attempt = 0);
    // `segment`: a body that may be long, bounded by a floor rate rather than a deadline.
    QNetworkReply* get(const QUrl& url, bool withCookie, int timeoutMs, bool segment);
    static Answer judge(QNetworkReply* reply, const QByteArray& body, qint64 received);

    void onKeyAndUrl(const Answer& answer);
    void fetchPlaylist(const QUrl& url);
    void onPlaylist(const QUrl& url, const Answer& answer);
    void fetchKey(int index);
    void onKeyName(int index, const Answer& answer);
    void onKeyFile(int index, const Answer& answer);
    void playlistReady();
    void startSegments();
    void adoptLegacyFile(const HlsPlaylist::Media& media) const;

    void pump();
    void startTask(int task);
    void onSegmentData(QNetworkReply* reply);
    void onSegmentFinished(QNetworkReply* reply);
    void completeSegment(QNetworkReply* reply);
    // Reads what the limit allows from the segments in flight (all that waits without one)
    // and completes those whose last bytes are read.
    void drain();
    qint64 readQuantum() const;
    qint64 readBuffer() const;
    void retryLater(Task& task, const Answer& answer);
    bool writeChunk(Transfer& transfer, const QByteArray& data);
    bool isWhole(const QString& file, int media) const;

    void abortAll();
    void finish(Result result);
    // `cause` is what the student is told should the lesson fail: a damaged answer unless the
    // request itself said otherwise.
    void failWith(Outcome outcome, const QString& why,
                  const QString& cause = QStringLiteral("文件损坏"));
    void removePartials() const;
    bool writeAllowed(const QString& name) const;
    void onProgressTimer();

    const FileCipher& cipher;
    DownloadOptions options;
    QNetworkAccessManager* manager;
    QTimer* progressTimer;
    QTimer* pumpTimer;
    QTimer* throttleTimer;
    QNetworkReply* small = nullptr;
    QElapsedTimer clock;

    Mode mode = Mode::Stored;
    bool running = false;
    bool paused = false;
    Result outcome = Result::Stopped;
    QString path;
    QByteArray keys;
    // The stream's own address: the "keys" cookie goes to its origin and nowhere else.
    QUrl streamUrl;
    float total = 0;
    qint64 stored = 0;
    // Progress is told once the stored files have been counted: a lesson fetched again must
    // not read as empty while its playlist is asked for.
    bool counted = false;
    QString reason;
    SpeedMeter meter;
    TokenBucket bucket;
    DiskBudget disk;
    unsigned drainFrom = 0; // which transfer is served first, in turn

    HlsPlaylist playlist;
    int variantDepth = 0;
    bool endListRetried = false;
    QList<QString> keyFiles;    // key-file address per key line
    QList<QByteArray> keyBytes; // the 16-byte key per key line (memory only)
    QList<bool> keyRetried;
    QList<Task> tasks;
    // After a transient failure no new request starts before the failed one is tried again:
    // while the server is away, one request finds out when it is back.
    qint64 holdUntil = 0;
    QHash<QNetworkReply*, Transfer> active;
    // Segments fetched at once: fewer after floor cuts of a line too slow to share, down to
    // one, before a cut counts against the segment.
    int inFlightCap = 1;
    // Whether a segment cut by the floor was cut because the line is shared by too many
    // segments (the lesson as a whole still moves), not because it alone trickles.
    bool lineTooShared(int sharing);
};
