// The per-user record file: round trips, atomic replacement, damaged files, and the removal
// of downloaded media.
#include "CourseStore.h"
#include "FileCipher.h"
#include "RecordStream.h"
#include "UserRecord.h"

#include <QRandomGenerator>
#include <QtTest>

static QByteArray readFile(const QString& path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

static void writeFile(const QString& path, const QByteArray& bytes)
{
    QDir().mkpath(QFileInfo(path).absolutePath());
    QFile file(path);
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write(bytes);
}

static void fill(UserRecord& user, const QString& name, int courses, int lessons)
{
    user.uid = "1001";
    user.nickname = QStringLiteral("小李");
    user.username = name;
    user.email = "li@example.com";
    user.is_img = "http://127.0.0.1/avatar/1.jpg";
    user.sid = "sess-1";
    user.loginTime = QDateTime(QDate(2026, 12, 1), QTime(8, 30, 15, 250));
    for (int c = 0; c < courses; ++c) {
        CourseRecord course;
        course.id = QString::number(c);
        course.title = QStringLiteral("课程%1").arg(c);
        course.dir = "/v/" + QString::number(c);
        for (int l = 0; l < lessons; ++l) {
            LessonRecord lesson;
            lesson.courseId = course.id;
            lesson.id = QString::number(l);
            lesson.title = QStringLiteral("课件%1").arg(l);
            lesson.state = l % 4;
            lesson.level = 3;
            course.list.append(lesson);
        }
        user.courses.append(course);
    }
    if (!user.courses.isEmpty() && !user.courses[0].list.isEmpty()) {
        user.queue.append(user.courses[0].list[0]);
    }
}

class TestCourseStore : public QObject
{
    Q_OBJECT
private slots:
    void init();
    void roundTrip();
    void shorterSecondSave();
    void noPlainCopyOnDisk();
    void missingUser();
    void damaged_data();
    void damaged();
    void everyDamageIsKeptApart();
    void unsafeUserNameNotSaved();
    void removeDirsKeepsTheCoursePicture();
    void removeDirsStopsAtRoot();
    void foreignDirsAreNeverCleared_data();
    void foreignDirsAreNeverCleared();

private:
    std::unique_ptr<QTemporaryDir> dir;
    FileCipher cipher = FileCipher::programCipher();
};

void TestCourseStore::init()
{
    dir = std::make_unique<QTemporaryDir>();
}

void TestCourseStore::roundTrip()
{
    const CourseStore store(dir->filePath("user"), cipher);
    UserRecord user;
    fill(user, "13800000001", 3, 4);
    QVERIFY(store.save(user));

    UserRecord back;
    QCOMPARE(store.load("13800000001", back), CourseStore::LoadResult::Loaded);
    QCOMPARE(back.uid, user.uid);
    QCOMPARE(back.nickname, user.nickname);
    QCOMPARE(back.username, user.username);
    QCOMPARE(back.email, user.email);
    QCOMPARE(back.is_img, user.is_img);
    QCOMPARE(back.sid, user.sid);
    QCOMPARE(back.loginTime, user.loginTime);
    QCOMPARE(back.courses, user.courses);
    QCOMPARE(back.queue, user.queue);
    QCOMPARE(QFileInfo(store.recordPath("13800000001")).size() % 16, 0);
}

void TestCourseStore::shorterSecondSave()
{
    const CourseStore store(dir->filePath("user"), cipher);
    UserRecord big;
    fill(big, "u", 20, 20);
    QVERIFY(store.save(big));
    const qint64 bigSize = QFileInfo(store.recordPath("u")).size();
    UserRecord small;
    fill(small, "u", 1, 1);
    QVERIFY(store.save(small));
    // Replaced whole: no stale tail of the longer record remains.
    QCOMPARE(QFileInfo(store.recordPath("u")).size(),
             qint64((CourseStore::serialize(small).size() + 15) / 16 * 16));
    QVERIFY(QFileInfo(store.recordPath("u")).size() < bigSize);
    UserRecord back;
    QCOMPARE(store.load("u", back), CourseStore::LoadResult::Loaded);
    QCOMPARE(back.courses.size(), 1);
}

void TestCourseStore::noPlainCopyOnDisk()
{
    const CourseStore store(dir->filePath("user"), cipher);
    UserRecord user;
    fill(user, "u", 2, 2);
    QVERIFY(store.save(user));
    UserRecord back;
    store.load("u", back);
    QCOMPARE(QDir(store.userDir("u")).entryList(QDir::Files), QStringList{"kecheng.lhc"});
    // Encrypted: the user's texts do not appear in the file.
    QVERIFY(!readFile(store.recordPath("u")).contains(QByteArray("l\0i\0@", 5)));
}

void TestCourseStore::missingUser()
{
    const CourseStore store(dir->filePath("user"), cipher);
    UserRecord back;
    back.username = "stale";
    QCOMPARE(store.load("nobody", back), CourseStore::LoadResult::Missing);
    QCOMPARE(back.username, QString(""));
    QCOMPARE(store.load("", back), CourseStore::LoadResult::Missing);
}

void TestCourseStore::damaged_data()
{
    QTest::addColumn<QByteArray>("fileBytes");
    UserRecord user;
    fill(user, "u", 5, 5);
    const QByteArray good = cipher.encrypt(CourseStore::serialize(user));

    QTest::newRow("truncated mid-record") << good.left(good.size() / 2);
    QTest::newRow("truncated off a block") << good.left(good.size() - 5);
    QByteArray random(4096, Qt::Uninitialized);
    QRandomGenerator generator(20261207);
    for (char& byte : random) {
        byte = char(generator.generate());
    }
    QTest::newRow("random bytes") << random;
    // A plain record whose first string claims almost 2 GiB.
    QTest::newRow("huge string length")
        << cipher.encrypt(QByteArray::fromHex("7ffffff0") + QByteArray(60, 'a'));
    // A course count of four billion and a lesson count as large, with nothing behind them.
    QByteArray hugeCounts;
    {
        QDataStream out(&hugeCounts, QIODevice::WriteOnly);
        out.setVersion(RecordStream::version);
        for (int i = 0; i < 6; ++i) {
            out << QString("x");
        }
        out << QDateTime::currentDateTime() << quint32(0xfffffff0) << QString("id") << QString("t")
            << QString("i") << quint32(0xfffffff0);
    }
    QTest::newRow("huge list counts") << cipher.encrypt(hugeCounts);
    const QByteArray otherKey(16, 'q');
    const FileCipher foreign(16, reinterpret_cast<const unsigned char*>(otherKey.constData()));
    QTest::newRow("other key") << foreign.encrypt(CourseStore::serialize(user));
}

void TestCourseStore::damaged()
{
    QFETCH(QByteArray, fileBytes);
    const CourseStore store(dir->filePath("user"), cipher);
    const QString path = store.recordPath("u");
    writeFile(path, fileBytes);

    UserRecord back;
    QCOMPARE(store.load("u", back), CourseStore::LoadResult::Damaged);
    QCOMPARE(back.username, QString(""));
    QVERIFY(back.courses.isEmpty() && back.queue.isEmpty());
    QVERIFY(!QFile::exists(path));
    QCOMPARE(readFile(path + ".bad"), fileBytes);

    // The next save writes a fresh record and leaves the damaged one alone.
    UserRecord fresh;
    fill(fresh, "u", 1, 1);
    QVERIFY(store.save(fresh));
    QCOMPARE(readFile(path + ".bad"), fileBytes);
    QCOMPARE(store.load("u", back), CourseStore::LoadResult::Loaded);
}

void TestCourseStore::everyDamageIsKeptApart()
{
    const CourseStore store(dir->filePath("user"), cipher);
    const QString path = store.recordPath("u");
    UserRecord back;
    QString kept;
    writeFile(path, "first damage");
    QCOMPARE(store.load("u", back, &kept), CourseStore::LoadResult::Damaged);
    QCOMPARE(kept, path + ".bad");
    writeFile(path, "second damage");
    QCOMPARE(store.load("u", back, &kept), CourseStore::LoadResult::Damaged);
    QCOMPARE(kept, path + ".bad-2");

    // Neither is taken for a temporary file of an interrupted save.
    QCOMPARE(store.removeOrphans("u"), 0);
    QCOMPARE(readFile(path + ".bad"), QByteArray("first damage"));
    QCOMPARE(readFile(path + ".bad-2"), QByteArray("second damage"));
}

void TestCourseStore::unsafeUserNameNotSaved()
{
    const CourseStore store(dir->filePath("user"), cipher);
    for (const char* name : {"", "..", "../evil", "a/b", "a\\b"}) {
        UserRecord user;
        fill(user, name, 1, 1);
        QVERIFY2(!store.save(user), name);
    }
    QVERIFY(!QFile::exists(dir->filePath("kecheng.lhc")));
    QVERIFY(!QFile::exists(dir->filePath("user/kecheng.lhc")));
}

// Store folders are named by 32 hexadecimal digits (MD5).
static const QString courseName = QString(32, 'c');
static const QString lessonName = QString(32, 'a');

void TestCourseStore::removeDirsKeepsTheCoursePicture()
{
    const QString root = dir->filePath("videos");
    const QString course = root + "/" + courseName;
    const QString lessonDir = course + "/" + lessonName;
    writeFile(lessonDir + "/00000.ls", "playlist");
    writeFile(lessonDir + "/seg00000.ts", "media");
    writeFile(lessonDir + "/seg00001.ts", "media");
    // A segment an earlier version stored under a picture's name is media all the same.
    writeFile(lessonDir + "/seg00002.jpg", "media");
    writeFile(course + "/thumb.jpg", "thumb");
    writeFile(course + "/" + QString(32, 'b') + "/seg.ts", "media");

    CourseStore::removeDirs({lessonDir, QString()}, {root});
    QVERIFY(!QFileInfo::exists(lessonDir));

    CourseStore::removeDirs({course}, {root});
    QCOMPARE(QDir(course).entryList(QDir::Files), QStringList{"thumb.jpg"});
    QVERIFY(!QFileInfo::exists(course + "/" + QString(32, 'b')));
    QCOMPARE(readFile(course + "/thumb.jpg"), QByteArray("thumb"));
}

void TestCourseStore::removeDirsStopsAtRoot()
{
    const QString root = dir->filePath("Videos/tamixVideo");
    const QString lessonDir = root + "/" + courseName + "/" + lessonName;
    writeFile(lessonDir + "/seg00000.ts", "media");
    CourseStore::removeDirs({lessonDir}, {root});
    QVERIFY(!QFileInfo::exists(root + "/" + courseName));
    QVERIFY(QFileInfo(root).isDir());
    QVERIFY(QFileInfo(dir->filePath("Videos")).isDir());
}

void TestCourseStore::foreignDirsAreNeverCleared_data()
{
    QTest::addColumn<QString>("target"); // relative to the temporary folder
    QTest::newRow("the download folder itself") << "videos";
    QTest::newRow("its parent") << ".";
    QTest::newRow("an MD5-named folder outside it") << "elsewhere/" + courseName;
    QTest::newRow("a plain folder inside it") << "videos/Documents";
    QTest::newRow("a lesson under a folder that is no course") << "videos/x/" + lessonName;
}

void TestCourseStore::foreignDirsAreNeverCleared()
{
    QFETCH(QString, target);
    const QString root = dir->filePath("videos");
    const QStringList files{"videos/notes.txt", "videos/Documents/a.doc",
                            "elsewhere/" + courseName + "/seg.ts",
                            "videos/x/" + lessonName + "/s.ts", "top.txt"};
    for (const QString& file : files) {
        writeFile(dir->filePath(file), "keep");
    }
    CourseStore::removeDirs({QDir::cleanPath(dir->filePath(target))}, {root});
    for (const QString& file : files) {
        QVERIFY2(QFileInfo::exists(dir->filePath(file)), qPrintable(file));
    }
}

QTEST_GUILESS_MAIN(TestCourseStore)
#include "tst_coursestore.moc"
