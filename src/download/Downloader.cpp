#include "Downloader.h"

#include "CourseRecord.h"
#include "CourseStore.h"
#include "M3u8Loader.h"
#include "Md5.h"
#include "SegmentName.h"
#include "UserRecord.h"

#include <QDeadlineTimer>
#include <QDebug>
#include <QDir>
#include <QFileInfo>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QSaveFile>
#include <algorithm>

static const QString thumbName = QStringLiteral("thumb.jpg");

static bool isOn(const Downloader::Context& ctx, const QString& key)
{
    return ctx.setting && ctx.setting(key) == QLatin1String("1");
}

// Whether `dir` is one of `dirs` or lies below one of them.
static bool isWithin(const QString& dir, const QStringList& dirs)
{
    for (const QString& top : dirs) {
        if (!top.isEmpty() && (dir == top || dir.startsWith(top + QLatin1Char('/')))) {
            return true;
        }
    }
    return false;
}

Downloader::Downloader(Context context, QObject* parent)
    : QThread(parent), ctx(std::move(context)), flags(ctx.autoStart),
      manager(new QNetworkAccessManager(this))
{
    connect(manager, &QNetworkAccessManager::finished, this, &Downloader::imgFinished);
    // Any change of a flag may end the worker's sleep.
    connect(&flags, &DownloadFlags::changed, this, &Downloader::wake, Qt::DirectConnection);
}

Downloader::~Downloader()
{
    stop();
}

void Downloader::stop()
{
    flags.requestQuit();
    if (isRunning() && !wait(QDeadlineTimer(10000))) {
        qDebug() << "download thread did not end in time";
        wait();
    }
}

void Downloader::wake()
{
    QMutexLocker locker(&waitLock);
    wakeUp.wakeAll();
}

bool Downloader::hasWork() const
{
    QMutexLocker locker(&ctx.user->lock);
    return !ctx.user->queue.isEmpty();
}

QString Downloader::currentLesson() const
{
    QMutexLocker locker(&waitLock);
    return current;
}

int Downloader::percent(float sizeKB, float totalMB)
{
    if (!(totalMB > 0) || !qIsFinite(totalMB) || !(sizeKB > 0) || !qIsFinite(sizeKB)) {
        return 0;
    }
    const double share = double(sizeKB) / (double(totalMB) * 1024.0) * 100.0;
    return share >= 100.0 ? 100 : int(share);
}

void Downloader::setStart(bool value)
{
    flags.setStart(value);
    emit startPause();
}

void Downloader::addCourse(CourseRecord* course)
{
    if (!course) {
        return;
    }
    {
        QMutexLocker locker(&ctx.user->lock);
        // Stores written before keep their directories; new ones are named by the UTF-8 MD5 so
        // that two Chinese titles of one length never share a directory.
        if (course->dir.isEmpty()) {
            course->dir = ctx.videoPath + QLatin1Char('/') + Md5::utf8Hex(course->title);
        }
        if (!QDir().mkpath(course->dir)) {
            qDebug() << "cannot create the course directory" << course->dir;
        }
        CourseRecord* storedCourse = ctx.user->findCourse(course->id);
        for (LessonRecord& lesson : course->list) {
            if (lesson.dir.isEmpty()) {
                lesson.dir = course->dir + QLatin1Char('/') + Md5::utf8Hex(lesson.title);
            }
            if (storedCourse && storedCourse != course) {
                // A freshly built record of a stored course: the choice goes into the stored one.
                for (LessonRecord& known : storedCourse->list) {
                    if (known.id == lesson.id && known.dir.isEmpty()) {
                        known.dir = lesson.dir;
                    }
                    if (known.id == lesson.id && lesson.state == Chosen &&
                        known.state == NotChosen) {
                        known.state = Chosen;
                    }
                }
            }
            if (lesson.state != Chosen) {
                continue;
            }
            const bool queued =
                std::any_of(ctx.user->queue.cbegin(), ctx.user->queue.cend(),
                            [&](const LessonRecord& entry) { return entry.dir == lesson.dir; });
            if (!queued) {
                QDir().mkpath(lesson.dir);
                ctx.user->queue.append(lesson);
            }
        }
        if (!storedCourse) {
            ctx.user->courses.append(*course);
        }
    }
    if (!QFileInfo::exists(course->dir + QLatin1Char('/') + thumbName)) {
        fetchThumbnail(*course);
    }
    saveStore();
    emit refreshUI();
    if (!flags.setStart(true)) {
        emit startPause();
    }
}

void Downloader::fetchThumbnail(const CourseRecord& course)
{
    const QUrl url(course.img, QUrl::TolerantMode);
    if (course.img.isEmpty() || !url.isValid()) {
        return;
    }
    QNetworkRequest request(url);
    request.setAttribute(QNetworkRequest::User, course.dir);
    request.setAttribute(QNetworkRequest::RedirectPolicyAttribute,
                         QNetworkRequest::NoLessSafeRedirectPolicy);
    request.setTransferTimeout(ctx.options.requestTimeoutMs);
    manager->get(request);
}

void Downloader::imgFinished(QNetworkReply* reply)
{
    reply->deleteLater();
    const QString dir = reply->request().attribute(QNetworkRequest::User).toString();
    const QByteArray body = reply->readAll();
    const int status = reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt();
    // An error page is no picture; the next addCourse asks again.
    if (reply->error() != QNetworkReply::NoError || status < 200 || status > 299 ||
        body.isEmpty() || dir.isEmpty()) {
        qDebug() << "thumbnail request failed:" << reply->url().path() << status;
        return;
    }
    QSaveFile file(dir + QLatin1Char('/') + thumbName);
    if (!file.open(QIODevice::WriteOnly) || file.write(body) != body.size() || !file.commit()) {
        qDebug() << "save pic failed";
        return;
    }
    emit refreshUI();
}

bool Downloader::loadStore()
{
    bool fresh = false;
    if (ctx.store && ctx.setting) {
        const QString name = ctx.setting(QStringLiteral("APP/LASTUSER"));
        if (ctx.store->load(name, *ctx.user) == CourseStore::LoadResult::Loaded) {
            fresh = ctx.user->isSessionFresh(QDateTime::currentDateTime());
            if (!fresh) {
                ctx.user->clear();
            }
        }
    }
    {
        // Queue entries must name a directory and be chosen; anything else could not be
        // fetched and would stay for ever.
        QMutexLocker locker(&ctx.user->lock);
        QList<LessonRecord>& queue = ctx.user->queue;
        queue.erase(std::remove_if(queue.begin(), queue.end(),
                                   [](const LessonRecord& lesson) {
                                       return lesson.dir.isEmpty() || lesson.state != Chosen;
                                   }),
                    queue.end());
    }
    emit refreshUI();
    wake();
    return fresh;
}

bool Downloader::saveStore()
{
    return ctx.store && ctx.store->save(*ctx.user);
}

void Downloader::removeDirs(const QStringList& dirs) const
{
    CourseStore::removeDirs(dirs, ctx.videoPath);
}

void Downloader::releaseLessons(const QStringList& dirs)
{
    if (!isWithin(currentLesson(), dirs)) {
        return;
    }
    // Not under waitLock: the flag's change signal takes it to wake the worker.
    flags.setCancelled(true);
    QMutexLocker locker(&waitLock);
    QDeadlineTimer deadline(5000);
    while (!current.isEmpty() && isWithin(current, dirs)) {
        if (!released.wait(&waitLock, deadline)) {
            qDebug() << "the lesson in flight did not stop in time:" << current;
            return;
        }
    }
}

void Downloader::deleteDownloaded(const QStringList& courseDirs)
{
    {
        QMutexLocker locker(&ctx.user->lock);
        for (CourseRecord& course : ctx.user->courses) {
            if (courseDirs.contains(course.dir)) {
                for (LessonRecord& lesson : course.list) {
                    lesson.state = NotChosen;
                }
            }
        }
        QList<LessonRecord>& queue = ctx.user->queue;
        queue.erase(std::remove_if(queue.begin(), queue.end(),
                                   [&](const LessonRecord& lesson) {
                                       return isWithin(lesson.dir, courseDirs);
                                   }),
                    queue.end());
    }
    releaseLessons(courseDirs);
    removeDirs(courseDirs);
    saveStore();
    emit refreshUI();
}

void Downloader::deleteLessons(const QStringList& lessonDirs)
{
    {
        QMutexLocker locker(&ctx.user->lock);
        for (CourseRecord& course : ctx.user->courses) {
            for (LessonRecord& lesson : course.list) {
                if (lessonDirs.contains(lesson.dir)) {
                    lesson.state = NotChosen;
                }
            }
        }
    }
    releaseLessons(lessonDirs);
    removeDirs(lessonDirs);
    saveStore();
    emit refreshUI();
}

void Downloader::deleteDownloading(const QStringList& lessonDirs)
{
    bool removed = false;
    {
        QMutexLocker locker(&ctx.user->lock);
        QList<LessonRecord>& queue = ctx.user->queue;
        for (int i = queue.size() - 1; i >= 0; --i) {
            if (lessonDirs.contains(queue.at(i).dir)) {
                queue.removeAt(i);
                removed = true;
            }
        }
    }
    // The lesson in flight starts again from its stored segments, so that the queue is
    // read afresh.
    if (removed && !currentLesson().isEmpty()) {
        flags.setCancelled(true);
    }
    saveStore();
    deleteLessons(lessonDirs);
}

void Downloader::workedOff()
{
    if (isOn(ctx, QStringLiteral("DOWNLOAD/TIP"))) {
        emit allDone();
    }
    if (isOn(ctx, QStringLiteral("DOWNLOAD/SHUTDOWN")) && ctx.requestShutdown) {
        ctx.requestShutdown();
    }
}

void Downloader::onOwnThread(std::function<void()> call)
{
    // Receivers then see every signal of the scheduler on the thread it belongs to.
    QMetaObject::invokeMethod(this, std::move(call), Qt::QueuedConnection);
}

void Downloader::run()
{
    while (!flags.isQuitting()) {
        LessonRecord lesson;
        bool have = false;
        {
            QMutexLocker locker(&ctx.user->lock);
            if (flags.isStart() && !ctx.user->queue.isEmpty()) {
                lesson = ctx.user->queue.first();
                have = true;
            }
        }
        if (!have) {
            if (!hasWork() && hadWork.exchange(false)) {
                onOwnThread([this] { workedOff(); });
            }
            QMutexLocker locker(&waitLock);
            while (!flags.isQuitting() && !(flags.isStart() && hasWork())) {
                wakeUp.wait(&waitLock);
            }
            continue;
        }
        hadWork = true;
        // A cancel aimed at an earlier lesson must not abandon this one.
        flags.takeCancelled();
        {
            QMutexLocker locker(&waitLock);
            current = lesson.dir;
        }

        if (lesson.state != Chosen || lesson.dir.isEmpty()) {
            // Cannot be fetched and would block the queue for ever.
            qDebug() << "queue entry that cannot be fetched dropped:" << lesson.dir;
            {
                QMutexLocker locker(&ctx.user->lock);
                if (!ctx.user->queue.isEmpty() && ctx.user->queue.first().dir == lesson.dir) {
                    ctx.user->queue.removeFirst();
                }
            }
            QMutexLocker locker(&waitLock);
            current.clear();
            released.wakeAll();
            continue;
        }
        M3u8Loader::Result result = M3u8Loader::Result::Stopped;
        {
            M3u8Loader loader(*ctx.cipher, flags, ctx.options);
            connect(&loader, &M3u8Loader::downloadingProgress, this, &Downloader::refreshProgress);
            connect(&loader, &M3u8Loader::donwloadError, this, &Downloader::downloadError);
            result = loader.downloadLesson(lesson.keyUrl, lesson.dir);
        }
        {
            QMutexLocker locker(&waitLock);
            current.clear();
            released.wakeAll();
        }

        if (flags.isQuitting()) {
            break;
        }
        if (flags.takeCancelled() || result == M3u8Loader::Result::Stopped) {
            continue; // the head is read again; a restarted lesson skips its stored segments
        }
        if (result == M3u8Loader::Result::WriteFailed) {
            flags.setStart(false);
            onOwnThread([this] {
                emit startPause();
                emit storageFailed(
                    QStringLiteral("磁盘写入失败，下载已暂停。请检查磁盘空间后继续下载。"));
            });
            continue;
        }
        const qint32 state = result == M3u8Loader::Result::Complete ? Downloaded : Failed;
        {
            QMutexLocker locker(&ctx.user->lock);
            for (CourseRecord& course : ctx.user->courses) {
                for (LessonRecord& known : course.list) {
                    if (known.courseId == lesson.courseId && known.id == lesson.id) {
                        known.state = state;
                    }
                }
            }
            QList<LessonRecord>& queue = ctx.user->queue;
            for (int i = 0; i < queue.size(); ++i) {
                if (queue.at(i).dir == lesson.dir) {
                    queue.removeAt(i);
                    break;
                }
            }
            saveStore();
        }
        onOwnThread([this] { emit refreshUI(); });
    }
}
