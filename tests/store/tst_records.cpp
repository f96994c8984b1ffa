// Course and lesson records: building from the server's JSON, ordering, labels, and the
// binary stream form of the record file.
#include "CourseRecord.h"
#include "JsonHelper.h"
#include "RecordStream.h"
#include "URLManager.h"
#include "UserRecord.h"

#include <QtTest>

class TestRecords : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase() { qputenv("TAMIX_API_URL", "http://school.test"); }
    void buildsLessonFields();
    void arrayAndObjectListsGiveTheSameCourse();
    void numericOrder();
    void labels();
    void noList();
    void lessonStreamLayout();
    void roundTrip();
    void shortListStopsAtEnd();
    void damagedStringLength();
    void trailingBlockKeepsHoldsAndReasons();

private:
    URLManager urls{[] {
        return QStringLiteral("sid9");
    }};
};

static QString lesson(const char* id, const char* number, const char* type, const QString& title)
{
    return QString::fromUtf8(R"({"id":"%1","number":%2,"c_type":"2","type":"%3","title":"%4",)"
                             R"("c_time":"00:12:00","stutas":"1","watchtimes":"0"})")
        .arg(QLatin1String(id), QLatin1String(number), QLatin1String(type), title);
}

static CourseRecord course(const QString& listJson, const URLManager& urls)
{
    const QString json =
        QString::fromUtf8(R"({"id":"42","title":"初级会计实务","img":"http://i/1.jpg","list":%1})")
            .arg(listJson);
    return CourseRecord(JsonHelper::parse(json), urls);
}

void TestRecords::buildsLessonFields()
{
    const CourseRecord c = course("[" + lesson("7", "1", "kejian", "总论") + "]", urls);
    QCOMPARE(c.id, QStringLiteral("42"));
    QCOMPARE(c.title, QStringLiteral("初级会计实务"));
    QCOMPARE(c.img, QStringLiteral("http://i/1.jpg"));
    QVERIFY(c.dir.isNull());
    QCOMPARE(c.list.size(), 1);
    const LessonRecord& l = c.list.first();
    QCOMPARE(l.courseId, QStringLiteral("42"));
    QCOMPARE(l.id, QStringLiteral("7"));
    QCOMPARE(l.number, QStringLiteral("1"));
    QCOMPARE(l.c_type, QStringLiteral("2"));
    QCOMPARE(l.c_time, QStringLiteral("00:12:00"));
    QCOMPARE(l.stutas, QStringLiteral("1"));
    QCOMPARE(l.watchtimes, QStringLiteral("0"));
    QCOMPARE(l.level, 3);
    QCOMPARE(l.state, qint32(NotChosen));
    QCOMPARE(l.title, QStringLiteral("课件1 总论"));
    // signs c_type, class_id, key, lesson_id, "3": md5 of
    // "mavrotq3071|2mavrotq3071|42mavrotq3071|sid9mavrotq3071|7mavrotq3071|3"
    QCOMPARE(l.keyUrl, QStringLiteral("http://school.test/course_app/GetKeysAndUrlByLid/?key=sid9"
                                      "&class_id=42&lesson_id=7&c_type=2"
                                      "&sign=20cdec2a7c13d8b93f94931cb5a06a41"));
}

void TestRecords::arrayAndObjectListsGiveTheSameCourse()
{
    const QString a = lesson("1", "2", "jie", "第一节");
    const QString b = lesson("2", "1", "zhang", "第一章");
    const QString c = lesson("3", "3", "kejian", "讲义");
    const CourseRecord fromArray = course("[" + a + "," + b + "," + c + "]", urls);
    const CourseRecord fromObject =
        course("{\"x\":" + c + ",\"y\":" + a + ",\"z\":" + b + "}", urls);
    QCOMPARE(fromArray.list.size(), 3);
    QVERIFY(fromArray == fromObject);
}

void TestRecords::numericOrder()
{
    const CourseRecord c = course(
        "[" + lesson("a", "10", "kejian", "十") + "," + lesson("b", "9", "kejian", "九") + "," +
            lesson("c", "1", "kejian", "一") + "," + lesson("d", "\"x\"", "kejian", "零") + "]",
        urls);
    QStringList ids;
    for (const LessonRecord& l : c.list) {
        ids << l.id;
    }
    QCOMPARE(ids, QStringList({"d", "c", "b", "a"}));
}

void TestRecords::labels()
{
    const char* types[] = {"zhang", "jie", "jie", "zhang", "jie", "kejian", "kejian", "other"};
    QString list = "[";
    for (int i = 0; i < 8; ++i) {
        list += (i ? "," : "") + lesson(QByteArray::number(i).constData(),
                                        QByteArray::number(i + 1).constData(), types[i],
                                        QStringLiteral("标题"));
    }
    const CourseRecord c = course(list + "]", urls);
    QStringList titles;
    QList<int> levels;
    for (const LessonRecord& l : c.list) {
        titles << l.title;
        levels << l.level;
    }
    QCOMPARE(titles, QStringList({"第1章 标题", "第1节 标题", "第2节 标题", "第2章 标题",
                                  "第1节 标题", "课件1 标题", "课件2 标题", "课件3 标题"}));
    QCOMPARE(levels, QList<int>({1, 2, 2, 1, 2, 3, 3, 0}));
}

void TestRecords::noList()
{
    QVERIFY(CourseRecord(JsonHelper::parse(R"({"id":"1","title":"t"})"), urls).list.isEmpty());
    QVERIFY(course("[]", urls).list.isEmpty());
    const CourseRecord empty;
    QVERIFY(!empty.id.isNull() && empty.id.isEmpty());
    QVERIFY(empty.dir.isNull());
}

// The byte layout written by hand from the record file format: strings as a 32-bit byte
// length (0xffffffff for a null string) followed by big-endian UTF-16.
void TestRecords::lessonStreamLayout()
{
    LessonRecord l;
    l.id = "1";
    l.level = 3;
    l.state = 2;
    l.dir = "";
    QByteArray bytes;
    QDataStream out(&bytes, QIODevice::WriteOnly);
    out.setVersion(RecordStream::version);
    out << l;
    const QByteArray expected = QByteArray::fromHex("00000002"
                                                    "0031" // id "1"
                                                    "ffffffff"
                                                    "ffffffff"
                                                    "ffffffff"
                                                    "ffffffff"
                                                    "ffffffff" // number … c_time
                                                    "00000003"
                                                    "00000002" // level, state
                                                    "ffffffff" // keyUrl
                                                    "00000000" // dir, empty
                                                    "ffffffff"
                                                    "ffffffff"
                                                    "ffffffff"); // courseId, stutas, watchtimes
    QCOMPARE(bytes.toHex(), expected.toHex());
}

void TestRecords::roundTrip()
{
    CourseRecord c = course(
        "[" + lesson("7", "2", "zhang", "章") + "," + lesson("8", "1", "kejian", "课") + "]", urls);
    c.dir = "/videos/abc";
    c.list[0].state = Complete;
    c.list[0].dir = "/videos/abc/def";
    c.list[1].state = Failed;
    QList<CourseRecord> courses{c, CourseRecord()};

    QByteArray bytes;
    {
        QDataStream out(&bytes, QIODevice::WriteOnly);
        out.setVersion(RecordStream::version);
        out << courses;
    }
    QList<CourseRecord> back;
    QDataStream in(bytes);
    in.setVersion(RecordStream::version);
    in >> back;
    QCOMPARE(in.status(), QDataStream::Ok);
    QCOMPARE(back.size(), 2);
    QVERIFY(back[0] == c);
    QVERIFY(back[1] == CourseRecord());
    QVERIFY(back[0].list[1].dir.isNull());
    QVERIFY(!back[1].id.isNull());
    QCOMPARE(back[0].list[0].state, qint32(Complete));
    QCOMPARE(back[0].list[1].keyUrl, c.list[1].keyUrl);
}

void TestRecords::shortListStopsAtEnd()
{
    LessonRecord a;
    a.id = "a";
    LessonRecord b;
    b.id = "b";
    QByteArray bytes;
    {
        QDataStream out(&bytes, QIODevice::WriteOnly);
        out.setVersion(RecordStream::version);
        out << quint32(5) << a << b; // promises five, holds two
    }
    QList<LessonRecord> back;
    QDataStream in(bytes);
    in.setVersion(RecordStream::version);
    in >> back;
    QCOMPARE(in.status(), QDataStream::Ok);
    QCOMPARE(back.size(), 2);
    QCOMPARE(back[1].id, QStringLiteral("b"));
}

void TestRecords::damagedStringLength()
{
    QByteArray bytes = QByteArray::fromHex("00000001"
                                           "7ffffff0") +
                       QByteArray(64, 'x');
    QList<LessonRecord> back;
    QDataStream in(bytes);
    in.setVersion(RecordStream::version);
    in >> back;
    QVERIFY(in.status() != QDataStream::Ok);
    QVERIFY(back.isEmpty());
}

void TestRecords::trailingBlockKeepsHoldsAndReasons()
{
    UserRecord user;
    user.username = "13800000001";
    CourseRecord c = course("[" + lesson("7", "1", "kejian", "总论") + "," +
                                lesson("8", "2", "kejian", "要素") + "]",
                            urls);
    c.list[0].dir = "/v/a/7";
    c.list[0].state = Failed;
    c.list[0].failReason = "服务器拒绝（HTTP 403）";
    c.list[1].dir = "/v/a/8";
    c.list[1].state = Chosen;
    user.courses << c;
    user.queue << c.list[1];
    user.queue.last().paused = true;
    QByteArray bytes;
    {
        QDataStream out(&bytes, QIODevice::WriteOnly);
        out.setVersion(RecordStream::version);
        out << user;
    }
    // The cipher's zero fill follows the record in the file.
    const QByteArray file = bytes + QByteArray(7, '\0');
    UserRecord back;
    {
        QDataStream in(file);
        in.setVersion(RecordStream::version);
        in >> back;
        QCOMPARE(in.status(), QDataStream::Ok);
    }
    QVERIFY(back.queue.first().paused);
    QCOMPARE(back.courses.first().list.first().failReason, QString("服务器拒绝（HTTP 403）"));

    // The layout that earlier versions read ends with the queue: they read the same record.
    {
        QDataStream in(file);
        in.setVersion(RecordStream::version);
        QString text;
        for (int i = 0; i < 6; ++i) {
            in >> text;
        }
        QDateTime time;
        QList<CourseRecord> courses;
        QList<LessonRecord> queue;
        in >> time >> courses >> queue;
        QCOMPARE(in.status(), QDataStream::Ok);
        QCOMPARE(queue.size(), 1);
        QCOMPARE(queue.first().dir, QString("/v/a/8"));
    }

    // A record of an earlier version (no block, then zeros) loads with nothing held.
    // Mark, version, count (4 each), one flag (1), count (4), "/v/a/7" (4 + 12), the reason
    // (4 + 30), no watched lessons (4) and two empty ids of the lesson played last (4 + 4):
    // 79 bytes.
    const int blockBytes = 79;
    QByteArray old = bytes.left(bytes.size() - blockBytes) + QByteArray(16, '\0');
    QDataStream in(old);
    in.setVersion(RecordStream::version);
    UserRecord earlier;
    in >> earlier;
    QCOMPARE(in.status(), QDataStream::Ok);
    QCOMPARE(earlier.queue.size(), 1);
    QVERIFY(!earlier.queue.first().paused);
    QVERIFY(earlier.courses.first().list.first().failReason.isEmpty());
}

QTEST_GUILESS_MAIN(TestRecords)
#include "tst_records.moc"
