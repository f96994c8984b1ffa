#include "StoredPlaylist.h"

#include "FileCipher.h"

#include <QDebug>
#include <QDir>

bool StoredPlaylist::isPlaylist(const QByteArray& bytes)
{
    QByteArray head = bytes.left(64);
    if (head.startsWith("\xEF\xBB\xBF")) {
        head.remove(0, 3);
    }
    return head.trimmed().startsWith("#EXTM3U");
}

bool StoredPlaylist::read(const QString& dir, const FileCipher& cipher, QByteArray* playlist)
{
    QByteArray found;
    const QFileInfoList entries =
        QDir(dir).entryInfoList(QDir::Files, QDir::Name | QDir::IgnoreCase);
    for (const QFileInfo& entry : entries) {
        if (entry.suffix() != QLatin1String("ls")) {
            continue;
        }
        bool ok = false;
        const QByteArray bytes = cipher.decryptFileToBytes(entry.absoluteFilePath(), &ok);
        if (ok) {
            found = bytes;
        } else {
            qDebug() << "cannot decrypt" << entry.absoluteFilePath();
        }
    }
    if (!isPlaylist(found)) {
        qDebug() << "no playable playlist in" << dir;
        return false;
    }
    *playlist = found;
    return true;
}
