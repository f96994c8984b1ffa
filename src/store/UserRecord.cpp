#include "UserRecord.h"

#include "RecordStream.h"

#include <QHash>
#include <QIODevice>

UserRecord::UserRecord()
{
    clear();
}

void UserRecord::clear()
{
    for (QString* field : {&uid, &nickname, &username, &email, &is_img, &sid}) {
        *field = QLatin1String("");
    }
    loginTime = QDateTime();
    queue.clear();
    courses.clear();
    lastCourse.clear();
    lastLesson.clear();
}

void UserRecord::setSession(const UserRecord& other)
{
    uid = other.uid;
    nickname = other.nickname;
    username = other.username;
    email = other.email;
    is_img = other.is_img;
    sid = other.sid;
    loginTime = other.loginTime;
}

CourseRecord* UserRecord::findCourse(const QString& courseId)
{
    for (CourseRecord& course : courses) {
        if (course.id == courseId) {
            return &course;
        }
    }
    return nullptr;
}

static std::function<QDateTime()>& sessionClock()
{
    static std::function<QDateTime()> current = [] {
        return QDateTime::currentDateTime();
    };
    return current;
}

QDateTime UserRecord::now()
{
    return sessionClock()();
}

void UserRecord::setClock(std::function<QDateTime()> value)
{
    sessionClock() = value ? std::move(value) : [] {
        return QDateTime::currentDateTime();
    };
}

bool UserRecord::isSessionFresh(const QDateTime& now) const
{
    // A record without a valid time never held a login.
    return loginTime.isValid() && loginTime.secsTo(now) <= 86399;
}

QDataStream& operator<<(QDataStream& out, const UserRecord& u)
{
    out << u.uid << u.nickname << u.username << u.email << u.is_img << u.sid << u.loginTime
        << u.courses << u.queue;
    out << UserRecord::blockMark << UserRecord::blockVersion << quint32(u.queue.size());
    for (const LessonRecord& entry : u.queue) {
        out << quint8(entry.paused ? 1 : 0);
    }
    QList<const LessonRecord*> failed;
    for (const CourseRecord& course : u.courses) {
        for (const LessonRecord& lesson : course.list) {
            if (!lesson.failReason.isEmpty()) {
                failed.append(&lesson);
            }
        }
    }
    out << quint32(failed.size());
    for (const LessonRecord* lesson : failed) {
        out << lesson->dir << lesson->failReason;
    }
    QList<QPair<const CourseRecord*, const LessonRecord*>> played;
    for (const CourseRecord& course : u.courses) {
        for (const LessonRecord& lesson : course.list) {
            if (lesson.watched || lesson.lengthSeconds > 0) {
                played.append({&course, &lesson});
            }
        }
    }
    out << quint32(played.size());
    for (const auto& [course, lesson] : played) {
        out << course->id << lesson->id << quint8(lesson->watched ? 1 : 0)
            << qint32(lesson->lengthSeconds);
    }
    out << u.lastCourse << u.lastLesson;
    return out;
}

// The trailing block; false when it is missing or does not read whole.
static bool readBlock(QDataStream& in, UserRecord& u)
{
    QIODevice* device = in.device();
    if (!device || device->bytesAvailable() < 12) {
        return false;
    }
    quint32 mark = 0;
    quint32 version = 0;
    quint32 count = 0;
    in >> mark;
    if (mark != UserRecord::blockMark) {
        return false;
    }
    in >> version >> count;
    if (in.status() != QDataStream::Ok || version < 1 || count != quint32(u.queue.size()) ||
        device->bytesAvailable() < qint64(count)) {
        return false;
    }
    for (LessonRecord& entry : u.queue) {
        quint8 paused = 0;
        in >> paused;
        entry.paused = paused != 0;
    }
    quint32 failed = 0;
    in >> failed;
    QHash<QString, QString> reasons;
    for (quint32 i = 0; i < failed && in.status() == QDataStream::Ok; ++i) {
        QString dir;
        QString reason;
        RecordStream::readString(in, dir);
        RecordStream::readString(in, reason);
        reasons.insert(dir, reason);
    }
    if (in.status() != QDataStream::Ok) {
        return false;
    }
    struct Played
    {
        bool watched = false;
        qint32 length = 0;
    };
    QHash<QString, Played> played;
    QString lastCourse;
    QString lastLesson;
    if (version >= 2) {
        quint32 count = 0;
        in >> count;
        for (quint32 i = 0; i < count && in.status() == QDataStream::Ok; ++i) {
            QString courseId;
            QString lessonId;
            quint8 watched = 0;
            qint32 length = 0;
            RecordStream::readString(in, courseId);
            RecordStream::readString(in, lessonId);
            in >> watched >> length;
            played.insert(courseId + QLatin1Char('\n') + lessonId, {watched != 0, qMax(0, length)});
        }
        RecordStream::readString(in, lastCourse);
        RecordStream::readString(in, lastLesson);
        if (in.status() != QDataStream::Ok) {
            return false;
        }
    }
    for (CourseRecord& course : u.courses) {
        for (LessonRecord& lesson : course.list) {
            lesson.failReason = lesson.state == Failed ? reasons.value(lesson.dir) : QString();
            const Played mark = played.value(course.id + QLatin1Char('\n') + lesson.id);
            lesson.watched = mark.watched;
            lesson.lengthSeconds = mark.length;
        }
    }
    u.lastCourse = lastCourse;
    u.lastLesson = lastLesson;
    return true;
}

QDataStream& operator>>(QDataStream& in, UserRecord& u)
{
    for (QString* field : {&u.uid, &u.nickname, &u.username, &u.email, &u.is_img, &u.sid}) {
        RecordStream::readString(in, *field);
    }
    in >> u.loginTime >> u.courses >> u.queue;
    if (in.status() != QDataStream::Ok) {
        return in;
    }
    // What follows the queue is read only when it is the block, and only as a whole: the
    // record itself is complete without it.
    QIODevice* device = in.device();
    const qint64 at = device ? device->pos() : 0;
    if (!readBlock(in, u)) {
        in.resetStatus();
        if (device && !device->isSequential()) {
            device->seek(at);
        }
        for (LessonRecord& entry : u.queue) {
            entry.paused = false;
        }
        for (CourseRecord& course : u.courses) {
            for (LessonRecord& lesson : course.list) {
                lesson.failReason.clear();
                lesson.watched = false;
                lesson.lengthSeconds = 0;
            }
        }
        u.lastCourse.clear();
        u.lastLesson.clear();
    }
    return in;
}
