#pragma once

#include "DownloadOptions.h"
#include "M3u8Loader.h"

#include <QHash>
#include <QObject>
#include <QStringList>

class CourseLibrary;
class FileCipher;
class QTimer;

// The scheduler's worker: lives on the scheduler's thread and fetches the queue one lesson at a
// time, driven by that thread's event loop. A lesson whose server or network is away waits with
// a growing pause while the next queued lesson is tried; when all wait, the worker sleeps until
// the first pause ends. Its slots are called queued from the scheduler.
class DownloadWorker : public QObject
{
    Q_OBJECT
public:
    DownloadWorker(CourseLibrary& library, const FileCipher& cipher, const DownloadOptions& options,
                   bool running);

public slots:
    // Takes the next lesson when none is in flight.
    void schedule();
    void setRunning(bool running);
    // Lets go of the lesson in flight when it lies in one of `dirs` (any when empty): its
    // requests end and its partial files go before this returns.
    void abandon(const QStringList& dirs);
    void shutdown();

signals:
    void refreshUI();
    void refreshProgress(QString path, float size, float totalSize, float speed);
    void downloadError(QString path);
    // Every queued lesson is done (after at least one was taken).
    void workedOff();
    void writeFailed();
    // The lesson of `path` waits for its server (true) or is fetched again or gone (false).
    void waitingChanged(QString path, bool waiting);

private:
    struct Wait
    {
        qint64 since = 0;
        qint64 until = 0;
    };

    void onLoaderFinished(M3u8Loader::Result result);
    void dropLoader();
    void endWait(const QString& dir);
    qint64 now() const;

    CourseLibrary& library;
    const FileCipher& cipher;
    DownloadOptions options;
    QTimer* wakeTimer;
    M3u8Loader* loader = nullptr;
    QString current;
    QHash<QString, Wait> waits;
    bool running;
    bool quitting = false;
    bool hadWork = false;
};
