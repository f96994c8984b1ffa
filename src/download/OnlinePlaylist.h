#pragma once

#include "DownloadOptions.h"
#include "FileCipher.h"

#include <QObject>

class M3u8Loader;

// The playlist of a lesson for online playback, fetched without blocking: absolute media
// addresses and key lines pointing at the key-file server. One request at a time.
class OnlinePlaylist : public QObject
{
    Q_OBJECT
public:
    explicit OnlinePlaylist(QObject* parent = nullptr);
    OnlinePlaylist(const DownloadOptions& options, QObject* parent = nullptr);

    // `keyUrl` is the lesson's signed key-and-address request. A request still running is
    // abandoned first.
    void start(const QString& keyUrl);
    void abort();
    bool isRunning() const { return loader != nullptr; }

signals:
    // The playlist text, or an empty text when it could not be had (the reason is logged).
    void finished(QString playlistText);

private:
    DownloadOptions options;
    FileCipher cipher;
    M3u8Loader* loader = nullptr;
};
