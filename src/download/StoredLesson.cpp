#include "StoredLesson.h"

#include "CourseLibrary.h"
#include "CourseRecord.h"
#include "FileCipher.h"
#include "HlsPlaylist.h"
#include "Md5.h"
#include "MediaCheck.h"
#include "SegmentName.h"

#include <QDebug>
#include <QDir>
#include <QFileInfo>
#include <QHash>
#include <QUrl>

namespace {

// The local path a stored playlist line names; the fetcher writes a drive letter with "://"
// for the player.
QString localPath(QString line)
{
    line.replace(QStringLiteral("://"), QStringLiteral(":/"));
    return line;
}

QStringList courseCandidates(const CourseRecord& course, const QStringList& roots)
{
    QStringList dirs;
    for (const QString& root : roots) {
        if (root.isEmpty()) {
            continue;
        }
        const QString clean = QDir::cleanPath(root);
        dirs << CourseLibrary::courseFolder(clean, course)
             << clean + QLatin1Char('/') + Md5::utf8Hex(course.title);
    }
    dirs.removeDuplicates();
    return dirs;
}

// The folder of `lesson` under `courseDir` that holds it whole, or an empty text.
QString wholeLessonDir(const QString& courseDir, const LessonRecord& lesson,
                       const FileCipher& cipher)
{
    const QStringList dirs{CourseLibrary::lessonFolder(courseDir, lesson),
                           courseDir + QLatin1Char('/') + Md5::utf8Hex(lesson.title)};
    for (const QString& dir : dirs) {
        if (StoredLesson::isWhole(dir, cipher)) {
            return dir;
        }
    }
    return QString();
}

} // namespace

bool StoredLesson::isWhole(const QString& dir, const FileCipher& cipher)
{
    const QString playlistPath = dir + QLatin1Char('/') + SegmentName::playlistName;
    const QFileInfo playlistInfo(playlistPath);
    if (!playlistInfo.isFile() || playlistInfo.size() > HlsPlaylist::maxBytes) {
        return false;
    }
    bool readable = false;
    QByteArray plain = cipher.decryptFileToBytes(playlistPath, &readable);
    if (!readable) {
        return false;
    }
    // The cipher's zero fill.
    while (plain.endsWith('\0')) {
        plain.chop(1);
    }
    // The lines numbered as the parser numbers them.
    QString text = QString::fromUtf8(plain);
    if (text.startsWith(QChar(0xFEFF))) {
        text.remove(0, 1);
    }
    text.remove(QLatin1Char('\r'));
    const QStringList lines = text.split(QLatin1Char('\n'));

    HlsPlaylist playlist;
    QString why;
    if (!playlist.parse(text, QUrl::fromLocalFile(playlistPath), &why)) {
        qDebug() << "stored playlist unreadable in" << dir << why;
        return false;
    }
    const QString folder = QFileInfo(dir).canonicalFilePath();
    for (const HlsPlaylist::Media& media : playlist.media()) {
        if (media.line < 0 || media.line >= lines.size()) {
            return false;
        }
        const QString line = lines.at(media.line).trimmed();
        const QString named = localPath(
            media.init ? HlsPlaylist::attributes(line).value(QStringLiteral("URI")) : line);
        // The player opens the paths the playlist names: they must be files of this folder,
        // or the lesson would not play from here.
        const QFileInfo info(named);
        if (!info.isFile() || info.canonicalPath() != folder ||
            info.fileName() == SegmentName::playlistName) {
            return false;
        }
        const QString file = info.filePath();
        const qint64 size = info.size();
        if (size <= 0) {
            return false;
        }
        if (media.key >= 0) {
            if (size % FileCipher::blockSize != 0) {
                return false;
            }
        } else if (!MediaCheck::isWhole(
                       file, media.init ? MediaCheck::Kind::Init : MediaCheck::Kind::Segment,
                       QByteArray(), QByteArray())) {
            return false;
        }
    }
    return !playlist.media().isEmpty();
}

int StoredLesson::recover(CourseRecord& course, const QStringList& roots, const FileCipher& cipher)
{
    QString bestDir;
    QHash<int, QString> best; // lesson index → its folder
    for (const QString& courseDir : courseCandidates(course, roots)) {
        if (!QFileInfo(courseDir).isDir()) {
            continue;
        }
        QHash<int, QString> found;
        for (int i = 0; i < course.list.size(); ++i) {
            const LessonRecord& lesson = course.list.at(i);
            if (lesson.level != 3 || lesson.state != NotChosen) {
                continue;
            }
            const QString dir = wholeLessonDir(courseDir, lesson, cipher);
            if (!dir.isEmpty()) {
                found.insert(i, dir);
            }
        }
        // One course folder for all: deleting the course clears that folder.
        if (found.size() > best.size()) {
            best = found;
            bestDir = courseDir;
        }
    }
    if (best.isEmpty()) {
        return 0;
    }
    course.dir = bestDir;
    for (auto it = best.cbegin(); it != best.cend(); ++it) {
        LessonRecord& lesson = course.list[it.key()];
        lesson.dir = it.value();
        lesson.state = Complete;
    }
    qDebug() << "found" << best.size() << "stored lessons of course" << course.id << "again";
    return best.size();
}
