#include "PlaybackSession.h"

#include "CourseOrder.h"
#include "Downloader.h"
#include "HttpHelper.h"
#include "JsonHelper.h"
#include "M3u8Loader.h"
#include "URLManager.h"

#include <QDebug>

PlaybackSession::EndAction PlaybackSession::endAction(bool hasNext, bool autoPlayNext)
{
    if (!hasNext) {
        return CourseDone;
    }
    return autoPlayNext ? CountDown : StayOnEnd;
}

PlaybackSession::PlaybackSession(Downloader* store, const URLManager* urls,
                                 std::function<bool()> resumeOn, QObject* parent)
    : QObject(parent), store(store), urls(urls), resumeOn(std::move(resumeOn)),
      courseInfo(new HttpHelper(this)), learnState(new HttpHelper(this))
{
    learnState->setTimeout(30000);
    connect(courseInfo, &HttpHelper::done, this, &PlaybackSession::applyCourseInfo);
    connect(learnState, &HttpHelper::done, this, &PlaybackSession::learnStateDone);
}

const LessonRecord* PlaybackSession::lesson() const
{
    return currentCourse && index >= 0 && index < currentCourse->list.size()
               ? &currentCourse->list.at(index)
               : nullptr;
}

LessonRecord* PlaybackSession::lessonRecord()
{
    return currentCourse && index >= 0 && index < currentCourse->list.size()
               ? &currentCourse->list[index]
               : nullptr;
}

void PlaybackSession::choose(std::optional<CourseRecord> course, int at, const QString& c_type)
{
    currentCourse = std::move(course);
    index = at;
    lessonType = c_type;
    classId.clear();
    lessonId.clear();
    startedOnce = false;
    jumpPending = false;
    finished = false;
    studyPushed = false;
}

QString PlaybackSession::chooseLesson(const QString& cid, const QString& lid, const QString& c_type)
{
    std::optional<CourseRecord> course = store ? store->findCourse(cid) : std::nullopt;
    if (!course && currentCourse && currentCourse->id == cid) {
        course = currentCourse;
    }
    int at = -1;
    for (int i = 0; course && i < course->list.size(); ++i) {
        if (course->list.at(i).id == lid) {
            at = i;
            break;
        }
    }
    choose(std::move(course), at, c_type);
    const LessonRecord* chosen = lesson();
    fromStore = chosen && chosen->state == Complete;
    return fromStore ? chosen->dir : QString();
}

void PlaybackSession::chooseFolder(const QString& dir)
{
    fromStore = true;
    if (lesson() && lesson()->dir == dir) {
        choose(currentCourse, index, lessonType);
        return;
    }
    std::optional<CourseRecord> found;
    int at = -1;
    QString type;
    const QList<CourseRecord> stored = store ? store->courses() : QList<CourseRecord>();
    for (const CourseRecord& course : stored) {
        for (int i = 0; i < course.list.size(); ++i) {
            if (course.list.at(i).dir == dir) {
                found = course;
                at = i;
                type = course.list.at(i).c_type;
            }
        }
    }
    choose(std::move(found), at, type);
}

void PlaybackSession::playsOnline(const QString& cid, const QString& lid)
{
    classId = cid;
    lessonId = lid;
    if (store && urls) {
        courseInfo->get(urls->getMyCourseInfoForPcDownLoadUrl(cid));
    }
}

int PlaybackSession::neighbour(int direction) const
{
    if (!currentCourse) {
        return -1;
    }
    const CourseOrder order(*currentCourse, fromStore ? CourseOrder::Stored : CourseOrder::Online);
    return direction < 0 ? order.previous(index) : order.next(index);
}

int PlaybackSession::previousIndex() const
{
    return neighbour(-1);
}

int PlaybackSession::nextIndex() const
{
    return neighbour(1);
}

int PlaybackSession::started()
{
    const bool first = !startedOnce;
    startedOnce = true;
    finished = false;
    const LessonRecord* current = lesson();
    if (!first || !current) {
        return -1;
    }
    if (store) {
        store->setLastPlayed(currentCourse->id, current->id);
    }
    // An empty or "0" position means none was remembered: no jump.
    if (!resumeOn() || current->watchtimes.isEmpty() || current->watchtimes == QLatin1String("0")) {
        return -1;
    }
    jumpPending = true;
    return int(current->watchtimes.toDouble());
}

void PlaybackSession::savePosition(qint64 positionMs, qint64 durationMs, bool seeking)
{
    // Before the first start, until the jump to the remembered place has landed, and after the
    // end (which put the place back at the start) the position is no place in the lecture.
    LessonRecord* current = lessonRecord();
    if (!startedOnce || finished || (jumpPending && seeking) || !current || !store || !resumeOn()) {
        return;
    }
    current->watchtimes = QString::number(positionMs / 1000);
    if (durationMs > 0) {
        current->lengthSeconds = qint32(durationMs / 1000);
    }
    store->setWatchTime(currentCourse->id, current->id, current->watchtimes,
                        qint32(qMax<qint64>(0, durationMs / 1000)));
}

void PlaybackSession::finish(qint64 durationMs)
{
    LessonRecord* current = lessonRecord();
    if (finished || !startedOnce || !current) {
        return;
    }
    finished = true;
    current->watchtimes = QStringLiteral("0");
    current->watched = true;
    if (durationMs > 0) {
        current->lengthSeconds = qint32(durationMs / 1000);
    }
    if (store) {
        store->markWatched(currentCourse->id, current->id, current->lengthSeconds);
    }
    // Reported as the "已学完" button does, but its answer is not shown.
    studyPushed = false;
    if (isOnline() && current->stutas != QLatin1String("3")) {
        pushLearnStatus(QStringLiteral("2"));
    }
}

bool PlaybackSession::applyCourseInfo(const QString& result)
{
    if (!store || !urls) {
        return false;
    }
    const JsonNode answer = JsonHelper::parse(result);
    if (M3u8Loader::isSessionLost(result)) {
        emit sessionLost();
        return false;
    }
    if (result.isEmpty() || answer.getString(QStringLiteral("flag")) != QLatin1String("1")) {
        emit tip(QStringLiteral("获取视频信息失败"));
        return false;
    }
    const CourseRecord fresh(answer.getObject(QStringLiteral("data")), *urls);
    if (!currentCourse) {
        currentCourse = fresh;
    }
    for (int i = 0; i < currentCourse->list.size(); ++i) {
        if (currentCourse->list.at(i).id == lessonId) {
            index = i;
            break;
        }
    }
    if (LessonRecord* current = lessonRecord()) {
        // The server's remembered position wins over the stored one.
        for (const LessonRecord& served : fresh.list) {
            if (served.id == lessonId) {
                current->watchtimes = served.watchtimes;
                break;
            }
        }
    }
    emit courseInfoReady();
    if (const LessonRecord* current = lesson(); current && current->stutas == QLatin1String("1")) {
        pushLearnStatus(QStringLiteral("1"));
    }
    return true;
}

void PlaybackSession::pushLearnStatus(const QString& status)
{
    if (!store || !urls) {
        return;
    }
    const LessonRecord* current = lesson();
    learnState->get(urls->pushLearnStatusUrl(classId, lessonId, status,
                                             current ? current->c_type : lessonType));
}

void PlaybackSession::reportStudied()
{
    const LessonRecord* current = lesson();
    if (!current) {
        return;
    }
    if (current->stutas != QLatin1String("3")) {
        pushLearnStatus(QStringLiteral("2"));
        studyPushed = true;
    } else {
        emit tip(QStringLiteral("该课程已经是已学完状态"));
    }
}

void PlaybackSession::learnStateDone(const QString& result)
{
    if (M3u8Loader::isSessionLost(result)) {
        emit sessionLost();
        return;
    }
    if (!studyPushed) {
        return;
    }
    const JsonNode answer = JsonHelper::parse(result);
    const QString infos = answer.getString(QStringLiteral("infos"));
    if (answer.getString(QStringLiteral("flag")) == QLatin1String("3")) {
        emit tip(QStringLiteral("已标注"));
    } else if (!infos.isEmpty()) {
        emit tip(infos);
    } else {
        // Nothing to tell the student: the mark is asked for again with the next report.
        qDebug() << "learning status: no answer from the school";
    }
}

QString PlaybackSession::queueForDownload()
{
    LessonRecord* current = lessonRecord();
    if (!current || !store) {
        return QString();
    }
    switch (current->state) {
    case NotChosen:
        current->state = Chosen;
        store->addCourse(*currentCourse);
        return QStringLiteral("已添加至下载列表");
    case Chosen:
        return QStringLiteral("该课件已经开始下载");
    case Complete:
        return QStringLiteral("该课件已下载");
    default:
        return QString();
    }
}
