#include "DownloadWorker.h"

#include "CourseLibrary.h"

#include <QDebug>
#include <QTimer>
#include <limits>

DownloadWorker::DownloadWorker(CourseLibrary& library, const FileCipher& cipher,
                               const DownloadOptions& options, bool running,
                               std::function<QString(const LessonRecord&)> keyUrl)
    : library(library), cipher(cipher), options(options), keyUrl(std::move(keyUrl)),
      wakeTimer(new QTimer(this)), running(running)
{
    clock.start();
    wakeTimer->setSingleShot(true);
    connect(wakeTimer, &QTimer::timeout, this, &DownloadWorker::schedule);
}

qint64 DownloadWorker::now() const
{
    return clock.elapsed();
}

void DownloadWorker::endWait(const QString& dir)
{
    if (waits.remove(dir) > 0) {
        emit waitingChanged(dir, false, 0);
    }
}

void DownloadWorker::schedule()
{
    if (quitting || loader || !running) {
        return;
    }
    const qint64 at = now();
    // Without a session every call would be refused again at once: nothing is asked for until
    // the next login.
    const std::optional<LessonRecord> next =
        loginNeeded ? std::nullopt : library.takeNext([&](const LessonRecord& lesson) {
            const auto wait = waits.constFind(lesson.dir);
            return wait == waits.constEnd() || (!wait->forLogin && wait->until <= at);
        });
    if (!next) {
        qint64 earliest = std::numeric_limits<qint64>::max();
        const QStringList dirs = waits.keys();
        for (const QString& dir : dirs) {
            if (!library.isQueued(dir)) {
                endWait(dir); // deleted or cancelled while it waited
            } else if (!waits.value(dir).forLogin) {
                earliest = qMin(earliest, waits.value(dir).until);
            }
        }
        if (earliest != std::numeric_limits<qint64>::max()) {
            wakeTimer->start(int(qBound<qint64>(0, earliest - at, options.stallPauseMaxMs)));
        } else if (waits.isEmpty()) {
            if (const auto ending = library.takeEnding()) {
                emit workedOff(ending->complete, ending->failed);
            }
        }
        return;
    }
    current = next->dir;
    if (options.workerHook) {
        options.workerHook(QStringLiteral("taken"), current);
    }
    loader = new M3u8Loader(cipher, options, this);
    connect(loader, &M3u8Loader::downloadingProgress, this, &DownloadWorker::refreshProgress);
    connect(loader, &M3u8Loader::finished, this, &DownloadWorker::onLoaderFinished);
    loader->setRateLimit(rateLimit);
    // The stored address carries the session of the day the lesson was chosen.
    const QString address = keyUrl ? keyUrl(*next) : QString();
    loader->downloadLesson(address.isEmpty() ? next->keyUrl : address, next->dir);
}

void DownloadWorker::dropLoader()
{
    if (loader) {
        loader->disconnect(this);
        loader->stop();
        loader->deleteLater();
        loader = nullptr;
    }
}

void DownloadWorker::onLoaderFinished(M3u8Loader::Result result)
{
    const QString dir = current;
    const QString reason = loader ? loader->failReason() : QString();
    current.clear();
    dropLoader();
    if (options.workerHook) {
        options.workerHook(QStringLiteral("ending"), dir);
    }
    switch (result) {
    case M3u8Loader::Result::Complete:
    case M3u8Loader::Result::Failed: {
        endWait(dir);
        const qint32 state = result == M3u8Loader::Result::Complete ? Complete : Failed;
        // A delete may have taken the lesson meanwhile; then its outcome is dropped.
        if (library.finishInFlight(state, reason)) {
            library.save();
            // The failure first: the lists rebuilt on refreshUI() then find it told.
            if (state == Failed) {
                emit downloadError(dir);
            }
            emit refreshUI();
        }
        break;
    }
    case M3u8Loader::Result::Stalled: {
        const qint64 at = now();
        const bool fresh = !waits.contains(dir);
        Wait& wait = waits[dir];
        if (fresh || wait.forLogin) {
            wait.since = at;
            wait.forLogin = false;
        }
        const qint64 pause = qBound<qint64>(options.stallPauseMinMs, (at - wait.since) / 20,
                                            options.stallPauseMaxMs);
        wait.until = at + pause;
        library.releaseInFlight();
        // Every time: the next try moves on.
        emit waitingChanged(dir, true, pause);
        break;
    }
    case M3u8Loader::Result::SessionLost: {
        const bool fresh = !waits.contains(dir);
        Wait& wait = waits[dir];
        wait.since = now();
        wait.forLogin = true;
        loginNeeded = true;
        library.releaseInFlight();
        if (fresh) {
            emit waitingChanged(dir, true, -1);
        }
        emit sessionLost();
        break;
    }
    case M3u8Loader::Result::WriteFailed:
        running = false;
        library.releaseInFlight();
        emit writeFailed(reason);
        break;
    case M3u8Loader::Result::Stopped:
        library.releaseInFlight();
        break;
    }
    QMetaObject::invokeMethod(this, &DownloadWorker::schedule, Qt::QueuedConnection);
}

void DownloadWorker::setRunning(bool value)
{
    running = value;
    if (loader) {
        loader->setPaused(!running);
    }
    if (running) {
        // Start-all tries waiting lessons again at once.
        const qint64 at = now();
        for (Wait& wait : waits) {
            wait.until = at;
        }
        schedule();
    }
}

void DownloadWorker::setRateLimit(qint64 bytesPerSecond)
{
    rateLimit = bytesPerSecond;
    if (loader) {
        loader->setRateLimit(rateLimit);
    }
}

void DownloadWorker::sessionRenewed()
{
    loginNeeded = false;
    const qint64 at = now();
    for (Wait& wait : waits) {
        if (wait.forLogin) {
            wait.forLogin = false;
            wait.since = at;
            wait.until = at;
        }
    }
    schedule();
}

void DownloadWorker::abandon(const QStringList& dirs)
{
    if (loader && (dirs.isEmpty() || CourseLibrary::isWithin(current, dirs))) {
        qDebug() << "lesson in flight abandoned:" << current;
        dropLoader();
        current.clear();
        library.releaseInFlight();
        QMetaObject::invokeMethod(this, &DownloadWorker::schedule, Qt::QueuedConnection);
    }
}

void DownloadWorker::shutdown()
{
    quitting = true;
    wakeTimer->stop();
    if (loader) {
        loader->disconnect(this);
        loader->stop();
        delete loader;
        loader = nullptr;
        current.clear();
        library.releaseInFlight();
    }
}
