#include "HlsPlaylist.h"

#include "SegmentName.h"

#include <QSet>

namespace {

// One attribute of a tag line; its value is line[begin, end), without quotes.
struct Attribute
{
    QString name;
    int begin = 0;
    int end = 0;
    bool quoted = false; // and closed
};

// The attribute list after the tag's colon. Commas inside quoted values belong to the value,
// so a name inside another attribute's value never counts as an attribute.
QList<Attribute> attributeList(const QString& line)
{
    QList<Attribute> list;
    const int colon = line.indexOf(QLatin1Char(':'));
    const int n = line.size();
    int i = colon + 1;
    while (colon >= 0 && i < n) {
        const int equals = line.indexOf(QLatin1Char('='), i);
        if (equals < 0) {
            break;
        }
        Attribute attribute;
        attribute.name = line.mid(i, equals - i).trimmed();
        int next = equals + 1;
        if (next < n && line.at(next) == QLatin1Char('"')) {
            const int close = line.indexOf(QLatin1Char('"'), next + 1);
            attribute.begin = next + 1;
            attribute.end = close < 0 ? n : close;
            attribute.quoted = close >= 0;
            next = close < 0 ? n : close + 1;
        } else {
            const int comma = line.indexOf(QLatin1Char(','), next);
            attribute.begin = next;
            attribute.end = comma < 0 ? n : comma;
            next = attribute.end;
        }
        list << attribute;
        const int comma = line.indexOf(QLatin1Char(','), next);
        if (comma < 0) {
            break;
        }
        i = comma + 1;
    }
    return list;
}

} // namespace

QHash<QString, QString> HlsPlaylist::attributes(const QString& line)
{
    QHash<QString, QString> result;
    for (const Attribute& a : attributeList(line)) {
        const QString value = line.mid(a.begin, a.end - a.begin);
        result.insert(a.name, a.quoted ? value : value.trimmed());
    }
    return result;
}

QString HlsPlaylist::replaceAttribute(const QString& line, const QString& name,
                                      const QString& value)
{
    for (const Attribute& a : attributeList(line)) {
        if (a.quoted && a.name == name) {
            return line.left(a.begin) + value + line.mid(a.end);
        }
    }
    return line;
}

QByteArray HlsPlaylist::sequenceIv(qint64 sequence)
{
    QByteArray iv(16, '\0');
    for (int i = 0; i < 8; ++i) {
        iv[15 - i] = char((quint64(sequence) >> (8 * i)) & 0xFF);
    }
    return iv;
}

static QByteArray parseIv(const QString& text)
{
    QString hex = text;
    if (hex.startsWith(QLatin1String("0x")) || hex.startsWith(QLatin1String("0X"))) {
        hex = hex.mid(2);
    }
    if (hex.isEmpty() || hex.size() > 32) {
        return QByteArray();
    }
    const QByteArray bytes =
        QByteArray::fromHex(hex.rightJustified(32, QLatin1Char('0')).toLatin1());
    return bytes.size() == 16 ? bytes : QByteArray();
}

bool HlsPlaylist::isMaster(const QString& text)
{
    return text.contains(QLatin1String("#EXT-X-STREAM-INF"));
}

QUrl HlsPlaylist::bestVariant(const QString& text, const QUrl& address)
{
    const QStringList all = text.split(QLatin1Char('\n'));
    qint64 best = -1;
    QUrl chosen;
    for (int i = 0; i < all.size(); ++i) {
        const QString line = all.at(i).trimmed();
        if (!line.startsWith(QLatin1String("#EXT-X-STREAM-INF"))) {
            continue;
        }
        const qint64 bandwidth = attributes(line).value(QStringLiteral("BANDWIDTH")).toLongLong();
        for (int j = i + 1; j < all.size(); ++j) {
            const QString uri = all.at(j).trimmed();
            if (uri.isEmpty() || uri.startsWith(QLatin1Char('#'))) {
                continue;
            }
            if (bandwidth > best) {
                best = bandwidth;
                chosen = address.resolved(QUrl(uri, QUrl::TolerantMode));
            }
            break;
        }
    }
    return chosen;
}

bool HlsPlaylist::parse(const QString& source, const QUrl& address, QString* why)
{
    if (source.size() > maxBytes) {
        *why = QStringLiteral("playlist of %1 characters, larger than any lesson's")
                   .arg(source.size());
        return false;
    }
    QString text = source;
    if (text.startsWith(QChar(0xFEFF))) {
        text.remove(0, 1);
    }
    text.remove(QLatin1Char('\r'));
    if (!text.trimmed().startsWith(QLatin1String("#EXTM3U"))) {
        *why = QStringLiteral("not a playlist");
        return false;
    }
    lines = text.split(QLatin1Char('\n'));
    keyList.clear();
    mediaList.clear();
    endList = false;

    qint64 sequence = 0;
    int segmentIndex = 0;
    int currentKey = -1;
    for (int i = 0; i < lines.size(); ++i) {
        const QString line = lines.at(i).trimmed();
        if (line.isEmpty()) {
            continue;
        }
        if (line.startsWith(QLatin1String("#EXT-X-MEDIA-SEQUENCE:"))) {
            sequence = line.section(QLatin1Char(':'), 1).trimmed().toLongLong();
        } else if (line.startsWith(QLatin1String("#EXT-X-ENDLIST"))) {
            endList = true;
        } else if (line.startsWith(QLatin1String("#EXT-X-BYTERANGE"))) {
            *why = QStringLiteral("byte ranges are not supported");
            return false;
        } else if (line.startsWith(QLatin1String("#EXT-X-KEY:"))) {
            const QHash<QString, QString> a = attributes(line);
            const QString method = a.value(QStringLiteral("METHOD"));
            if (method == QLatin1String("NONE")) {
                currentKey = -1;
                continue;
            }
            const QString format = a.value(QStringLiteral("KEYFORMAT"), QStringLiteral("identity"));
            if (method != QLatin1String("AES-128") || format != QLatin1String("identity")) {
                *why = QStringLiteral("unsupported key: ") + method + QLatin1Char(' ') + format;
                return false;
            }
            const QString uri = a.value(QStringLiteral("URI"));
            if (uri.isEmpty()) {
                *why = QStringLiteral("key line without an address");
                return false;
            }
            Key key;
            key.url = address.resolved(QUrl(uri, QUrl::TolerantMode));
            key.line = i;
            if (a.contains(QStringLiteral("IV"))) {
                key.iv = parseIv(a.value(QStringLiteral("IV")));
                if (key.iv.isEmpty()) {
                    *why = QStringLiteral("bad IV");
                    return false;
                }
            }
            keyList << key;
            currentKey = keyList.size() - 1;
        } else if (line.startsWith(QLatin1String("#EXT-X-MAP:"))) {
            const QHash<QString, QString> a = attributes(line);
            if (a.contains(QStringLiteral("BYTERANGE"))) {
                *why = QStringLiteral("byte ranges are not supported");
                return false;
            }
            Media init;
            init.url = address.resolved(QUrl(a.value(QStringLiteral("URI")), QUrl::TolerantMode));
            init.init = true;
            init.line = i;
            // An encrypted init section always names its IV; without one it is stored plain.
            if (currentKey >= 0 && !keyList.at(currentKey).iv.isEmpty()) {
                init.key = currentKey;
                init.iv = keyList.at(currentKey).iv;
            }
            mediaList << init;
        } else if (!line.startsWith(QLatin1Char('#'))) {
            Media segment;
            segment.url = address.resolved(QUrl(line, QUrl::TolerantMode));
            segment.line = i;
            segment.key = currentKey;
            if (currentKey >= 0) {
                const QByteArray& iv = keyList.at(currentKey).iv;
                segment.iv = iv.isEmpty() ? sequenceIv(sequence + segmentIndex) : iv;
            }
            ++segmentIndex;
            mediaList << segment;
        }
    }
    for (const Media& media : qAsConst(mediaList)) {
        if (!media.url.isValid() || media.url.isRelative()) {
            *why = QStringLiteral("bad media address at line %1").arg(media.line + 1);
            return false;
        }
    }
    if (segmentIndex == 0) {
        *why = QStringLiteral("playlist without segments");
        return false;
    }
    assignNames();
    return true;
}

void HlsPlaylist::assignNames()
{
    // The last path segment when it is a plain name unique in the playlist whose extension
    // fits the content (so lessons stored before keep their files), otherwise a name by
    // position with the extension of its kind. Both stay the same for the same playlist,
    // whatever tokens its addresses carry. The content follows from the playlist: with an
    // init section the media are fragmented MP4, without one MPEG-TS, which is what the media
    // check accepts of them before a file counts as stored.
    QHash<QString, int> uses;
    QStringList candidates;
    bool fragmented = false;
    for (const Media& media : qAsConst(mediaList)) {
        const QString candidate = media.url.path().section(QLatin1Char('/'), -1);
        candidates << candidate;
        uses[candidate.toLower()] += 1;
        fragmented = fragmented || media.init;
    }
    QSet<QString> taken;
    for (int i = 0; i < mediaList.size(); ++i) {
        const QString& candidate = candidates.at(i);
        const bool unique = SegmentName::isPlain(candidate) &&
                            uses.value(candidate.toLower()) == 1 &&
                            !taken.contains(candidate.toLower());
        const MediaCheck::Container content =
            fragmented ? MediaCheck::Container::Mp4 : MediaCheck::Container::TransportStream;
        QString name = candidate;
        if (!unique || !SegmentName::suits(candidate, content)) {
            const QString suffix =
                mediaList.at(i).init ? QStringLiteral(".mp4") : SegmentName::extensionFor(content);
            int n = i;
            do {
                name = QStringLiteral("media%1").arg(n, 5, 10, QLatin1Char('0')) + suffix;
                n += mediaList.size();
            } while (taken.contains(name) || uses.contains(name));
        }
        // Earlier versions kept any plain unique name as it was.
        mediaList[i].legacyName = unique && name != candidate ? candidate : QString();
        taken.insert(name.toLower());
        mediaList[i].name = name;
    }
}

QString HlsPlaylist::rewrite(const std::function<QString(int)>& mediaAddress,
                             const std::function<QString(int)>& keyAddress) const
{
    QStringList out = lines;
    qsizetype size = 0;
    for (int k = 0; k < keyList.size(); ++k) {
        const int line = keyList.at(k).line;
        out[line] = replaceAttribute(out.at(line).trimmed(), QStringLiteral("URI"), keyAddress(k));
    }
    for (int m = 0; m < mediaList.size(); ++m) {
        const Media& media = mediaList.at(m);
        out[media.line] = media.init ? replaceAttribute(out.at(media.line).trimmed(),
                                                        QStringLiteral("URI"), mediaAddress(m))
                                     : mediaAddress(m);
    }
    for (const QString& line : qAsConst(out)) {
        size += line.size() + 1;
    }
    // Reserved at once: some allocators grow a string by exact sizes, which made the rewrite
    // quadratic in the playlist's size.
    QString text;
    text.reserve(int(size));
    for (const QString& line : qAsConst(out)) {
        text += line;
        text += QLatin1Char('\n');
    }
    return text;
}

qint64 HlsPlaylist::mediaLimit(float announcedMb) const
{
    constexpr qint64 mb = 1024 * 1024;
    if (!(announcedMb > 0) || mediaList.isEmpty()) {
        return 256 * mb;
    }
    const double share = double(announcedMb) * double(mb) / double(mediaList.size());
    return qBound<qint64>(16 * mb, qint64(share * 8), 256 * mb);
}
