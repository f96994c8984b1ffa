#pragma once

#include <QList>
#include <QString>
#include <QStringList>

class CourseRecord;
class FileCipher;

// A course folder's own note of its course: who chose it, its title and lessons, written each
// time the course is filed. When the record file is damaged or lost, the notes under the
// download roots and the whole lessons beside them (StoredLesson) bring the downloaded courses
// back without the network.
class StoredCourse
{
public:
    static const QString noteName;
    // Nothing longer is read: a course of a few hundred lessons takes a few hundred KB.
    static constexpr qint64 maxNoteBytes = 8 * 1024 * 1024;

    // Writes the note into `course.dir` (which must exist); false when it could not be written.
    static bool write(const QString& username, const CourseRecord& course);

    // The courses of `username` noted in the folders directly under each of `roots` that hold
    // at least one whole lesson: those lessons at state 2 in their folder as found, every other
    // lesson at state 0. `lessons` gets how many lessons were found whole.
    static QList<CourseRecord> recover(const QString& username, const QStringList& roots,
                                       const FileCipher& cipher, int* lessons = nullptr);
};
