#pragma once

#include "CourseRecord.h"

#include <QObject>
#include <QPointer>
#include <functional>
#include <optional>

class Downloader;
class HttpHelper;
class URLManager;

// One lesson being played and its course, without any widget: which lesson it is and where it
// comes from, the remembered position and the rule that no position is written before the jump
// to it has landed, the end of the lesson (position back to the start, watched mark), the
// learning-status reports and the course information of an online lesson. The window shows
// what this decides.
class PlaybackSession : public QObject
{
    Q_OBJECT
public:
    // What the window does when a lesson has played to its end.
    enum EndAction {
        CountDown, // a next lesson, and it is to follow by itself
        StayOnEnd, // a next lesson, to be asked for
        CourseDone // no next lesson
    };
    static EndAction endAction(bool hasNext, bool autoPlayNext);

    // `store` and `urls` may go before this object (the program's orderly stop): every call
    // then does nothing. `resumeOn` tells whether positions are remembered at all.
    PlaybackSession(Downloader* store, const URLManager* urls, std::function<bool()> resumeOn,
                    QObject* parent = nullptr);

    // Lesson `lid` of course `cid`: the folder to play it from when it is downloaded, else an
    // empty text (it is then fetched online). A course already known from its course
    // information is kept when the store has none.
    QString chooseLesson(const QString& cid, const QString& lid, const QString& c_type);
    // The downloaded lesson in `dir`, its course and lesson found in the store.
    void chooseFolder(const QString& dir);
    // The online playlist of `lid` has come and plays: the course information is asked for.
    void playsOnline(const QString& cid, const QString& lid);

    bool isOnline() const { return !classId.isEmpty(); }
    const std::optional<CourseRecord>& course() const { return currentCourse; }
    const LessonRecord* lesson() const;
    int lessonIndex() const { return index; }
    // The online lesson now loaded, once its playlist has come.
    const QString& loadedLesson() const { return lessonId; }
    // Neighbours in the course order for this source, or -1.
    int previousIndex() const;
    int nextIndex() const;

    // Called at every start of playback; the second to jump to, or -1 for none.
    int started();
    // Playback has started at least once since the lesson was chosen.
    bool hasStarted() const { return startedOnce; }
    // The position to keep; `seeking` while mpv has not landed from a jump.
    void savePosition(qint64 positionMs, qint64 durationMs, bool seeking);
    // The lesson played to its end: position back to the start, watched, status reported.
    void finish(qint64 durationMs);
    bool isFinished() const { return finished; }

    // The course-information answer; false (with the tip told) when it is none.
    bool applyCourseInfo(const QString& result);
    // "已学完" pressed: reports status 2, or tells that it is learnt already.
    void reportStudied();
    // "下载" pressed: queues the lesson's course; the tip for the student.
    QString queueForDownload();

signals:
    void tip(const QString& text);
    // A report or the course information was refused: the school no longer knows the session.
    void sessionLost();
    // The course information is in: the lesson's title and the download button.
    void courseInfoReady();

private:
    void choose(std::optional<CourseRecord> course, int index, const QString& c_type);
    LessonRecord* lessonRecord();
    void pushLearnStatus(const QString& status);
    void learnStateDone(const QString& result);
    int neighbour(int direction) const;

    QPointer<Downloader> store;
    const URLManager* urls;
    std::function<bool()> resumeOn;
    HttpHelper* courseInfo;
    HttpHelper* learnState;
    std::optional<CourseRecord> currentCourse;
    int index = -1;
    QString classId;
    QString lessonId;
    QString lessonType;
    // Played from the store (else online, or still being fetched).
    bool fromStore = false;
    bool startedOnce = false;
    // The jump to the remembered place was asked for and has not landed yet.
    bool jumpPending = false;
    bool finished = false;
    bool studyPushed = false;
};
