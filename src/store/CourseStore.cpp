#include "CourseStore.h"

#include "FileCipher.h"
#include "RecordStream.h"
#include "UserRecord.h"

#include <QBuffer>
#include <QDebug>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>
#include <QStandardPaths>

const QString CourseStore::recordFileName = QStringLiteral("kecheng.lhc");
const QString CourseStore::thumbName = QStringLiteral("thumb.jpg");

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
    user = read;
    return true;
}

bool CourseStore::save(const UserRecord& user, QString* error) const
{
    QString why;
    const bool saved = write(user, &why);
    // A record that is not to be written (no or no valid user name) says nothing about the
    // disk.
    if (saved || !why.isEmpty()) {
        std::lock_guard<std::mutex> lock(errorMutex);
        lastError = why;
    }
    if (error) {
        *error = why;
    }
    return saved;
}

QString CourseStore::saveError() const
{
    std::lock_guard<std::mutex> lock(errorMutex);
    return lastError;
}

bool CourseStore::write(const UserRecord& user, QString* error) const
{
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
    // A folder that cannot be made is reported by the write below, which has the system's
    // reason.
    if (!QDir().mkpath(dir)) {
        qDebug() << "store: cannot create" << dir;
    }
    const QString path = recordPath(name);
    if (!cipher.encryptBytes(serialize(user), path, error)) {
        if (error->isEmpty()) {
            *error = QStringLiteral("unknown error");
        }
        qDebug() << "store: cannot write" << path << *error;
        return false;
    }
    return true;
}

// The name a damaged record is kept under: ".bad", then ".bad-2", ".bad-3"... The dash keeps
// every such name apart from the temporary files that removeOrphans() deletes.
static QString keptName(const QString& path, int generation)
{
    if (generation == 1) {
        return path + QStringLiteral(".bad");
    }
    return path + QStringLiteral(".bad-") + QString::number(generation);
}

CourseStore::LoadResult CourseStore::load(const QString& username, UserRecord& user,
                                          QString* keptCopy) const
{
    user.clear();
    if (keptCopy) {
        keptCopy->clear();
    }
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

    // Keep the unreadable file for inspection instead of overwriting it at the next save; an
    // earlier damaged copy stays as well.
    QString aside;
    for (int generation = 1; generation < 100000; ++generation) {
        const QString candidate = keptName(path, generation);
        if (QFileInfo::exists(candidate)) {
            continue;
        }
        // rename() never replaces an existing file.
        if (QFile::rename(path, candidate)) {
            aside = candidate;
        }
        break;
    }
    if (aside.isEmpty()) {
        qDebug() << "store: cannot move the damaged record aside:" << path;
    } else {
        qDebug() << "store: damaged record moved to" << aside;
    }
    if (keptCopy) {
        *keptCopy = aside;
    }
    user.clear();
    return LoadResult::Damaged;
}

// A 32-character lowercase hexadecimal name: what the store gives course and lesson folders.
static bool isDigestName(const QString& name)
{
    if (name.size() != 32) {
        return false;
    }
    for (const QChar c : name) {
        if (!((c >= QLatin1Char('0') && c <= QLatin1Char('9')) ||
              (c >= QLatin1Char('a') && c <= QLatin1Char('f')))) {
            return false;
        }
    }
    return true;
}

static QString cleanAbsolute(const QString& path)
{
    return QDir::cleanPath(QFileInfo(path).absoluteFilePath());
}

bool CourseStore::isStoreDir(const QString& dir, const QStringList& roots)
{
    if (dir.isEmpty() || !QFileInfo(dir).isAbsolute()) {
        return false;
    }
    const QString path = cleanAbsolute(dir);
    const QFileInfo info(path);
    if (!isDigestName(info.fileName())) {
        return false;
    }
    // Never a folder of the user's own, whatever a record says.
    const QString videos = QStandardPaths::writableLocation(QStandardPaths::MoviesLocation);
    if (path == cleanAbsolute(QDir::homePath()) ||
        (!videos.isEmpty() && path == cleanAbsolute(videos))) {
        return false;
    }
    QString parent = info.absolutePath();
    for (int depth = 0; depth < 2; ++depth) {
        for (const QString& root : roots) {
            if (!root.isEmpty() && parent == cleanAbsolute(root)) {
                return true;
            }
        }
        // A lesson folder lies in a course folder.
        if (!isDigestName(QFileInfo(parent).fileName())) {
            return false;
        }
        parent = QFileInfo(parent).absolutePath();
    }
    return false;
}

int CourseStore::removeOrphans(const QString& username) const
{
    // A save cut short by a kill leaves its temporary file "kecheng.lhc.XXXXXX" behind.
    static const QRegularExpression temporary(QStringLiteral("^kecheng\\.lhc\\.[A-Za-z0-9]{6}$"));
    const QString dir = userDir(username);
    int removed = 0;
    const QStringList names =
        QDir(dir).entryList({recordFileName + QStringLiteral(".*")}, QDir::Files);
    for (const QString& name : names) {
        if (temporary.match(name).hasMatch() && QFile::remove(dir + QLatin1Char('/') + name)) {
            ++removed;
        }
    }
    if (removed > 0) {
        qDebug() << "store: removed" << removed
                 << "temporary record files left by an interrupted save";
    }
    return removed;
}

// Removes `dir` and then each parent that is empty, stopping at the first that is not a store
// folder.
static void removeEmptyDirs(const QString& dir, const QStringList& roots)
{
    QString current = cleanAbsolute(dir);
    while (CourseStore::isStoreDir(current, roots) && QDir().rmdir(current)) {
        current = QFileInfo(current).absolutePath();
    }
}

void CourseStore::clearDir(const QString& dir, const QStringList& roots)
{
    if (dir.isEmpty() || !QFileInfo::exists(dir)) {
        return;
    }
    if (!isStoreDir(dir, roots)) {
        qDebug() << "store: not a course or lesson folder of the store, nothing deleted:" << dir;
        return;
    }
    const QFileInfoList entries = QDir(dir).entryInfoList(QDir::AllEntries | QDir::Hidden |
                                                          QDir::System | QDir::NoDotAndDotDot);
    for (const QFileInfo& entry : entries) {
        if (entry.isDir() && !entry.isSymLink()) {
            clearDir(entry.absoluteFilePath(), roots);
        } else if (entry.fileName() != thumbName) {
            QFile::remove(entry.absoluteFilePath());
        }
    }
    removeEmptyDirs(dir, roots);
}

void CourseStore::removeDirs(const QStringList& dirs, const QStringList& roots)
{
    for (const QString& dir : dirs) {
        clearDir(dir, roots);
    }
}
