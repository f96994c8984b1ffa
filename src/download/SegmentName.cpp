#include "SegmentName.h"

#include <QStringList>

const QString SegmentName::partialSuffix = QStringLiteral(".part");
const QString SegmentName::playlistName = QStringLiteral("00000.ls");

// Names Windows keeps for devices, with or without an extension.
static bool isReservedDevice(const QString& name)
{
    const QString stem = name.section(QLatin1Char('.'), 0, 0).trimmed().toUpper();
    static const QStringList fixed{QStringLiteral("CON"), QStringLiteral("PRN"),
                                   QStringLiteral("AUX"), QStringLiteral("NUL")};
    if (fixed.contains(stem)) {
        return true;
    }
    if (stem.size() == 4 &&
        (stem.startsWith(QLatin1String("COM")) || stem.startsWith(QLatin1String("LPT")))) {
        const QChar digit = stem.at(3);
        return digit >= QLatin1Char('1') && digit <= QLatin1Char('9');
    }
    return false;
}

bool SegmentName::isPlain(const QString& name)
{
    if (name.isEmpty() || name == QLatin1String(".") || name == QLatin1String("..")) {
        return false;
    }
    if (name.toUtf8().size() > 255) {
        return false;
    }
    for (const QChar c : name) {
        if (c.unicode() < 0x20 || c == QLatin1Char('/') || c == QLatin1Char('\\') ||
            c == QLatin1Char(':') || c == QLatin1Char('*') || c == QLatin1Char('?') ||
            c == QLatin1Char('"') || c == QLatin1Char('<') || c == QLatin1Char('>') ||
            c == QLatin1Char('|')) {
            return false;
        }
    }
    // Windows drops trailing dots and blanks, so such a name would land on another file.
    if (name.endsWith(QLatin1Char('.')) || name.endsWith(QLatin1Char(' '))) {
        return false;
    }
    if (isReservedDevice(name)) {
        return false;
    }
    return name != playlistName && !name.endsWith(partialSuffix);
}

bool SegmentName::suits(const QString& name, MediaCheck::Container container)
{
    const int dot = name.lastIndexOf(QLatin1Char('.'));
    if (dot <= 0) {
        return false;
    }
    const QString extension = name.mid(dot + 1).toLower();
    switch (container) {
    case MediaCheck::Container::TransportStream:
        return extension == QLatin1String("ts");
    case MediaCheck::Container::Mp4:
        return extension == QLatin1String("mp4") || extension == QLatin1String("m4s");
    case MediaCheck::Container::None:
        break;
    }
    return false;
}

QString SegmentName::extensionFor(MediaCheck::Container container)
{
    return container == MediaCheck::Container::Mp4 ? QStringLiteral(".m4s") : QStringLiteral(".ts");
}
