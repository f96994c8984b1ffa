#pragma once

#include "CourseRecord.h"

// How far the student has got, as the courseware page and the course tile tell it.
class WatchProgress
{
public:
    // The share of the lesson's length the remembered position stands for, 0..99 while not
    // watched to its end; -1 when it cannot be told (never opened, or its length unknown).
    static int percent(const LessonRecord& lesson);
    // "已学完", "已学 N%" or nothing.
    static QString lessonText(const LessonRecord& lesson);
    // "已学 M/N 讲" over the course's downloaded lessons; nothing when none is downloaded.
    static QString courseText(const CourseRecord& course);
};
