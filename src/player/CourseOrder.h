#pragma once

#include "CourseRecord.h"

// Previous and next lesson within a course, in the record's order (the order of the courseware
// page and of the selection dialog). Chapter and section headings are no lessons. Played from
// the store, only lessons that are downloaded and whose folder still holds a playlist count;
// played online, every lesson of the course information does.
class CourseOrder
{
public:
    enum Source { Stored, Online };

    CourseOrder(const CourseRecord& course, Source source) : course(course), source(source) {}

    // Whether `lesson` can be played from this source.
    bool isPlayable(const LessonRecord& lesson) const;
    // The index of the lesson before or after `index` that can be played, or -1.
    int previous(int index) const;
    int next(int index) const;

    // A stored lesson whose folder holds its encrypted playlist ("*.ls").
    static bool isStoredPlayable(const LessonRecord& lesson);

private:
    int step(int index, int direction) const;

    const CourseRecord& course;
    Source source;
};
