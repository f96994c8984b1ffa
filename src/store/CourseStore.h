#pragma once

#include <QString>
#include <QStringList>

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
    // file then stays as it was). A record without a user name is not written.
    bool save(const UserRecord& user) const;
    // Reads the record of `username` into `user` (which is cleared first).
    LoadResult load(const QString& username, UserRecord& user) const;

    static QByteArray serialize(const UserRecord& user);
    // False when the bytes do not hold a whole record; trailing bytes (the cipher's zero fill)
    // are ignored.
    static bool deserialize(const QByteArray& bytes, UserRecord& user);

    // Deletes the media of each directory (pictures, suffix "jpg", are kept), then the
    // directory and every parent that became empty, up to but never including `root` (the
    // download root, which may be the user's own videos folder).
    static void removeDirs(const QStringList& dirs, const QString& root);
    static void clearDir(const QString& dir, const QString& root);

    static const QString recordFileName;

private:
    QString root;
    const FileCipher& cipher;
};
