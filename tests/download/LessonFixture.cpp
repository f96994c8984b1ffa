#include "LessonFixture.h"

#include "HttpHelper.h"
#include "JsonHelper.h"
#include "SchoolCourse.h"

#include <QDir>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QRegularExpression>

bool LessonFixture::start(QString* error)
{
    QFile file(SchoolProcess::seedFile());
    if (!file.open(QIODevice::ReadOnly)) {
        *error = "no seed file";
        return false;
    }
    seed = QJsonDocument::fromJson(file.readAll()).object();
    if (!school.start()) {
        *error = school.errorString();
        return false;
    }
    qputenv("TAMIX_API_URL", school.apiUrl().toUtf8());
    qputenv("TAMIX_KEY_URL", school.keyUrl().toUtf8());
    const QString session = sid;
    urls = std::make_unique<URLManager>([session] { return session; });
    if (!school.bindSession(sid, user)) {
        *error = "cannot bind the session";
        return false;
    }
    return true;
}

CourseRecord LessonFixture::course(const QString& classId) const
{
    return schoolCourse(*urls, classId);
}

LessonRecord* LessonFixture::lesson(CourseRecord& course, const QString& id)
{
    for (LessonRecord& lesson : course.list) {
        if (lesson.id == id) {
            return &lesson;
        }
    }
    return nullptr;
}

QString LessonFixture::mediaFile(const QString& media, const QString& name)
{
    return SchoolProcess::mediaDir() + "/lessons/" + media + "/" + name;
}

QByteArray LessonFixture::read(const QString& path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

QStringList LessonFixture::segmentNames(const QString& media)
{
    QStringList names;
    const QList<QByteArray> lines = read(mediaFile(media, "index.m3u8")).split('\n');
    for (const QByteArray& line : lines) {
        if (!line.trimmed().isEmpty() && !line.startsWith('#')) {
            names << QString::fromLatin1(line.trimmed());
        }
    }
    return names;
}

QString LessonFixture::keyName(const QString& media) const
{
    const QJsonArray all = seed.value("media").toArray();
    for (const QJsonValue& value : all) {
        if (value.toObject().value("id").toString() == media) {
            return value.toObject().value("keyName").toString();
        }
    }
    return QString();
}

QHash<QString, int> LessonFixture::segmentRequests(const QString& media)
{
    QHash<QString, int> counts;
    const QJsonObject paths = school.stats().value("paths").toObject();
    const QString prefix = "/stream/" + media + "/";
    for (auto it = paths.begin(); it != paths.end(); ++it) {
        const QString name = it.key().mid(prefix.size());
        // MPEG-TS segments, also under the odd names a playlist may give them.
        static const QRegularExpression odd("^seg\\d+(\\.(jpg|mp4|aac|mp3|mkv|mov))?$");
        if (it.key().startsWith(prefix) && (name.endsWith(".ts") || odd.match(name).hasMatch())) {
            counts.insert(it.key().mid(prefix.size()), it.value().toInt());
        }
    }
    return counts;
}

int LessonFixture::routeCount(const QString& route)
{
    return school.stats().value("routes").toObject().value(route).toInt();
}

QStringList LessonFixture::entries(const QString& dir)
{
    QStringList names = QDir(dir).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot);
    names.sort();
    return names;
}
