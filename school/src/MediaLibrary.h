#pragma once

#include <QByteArray>
#include <QHash>
#include <QJsonArray>
#include <QString>
#include <QStringList>

#include <memory>
#include <vector>

class QFile;

// The lesson streams and pictures made at build time, mapped into memory once at start so
// that segments go from the page cache to the socket without copies.
class MediaLibrary
{
public:
    struct Segment
    {
        const char* data = nullptr;
        qint64 size = 0;
    };

    struct Stream
    {
        QString id;
        QString keyName;
        QString keyFileName; // the name the key-file server answers to
        QByteArray key;
        QByteArray playlist; // as ffmpeg wrote it, with a placeholder for the key address
        QStringList segmentNames;
        QString initName;                 // the fMP4 init section, empty for MPEG-TS
        QHash<QString, Segment> segments; // the init section included
        qint64 totalBytes = 0;
    };

    static constexpr const char* kKeyUriPlaceholder = "@KEY_URI@";

    MediaLibrary();
    ~MediaLibrary();
    MediaLibrary(const MediaLibrary&) = delete;
    MediaLibrary& operator=(const MediaLibrary&) = delete;

    bool load(const QString& mediaDir, const QJsonArray& media, QString* error);

    const Stream* stream(const QString& id) const;
    const Stream* streamByKeyFile(const QString& fileName) const;
    // A picture under img/ ("course/101.jpg", "avatar/1001.jpg"); empty when there is none.
    QByteArray image(const QString& relativePath) const;

    // The key-file name a client derives from a key name: byte i of its first 16 bytes
    // raised by i + 3, modulo 256.
    static QString keyFileNameFor(const QString& keyName);

private:
    bool loadStream(const QString& dir, const QString& id, const QString& keyName, QString* error);
    const char* map(const QString& path, qint64* size);

    QString imageDir;
    QHash<QString, Stream> streams;
    QHash<QString, QString> byKeyFile;
    std::vector<std::unique_ptr<QFile>> mapped;
};
