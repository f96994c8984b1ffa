#pragma once

#include "CourseRecord.h"

#include <QDateTime>
#include <QRecursiveMutex>

// The session of the logged-in user with the user's courses and download queue.
// Both threads change it: every access to the lists, and every save, holds `lock`.
class UserRecord
{
public:
    UserRecord();
    UserRecord(const UserRecord&) = delete;
    UserRecord& operator=(const UserRecord&) = delete;

    // Back to a new record: six empty strings, a null time, no courses, an empty queue.
    void clear();
    // Takes every field of `other` (which is left cleared); the lock stays this record's.
    void takeFrom(UserRecord& other);

    // The stored course with this id, or null.
    CourseRecord* findCourse(const QString& courseId);

    // Whether the session of `loginTime` may still be restored at `now`: at most 86399
    // seconds old, or in the future.
    bool isSessionFresh(const QDateTime& now) const;

    QString uid;
    QString nickname;
    QString username;
    QString email;
    QString is_img;
    QString sid;
    QDateTime loginTime;
    QList<LessonRecord> queue;
    QList<CourseRecord> courses;

    mutable QRecursiveMutex lock;
};

// The record file's layout: the six strings, the login time, the courses, then the queue.
QDataStream& operator<<(QDataStream& out, const UserRecord& user);
QDataStream& operator>>(QDataStream& in, UserRecord& user);
