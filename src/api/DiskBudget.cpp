#include "DiskBudget.h"

#include <QDir>
#include <QFileInfo>
#include <QStorageInfo>
#include <mutex>

namespace {

// Bytes written between two looks at the drive, while the budget is not near its end.
constexpr qint64 lookEveryBytes = 8 * 1024 * 1024;

std::mutex seamMutex;
std::function<qint64(const QString&)>& seam()
{
    static std::function<qint64(const QString&)> freeSpace;
    return freeSpace;
}

// The nearest existing folder of a path: a lesson folder may not exist yet.
QString existingFolder(const QString& path)
{
    QFileInfo info(path);
    QString folder = info.isDir() ? info.absoluteFilePath() : info.absolutePath();
    while (!QFileInfo(folder).isDir()) {
        const QString up = QFileInfo(folder).absolutePath();
        if (up == folder) {
            break;
        }
        folder = up;
    }
    return folder;
}

} // namespace

void DiskBudget::setFreeSpaceForTests(std::function<qint64(const QString& path)> freeSpace)
{
    std::lock_guard<std::mutex> lock(seamMutex);
    seam() = std::move(freeSpace);
}

qint64 DiskBudget::freeBytes(const QString& path)
{
    {
        std::lock_guard<std::mutex> lock(seamMutex);
        if (seam()) {
            return seam()(path);
        }
    }
    const QStorageInfo storage(existingFolder(path));
    return storage.isValid() && storage.isReady() ? storage.bytesAvailable() : -1;
}

qint64 DiskBudget::room(const QString& path, qint64 margin)
{
    const qint64 free = freeBytes(path);
    return free < 0 ? -1 : qMax<qint64>(0, free - margin);
}

QString DiskBudget::shortage(const QString& path)
{
    const QStorageInfo storage(existingFolder(path));
    const QString root = storage.isValid() ? QDir::toNativeSeparators(storage.rootPath())
                                           : QDir::toNativeSeparators(path);
    const qint64 free = qMax<qint64>(0, freeBytes(path));
    return QStringLiteral("磁盘空间不足（%1 剩余 %2 MB）")
        .arg(root)
        .arg(double(free) / (1024.0 * 1024.0), 0, 'f', 1);
}

void DiskBudget::reset(const QString& where)
{
    path = where;
    left = room(path, margin);
    sinceLook = 0;
}

bool DiskBudget::take(qint64 bytes)
{
    if (left >= 0 && (bytes > left || sinceLook >= lookEveryBytes)) {
        // Another writer may have taken or freed space meanwhile.
        left = room(path, margin);
        sinceLook = 0;
    }
    if (left < 0) {
        return true;
    }
    if (bytes > left) {
        return false;
    }
    left -= bytes;
    sinceLook += bytes;
    return true;
}
