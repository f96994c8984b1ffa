#pragma once

// A small disk for DiskBudget's free-space seam: what is written in a folder takes from its
// free space. Header only: the school helper library itself links none of the client's.
#include "DiskBudget.h"

#include <QDir>
#include <QFileInfo>
#include <QString>

#include <functional>

inline std::function<qint64(const QString&)> smallDisk(qint64 roomMb)
{
    return [roomMb](const QString& path) {
        const QFileInfo where(path);
        qint64 used = 0;
        const QDir folder(where.isDir() ? path : where.absolutePath());
        for (const QFileInfo& file : folder.entryInfoList(QDir::Files)) {
            used += file.size();
        }
        return DiskBudget::defaultMargin + roomMb * 1024 * 1024 - used;
    };
}
