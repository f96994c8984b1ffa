#include "CourseOrder.h"

#include <QDir>

bool CourseOrder::isStoredPlayable(const LessonRecord& lesson)
{
    if (lesson.state != Complete || lesson.dir.isEmpty()) {
        return false;
    }
    return !QDir(lesson.dir).entryList({QStringLiteral("*.ls")}, QDir::Files).isEmpty();
}

bool CourseOrder::isPlayable(const LessonRecord& lesson) const
{
    if (lesson.level == 1 || lesson.level == 2) {
        return false;
    }
    return source == Online || isStoredPlayable(lesson);
}

int CourseOrder::step(int index, int direction) const
{
    if (index < 0 || index >= course.list.size()) {
        return -1;
    }
    for (int i = index + direction; i >= 0 && i < course.list.size(); i += direction) {
        if (isPlayable(course.list.at(i))) {
            return i;
        }
    }
    return -1;
}

int CourseOrder::previous(int index) const
{
    return step(index, -1);
}

int CourseOrder::next(int index) const
{
    return step(index, 1);
}
