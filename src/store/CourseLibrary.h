#pragma once

#include "UserRecord.h"

#include <QStringList>
#include <condition_variable>
#include <mutex>
#include <optional>

class CourseStore;

// The one owner of the user record: the session, the course list and the download queue.
// Both threads go through it; every operation takes its private lock for a moment and hands out
// copies, so no caller ever holds the lock while it calls something else.
//
// It also keeps the bookkeeping of the lesson in flight, so that taking the queue head and
// publishing it is one step, and a delete can wait until the worker has let go of a lesson.
class CourseLibrary
{
public:
    // `store` may be null: nothing is then written.
    explicit CourseLibrary(CourseStore* store = nullptr);
    CourseLibrary(const CourseLibrary&) = delete;
    CourseLibrary& operator=(const CourseLibrary&) = delete;

    // The whole record, and the session alone (lists empty).
    UserRecord record() const;
    UserRecord session() const;
    QString username() const;
    QString sid() const;
    void setSid(const QString& sid);
    // The session fields of `session` (same user); the lists stay.
    void setSession(const UserRecord& session);
    // Replaces everything, lists included (a user switch or a load); queue entries that could
    // never be fetched are dropped.
    void replace(const UserRecord& record);
    // The next start must not restore this session.
    void expireSession();

    QList<CourseRecord> courses() const;
    QList<LessonRecord> queue() const;
    std::optional<CourseRecord> findCourse(const QString& courseId) const;
    bool isQueued(const QString& lessonDir) const;

    // Writes the record file; false when nothing was written. Saves from both threads are
    // serialised, each writing the record as it is when its turn comes.
    bool save() const;

    // Files a course with its chosen lessons (state 1) into the list and the queue. A stored
    // course keeps its folder, and so does every stored lesson; new lessons of a stored course
    // go under the stored course's folder. Lessons chosen again after a failure are queued
    // again. Returns the folders to create: the course folder first, then the newly queued
    // lessons.
    QStringList addCourse(const CourseRecord& course, const QString& videoPath,
                          CourseRecord* stored = nullptr);
    // The remembered position, with the lesson's length when known (0 keeps the stored one).
    bool setWatchTime(const QString& courseId, const QString& lessonId, const QString& seconds,
                      qint32 lengthSeconds = 0);
    // Played to its end: watched for good, its position back at the start.
    bool markWatched(const QString& courseId, const QString& lessonId, qint32 lengthSeconds);
    // The lesson played last; false when the course is not stored.
    bool setLastPlayed(const QString& courseId, const QString& lessonId);
    // Files a course that is not in the list yet exactly as given, folders and states
    // included; the queue stays as it is. False when a course of that id is already there.
    bool fileCourse(const CourseRecord& course);

    // Delete operations: states back to 0 and the entries out of the queue. Each tells whether
    // the lesson in flight is affected (the caller then has the worker let go of it first).
    bool resetCourses(const QStringList& courseDirs);
    bool resetLessons(const QStringList& lessonDirs);
    bool dequeue(const QStringList& lessonDirs);

    // The student's hold on single lessons. A paused queue entry is never taken; each returns
    // whether anything changed.
    bool setPaused(const QString& lessonDir, bool paused);
    bool isPaused(const QString& lessonDir) const;
    // Moves the queue entry to the head (and lets it go on if it was paused).
    bool moveToFront(const QString& lessonDir);
    // A failed lesson (state 3) chosen again: state 1, its reason gone, queued at the end.
    bool retry(const QString& lessonDir);
    // The failed lessons of every course, in course and list order.
    QList<LessonRecord> failedLessons() const;

    // The worker's side. takeNext() returns the first queue entry that is not paused and that
    // `eligible` accepts, and marks it in flight in the same step.
    std::optional<LessonRecord> takeNext(const std::function<bool(const LessonRecord&)>& eligible);
    // The lesson in flight ended with `state` (2 or 3): set on its course and out of the queue,
    // but only while it is still queued (a delete may have taken it). True when it was set.
    bool finishInFlight(qint32 state, const QString& failReason = QString());
    // How the queue ended: the lessons completed since the queue was last worked off, and the
    // failed lessons of every course (what the student may still retry).
    struct Ending
    {
        int complete = 0;
        int failed = 0;
    };
    // Once the queue is empty and nothing is in flight, and a lesson has ended since this was
    // last asked or the record was replaced: how it ended; asking starts the count afresh.
    std::optional<Ending> takeEnding();
    // The lesson in flight was let go without an outcome (waiting, stopped, abandoned).
    void releaseInFlight();
    QString inFlight() const;
    // No lesson is taken while held (a user switch).
    void setHeld(bool held);
    // Blocks until the lesson in flight, if any, lies outside `dirs` (an empty list means any),
    // at most `timeoutMs`; false when it is still held then.
    bool waitReleased(const QStringList& dirs, int timeoutMs) const;

    // Whether `dir` is one of `dirs` or lies below one of them.
    static bool isWithin(const QString& dir, const QStringList& dirs);

    // The folder a new course or lesson gets: the UTF-8 MD5 of its ids and its title, so that
    // two courses (or two lessons of one course) with the same title never share one. Folders
    // already stored keep whatever name they were given.
    static QString courseFolder(const QString& videoPath, const CourseRecord& course);
    static QString lessonFolder(const QString& courseDir, const LessonRecord& lesson);

private:
    bool inFlightWithin(const QStringList& dirs) const;

    CourseStore* store;
    mutable std::mutex mutex;
    mutable std::condition_variable released;
    mutable std::mutex saveMutex; // taken before `mutex`, never after
    UserRecord user;
    QString current;
    bool held = false;
    bool ended = false;
    int completedRun = 0;
};
