// soakcheck LESSON_DIR MEDIA_DIR
// Judges one lesson the client calls downloaded: its stored playlist names, in order, files
// byte-identical to the school's own (MEDIA_DIR/index.m3u8 and its segments), and the player's
// loader and mpv set-up play it to its end without an error. Prints one JSON line; exits 0
// when the lesson is whole, 1 when it is not, 2 on bad arguments.
#include "FileCipher.h"
#include "LessonLoader.h"
#include "MpvController.h"
#include "StoredPlaylist.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>
#include <QRegularExpression>
#include <QTimer>
#include <QUrl>
#include <cstdio>

namespace {

struct Playlist
{
    QStringList files; // the init section first, then the segments
    qint64 lengthMs = 0;
};

Playlist parse(const QByteArray& text)
{
    static const QRegularExpression map(QStringLiteral("URI=\"([^\"]+)\""));
    Playlist out;
    for (QString line : QString::fromUtf8(text).split(QLatin1Char('\n'))) {
        line = line.trimmed();
        if (line.startsWith(QLatin1String("#EXT-X-MAP:"))) {
            out.files << map.match(line).captured(1);
        } else if (line.startsWith(QLatin1String("#EXTINF:"))) {
            out.lengthMs += qint64(line.mid(8).section(QLatin1Char(','), 0, 0).toDouble() * 1000);
        } else if (!line.isEmpty() && !line.startsWith(QLatin1Char('#'))) {
            out.files << line;
        }
    }
    return out;
}

QByteArray contents(const QString& path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

// A stored name is the file's path or its name in the lesson folder.
QString inFolder(const QString& dir, const QString& name)
{
    const QString local = QUrl(name).isLocalFile() ? QUrl(name).toLocalFile() : name;
    return QDir::isAbsolutePath(local) ? local : QDir(dir).filePath(local);
}

} // namespace

int main(int argc, char* argv[])
{
    // The player's own options, with no picture or sound device and no waiting for the clock.
    qputenv("TAMIX_MPV_OPTIONS", "vo=null,ao=null,ao-null-untimed=yes,hwdec=no,untimed=yes");
    QCoreApplication application(argc, argv);
    const QStringList args = QCoreApplication::arguments();
    if (args.size() != 3) {
        std::fprintf(stderr, "usage: soakcheck LESSON_DIR MEDIA_DIR\n");
        return 2;
    }
    const QString dir = args.at(1);
    const QString media = args.at(2);
    QJsonObject out{{QStringLiteral("dir"), dir}};
    auto finish = [&out](bool whole) {
        out.insert(QStringLiteral("whole"), whole);
        std::printf("%s\n", QJsonDocument(out).toJson(QJsonDocument::Compact).constData());
        return whole ? 0 : 1;
    };

    const FileCipher cipher = FileCipher::programCipher();
    QByteArray storedText;
    if (!StoredPlaylist::read(dir, cipher, &storedText)) {
        out.insert(QStringLiteral("error"), QStringLiteral("no stored playlist"));
        return finish(false);
    }
    const Playlist stored = parse(storedText);
    const Playlist school = parse(contents(QDir(media).filePath(QStringLiteral("index.m3u8"))));
    out.insert(QStringLiteral("files"), int(stored.files.size()));
    if (school.files.isEmpty() || stored.files.size() != school.files.size()) {
        out.insert(QStringLiteral("error"), QStringLiteral("%1 files stored, the school has %2")
                                                .arg(stored.files.size())
                                                .arg(school.files.size()));
        return finish(false);
    }
    for (int i = 0; i < stored.files.size(); ++i) {
        const QByteArray mine = contents(inFolder(dir, stored.files.at(i)));
        if (mine.isEmpty() || mine != contents(QDir(media).filePath(school.files.at(i)))) {
            out.insert(QStringLiteral("error"),
                       QString(QStringLiteral("differs from the school: ") + stored.files.at(i)));
            return finish(false);
        }
    }

    MpvController mpv;
    if (!mpv.isValid()) {
        out.insert(QStringLiteral("error"), QString(QStringLiteral("mpv: ") + mpv.errorString()));
        return finish(false);
    }
    LessonLoader loader(&mpv, nullptr);
    QString failure;
    bool ended = false;
    QObject::connect(&mpv, &MpvController::error, &application, [&](const QString& reason) {
        failure = reason;
        QCoreApplication::quit();
    });
    QObject::connect(&loader, &LessonLoader::failed, &application, [&] {
        failure = QStringLiteral("the loader refused the lesson");
        QCoreApplication::quit();
    });
    QObject::connect(&mpv, &MpvController::endReached, &application, [&] {
        ended = true;
        QCoreApplication::quit();
    });
    // Ten times the lesson's length, and at least a minute: a lesson that plays is done long
    // before.
    QTimer::singleShot(qMax<qint64>(60000, school.lengthMs * 10), &application, [&] {
        failure = QStringLiteral("did not reach its end in time");
        QCoreApplication::quit();
    });
    if (loader.loadStored(dir, cipher)) {
        application.exec();
    }
    out.insert(QStringLiteral("lengthMs"), school.lengthMs);
    out.insert(QStringLiteral("endMs"), mpv.position());
    // The last picture starts within one frame interval of the end.
    const bool decoded = ended && failure.isEmpty() && mpv.position() >= school.lengthMs - 1000;
    if (!decoded) {
        out.insert(QStringLiteral("error"),
                   failure.isEmpty() ? QStringLiteral("ended early") : failure);
    }
    return finish(decoded);
}
