#pragma once

#include "LessonRecord.h"

// One bought course with its lessons, sorted by number and labelled for display
// ("第1章 …", "第1节 …", "课件1 …").
class CourseRecord
{
public:
    CourseRecord();
    CourseRecord(const JsonNode& node, const URLManager& urls);

    bool operator==(const CourseRecord& other) const;
    bool operator!=(const CourseRecord& other) const { return !(*this == other); }

    // Stable, by the integer value of `number` (text that is no number counts as 0).
    static void sortLessons(QList<LessonRecord>& lessons);
    // Rewrites titles into the numbered display labels, in list order.
    static void labelLessons(QList<LessonRecord>& lessons);

    QString id;
    QString title;
    QString img;
    QList<LessonRecord> list;
    QString dir;
};

QDataStream& operator<<(QDataStream& out, const CourseRecord& course);
QDataStream& operator>>(QDataStream& in, CourseRecord& course);
QDataStream& operator<<(QDataStream& out, const QList<CourseRecord>& courses);
QDataStream& operator>>(QDataStream& in, QList<CourseRecord>& courses);
