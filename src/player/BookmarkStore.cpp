#include "BookmarkStore.h"

#include "Md5.h"

#include <QDebug>
#include <QDir>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QSaveFile>
#include <algorithm>

BookmarkStore::BookmarkStore(const QString& folder, const QString& user, QObject* parent)
    : QObject(parent),
      file(folder + QStringLiteral("/bookmarks-") + Md5::utf8Hex(user) + QStringLiteral(".json"))
{
}

QString BookmarkStore::key(const QString& courseId, const QString& lessonId)
{
    return courseId + QLatin1Char('\n') + lessonId;
}

QString BookmarkStore::cleanNote(const QString& note)
{
    QString line = note;
    line.replace(QLatin1String("\r\n"), QLatin1String(" "));
    for (QChar& c : line) {
        if (c == QLatin1Char('\n') || c == QLatin1Char('\r') || c == QChar::LineSeparator ||
            c == QChar::ParagraphSeparator) {
            c = QLatin1Char(' ');
        }
    }
    line = line.trimmed();
    if (line.size() > maxNoteLength) {
        line.truncate(maxNoteLength);
        // No half of a surrogate pair at the cut.
        if (line.at(line.size() - 1).isHighSurrogate()) {
            line.chop(1);
        }
    }
    return line;
}

QString BookmarkStore::timeText(qint64 seconds)
{
    const qint64 s = qMax<qint64>(0, seconds);
    return QStringLiteral("[%1:%2:%3]")
        .arg(s / 3600, 2, 10, QLatin1Char('0'))
        .arg(s / 60 % 60, 2, 10, QLatin1Char('0'))
        .arg(s % 60, 2, 10, QLatin1Char('0'));
}

bool BookmarkStore::parse(const QByteArray& bytes)
{
    QJsonParseError error{};
    const QJsonDocument document = QJsonDocument::fromJson(bytes, &error);
    const QJsonObject root = document.object();
    if (error.error != QJsonParseError::NoError || !document.isObject() ||
        root.value(QStringLiteral("version")).toInt() != version ||
        !root.value(QStringLiteral("lessons")).isArray()) {
        return false;
    }
    for (const QJsonValue& entry : root.value(QStringLiteral("lessons")).toArray()) {
        const QJsonObject lesson = entry.toObject();
        QList<Bookmark>& list = marks[key(lesson.value(QStringLiteral("course")).toString(),
                                          lesson.value(QStringLiteral("lesson")).toString())];
        for (const QJsonValue& value : lesson.value(QStringLiteral("marks")).toArray()) {
            const QJsonObject mark = value.toObject();
            Bookmark bookmark;
            bookmark.id = nextId++;
            bookmark.seconds = qMax<qint64>(0, qint64(mark.value(QStringLiteral("at")).toDouble()));
            bookmark.note = cleanNote(mark.value(QStringLiteral("note")).toString());
            list.append(bookmark);
        }
    }
    return true;
}

bool BookmarkStore::load()
{
    marks.clear();
    readOnly = false;
    QFile in(file);
    if (!in.exists()) {
        return true;
    }
    const bool opened = in.open(QIODevice::ReadOnly);
    const bool small = in.size() <= maxFileBytes;
    const QByteArray bytes = opened && small ? in.read(maxFileBytes) : QByteArray();
    in.close();
    if (opened && small && parse(bytes)) {
        return true;
    }
    marks.clear();
    QString aside;
    for (int generation = 1; generation < 100000 && aside.isEmpty(); ++generation) {
        const QString candidate =
            file +
            (generation == 1 ? QStringLiteral(".bad") : QStringLiteral(".bad-%1").arg(generation));
        if (QFileInfo::exists(candidate)) {
            continue;
        }
        if (!QFile::rename(file, candidate)) {
            break;
        }
        aside = candidate;
    }
    if (aside.isEmpty()) {
        // Better no new bookmarks than the old ones overwritten.
        readOnly = true;
        qDebug() << "bookmarks: cannot move the damaged file aside:" << file;
        emit damaged(QStringLiteral("书签文件已损坏"));
    } else {
        qDebug() << "bookmarks: damaged file moved to" << aside;
        emit damaged(QStringLiteral("书签文件已损坏，已另存为 ") + QDir::toNativeSeparators(aside));
    }
    return false;
}

QList<Bookmark> BookmarkStore::bookmarks(const QString& courseId, const QString& lessonId) const
{
    QList<Bookmark> list = marks.value(key(courseId, lessonId));
    std::stable_sort(list.begin(), list.end(),
                     [](const Bookmark& a, const Bookmark& b) { return a.seconds < b.seconds; });
    return list;
}

int BookmarkStore::add(const QString& courseId, const QString& lessonId, qint64 seconds,
                       const QString& note)
{
    Bookmark bookmark;
    bookmark.id = nextId++;
    bookmark.seconds = qMax<qint64>(0, seconds);
    bookmark.note = cleanNote(note);
    marks[key(courseId, lessonId)].append(bookmark);
    save();
    emit changed(courseId, lessonId);
    return bookmark.id;
}

bool BookmarkStore::setNote(const QString& courseId, const QString& lessonId, int id,
                            const QString& note)
{
    for (Bookmark& bookmark : marks[key(courseId, lessonId)]) {
        if (bookmark.id == id) {
            bookmark.note = cleanNote(note);
            save();
            emit changed(courseId, lessonId);
            return true;
        }
    }
    return false;
}

bool BookmarkStore::remove(const QString& courseId, const QString& lessonId, int id)
{
    QList<Bookmark>& list = marks[key(courseId, lessonId)];
    const auto gone = std::remove_if(list.begin(), list.end(),
                                     [id](const Bookmark& bookmark) { return bookmark.id == id; });
    if (gone == list.end()) {
        return false;
    }
    list.erase(gone, list.end());
    save();
    emit changed(courseId, lessonId);
    return true;
}

bool BookmarkStore::save()
{
    if (readOnly) {
        return false;
    }
    QJsonArray lessons;
    QStringList keys = marks.keys();
    keys.sort();
    for (const QString& k : keys) {
        const QList<Bookmark> list = marks.value(k);
        if (list.isEmpty()) {
            continue;
        }
        QJsonArray entries;
        for (const Bookmark& bookmark : list) {
            entries.append(QJsonObject{{QStringLiteral("at"), double(bookmark.seconds)},
                                       {QStringLiteral("note"), bookmark.note}});
        }
        const int cut = k.indexOf(QLatin1Char('\n'));
        lessons.append(QJsonObject{{QStringLiteral("course"), k.left(cut)},
                                   {QStringLiteral("lesson"), k.mid(cut + 1)},
                                   {QStringLiteral("marks"), entries}});
    }
    const QJsonObject root{{QStringLiteral("version"), version},
                           {QStringLiteral("lessons"), lessons}};
    QDir().mkpath(QFileInfo(file).absolutePath());
    QSaveFile out(file);
    if (!out.open(QIODevice::WriteOnly) ||
        out.write(QJsonDocument(root).toJson(QJsonDocument::Indented)) < 0 || !out.commit()) {
        qDebug() << "bookmarks: cannot write" << file << out.errorString();
        return false;
    }
    return true;
}

QString BookmarkStore::exportText(const CourseRecord& course) const
{
    QString text = course.title + QLatin1Char('\n');
    for (const LessonRecord& lesson : course.list) {
        const QList<Bookmark> list = bookmarks(course.id, lesson.id);
        if (list.isEmpty()) {
            continue;
        }
        text += QLatin1Char('\n') + lesson.title + QLatin1Char('\n');
        for (const Bookmark& bookmark : list) {
            text += timeText(bookmark.seconds);
            if (!bookmark.note.isEmpty()) {
                text += QLatin1Char(' ') + bookmark.note;
            }
            text += QLatin1Char('\n');
        }
    }
    return text;
}

bool BookmarkStore::exportTo(const CourseRecord& course, const QString& target,
                             QString* error) const
{
    QSaveFile out(target);
    const QByteArray bytes = exportText(course).toUtf8();
    if (!out.open(QIODevice::WriteOnly) || out.write(bytes) != bytes.size() || !out.commit()) {
        if (error) {
            *error = out.errorString();
        }
        return false;
    }
    return true;
}
