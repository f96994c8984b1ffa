#include "CourseLibrary.h"

#include "CourseStore.h"
#include "Md5.h"

#include <QDebug>
#include <algorithm>
#include <chrono>

using Lock = std::lock_guard<std::mutex>;

// Records go in and out as copies of their own, not implicitly shared ones: a shared list
// would be written in place by the worker once the other side has let go of it, and Qt tells
// that only through a relaxed load, which orders nothing between the threads.
static QList<LessonRecord> own(const QList<LessonRecord>& lessons)
{
    QList<LessonRecord> copy;
    copy.reserve(lessons.size());
    for (const LessonRecord& lesson : lessons) {
        copy.append(lesson);
    }
    return copy;
}

static CourseRecord own(const CourseRecord& course)
{
    CourseRecord copy = course;
    copy.list = own(course.list);
    return copy;
}

static QList<CourseRecord> own(const QList<CourseRecord>& courses)
{
    QList<CourseRecord> copy;
    copy.reserve(courses.size());
    for (const CourseRecord& course : courses) {
        copy.append(own(course));
    }
    return copy;
}

static UserRecord own(const UserRecord& user)
{
    UserRecord copy;
    copy.setSession(user);
    copy.queue = own(user.queue);
    copy.courses = own(user.courses);
    copy.lastCourse = user.lastCourse;
    copy.lastLesson = user.lastLesson;
    return copy;
}

CourseLibrary::CourseLibrary(CourseStore* store) : store(store) {}

UserRecord CourseLibrary::record() const
{
    Lock lock(mutex);
    return own(user);
}

UserRecord CourseLibrary::session() const
{
    UserRecord copy;
    Lock lock(mutex);
    copy.setSession(user);
    return copy;
}

QString CourseLibrary::username() const
{
    Lock lock(mutex);
    return user.username;
}

QString CourseLibrary::sid() const
{
    Lock lock(mutex);
    return user.sid;
}

void CourseLibrary::setSid(const QString& sid)
{
    Lock lock(mutex);
    user.sid = sid;
}

void CourseLibrary::setSession(const UserRecord& session)
{
    Lock lock(mutex);
    user.setSession(session);
}

void CourseLibrary::replace(const UserRecord& record)
{
    UserRecord copy = own(record);
    // Queue entries must name a directory and be chosen; anything else could never be fetched
    // and would stay for ever.
    copy.queue.erase(std::remove_if(copy.queue.begin(), copy.queue.end(),
                                    [](const LessonRecord& entry) {
                                        if (entry.dir.isEmpty() || entry.state != Chosen) {
                                            qDebug() << "queue entry that cannot be fetched "
                                                        "dropped:"
                                                     << entry.id << entry.dir;
                                            return true;
                                        }
                                        return false;
                                    }),
                     copy.queue.end());
    Lock lock(mutex);
    user = std::move(copy);
    ended = false;
    completedRun = 0;
}

void CourseLibrary::expireSession()
{
    Lock lock(mutex);
    user.loginTime = QDateTime::currentDateTime().addYears(-1000);
}

QList<CourseRecord> CourseLibrary::courses() const
{
    Lock lock(mutex);
    return own(user.courses);
}

QList<LessonRecord> CourseLibrary::queue() const
{
    Lock lock(mutex);
    return own(user.queue);
}

std::optional<CourseRecord> CourseLibrary::findCourse(const QString& courseId) const
{
    Lock lock(mutex);
    for (const CourseRecord& course : user.courses) {
        if (course.id == courseId) {
            return own(course);
        }
    }
    return std::nullopt;
}

bool CourseLibrary::isQueued(const QString& lessonDir) const
{
    Lock lock(mutex);
    return std::any_of(user.queue.cbegin(), user.queue.cend(),
                       [&](const LessonRecord& entry) { return entry.dir == lessonDir; });
}

bool CourseLibrary::save() const
{
    std::lock_guard<std::mutex> saving(saveMutex);
    return store && store->save(record());
}

QStringList CourseLibrary::addCourse(const CourseRecord& course, const QString& videoPath,
                                     CourseRecord* stored)
{
    Lock lock(mutex);
    CourseRecord* known = user.findCourse(course.id);
    if (!known) {
        CourseRecord added = own(course);
        if (added.dir.isEmpty()) {
            added.dir = courseFolder(videoPath, added);
        }
        for (LessonRecord& lesson : added.list) {
            lesson.dir.clear();
        }
        user.courses.append(added);
        known = &user.courses.last();
    }
    // The stored folders hold the bytes already fetched: they never move, whatever the
    // download folder or the titles are now.
    if (known->dir.isEmpty()) {
        known->dir = courseFolder(videoPath, *known);
    }
    for (const LessonRecord& lesson : course.list) {
        auto it = std::find_if(known->list.begin(), known->list.end(),
                               [&](const LessonRecord& entry) { return entry.id == lesson.id; });
        if (it == known->list.end()) {
            known->list.append(lesson);
            known->list.last().dir.clear();
            it = known->list.end() - 1;
        }
        if (lesson.state == Chosen && (it->state == NotChosen || it->state == Failed)) {
            it->state = Chosen;
            it->failReason.clear();
        }
    }
    QStringList created{known->dir};
    for (LessonRecord& lesson : known->list) {
        if (lesson.dir.isEmpty()) {
            lesson.dir = lessonFolder(known->dir, lesson);
        }
        if (lesson.state != Chosen) {
            continue;
        }
        const bool queued =
            std::any_of(user.queue.cbegin(), user.queue.cend(),
                        [&](const LessonRecord& entry) { return entry.dir == lesson.dir; });
        if (!queued) {
            user.queue.append(lesson);
            created << lesson.dir;
        }
    }
    if (stored) {
        *stored = own(*known);
    }
    return created;
}

bool CourseLibrary::fileCourse(const CourseRecord& course)
{
    Lock lock(mutex);
    if (user.findCourse(course.id)) {
        return false;
    }
    user.courses.append(own(course));
    return true;
}

bool CourseLibrary::setWatchTime(const QString& courseId, const QString& lessonId,
                                 const QString& seconds, qint32 lengthSeconds)
{
    Lock lock(mutex);
    bool found = false;
    for (CourseRecord& course : user.courses) {
        if (course.id != courseId) {
            continue;
        }
        for (LessonRecord& lesson : course.list) {
            if (lesson.id == lessonId) {
                lesson.watchtimes = seconds;
                if (lengthSeconds > 0) {
                    lesson.lengthSeconds = lengthSeconds;
                }
                found = true;
            }
        }
    }
    return found;
}

bool CourseLibrary::markWatched(const QString& courseId, const QString& lessonId,
                                qint32 lengthSeconds)
{
    const bool found = setWatchTime(courseId, lessonId, QStringLiteral("0"), lengthSeconds);
    Lock lock(mutex);
    if (CourseRecord* course = user.findCourse(courseId)) {
        for (LessonRecord& lesson : course->list) {
            if (lesson.id == lessonId) {
                lesson.watched = true;
            }
        }
    }
    return found;
}

bool CourseLibrary::setLastPlayed(const QString& courseId, const QString& lessonId)
{
    Lock lock(mutex);
    if (!user.findCourse(courseId)) {
        return false;
    }
    user.lastCourse = courseId;
    user.lastLesson = lessonId;
    return true;
}

QString CourseLibrary::courseFolder(const QString& videoPath, const CourseRecord& course)
{
    return videoPath + QLatin1Char('/') +
           Md5::utf8Hex(course.id + QLatin1Char('\n') + course.title);
}

QString CourseLibrary::lessonFolder(const QString& courseDir, const LessonRecord& lesson)
{
    return courseDir + QLatin1Char('/') +
           Md5::utf8Hex(lesson.courseId + QLatin1Char('\n') + lesson.id + QLatin1Char('\n') +
                        lesson.title);
}

bool CourseLibrary::isWithin(const QString& dir, const QStringList& dirs)
{
    for (const QString& top : dirs) {
        if (!top.isEmpty() && (dir == top || dir.startsWith(top + QLatin1Char('/')))) {
            return true;
        }
    }
    return false;
}

bool CourseLibrary::inFlightWithin(const QStringList& dirs) const
{
    return !current.isEmpty() && (dirs.isEmpty() || isWithin(current, dirs));
}

static void removeQueued(QList<LessonRecord>& queue, const QStringList& dirs)
{
    queue.erase(std::remove_if(queue.begin(), queue.end(),
                               [&](const LessonRecord& entry) {
                                   return CourseLibrary::isWithin(entry.dir, dirs);
                               }),
                queue.end());
}

bool CourseLibrary::resetCourses(const QStringList& courseDirs)
{
    Lock lock(mutex);
    for (CourseRecord& course : user.courses) {
        if (courseDirs.contains(course.dir)) {
            for (LessonRecord& lesson : course.list) {
                lesson.state = NotChosen;
                lesson.failReason.clear();
            }
        }
    }
    removeQueued(user.queue, courseDirs);
    return !courseDirs.isEmpty() && inFlightWithin(courseDirs);
}

bool CourseLibrary::resetLessons(const QStringList& lessonDirs)
{
    Lock lock(mutex);
    for (CourseRecord& course : user.courses) {
        for (LessonRecord& lesson : course.list) {
            if (lessonDirs.contains(lesson.dir)) {
                lesson.state = NotChosen;
                lesson.failReason.clear();
            }
        }
    }
    removeQueued(user.queue, lessonDirs);
    return !lessonDirs.isEmpty() && inFlightWithin(lessonDirs);
}

bool CourseLibrary::dequeue(const QStringList& lessonDirs)
{
    Lock lock(mutex);
    removeQueued(user.queue, lessonDirs);
    return !lessonDirs.isEmpty() && inFlightWithin(lessonDirs);
}

std::optional<LessonRecord>
CourseLibrary::takeNext(const std::function<bool(const LessonRecord&)>& eligible)
{
    Lock lock(mutex);
    if (held || !current.isEmpty()) {
        return std::nullopt;
    }
    for (const LessonRecord& entry : qAsConst(user.queue)) {
        if (!entry.paused && (!eligible || eligible(entry))) {
            current = entry.dir;
            return entry;
        }
    }
    return std::nullopt;
}

bool CourseLibrary::finishInFlight(qint32 state, const QString& failReason)
{
    bool set = false;
    {
        Lock lock(mutex);
        QList<LessonRecord>& queue = user.queue;
        for (int i = 0; !current.isEmpty() && i < queue.size(); ++i) {
            if (queue.at(i).dir != current) {
                continue;
            }
            const LessonRecord done = queue.takeAt(i);
            for (CourseRecord& course : user.courses) {
                for (LessonRecord& lesson : course.list) {
                    if (lesson.courseId == done.courseId && lesson.id == done.id) {
                        lesson.state = state;
                        lesson.failReason = state == Failed ? failReason : QString();
                    }
                }
            }
            set = true;
            ended = true;
            completedRun += state == Complete ? 1 : 0;
            break;
        }
        current.clear();
    }
    released.notify_all();
    return set;
}

bool CourseLibrary::setPaused(const QString& lessonDir, bool paused)
{
    Lock lock(mutex);
    for (LessonRecord& entry : user.queue) {
        if (entry.dir == lessonDir && entry.paused != paused) {
            entry.paused = paused;
            return true;
        }
    }
    return false;
}

bool CourseLibrary::isPaused(const QString& lessonDir) const
{
    Lock lock(mutex);
    return std::any_of(user.queue.cbegin(), user.queue.cend(), [&](const LessonRecord& entry) {
        return entry.dir == lessonDir && entry.paused;
    });
}

bool CourseLibrary::moveToFront(const QString& lessonDir)
{
    Lock lock(mutex);
    for (int i = 0; i < user.queue.size(); ++i) {
        if (user.queue.at(i).dir == lessonDir) {
            const bool changed = i > 0 || user.queue.at(i).paused;
            LessonRecord entry = user.queue.takeAt(i);
            entry.paused = false;
            user.queue.prepend(entry);
            return changed;
        }
    }
    return false;
}

bool CourseLibrary::retry(const QString& lessonDir)
{
    Lock lock(mutex);
    for (CourseRecord& course : user.courses) {
        for (LessonRecord& lesson : course.list) {
            if (lesson.dir != lessonDir || lesson.state != Failed || lesson.dir.isEmpty()) {
                continue;
            }
            lesson.state = Chosen;
            lesson.failReason.clear();
            const bool queued =
                std::any_of(user.queue.cbegin(), user.queue.cend(),
                            [&](const LessonRecord& entry) { return entry.dir == lesson.dir; });
            if (!queued) {
                user.queue.append(lesson);
            }
            return true;
        }
    }
    return false;
}

QList<LessonRecord> CourseLibrary::failedLessons() const
{
    Lock lock(mutex);
    QList<LessonRecord> failed;
    for (const CourseRecord& course : user.courses) {
        for (const LessonRecord& lesson : course.list) {
            if (lesson.state == Failed && !lesson.dir.isEmpty()) {
                failed.append(lesson);
            }
        }
    }
    return failed;
}

std::optional<CourseLibrary::Ending> CourseLibrary::takeEnding()
{
    Lock lock(mutex);
    if (!ended || !user.queue.isEmpty() || !current.isEmpty()) {
        return std::nullopt;
    }
    Ending ending;
    ending.complete = completedRun;
    for (const CourseRecord& course : user.courses) {
        ending.failed += int(
            std::count_if(course.list.cbegin(), course.list.cend(), [](const LessonRecord& lesson) {
                return lesson.state == Failed && !lesson.dir.isEmpty();
            }));
    }
    ended = false;
    completedRun = 0;
    return ending;
}

void CourseLibrary::releaseInFlight()
{
    {
        Lock lock(mutex);
        current.clear();
    }
    released.notify_all();
}

QString CourseLibrary::inFlight() const
{
    Lock lock(mutex);
    return current;
}

void CourseLibrary::setHeld(bool value)
{
    Lock lock(mutex);
    held = value;
}

bool CourseLibrary::waitReleased(const QStringList& dirs, int timeoutMs) const
{
    std::unique_lock<std::mutex> lock(mutex);
    return released.wait_for(lock, std::chrono::milliseconds(timeoutMs),
                             [&] { return !inFlightWithin(dirs); });
}
