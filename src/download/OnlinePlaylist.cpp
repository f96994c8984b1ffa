#include "OnlinePlaylist.h"

#include "M3u8Loader.h"

OnlinePlaylist::OnlinePlaylist(QObject* parent) : OnlinePlaylist(DownloadOptions(), parent) {}

OnlinePlaylist::OnlinePlaylist(const DownloadOptions& options, QObject* parent)
    : QObject(parent), options(options), cipher(FileCipher::programCipher())
{
}

void OnlinePlaylist::start(const QString& keyUrl)
{
    abort();
    loader = new M3u8Loader(cipher, options, this);
    M3u8Loader* current = loader;
    connect(loader, &M3u8Loader::onlineReady, this, [this, current](const QString& text) {
        if (loader != current) {
            return;
        }
        loader = nullptr;
        current->deleteLater();
        emit finished(text);
    });
    loader->fetchOnline(keyUrl);
}

void OnlinePlaylist::abort()
{
    if (loader) {
        loader->disconnect(this);
        loader->stop();
        loader->deleteLater();
        loader = nullptr;
    }
}
