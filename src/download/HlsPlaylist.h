#pragma once

#include <QByteArray>
#include <QHash>
#include <QList>
#include <QString>
#include <QStringList>
#include <QUrl>
#include <functional>

// One HLS playlist as the fetcher needs it: its lines, the media files it names (init sections
// and segments, in order, with the key and IV that decrypt each), and its key lines. Addresses
// are resolved against the playlist's own address by the URL rules, so a query in the playlist
// address never leaks into a segment address.
class HlsPlaylist
{
public:
    struct Key
    {
        QUrl url;      // where the key name is asked for
        QByteArray iv; // 16 bytes from the IV attribute, or empty (then the media sequence)
        int line = -1;
    };
    struct Media
    {
        QUrl url;
        QString name; // the local file name, stable for the playlist
        // The name earlier versions stored the file under, when it differs from `name`.
        QString legacyName;
        bool init = false;
        int key = -1;  // index into keys(), -1 when the file is not encrypted
        QByteArray iv; // the IV that decrypts it (empty when not encrypted)
        int line = -1;
    };

    // False with `why` when the text is no playlist, names no media, or needs what the
    // player cannot do (a key method other than AES-128, a DRM key format, byte ranges), or
    // is larger than any lesson's playlist (maxBytes).
    bool parse(const QString& text, const QUrl& address, QString* why);

    // Whether the text is a master playlist; then bestVariant() is the address of its variant
    // with the highest bandwidth.
    static bool isMaster(const QString& text);
    static QUrl bestVariant(const QString& text, const QUrl& address);

    bool hasEndList() const { return endList; }
    const QList<Key>& keys() const { return keyList; }
    const QList<Media>& media() const { return mediaList; }

    // The playlist with each media line (and init-section URI) replaced by `mediaAddress(i)`
    // and each key URI by `keyAddress(k)`; every line ends with "\n".
    QString rewrite(const std::function<QString(int media)>& mediaAddress,
                    const std::function<QString(int key)>& keyAddress) const;

    // The attributes of a tag line ("#EXT-X-KEY:METHOD=AES-128,URI=\"…\""), by name; quoted
    // values without their quotes.
    static QHash<QString, QString> attributes(const QString& line);
    // The line with the quoted value of attribute `name` replaced by `value`.
    static QString replaceAttribute(const QString& line, const QString& name, const QString& value);
    // The IV of a segment without an IV attribute: its media sequence number, big-endian.
    static QByteArray sequenceIv(qint64 sequence);

    // A lesson's playlist is a few hundred kilobytes; anything far larger is refused.
    static constexpr int maxBytes = 16 * 1024 * 1024;
    // The longest body one of media() may have: eight times its share of the lesson's
    // announced size (16 MB at least), or 256 MB when the school announced none.
    qint64 mediaLimit(float announcedMb) const;

private:
    void assignNames();

    QStringList lines;
    QList<Key> keyList;
    QList<Media> mediaList;
    bool endList = false;
};
