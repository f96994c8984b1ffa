#pragma once

#include "DownloadOptions.h"
#include "M3u8Loader.h"

#include <QElapsedTimer>
#include <QHash>
#include <QObject>
#include <QStringList>
#include <functional>

class CourseLibrary;
class FileCipher;
class LessonRecord;
class QTimer;

// The scheduler's worker: lives on the scheduler's thread and fetches the queue one lesson at a
// time, driven by that thread's event loop. A lesson whose server or network is away waits with
// a growing pause while the next queued lesson is tried; when all wait, the worker sleeps until
// the first pause ends. Its slots are called queued from the scheduler.
class DownloadWorker : public QObject
{
    Q_OBJECT
public:
    // `keyUrl` signs a lesson's key-and-address call with the session of the moment (empty:
    // the address stored with the lesson is used, as older records have it).
    DownloadWorker(CourseLibrary& library, const FileCipher& cipher, const DownloadOptions& options,
                   bool running,
                   std::function<QString(const LessonRecord&)> keyUrl =
                       std::function<QString(const LessonRecord&)>());

public slots:
    // Takes the next lesson when none is in flight.
    void schedule();
    void setRunning(bool running);
    // Lets go of the lesson in flight when it lies in one of `dirs` (any when empty): its
    // requests end and its partial files go before this returns.
    void abandon(const QStringList& dirs);
    void shutdown();
    // A new login (the same user again or another one): lessons that waited for one are tried
    // again at once.
    void sessionRenewed();
    // The speed limit for the lesson in flight and those after it (bytes per second, 0: none).
    void setRateLimit(qint64 bytesPerSecond);

signals:
    void refreshUI();
    void refreshProgress(QString path, float size, float totalSize, float speed);
    void downloadError(QString path);
    // Nothing is queued, in flight or waiting, and a lesson ended since the queue was last
    // empty: `complete` lessons were downloaded meanwhile, `failed` lessons are failed now.
    void workedOff(int complete, int failed);
    // The school no longer knows the session: the lessons wait for the next login.
    void sessionLost();
    // The disk refused a write; `why` names a full disk ("磁盘空间不足（…）") or is empty.
    void writeFailed(QString why);
    // The lesson of `path` waits for its server (true), to be tried again in `retryInMs` (-1:
    // after the next login), or is done or gone (false).
    void waitingChanged(QString path, bool waiting, qint64 retryInMs);

private:
    struct Wait
    {
        qint64 since = 0;
        qint64 until = 0;
        bool forLogin = false; // until sessionRenewed(), not until a time
    };

    void onLoaderFinished(M3u8Loader::Result result);
    void dropLoader();
    void endWait(const QString& dir);
    qint64 now() const;

    CourseLibrary& library;
    const FileCipher& cipher;
    DownloadOptions options;
    std::function<QString(const LessonRecord&)> keyUrl;
    QElapsedTimer clock; // monotonic: a clock set back must not stretch a pause
    QTimer* wakeTimer;
    M3u8Loader* loader = nullptr;
    QString current;
    QHash<QString, Wait> waits;
    bool running;
    bool quitting = false;
    bool loginNeeded = false; // the school forgot the session: set until sessionRenewed()
    qint64 rateLimit = 0;
};
