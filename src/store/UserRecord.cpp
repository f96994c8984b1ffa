#include "UserRecord.h"

#include "RecordStream.h"

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
    return out;
}

QDataStream& operator>>(QDataStream& in, UserRecord& u)
{
    for (QString* field : {&u.uid, &u.nickname, &u.username, &u.email, &u.is_img, &u.sid}) {
        RecordStream::readString(in, *field);
    }
    in >> u.loginTime >> u.courses >> u.queue;
    return in;
}
