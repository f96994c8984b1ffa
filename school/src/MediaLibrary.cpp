#include "MediaLibrary.h"

#include <QDir>
#include <QFile>
#include <QJsonObject>

MediaLibrary::MediaLibrary() = default;
MediaLibrary::~MediaLibrary() = default;

QString MediaLibrary::keyFileNameFor(const QString& keyName)
{
    QByteArray bytes = keyName.toLatin1().left(16);
    for (int i = 0; i < bytes.size(); ++i) {
        bytes[i] = char((uchar(bytes.at(i)) + i + 3) % 256);
    }
    return QString::fromLatin1(bytes);
}

const char* MediaLibrary::map(const QString& path, qint64* size)
{
    auto file = std::make_unique<QFile>(path);
    if (!file->open(QIODevice::ReadOnly)) {
        return nullptr;
    }
    *size = file->size();
    if (*size == 0) {
        static const char empty = 0;
        return &empty;
    }
    const uchar* data = file->map(0, *size);
    if (!data) {
        return nullptr;
    }
    mapped.push_back(std::move(file));
    return reinterpret_cast<const char*>(data);
}

bool MediaLibrary::loadStream(const QString& dir, const QString& id, const QString& keyName,
                              QString* error)
{
    Stream stream;
    stream.id = id;
    stream.keyName = keyName;
    stream.keyFileName = keyFileNameFor(keyName);

    QFile playlist(dir + QStringLiteral("/index.m3u8"));
    QFile key(dir + QStringLiteral("/key.bin"));
    if (!playlist.open(QIODevice::ReadOnly) || !key.open(QIODevice::ReadOnly)) {
        *error = QStringLiteral("lesson media missing in ") + dir +
                 QStringLiteral(" (build the school_media target)");
        return false;
    }
    stream.playlist = playlist.readAll();
    stream.key = key.readAll();
    if (stream.key.size() != 16 || !stream.playlist.contains(kKeyUriPlaceholder)) {
        *error = QStringLiteral("lesson media in ") + dir + QStringLiteral(" is incomplete");
        return false;
    }
    auto add = [&](const QString& name) {
        Segment segment;
        segment.data = map(dir + QLatin1Char('/') + name, &segment.size);
        if (!segment.data) {
            *error = QStringLiteral("cannot map segment ") + dir + QLatin1Char('/') + name;
            return false;
        }
        stream.segments.insert(name, segment);
        stream.totalBytes += segment.size;
        return true;
    };
    const QList<QByteArray> lines = stream.playlist.split('\n');
    for (const QByteArray& raw : lines) {
        const QByteArray line = raw.trimmed();
        if (line.startsWith("#EXT-X-MAP:")) {
            // The init section of fMP4 is served and downloaded like a segment.
            stream.initName = QString::fromLatin1(line.mid(line.indexOf("URI=\"") + 5))
                                  .section(QLatin1Char('"'), 0, 0);
            if (!add(stream.initName)) {
                return false;
            }
        }
        if (line.isEmpty() || line.startsWith('#')) {
            continue;
        }
        const QString name = QString::fromLatin1(line);
        if (!add(name)) {
            return false;
        }
        stream.segmentNames.append(name);
    }
    if (stream.segmentNames.isEmpty()) {
        *error = QStringLiteral("playlist without segments in ") + dir;
        return false;
    }
    byKeyFile.insert(stream.keyFileName, id);
    streams.insert(id, std::move(stream));
    return true;
}

bool MediaLibrary::load(const QString& mediaDir, const QJsonArray& media, QString* error)
{
    imageDir = mediaDir + QStringLiteral("/img");
    for (const QJsonValue& item : media) {
        const QJsonObject object = item.toObject();
        const QString id = object.value(QLatin1String("id")).toString();
        const QString keyName = object.value(QLatin1String("keyName")).toString();
        if (id.isEmpty() || keyName.size() < 16) {
            *error = QStringLiteral("seed media entries need an id and a key name of 16 or more");
            return false;
        }
        if (!loadStream(mediaDir + QStringLiteral("/lessons/") + id, id, keyName, error)) {
            return false;
        }
    }
    return true;
}

const MediaLibrary::Stream* MediaLibrary::stream(const QString& id) const
{
    auto it = streams.constFind(id);
    return it == streams.constEnd() ? nullptr : &it.value();
}

const MediaLibrary::Stream* MediaLibrary::streamByKeyFile(const QString& fileName) const
{
    return stream(byKeyFile.value(fileName));
}

QByteArray MediaLibrary::image(const QString& relativePath) const
{
    if (relativePath.contains(QLatin1String(".."))) {
        return QByteArray();
    }
    QFile file(imageDir + QLatin1Char('/') + relativePath);
    if (!file.open(QIODevice::ReadOnly)) {
        return QByteArray();
    }
    return file.readAll();
}
