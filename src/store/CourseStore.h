#pragma once

#include <QString>
#include <QStringList>
#include <mutex>

class FileCipher;
class UserRecord;

// The per-user record file "kecheng.lhc" (the user record, encrypted) under the user root, and
// the removal of downloaded media. The plain record only ever exists in memory.
class CourseStore
{
public:
    enum class LoadResult {
        Missing, // no such user or no record file: the record is left empty
        Loaded,
        Damaged, // unreadable; the record is left empty and the file moved aside
    };

    CourseStore(const QString& userRoot, const FileCipher& cipher);

    QString userRoot() const { return root; }
    QString userDir(const QString& username) const;
    QString recordPath(const QString& username) const;

    // Writes the record of `user.username`; false when nothing could be written (the previous
    // file then stays as it was, and `error` gets the system's reason). A record without a
    // user name is not written (and `error` stays empty).
    bool save(const UserRecord& user, QString* error = nullptr) const;
    // Why the latest write of a record failed, or an empty text when it succeeded; saves may
    // come from any thread.
    QString saveError() const;
    // Reads the record of `username` into `user` (which is cleared first). A damaged file is
    // moved to a name of its own that no later damage reuses; `keptCopy` gets that path (empty
    // when it could not be moved).
    LoadResult load(const QString& username, UserRecord& user, QString* keptCopy = nullptr) const;

    static QByteArray serialize(const UserRecord& user);
    // False when the bytes do not hold a whole record; trailing bytes (the cipher's zero fill)
    // are ignored.
    static bool deserialize(const QByteArray& bytes, UserRecord& user);

    // Removes the temporary record files that an interrupted save left; how many.
    int removeOrphans(const QString& username) const;

    // Whether `dir` is a course folder (an MD5-named folder directly in one of the download
    // folders `roots`) or a lesson folder (an MD5-named folder in such a course folder). Only
    // these are ever deleted, whatever a damaged or edited record names.
    static bool isStoreDir(const QString& dir, const QStringList& roots);
    // Deletes the media of each store folder (the course picture is kept), then the
    // folder and every parent store folder that became empty. Any other path is refused with
    // a log line.
    static void removeDirs(const QStringList& dirs, const QStringList& roots);
    static void clearDir(const QString& dir, const QStringList& roots);

    static const QString recordFileName;
    // The course picture in a course folder.
    static const QString thumbName;

private:
    bool write(const UserRecord& user, QString* error) const;

    QString root;
    const FileCipher& cipher;
    mutable std::mutex errorMutex;
    mutable QString lastError;
};
