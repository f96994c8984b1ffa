#include "CourseRecord.h"

#include "JsonNode.h"
#include "RecordStream.h"

#include <algorithm>

CourseRecord::CourseRecord()
    : id(QLatin1String("")), title(QLatin1String("")), img(QLatin1String(""))
{
}

CourseRecord::CourseRecord(const JsonNode& node, const URLManager& urls)
    : id(node.getString(QStringLiteral("id"))), title(node.getString(QStringLiteral("title"))),
      img(node.getString(QStringLiteral("img")))
{
    const JsonNode lessons = node.getObject(QStringLiteral("list"));
    for (const QString& key : lessons.childKeys()) {
        list.append(LessonRecord(id, lessons.children.value(key), urls));
    }
    sortLessons(list);
    labelLessons(list);
}

void CourseRecord::sortLessons(QList<LessonRecord>& lessons)
{
    std::stable_sort(lessons.begin(), lessons.end(),
                     [](const LessonRecord& a, const LessonRecord& b) {
                         return a.number.toInt() < b.number.toInt();
                     });
}

void CourseRecord::labelLessons(QList<LessonRecord>& lessons)
{
    int chapter = 1;
    int section = 1;
    int courseware = 1;
    for (LessonRecord& lesson : lessons) {
        if (lesson.level == 1) {
            lesson.title = QStringLiteral("第") + QString::number(chapter++) +
                           QStringLiteral("章 ") + lesson.title;
            section = 1;
        } else if (lesson.level == 2) {
            lesson.title = QStringLiteral("第") + QString::number(section++) +
                           QStringLiteral("节 ") + lesson.title;
        } else {
            lesson.title = QStringLiteral("课件") + QString::number(courseware++) +
                           QLatin1Char(' ') + lesson.title;
        }
    }
}

bool CourseRecord::operator==(const CourseRecord& o) const
{
    auto same = [](const QString& a, const QString& b) {
        return a == b && a.isNull() == b.isNull();
    };
    return same(id, o.id) && same(title, o.title) && same(img, o.img) && list == o.list &&
           same(dir, o.dir);
}

QDataStream& operator<<(QDataStream& out, const CourseRecord& c)
{
    out << c.id << c.title << c.img << c.list << c.dir;
    return out;
}

QDataStream& operator>>(QDataStream& in, CourseRecord& c)
{
    RecordStream::readString(in, c.id);
    RecordStream::readString(in, c.title);
    RecordStream::readString(in, c.img);
    in >> c.list;
    RecordStream::readString(in, c.dir);
    return in;
}

QDataStream& operator<<(QDataStream& out, const QList<CourseRecord>& courses)
{
    RecordStream::writeList(out, courses);
    return out;
}

QDataStream& operator>>(QDataStream& in, QList<CourseRecord>& courses)
{
    RecordStream::readList(in, courses);
    return in;
}
