#pragma once

#include "CourseRecord.h"

#include <QDateTime>
#include <functional>

// The session of the logged-in user with the user's courses and download queue. A plain
// value: the one shared instance lives inside CourseLibrary, which guards it.
class UserRecord
{
public:
    UserRecord();

    // Back to a new record: six empty strings, a null time, no courses, an empty queue.
    void clear();
    // The six session strings and the login time of `other`; the lists stay.
    void setSession(const UserRecord& other);

    // The stored course with this id, or null.
    CourseRecord* findCourse(const QString& courseId);

    // Whether the session of `loginTime` may still be restored at `now`: at most 86399
    // seconds old, or in the future.
    bool isSessionFresh(const QDateTime& now) const;

    // The clock sessions are aged by; tests fix it so that an age does not depend on how fast
    // the machine starts the window.
    static QDateTime now();
    static void setClock(std::function<QDateTime()> clock);

    static constexpr quint32 blockMark = 0x54784531; // "TxE1"; never the cipher's zero fill
    static constexpr quint32 blockVersion = 2;

    QString uid;
    QString nickname;
    QString username;
    QString email;
    QString is_img;
    QString sid;
    QDateTime loginTime;
    QList<LessonRecord> queue;
    QList<CourseRecord> courses;
    // The lesson played last, for "continue where I stopped"; empty when none.
    QString lastCourse;
    QString lastLesson;
};

// The record file's layout: the six strings, the login time, the courses, the queue, then a
// trailing block (a mark, a version, the pause flag of each queue entry, the reasons of failed
// lessons by folder; from version 2 also the watched marks and lengths of lessons by course and
// lesson id, and the lesson played last). Earlier versions stop reading before the block, or
// before what their version does not know; a record without it (or with a block that does not
// read whole) loads with nothing paused, no reasons and nothing watched.
QDataStream& operator<<(QDataStream& out, const UserRecord& user);
QDataStream& operator>>(QDataStream& in, UserRecord& user);
