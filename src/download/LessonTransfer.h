#pragma once

#include "DiskBudget.h"
#include "DownloadOptions.h"
#include "SpeedMeter.h"
#include "TokenBucket.h"

#include <QByteArray>
#include <QElapsedTimer>
#include <QHash>
#include <QObject>
#include <QUrl>
#include <functional>

class QFile;
class QNetworkAccessManager;
class QNetworkReply;
class QTimer;

// The requests of one lesson, each bounded in time and size: small answers (key-and-address,
// playlist, key) whole in memory with quick retries of transient failures, and segment bodies
// streamed into their partial files under the speed limit, in equal shares. A segment that was
// cut keeps its bytes; its next request asks for the rest with a Range, and the answer is
// checked before a byte of it is written: a 206 whose Content-Range starts at the kept bytes and
// agrees with the length goes on, a whole 200 starts the file over, and a 416 or a range that
// does not fit is asked again from the start.
class LessonTransfer : public QObject
{
    Q_OBJECT
public:
    // How a reply ended, as far as trying again is concerned.
    enum class Outcome { Ok, Transient, Permanent };
    struct Answer
    {
        Outcome outcome = Outcome::Transient;
        QByteArray body;
        QString why;
        QString cause = QStringLiteral("网络错误"); // for the student, should the lesson fail
    };
    // What is known of a segment's partial file between its requests.
    struct Resume
    {
        qint64 kept = 0;            // bytes in the partial file: where the next request starts
        qint64 length = -1;         // the whole body's length as the server first told it
        QByteArray validator;       // its ETag or Last-Modified, sent as If-Range
        bool rangesRefused = false; // a range was answered wrongly: ask for the whole body
    };
    struct Ending
    {
        int id = 0;
        Answer answer;
        Resume resume;
        QString file;          // the partial file, closed
        bool floorCut = false; // cut by the floor after some bytes
        int sharing = 1;       // segments in flight when it ended, itself included
        bool writeFailed = false;
    };

    explicit LessonTransfer(const DownloadOptions& options, QObject* parent = nullptr);
    ~LessonTransfer() override;

    // The "keys" cookie goes with requests to the stream's origin and nowhere else.
    void setStream(const QUrl& streamUrl, const QByteArray& keys);
    // Longest body of one segment, over all its requests together.
    void setMediaLimit(qint64 bytes) { mediaLimit = bytes; }
    void setDiskRoot(const QString& path) { disk.reset(path); }

    // One small request; `then` gets the last answer, never after abortAll().
    void fetch(const QUrl& url, bool withCookie, int timeoutMs,
               std::function<void(const Answer&)> then, int attempt = 0);
    // Starts the body of segment `id` (file name `name`) into `partFile`, after the kept
    // bytes of `resume`; segmentEnded() tells how it went. False when the file cannot be
    // written (nothing started).
    bool startSegment(int id, const QUrl& url, const QString& name, const QString& partFile,
                      const Resume& resume);
    int inFlight() const { return active.size(); }
    // Bytes of the segments in flight, their kept bytes included.
    qint64 bytesInFlight() const;
    // Ends every request at once; their partial files are closed and stay as they are.
    void abortAll();

    // Bytes per second over all segment transfers together, at once for those in flight.
    void setRateLimit(qint64 bytesPerSecond);
    // The segments start with an empty allowance: a wait before them is not saved up.
    void resetBucket() { bucket.reset(clock.elapsed()); }
    // KB/s of what really arrives, over the last few seconds.
    float speedKB() { return meter.sample(clock.elapsed()); }

signals:
    void segmentEnded(const LessonTransfer::Ending& ending);
    // The disk refused a write (`reason` for the student, empty if the test seam refused).
    void writeFailed(const QString& reason);

private:
    struct Transfer
    {
        int id = 0;
        QString name;
        QUrl url;
        QFile* file = nullptr;
        Resume resume;
        qint64 base = 0;      // kept bytes this request goes on from
        qint64 received = 0;  // bytes this request brought
        bool decided = false; // the status and range have been checked
        bool discard = false; // an error body: read, not written
        bool ended = false;   // the reply has finished; under a limit its last bytes wait in it
    };

    // `segment`: a body that may be long, bounded by a floor rate rather than a deadline.
    QNetworkReply* get(const QUrl& url, bool withCookie, int timeoutMs, bool segment,
                       const Transfer* resume = nullptr);
    static Answer judge(QNetworkReply* reply, const QByteArray& body, qint64 received);
    void request(Transfer transfer);
    // Checks the answer of a request before its body is written; false when it was given up
    // for a request from the start.
    bool decide(QNetworkReply* reply);
    void startOver(QNetworkReply* reply, const char* why);
    void onData(QNetworkReply* reply);
    void onFinished(QNetworkReply* reply);
    void complete(QNetworkReply* reply);
    // Reads what the limit allows from the segments in flight (all that waits without one)
    // and completes those whose last bytes are read.
    void drain();
    // False when the write failed; writeFailed() has been told.
    bool write(Transfer& transfer, QNetworkReply* reply, const QByteArray& data);
    qint64 readQuantum() const;
    qint64 readBuffer() const;
    bool writeAllowed(const QString& name) const;

    DownloadOptions options;
    QNetworkAccessManager* manager;
    QTimer* throttleTimer;
    QElapsedTimer clock;
    QUrl streamUrl;
    QByteArray keys;
    qint64 mediaLimit = 0;
    QHash<QNetworkReply*, Transfer> active;
    QList<QNetworkReply*> small;
    SpeedMeter meter;
    TokenBucket bucket;
    DiskBudget disk;
    unsigned drainFrom = 0; // which transfer is served first, in turn
    // Grows with every abortAll(): work begun before it is not carried on after it.
    unsigned epoch = 0;
};
