#pragma once

#include <QStringList>

class CourseRecord;
class FileCipher;

// What the fetcher leaves in a lesson folder, read back without the network: the stored
// playlist and the media it names. Lets lessons whose record was lost be filed again instead
// of fetched twice.
class StoredLesson
{
public:
    // Whether `dir` holds a whole lesson: a stored playlist that decrypts with `cipher` and
    // names only files of this folder, each present and whole (plain segments by their
    // structure; encrypted ones, whose key lives on the key-file server, by a size that
    // whole cipher blocks give).
    static bool isWhole(const QString& dir, const FileCipher& cipher);

    // Looks for the courseware lessons of `course` (not chosen yet) in the folders this and
    // earlier versions give them under each of `roots`. When some are whole, `course.dir`
    // becomes the course folder holding most of them and those lessons get their folder and
    // state 2. Returns how many were found.
    static int recover(CourseRecord& course, const QStringList& roots, const FileCipher& cipher);
};
