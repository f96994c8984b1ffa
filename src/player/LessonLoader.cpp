#include "LessonLoader.h"

#include "MpvController.h"
#include "OnlinePlaylist.h"
#include "StoredPlaylist.h"

#include <QDebug>
#include <QDir>
#include <QTemporaryFile>

LessonLoader::LessonLoader(MpvController* mpv, QObject* parent)
    : QObject(parent), mpv(mpv), online(new OnlinePlaylist(this))
{
}

bool LessonLoader::loadStored(const QString& dir, const FileCipher& cipher)
{
    QByteArray playlist;
    // Only a real playlist goes to mpv: a missing or damaged file is a load failure here.
    if (!StoredPlaylist::read(dir, cipher, &playlist)) {
        emit failed();
        return false;
    }
    return load(playlist);
}

void LessonLoader::loadOnline(const QString& keyUrl, const QString& cid, const QString& lid)
{
    disconnect(online, &OnlinePlaylist::finished, this, nullptr);
    connect(online, &OnlinePlaylist::finished, this, [this, cid, lid](const QString& text) {
        if (text.isEmpty()) {
            qDebug() << "no online playlist for lesson" << lid << "of course" << cid;
            emit failed();
        } else if (load(text.toUtf8())) {
            emit onlineLoaded(cid, lid);
        }
    });
    online->start(keyUrl);
}

void LessonLoader::abort()
{
    online->abort();
}

bool LessonLoader::load(const QByteArray& playlist)
{
    delete file;
    file = new QTemporaryFile(QDir::tempPath() + QStringLiteral("/tamix-XXXXXX.m3u8"), this);
    if (!file->open() || file->write(playlist) != playlist.size() || !file->flush()) {
        qDebug() << "cannot write the playlist for the player:" << file->errorString();
        emit failed();
        return false;
    }
    // Closed but kept: the file stays until the window goes, and mpv may open it on any
    // system.
    file->close();
    emit loading();
    mpv->load(file->fileName());
    return true;
}
