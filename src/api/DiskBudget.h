#pragma once

#include <QString>
#include <QtGlobal>
#include <functional>

// Keeps a drive from filling up: what a download writes must leave `margin` bytes free. The
// free space is asked again after every few megabytes, and at once when a write would not fit
// what was left at the last look.
class DiskBudget
{
public:
    static constexpr qint64 defaultMargin = 64 * 1024 * 1024;

    explicit DiskBudget(qint64 margin = defaultMargin) : margin(margin) {}

    // Starts over for the drive of `path` (a folder or a file in one).
    void reset(const QString& path);
    // Counts `bytes` about to be written; false when they would leave less than the margin
    // (nothing is counted then). A drive that cannot be asked is not held back.
    bool take(qint64 bytes);
    // What may still be written under `path`: its free space less the margin, at least 0;
    // -1 when the drive cannot be asked.
    static qint64 room(const QString& path, qint64 margin = defaultMargin);
    // For the student: "磁盘空间不足（ROOT 剩余 N MB）".
    static QString shortage(const QString& path);

    // Test seam: the free bytes of the drive of a path, in place of the system's (empty: the
    // system's again).
    static void setFreeSpaceForTests(std::function<qint64(const QString& path)> freeSpace);

private:
    static qint64 freeBytes(const QString& path);

    qint64 margin;
    QString path;
    qint64 left = -1;
    qint64 sinceLook = 0;
};
