#include "WatchProgress.h"

int WatchProgress::percent(const LessonRecord& lesson)
{
    bool ok = false;
    const double seconds = lesson.watchtimes.toDouble(&ok);
    if (!ok || seconds < 0 || lesson.lengthSeconds <= 0) {
        return -1;
    }
    // Not at its end yet: a place in the last second still reads 99 %, never 100.
    return qMin(99, int(seconds * 100.0 / lesson.lengthSeconds));
}

QString WatchProgress::lessonText(const LessonRecord& lesson)
{
    if (lesson.watched) {
        return QStringLiteral("已学完");
    }
    const int share = percent(lesson);
    return share >= 0 ? QStringLiteral("已学 %1%").arg(share) : QString();
}

QString WatchProgress::courseText(const CourseRecord& course)
{
    int stored = 0;
    int watched = 0;
    for (const LessonRecord& lesson : course.list) {
        if (lesson.state == Complete) {
            ++stored;
            watched += lesson.watched ? 1 : 0;
        }
    }
    return stored > 0 ? QStringLiteral("已学 %1/%2 讲").arg(watched).arg(stored) : QString();
}
