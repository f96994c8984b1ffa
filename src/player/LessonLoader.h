#pragma once

#include <QObject>

class FileCipher;
class MpvController;
class OnlinePlaylist;
class QTemporaryFile;

// Hands a lesson's playlist to mpv: a stored lesson's decrypted one, or the online one once
// the school's address and key have come. The playlist goes through a temporary file that
// lives as long as this object.
class LessonLoader : public QObject
{
    Q_OBJECT
public:
    LessonLoader(MpvController* mpv, QObject* parent);

    // The stored lesson in `dir`; false (and failed()) when it holds no playable playlist.
    bool loadStored(const QString& dir, const FileCipher& cipher);
    // The online lesson whose key-and-address call is `keyUrl`; onlineLoaded() or failed()
    // follow.
    void loadOnline(const QString& keyUrl, const QString& cid, const QString& lid);
    // An online playlist still being fetched is not waited for.
    void abort();

signals:
    // mpv has been given a playlist.
    void loading();
    void onlineLoaded(const QString& cid, const QString& lid);
    void failed();

private:
    bool load(const QByteArray& playlist);

    MpvController* mpv;
    OnlinePlaylist* online;
    QTemporaryFile* file = nullptr;
};
