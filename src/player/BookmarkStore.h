#pragma once

#include "CourseRecord.h"

#include <QHash>
#include <QList>
#include <QObject>

// One marked time of a lesson with the student's note.
struct Bookmark
{
    int id = 0;
    qint64 seconds = 0;
    QString note;
};

// The student's bookmarks, per lesson, in one versioned file of the data folder for each user,
// written whole with QSaveFile after every change. A file that cannot be read is moved aside
// (".bad", ".bad-2", ...) and told once; should that move fail, nothing is written over it.
// Deleting a course's files leaves its bookmarks here.
class BookmarkStore : public QObject
{
    Q_OBJECT
public:
    static constexpr int version = 1;
    // Longer notes are cut to this many characters (the student is told).
    static constexpr int maxNoteLength = 500;
    // The file is never read beyond this size.
    static constexpr qint64 maxFileBytes = 8 * 1024 * 1024;

    // `folder` holds the file; `user` names it.
    BookmarkStore(const QString& folder, const QString& user, QObject* parent = nullptr);

    QString path() const { return file; }
    // Reads the file; false when it was damaged (then moved aside and told through damaged()).
    bool load();

    // The lesson's bookmarks by time.
    QList<Bookmark> bookmarks(const QString& courseId, const QString& lessonId) const;
    // A new bookmark; its id.
    int add(const QString& courseId, const QString& lessonId, qint64 seconds,
            const QString& note = QString());
    bool setNote(const QString& courseId, const QString& lessonId, int id, const QString& note);
    bool remove(const QString& courseId, const QString& lessonId, int id);

    // One line of plain text, at most maxNoteLength characters.
    static QString cleanNote(const QString& note);
    // "[hh:mm:ss]".
    static QString timeText(qint64 seconds);
    // The course title, then for each lesson with bookmarks, in course order, its title and a
    // line "[hh:mm:ss] note" per bookmark.
    QString exportText(const CourseRecord& course) const;
    // Writes exportText() as UTF-8 to exactly `target`; false (with `error`) when it could not.
    bool exportTo(const CourseRecord& course, const QString& target, QString* error) const;

signals:
    void damaged(const QString& message);
    void changed(const QString& courseId, const QString& lessonId);

private:
    static QString key(const QString& courseId, const QString& lessonId);
    bool save();
    bool parse(const QByteArray& bytes);

    QString file;
    QHash<QString, QList<Bookmark>> marks;
    int nextId = 1;
    // A damaged file could not be moved aside: it is not to be replaced.
    bool readOnly = false;
};
