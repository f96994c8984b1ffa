// Any text as a lesson playlist: parsing and rewriting must not crash, and a rewrite of a
// playlist that parsed must parse again with the same number of media files and keys.
#include "HlsPlaylist.h"

#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const QString text = QString::fromUtf8(reinterpret_cast<const char*>(data), int(size));
    const QUrl address(QStringLiteral("http://127.0.0.1:18080/stream/m1/index.m3u8?t=1"));
    if (HlsPlaylist::isMaster(text)) {
        (void)HlsPlaylist::bestVariant(text, address);
    }
    HlsPlaylist playlist;
    QString why;
    if (!playlist.parse(text, address, &why)) {
        return 0;
    }
    const QString rewritten = playlist.rewrite(
        [&](int i) { return playlist.media().at(i).name; },
        [](int k) { return QStringLiteral("http://127.0.0.1:18081/keyfile/2016/k%1.k").arg(k); });
    HlsPlaylist again;
    if (!again.parse(rewritten, address, &why) || again.media().size() != playlist.media().size() ||
        again.keys().size() != playlist.keys().size()) {
        std::abort();
    }
    return 0;
}
