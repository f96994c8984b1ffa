#include "Downloader.h"

#include "CourseLibrary.h"
#include "CourseRecord.h"
#include "CourseStore.h"
#include "DownloadWorker.h"
#include "LogMask.h"
#include "StoredCourse.h"
#include "TransferGuard.h"
#include "UrlPolicy.h"
#include "UserRecord.h"

#include <QDebug>
#include <QDir>
#include <QFileInfo>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QSaveFile>
#include <algorithm>

// The picture formats a school's course list uses; an error page or any other file is not
// stored as the course's picture.
static bool looksLikePicture(const QByteArray& body)
{
    return body.startsWith("\xFF\xD8\xFF") || body.startsWith("\x89PNG\r\n\x1A\n") ||
           body.startsWith("GIF8") || body.startsWith("BM") ||
           (body.startsWith("RIFF") && body.mid(8, 4) == "WEBP");
}

Downloader::Downloader(Context context, QObject* parent)
    : QObject(parent), ctx(std::move(context)), library(*ctx.library), running(ctx.autoStart)
{
    clock.start();
    if (!ctx.downloadRoots.contains(ctx.videoPath)) {
        ctx.downloadRoots << ctx.videoPath;
    }

    worker = new DownloadWorker(library, *ctx.cipher, ctx.options, ctx.autoStart, ctx.keyUrl);
    worker->moveToThread(&thread);
    thread.setObjectName(QStringLiteral("download"));
    // Signal to signal across threads: the scheduler re-emits them on its own thread.
    connect(worker, &DownloadWorker::refreshUI, this, &Downloader::refreshUI);
    // The worker saves the record after each lesson: a failure there is told as well.
    connect(worker, &DownloadWorker::refreshUI, this, &Downloader::reportSave);
    connect(worker, &DownloadWorker::refreshUI, this, &Downloader::pruneFigures);
    connect(worker, &DownloadWorker::refreshProgress, this, &Downloader::onProgress);
    connect(worker, &DownloadWorker::downloadError, this, &Downloader::downloadError);
    connect(worker, &DownloadWorker::workedOff, this, &Downloader::onWorkedOff);
    connect(worker, &DownloadWorker::writeFailed, this, &Downloader::onWriteFailed);
    connect(worker, &DownloadWorker::waitingChanged, this, &Downloader::onWaitingChanged);
    connect(worker, &DownloadWorker::sessionLost, this, &Downloader::sessionLost);
}

Downloader::~Downloader()
{
    stop();
    delete worker;
}

void Downloader::start()
{
    if (!thread.isRunning()) {
        thread.start();
    }
    QMetaObject::invokeMethod(worker, &DownloadWorker::schedule, Qt::QueuedConnection);
}

void Downloader::stop()
{
    if (thread.isRunning()) {
        // The worker never waits for this thread, so waiting for it here cannot lock up.
        QMetaObject::invokeMethod(worker, &DownloadWorker::shutdown, Qt::BlockingQueuedConnection);
        thread.quit();
        thread.wait();
    }
    library.releaseInFlight();
}

bool Downloader::isRunning() const
{
    return thread.isRunning();
}

QString Downloader::currentLesson() const
{
    return library.inFlight();
}

int Downloader::percent(float sizeKB, float totalMB)
{
    if (!(totalMB > 0) || !qIsFinite(totalMB) || !(sizeKB > 0) || !qIsFinite(sizeKB)) {
        return 0;
    }
    const double share = double(sizeKB) / (double(totalMB) * 1024.0) * 100.0;
    return share >= 100.0 ? 100 : int(share);
}

void Downloader::setRateLimit(qint64 bytesPerSecond)
{
    QMetaObject::invokeMethod(
        worker, [this, bytesPerSecond] { worker->setRateLimit(bytesPerSecond); },
        Qt::QueuedConnection);
}

void Downloader::setStart(bool value)
{
    running = value;
    for (LessonProgress& lesson : figures) {
        lesson.interrupt();
    }
    QMetaObject::invokeMethod(
        worker, [this, value] { worker->setRunning(value); }, Qt::QueuedConnection);
    emit startPause();
}

bool Downloader::isDownloading() const
{
    if (!running) {
        return false;
    }
    const QList<LessonRecord> queued = library.queue();
    return std::any_of(queued.cbegin(), queued.cend(), [this](const LessonRecord& lesson) {
        return !library.isPaused(lesson.dir);
    });
}

void Downloader::addCourse(const CourseRecord& course)
{
    CourseRecord stored;
    const QStringList dirs = library.addCourse(course, ctx.videoPath, &stored);
    for (const QString& dir : dirs) {
        if (!QDir().mkpath(dir)) {
            qDebug() << "cannot create" << dir;
        }
    }
    if (!QFileInfo::exists(stored.dir + QLatin1Char('/') + CourseStore::thumbName)) {
        fetchThumbnail(stored);
    }
    StoredCourse::write(library.username(), stored);
    saveStore();
    emit refreshUI();
    if (!running) {
        setStart(true);
    } else {
        QMetaObject::invokeMethod(worker, &DownloadWorker::schedule, Qt::QueuedConnection);
    }
}

std::optional<CourseRecord> Downloader::findCourse(const QString& courseId) const
{
    return library.findCourse(courseId);
}

QList<CourseRecord> Downloader::courses() const
{
    return library.courses();
}

QList<LessonRecord> Downloader::queue() const
{
    return library.queue();
}

void Downloader::setWatchTime(const QString& courseId, const QString& lessonId,
                              const QString& seconds, qint32 lengthSeconds)
{
    if (library.setWatchTime(courseId, lessonId, seconds, lengthSeconds)) {
        saveStore();
    }
}

void Downloader::markWatched(const QString& courseId, const QString& lessonId, qint32 lengthSeconds)
{
    if (library.markWatched(courseId, lessonId, lengthSeconds)) {
        saveStore();
        emit refreshUI();
    }
}

void Downloader::setLastPlayed(const QString& courseId, const QString& lessonId)
{
    if (library.setLastPlayed(courseId, lessonId)) {
        saveStore();
    }
}

void Downloader::fetchThumbnail(const CourseRecord& course)
{
    const QUrl url(course.img, QUrl::TolerantMode);
    if (course.img.isEmpty()) {
        return;
    }
    if (!UrlPolicy::isAllowed(url)) {
        qDebug().noquote() << "thumbnail address refused:" << LogMask::url(url);
        return;
    }
    QNetworkRequest request(url);
    request.setAttribute(QNetworkRequest::User, course.dir);
    UrlPolicy::prepare(request);
    request.setTransferTimeout(ctx.options.requestTimeoutMs);
    // Made with the first picture: the network's set-up waits until there is something to get.
    if (!manager) {
        manager = new QNetworkAccessManager(this);
        connect(manager, &QNetworkAccessManager::finished, this, &Downloader::imgFinished);
    }
    QNetworkReply* reply = manager->get(request);
    UrlPolicy::watch(reply);
    TransferGuard::Limits limits;
    limits.answerMs = ctx.options.requestTimeoutMs;
    limits.maxBytes = thumbnailMaxBytes; // a picture, not a film
    TransferGuard::attach(reply, limits);
}

void Downloader::imgFinished(QNetworkReply* reply)
{
    reply->deleteLater();
    const QString dir = reply->request().attribute(QNetworkRequest::User).toString();
    const QByteArray body = reply->readAll();
    const int status = reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt();
    // An error page is no picture; the next addCourse asks again.
    if (reply->error() != QNetworkReply::NoError || TransferGuard::isOversized(reply) ||
        status < 200 || status > 299 || !looksLikePicture(body) || dir.isEmpty()) {
        qDebug() << "thumbnail request failed:" << reply->url().path() << status;
        return;
    }
    QSaveFile file(dir + QLatin1Char('/') + CourseStore::thumbName);
    if (!file.open(QIODevice::WriteOnly) || file.write(body) != body.size() || !file.commit()) {
        qDebug() << "save pic failed" << file.errorString();
        return;
    }
    emit refreshUI();
}

bool Downloader::loadStore()
{
    bool fresh = false;
    UserRecord user;
    if (ctx.store && ctx.setting) {
        const QString name = ctx.setting(QStringLiteral("APP/LASTUSER"));
        if (!name.isEmpty()) {
            ctx.store->removeOrphans(name);
        }
        QString kept;
        const CourseStore::LoadResult loaded = ctx.store->load(name, user, &kept);
        if (loaded == CourseStore::LoadResult::Loaded) {
            fresh = user.isSessionFresh(UserRecord::now());
            if (!fresh) {
                user.clear();
            }
        } else if (!name.isEmpty()) {
            // Filed for the next login of this user, which loads it.
            UserRecord rebuilt;
            rebuilt.username = name;
            const int found = rebuild(rebuilt);
            if (found > 0) {
                ctx.store->save(rebuilt);
            }
            if (loaded == CourseStore::LoadResult::Damaged) {
                reportDamage(kept, found);
            } else if (found > 0) {
                emit recordDamaged(
                    QStringLiteral("下载记录丢失，已从下载目录找回 %1 个已缓存的课件").arg(found));
            }
        }
    }
    library.replace(user);
    emit refreshUI();
    QMetaObject::invokeMethod(worker, &DownloadWorker::schedule, Qt::QueuedConnection);
    return fresh;
}

bool Downloader::saveStore()
{
    const bool saved = library.save();
    reportSave();
    return saved;
}

void Downloader::removeDirs(const QStringList& dirs) const
{
    CourseStore::removeDirs(dirs, ctx.downloadRoots);
}

bool Downloader::release(const QStringList& dirs)
{
    QMetaObject::invokeMethod(
        worker, [this, dirs] { worker->abandon(dirs); }, Qt::QueuedConnection);
    if (library.waitReleased(dirs, ctx.options.releaseWaitMs)) {
        return true;
    }
    qDebug() << "the download worker has not let go of its lesson after"
             << ctx.options.releaseWaitMs << "ms; its files are removed once it has";
    return false;
}

void Downloader::removeReleased(const QStringList& dirs, bool released)
{
    if (released) {
        removeDirs(dirs);
        return;
    }
    // Queued behind the worker's abandon(), so nothing is written after the removal.
    const QStringList roots = ctx.downloadRoots;
    QMetaObject::invokeMethod(
        worker, [dirs, roots] { CourseStore::removeDirs(dirs, roots); }, Qt::QueuedConnection);
}

void Downloader::deleteDownloaded(const QStringList& courseDirs)
{
    const bool released = !library.resetCourses(courseDirs) || release(courseDirs);
    removeReleased(courseDirs, released);
    saveStore();
    pruneFigures();
    emit refreshUI();
}

void Downloader::deleteLessons(const QStringList& lessonDirs)
{
    const bool released = !library.resetLessons(lessonDirs) || release(lessonDirs);
    removeReleased(lessonDirs, released);
    saveStore();
    pruneFigures();
    emit refreshUI();
}

void Downloader::deleteDownloading(const QStringList& lessonDirs)
{
    deleteLessons(lessonDirs);
}

void Downloader::switchUser(const UserRecord& session)
{
    if (session.username == library.username()) {
        library.setSession(session);
        saveStore();
        QMetaObject::invokeMethod(worker, &DownloadWorker::sessionRenewed, Qt::QueuedConnection);
        return;
    }
    // No lesson of the previous user may be fetched, or written, under the new one.
    library.setHeld(true);
    release(QStringList());
    saveStore();
    UserRecord next;
    QString kept;
    const CourseStore::LoadResult loaded = ctx.store
                                               ? ctx.store->load(session.username, next, &kept)
                                               : CourseStore::LoadResult::Missing;
    if (loaded != CourseStore::LoadResult::Loaded) {
        next.clear();
        next.username = session.username;
        const int found = rebuild(next);
        if (loaded == CourseStore::LoadResult::Damaged) {
            reportDamage(kept, found);
        } else if (found > 0) {
            emit recordDamaged(
                QStringLiteral("下载记录丢失，已从下载目录找回 %1 个已缓存的课件").arg(found));
        }
    }
    next.setSession(session);
    library.replace(next);
    library.setHeld(false);
    saveStore();
    emit refreshUI();
    QMetaObject::invokeMethod(worker, &DownloadWorker::sessionRenewed, Qt::QueuedConnection);
}

void Downloader::onWorkedOff(int complete, int failed)
{
    const auto isOn = [this](const QString& key) {
        return ctx.setting && ctx.setting(key) == QLatin1String("1");
    };
    if (failed > 0) {
        // The computer stays on: the student may retry what failed.
        if (isOn(QStringLiteral("DOWNLOAD/TIP"))) {
            emit endedWithFailures(complete, failed);
        }
        return;
    }
    if (complete == 0) {
        return;
    }
    if (isOn(QStringLiteral("DOWNLOAD/TIP"))) {
        emit allDone();
    }
    if (isOn(QStringLiteral("DOWNLOAD/SHUTDOWN")) && ctx.requestShutdown) {
        ctx.requestShutdown();
    }
}

void Downloader::onWriteFailed(const QString& why)
{
    running = false;
    emit startPause();
    emit storageFailed(why.isEmpty()
                           ? QStringLiteral("磁盘写入失败，下载已暂停。请检查磁盘空间后继续下载。")
                           : why + QStringLiteral("，下载已暂停。请清理磁盘后继续下载。"));
}

void Downloader::onWaitingChanged(const QString& path, bool isWaiting, qint64 retryInMs)
{
    if (isWaiting) {
        waiting.insert(path, retryInMs < 0 ? QDateTime()
                                           : QDateTime::currentDateTime().addMSecs(retryInMs));
        figures[path].interrupt();
    } else {
        waiting.remove(path);
    }
    emit lessonWaiting(path, isWaiting);
}

void Downloader::onProgress(const QString& path, float size, float totalSize, float speed)
{
    LessonProgress& lesson = figures[path];
    const float before = lesson.sizeKB();
    lesson.report(clock.elapsed(), size, totalSize, speed);
    // Bytes beyond what it had: the lesson is under way again.
    if (lesson.sizeKB() > before && waiting.remove(path) > 0) {
        emit lessonWaiting(path, false);
    }
    // A report still under way when its lesson was let go (another went first, it was held or
    // waits) keeps its bytes but shows no speed: the lesson waits now.
    if (library.inFlight() != path && library.isQueued(path)) {
        lesson.interrupt();
        return;
    }
    emit refreshProgress(path, lesson.sizeKB(), lesson.totalMB(), lesson.speedKB());
}

void Downloader::pruneFigures()
{
    if (figures.isEmpty()) {
        return;
    }
    QSet<QString> queued;
    for (const LessonRecord& entry : library.queue()) {
        queued.insert(entry.dir);
    }
    for (auto it = figures.begin(); it != figures.end();) {
        it = queued.contains(it.key()) ? std::next(it) : figures.erase(it);
    }
}

void Downloader::queueChanged()
{
    saveStore();
    emit refreshUI();
    QMetaObject::invokeMethod(worker, &DownloadWorker::sessionRenewed, Qt::QueuedConnection);
}

void Downloader::setLessonPaused(const QString& lessonDir, bool paused)
{
    if (!library.setPaused(lessonDir, paused)) {
        return;
    }
    if (paused) {
        figures[lessonDir].interrupt();
        if (library.inFlight() == lessonDir) {
            release({lessonDir});
        }
    }
    queueChanged();
}

bool Downloader::isLessonPaused(const QString& lessonDir) const
{
    return library.isPaused(lessonDir);
}

void Downloader::prioritize(const QString& lessonDir)
{
    if (!library.moveToFront(lessonDir)) {
        return;
    }
    const QString current = library.inFlight();
    if (!current.isEmpty() && current != lessonDir) {
        // The one in flight keeps its stored segments and goes on after this one.
        figures[current].interrupt();
        release({current});
    }
    queueChanged();
}

void Downloader::retryLesson(const QString& lessonDir)
{
    if (library.retry(lessonDir)) {
        queueChanged();
    }
}

QList<LessonRecord> Downloader::failedLessons() const
{
    return library.failedLessons();
}

void Downloader::fileRecovered(const CourseRecord& course)
{
    if (course.id.isEmpty() || course.dir.isEmpty()) {
        return;
    }
    CourseRecord filed = course;
    for (LessonRecord& lesson : filed.list) {
        // Nothing is queued here: only what is stored keeps its state.
        if (lesson.state != Complete) {
            lesson.state = NotChosen;
        }
        if (lesson.dir.isEmpty()) {
            lesson.dir = CourseLibrary::lessonFolder(filed.dir, lesson);
        }
    }
    if (!library.fileCourse(filed)) {
        return;
    }
    StoredCourse::write(library.username(), filed);
    if (!QFileInfo::exists(filed.dir + QLatin1Char('/') + CourseStore::thumbName)) {
        fetchThumbnail(filed);
    }
    saveStore();
    emit refreshUI();
}

void Downloader::reportDamage(const QString& keptCopy, int recovered)
{
    QString message = QStringLiteral("下载记录已损坏");
    if (!keptCopy.isEmpty()) {
        message += QStringLiteral("，已另存为 ") + QDir::toNativeSeparators(keptCopy);
    }
    if (recovered > 0) {
        message += QStringLiteral("；已从下载目录找回 %1 个已缓存的课件").arg(recovered);
    }
    emit recordDamaged(message);
}

int Downloader::rebuild(UserRecord& user) const
{
    if (!ctx.cipher || user.username.isEmpty()) {
        return 0;
    }
    int found = 0;
    user.courses = StoredCourse::recover(user.username, ctx.downloadRoots, *ctx.cipher, &found);
    if (found > 0) {
        qDebug() << "record rebuilt from the download folders:" << user.courses.size() << "courses,"
                 << found << "lessons";
    }
    return found;
}

void Downloader::reportSave()
{
    const QString error = ctx.store ? ctx.store->saveError() : QString();
    if (error == toldSaveError) {
        return;
    }
    toldSaveError = error;
    if (!error.isEmpty()) {
        emit storageFailed(QStringLiteral("下载记录无法保存：") + error);
    }
}
