#pragma once

#include "DownloadOptions.h"
#include "HlsPlaylist.h"
#include "LessonTransfer.h"

#include <QElapsedTimer>
#include <QObject>
#include <QUrl>
#include <functional>

class FileCipher;
class QTimer;

// Fetches one lesson: asks the key-and-address call for the stream, downloads the playlist
// (following a master playlist to its best variant), rewrites it to point at the lesson
// directory and the key-file server, stores it encrypted as "00000.ls" and downloads every
// init section and segment into the directory, four at a time on one keep-alive connection
// pool (the requests themselves are LessonTransfer's). A lesson counts as complete only when
// every file it names is on disk and whole.
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
    using Outcome = LessonTransfer::Outcome;
    using Answer = LessonTransfer::Answer;
    struct Task
    {
        int media = 0; // index into playlist.media()
        int tries = 0;
        int badContent = 0;
        qint64 notBefore = 0; // clock time of the next try
        bool active = false;
        bool done = false;
        LessonTransfer::Resume resume; // the bytes kept of a request that was cut
    };

    void begin(Mode mode, const QString& keyUrl);
    // One small request with its quick retries; `then` is not called once the lesson ended.
    void fetch(const QUrl& url, bool withCookie, int timeoutMs,
               std::function<void(const Answer&)> then);

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
    void onSegmentEnded(const LessonTransfer::Ending& ending);
    void onWriteFailed(const QString& why);
    void retryLater(Task& task, const Answer& answer);
    bool isWhole(const QString& file, int media) const;

    void finish(Result result);
    // `cause` is what the student is told should the lesson fail: a damaged answer unless the
    // request itself said otherwise.
    void failWith(Outcome outcome, const QString& why,
                  const QString& cause = QStringLiteral("文件损坏"));
    void removePartials();
    bool writeAllowed(const QString& name) const;
    void onProgressTimer();
    // Whether a segment cut by the floor was cut because the line is shared by too many
    // segments (the lesson as a whole still moves), not because it alone trickles.
    bool lineTooShared(int sharing);

    const FileCipher& cipher;
    DownloadOptions options;
    LessonTransfer* transfer;
    QTimer* progressTimer;
    QTimer* pumpTimer;
    QElapsedTimer clock;

    Mode mode = Mode::Stored;
    bool running = false;
    bool paused = false;
    Result outcome = Result::Stopped;
    QString path;
    float total = 0;
    qint64 stored = 0;
    // Progress is told once the stored files have been counted: a lesson fetched again must
    // not read as empty while its playlist is asked for.
    bool counted = false;
    QString reason;

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
    // Segments fetched at once: fewer after floor cuts of a line too slow to share, down to
    // one, before a cut counts against the segment.
    int inFlightCap = 1;
};
