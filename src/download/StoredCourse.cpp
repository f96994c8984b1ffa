#include "StoredCourse.h"

#include "CourseRecord.h"
#include "RecordStream.h"
#include "StoredLesson.h"

#include <QDebug>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSaveFile>
#include <QSet>

const QString StoredCourse::noteName = QStringLiteral("course.rec");

namespace {

constexpr quint32 noteMagic = 0x544d5843; // "TMXC"
constexpr quint32 noteVersion = 1;

bool readNote(const QString& file, QString& username, CourseRecord& course)
{
    QFile in(file);
    if (in.size() > StoredCourse::maxNoteBytes || !in.open(QIODevice::ReadOnly)) {
        return false;
    }
    QDataStream stream(&in);
    stream.setVersion(RecordStream::version);
    quint32 magic = 0;
    quint32 version = 0;
    stream >> magic >> version;
    if (magic != noteMagic || version != noteVersion) {
        return false;
    }
    RecordStream::readString(stream, username);
    stream >> course;
    return stream.status() == QDataStream::Ok && !course.id.isEmpty();
}

} // namespace

bool StoredCourse::write(const QString& username, const CourseRecord& course)
{
    if (username.isEmpty() || course.dir.isEmpty()) {
        return false;
    }
    QSaveFile file(course.dir + QLatin1Char('/') + noteName);
    if (!file.open(QIODevice::WriteOnly)) {
        qDebug() << "course note not written:" << file.errorString();
        return false;
    }
    QDataStream out(&file);
    out.setVersion(RecordStream::version);
    out << noteMagic << noteVersion << username << course;
    if (out.status() != QDataStream::Ok || !file.commit()) {
        qDebug() << "course note not written:" << file.errorString();
        return false;
    }
    return true;
}

QList<CourseRecord> StoredCourse::recover(const QString& username, const QStringList& roots,
                                          const FileCipher& cipher, int* lessons)
{
    QList<CourseRecord> found;
    QSet<QString> ids;
    int whole = 0;
    for (const QString& root : roots) {
        if (root.isEmpty()) {
            continue;
        }
        const QFileInfoList folders =
            QDir(root).entryInfoList(QDir::Dirs | QDir::NoDotAndDotDot | QDir::NoSymLinks);
        for (const QFileInfo& folder : folders) {
            const QString courseDir = folder.absoluteFilePath();
            QString owner;
            CourseRecord course;
            if (!readNote(courseDir + QLatin1Char('/') + noteName, owner, course) ||
                owner != username || ids.contains(course.id)) {
                continue;
            }
            // Where the folder is now, whatever the note says: the root may have moved.
            course.dir = courseDir;
            int complete = 0;
            for (LessonRecord& lesson : course.list) {
                lesson.paused = false;
                lesson.failReason.clear();
                lesson.state = NotChosen;
                const QString name = QFileInfo(lesson.dir).fileName();
                const bool plain =
                    !name.isEmpty() && name != QLatin1String(".") && name != QLatin1String("..");
                lesson.dir = plain ? courseDir + QLatin1Char('/') + name : QString();
                if (lesson.level == 3 && !lesson.dir.isEmpty() &&
                    StoredLesson::isWhole(lesson.dir, cipher)) {
                    lesson.state = Complete;
                    ++complete;
                }
            }
            if (complete > 0) {
                ids.insert(course.id);
                found.append(course);
                whole += complete;
            }
        }
    }
    if (lessons) {
        *lessons = whole;
    }
    return found;
}
