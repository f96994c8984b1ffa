// The client killed (SIGKILL) at random moments of its store saves and of its segment writes:
// the store always loads the previous or the new record, never a torn one, and no segment that
// counts as stored differs from the school's file. The killed work runs in a child process:
// this test program started again with TAMIX_KILL_CHILD set.
#include "ChildProcess.h"
#include "CourseStore.h"
#include "FileCipher.h"
#include "LessonFixture.h"
#include "M3u8Loader.h"
#include "UserRecord.h"

#include <QDir>
#include <QProcess>
#include <QRandomGenerator>
#include <QTemporaryDir>
#include <QtTest>

namespace {

const QString childMode = "TAMIX_KILL_CHILD";
constexpr int trials = 50;

// Two records that differ everywhere: a torn mix of them is neither.
UserRecord makeRecord(const QString& mark)
{
    UserRecord user;
    user.username = "kill-user";
    user.nickname = mark;
    for (int c = 0; c < 40; ++c) {
        CourseRecord course;
        course.id = mark + QString::number(c);
        course.title = mark + " 课程 " + QString::number(c);
        for (int l = 0; l < 25; ++l) {
            LessonRecord lesson;
            lesson.id = course.id + "-" + QString::number(l);
            lesson.title = mark + " 课件 " + QString::number(l);
            course.list.append(lesson);
        }
        user.courses.append(course);
    }
    return user;
}

// Saves the two records in turn, for ever.
int saveForever(const QString& root)
{
    const FileCipher cipher = FileCipher::programCipher();
    const CourseStore store(root, cipher);
    const UserRecord records[2] = {makeRecord("A"), makeRecord("B")};
    std::printf("ready\n");
    std::fflush(stdout);
    for (int i = 0;; ++i) {
        store.save(records[i % 2]);
    }
}

// Fetches one lesson from the school into `dir` (the school serves it slowly).
int fetchLesson(const QString& keyUrl, const QString& dir)
{
    const FileCipher cipher = FileCipher::programCipher();
    M3u8Loader loader(cipher);
    QObject::connect(&loader, &M3u8Loader::finished, [] { QCoreApplication::exit(0); });
    std::printf("ready\n");
    std::fflush(stdout);
    loader.downloadLesson(keyUrl, dir);
    return QCoreApplication::exec();
}

} // namespace

class TestKillWrite : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void killedDuringStoreSaves();
    void killedDuringSegmentWrites();

private:
    // Starts the child with `arguments`, kills it after a random 1 to `maxMs` ms past "ready"
    // unless it has ended by then.
    void runAndKill(const QStringList& arguments, int maxMs);

    LessonFixture fx;
    int endedBeforeKill = 0;
};

void TestKillWrite::initTestCase()
{
    QString error;
    QVERIFY2(fx.start(&error), qPrintable(error));
}

void TestKillWrite::runAndKill(const QStringList& arguments, int maxMs)
{
    ChildProcess child;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(childMode, "1");
    child.setProcessEnvironment(env);
    child.start(QCoreApplication::applicationFilePath(), arguments);
    QVERIFY(child.waitForStarted(10000));
    QVERIFY(child.waitForReadyRead(10000));
    QTest::qWait(1 + int(QRandomGenerator::global()->bounded(maxMs)));
    // A fast run may have finished its work before the kill came; that trial simply counts whole.
    if (child.state() == QProcess::NotRunning) {
        ++endedBeforeKill;
        return;
    }
    child.kill();
    QVERIFY(child.waitForFinished(10000));
}

void TestKillWrite::killedDuringStoreSaves()
{
    QTemporaryDir root;
    const FileCipher cipher = FileCipher::programCipher();
    const CourseStore store(root.path(), cipher);
    const UserRecord a = makeRecord("A");
    const UserRecord b = makeRecord("B");
    QMap<QString, int> outcomes;
    for (int trial = 0; trial < trials; ++trial) {
        runAndKill({"save", root.path()}, 200);
        UserRecord loaded;
        const CourseStore::LoadResult result = store.load("kill-user", loaded);
        QVERIFY2(result != CourseStore::LoadResult::Damaged, "a torn record file");
        if (result == CourseStore::LoadResult::Missing) {
            ++outcomes["no file yet"];
            continue;
        }
        QVERIFY(loaded.courses == a.courses || loaded.courses == b.courses);
        ++outcomes[loaded.nickname];
        store.removeOrphans("kill-user");
    }
    qInfo() << trials << "kills during saves:" << outcomes;
    QVERIFY(outcomes.value("A") + outcomes.value("B") > 0);
}

void TestKillWrite::killedDuringSegmentWrites()
{
    // The lesson's 600 KB in about a second: the kills fall among its segment writes.
    QVERIFY(fx.school.addFault({{"route", "/stream/*"}, {"rate", 600000}}));
    const QString keyUrl = fx.urls->getKeysAndUrlByLidUrl("101", "1013", "1");
    const QStringList names = LessonFixture::segmentNames("m1013");
    QTemporaryDir dir;
    endedBeforeKill = 0;
    int stored = 0;
    int partial = 0;
    for (int trial = 0; trial < trials; ++trial) {
        QDir(dir.path()).removeRecursively();
        QDir().mkpath(dir.path());
        runAndKill({"fetch", keyUrl, dir.path()}, 1000);
        // Whatever counts as stored (a segment's own name) is the school's file byte for byte;
        // what was cut off is left under a temporary name only.
        for (const QString& name : LessonFixture::entries(dir.path())) {
            if (names.contains(name)) {
                QCOMPARE(LessonFixture::read(dir.path() + "/" + name),
                         LessonFixture::read(LessonFixture::mediaFile("m1013", name)));
                ++stored;
            } else if (name.endsWith(".part")) {
                ++partial;
            }
        }
    }
    QVERIFY(fx.school.clearFaults());
    qInfo() << trials << "kills during a download:" << stored << "segments stored and checked,"
            << partial << "cut-off files under their temporary name," << endedBeforeKill
            << "downloads ended before their kill";
    QVERIFY(stored > 0);
}

int main(int argc, char* argv[])
{
    QCoreApplication app(argc, argv);
    if (qEnvironmentVariableIsSet("TAMIX_KILL_CHILD")) {
        const QStringList args = app.arguments();
        if (args.value(1) == "save") {
            return saveForever(args.value(2));
        }
        if (args.value(1) == "fetch") {
            return fetchLesson(args.value(2), args.value(3));
        }
        return 2;
    }
    TestKillWrite test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_killwrite.moc"
