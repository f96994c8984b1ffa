#include "CourseStore.h"

#include "FileCipher.h"
#include "RecordStream.h"
#include "UserRecord.h"

#include <QBuffer>
#include <QDebug>
#include <QDir>
#include <QFile>
#include <QFileInfo>

const QString CourseStore::recordFileName = QStringLiteral("kecheng.lhc");

CourseStore::CourseStore(const QString& userRoot, const FileCipher& cipher)
    : root(userRoot), cipher(cipher)
{
}

QString CourseStore::userDir(const QString& username) const
{
    return root + QLatin1Char('/') + username;
}

QString CourseStore::recordPath(const QString& username) const
{
    return userDir(username) + QLatin1Char('/') + recordFileName;
}

QByteArray CourseStore::serialize(const UserRecord& user)
{
    QByteArray bytes;
    QDataStream out(&bytes, QIODevice::WriteOnly);
    out.setVersion(RecordStream::version);
    out << user;
    return bytes;
}

bool CourseStore::deserialize(const QByteArray& bytes, UserRecord& user)
{
    QBuffer buffer;
    buffer.setData(bytes);
    buffer.open(QIODevice::ReadOnly);
    QDataStream in(&buffer);
    in.setVersion(RecordStream::version);
    UserRecord read;
    in >> read;
    if (in.status() != QDataStream::Ok) {
        return false;
    }
    user.takeFrom(read);
    return true;
}

bool CourseStore::save(const UserRecord& user) const
{
    QMutexLocker locker(&user.lock);
    if (user.username.isEmpty()) {
        qDebug() << "store: no user name, record not saved";
        return false;
    }
    // A user name that is not a plain file name would place the record outside the user root.
    const QString name = user.username;
    if (name == QLatin1String(".") || name == QLatin1String("..") ||
        name.contains(QLatin1Char('/')) || name.contains(QLatin1Char('\\'))) {
        qDebug() << "store: user name is not a file name, record not saved";
        return false;
    }
    const QString dir = userDir(name);
    if (!QDir().mkpath(dir)) {
        qDebug() << "store: cannot create" << dir;
        return false;
    }
    if (!cipher.encryptBytes(serialize(user), recordPath(name))) {
        qDebug() << "store: cannot write" << recordPath(name);
        return false;
    }
    return true;
}

CourseStore::LoadResult CourseStore::load(const QString& username, UserRecord& user) const
{
    user.clear();
    if (username.isEmpty()) {
        return LoadResult::Missing;
    }
    const QString path = recordPath(username);
    if (!QFileInfo(path).isFile()) {
        return LoadResult::Missing;
    }
    bool readable = false;
    const QByteArray plain = cipher.decryptFileToBytes(path, &readable);
    const bool whole = QFileInfo(path).size() % FileCipher::blockSize == 0;
    if (readable && whole && deserialize(plain, user)) {
        return LoadResult::Loaded;
    }

    // Keep the unreadable file for inspection instead of overwriting it at the next save.
    const QString aside = path + QStringLiteral(".bad");
    QFile::remove(aside);
    if (!QFile::rename(path, aside)) {
        qDebug() << "store: cannot move the damaged record aside:" << path;
    }
    qDebug() << "store: damaged record moved to" << aside;
    user.clear();
    return LoadResult::Damaged;
}

// Removes `dir` and then each parent that is empty, stopping below `root`.
static void removeEmptyDirs(const QString& dir, const QString& root)
{
    const QString top = QDir::cleanPath(QFileInfo(root).absoluteFilePath());
    QString current = QDir::cleanPath(QFileInfo(dir).absoluteFilePath());
    while (current.startsWith(top + QLatin1Char('/')) && QDir().rmdir(current)) {
        current = QFileInfo(current).absolutePath();
    }
}

void CourseStore::clearDir(const QString& dir, const QString& root)
{
    if (dir.isEmpty() || !QFileInfo::exists(dir)) {
        return;
    }
    const QFileInfoList entries = QDir(dir).entryInfoList(QDir::AllEntries | QDir::Hidden |
                                                          QDir::System | QDir::NoDotAndDotDot);
    for (const QFileInfo& entry : entries) {
        if (entry.isDir() && !entry.isSymLink()) {
            clearDir(entry.absoluteFilePath(), root);
        } else if (entry.suffix() != QLatin1String("jpg")) {
            QFile::remove(entry.absoluteFilePath());
        }
    }
    removeEmptyDirs(dir, root);
}

void CourseStore::removeDirs(const QStringList& dirs, const QString& root)
{
    for (const QString& dir : dirs) {
        clearDir(dir, root);
    }
}
