#include "LessonRecord.h"

#include "JsonNode.h"
#include "RecordStream.h"
#include "URLManager.h"

LessonRecord::LessonRecord(const QString& courseId, const JsonNode& node, const URLManager& urls)
    : courseId(courseId), id(node.getString(QStringLiteral("id"))),
      number(node.getString(QStringLiteral("number"))),
      c_type(node.getString(QStringLiteral("c_type"))),
      type(node.getString(QStringLiteral("type"))), title(node.getString(QStringLiteral("title"))),
      c_time(node.getString(QStringLiteral("c_time"))),
      stutas(node.getString(QStringLiteral("stutas"))),
      watchtimes(node.getString(QStringLiteral("watchtimes"))), level(levelOf(type)),
      keyUrl(urls.getKeysAndUrlByLidUrl(courseId, id, c_type))
{
}

qint32 LessonRecord::levelOf(const QString& type)
{
    if (type == QLatin1String("zhang")) {
        return 1;
    }
    if (type == QLatin1String("jie")) {
        return 2;
    }
    if (type == QLatin1String("kejian")) {
        return 3;
    }
    return 0;
}

bool LessonRecord::operator==(const LessonRecord& o) const
{
    // Null and empty strings are told apart: the record file keeps the difference.
    auto same = [](const QString& a, const QString& b) {
        return a == b && a.isNull() == b.isNull();
    };
    return same(courseId, o.courseId) && same(id, o.id) && same(number, o.number) &&
           same(c_type, o.c_type) && same(type, o.type) && same(title, o.title) &&
           same(c_time, o.c_time) && same(stutas, o.stutas) && same(watchtimes, o.watchtimes) &&
           level == o.level && state == o.state && same(keyUrl, o.keyUrl) && same(dir, o.dir) &&
           paused == o.paused && failReason == o.failReason && watched == o.watched &&
           lengthSeconds == o.lengthSeconds;
}

QDataStream& operator<<(QDataStream& out, const LessonRecord& l)
{
    out << l.id << l.number << l.c_type << l.type << l.title << l.c_time << l.level << l.state
        << l.keyUrl << l.dir << l.courseId << l.stutas << l.watchtimes;
    return out;
}

QDataStream& operator>>(QDataStream& in, LessonRecord& l)
{
    for (QString* field : {&l.id, &l.number, &l.c_type, &l.type, &l.title, &l.c_time}) {
        RecordStream::readString(in, *field);
    }
    in >> l.level >> l.state;
    for (QString* field : {&l.keyUrl, &l.dir, &l.courseId, &l.stutas, &l.watchtimes}) {
        RecordStream::readString(in, *field);
    }
    return in;
}

QDataStream& operator<<(QDataStream& out, const QList<LessonRecord>& lessons)
{
    RecordStream::writeList(out, lessons);
    return out;
}

QDataStream& operator>>(QDataStream& in, QList<LessonRecord>& lessons)
{
    RecordStream::readList(in, lessons);
    return in;
}
