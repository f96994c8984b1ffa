// The download scheduler against the stand-in school: the queue worked off in its thread,
// failures, pause, cancel, quit, write failures, deletes and the completion seams.
#include "CourseStore.h"
#include "Downloader.h"
#include "FileCipher.h"
#include "LessonFixture.h"
#include "UserRecord.h"

#include <QCryptographicHash>
#include <QDirIterator>
#include <QTemporaryDir>
#include <QtTest>

class TestDownloader : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase();
    void init();
    void cleanup();

    void courseDownloadsThenDeleteKeepsThumb();
    void failedLessonLeavesTheQueue();
    void pauseLetsInFlightFinish();
    void cancelOtherLessonRestartsTheOneInFlight();
    void quitDuringStallIsPrompt();
    void writeFailurePausesAndKeepsTheLesson();
    void deletingCourseInFlightStopsItsWrites();
    void restoredQueueWaitsForStart();

private:
    static QString md5(const QString& text)
    {
        return QCryptographicHash::hash(text.toUtf8(), QCryptographicHash::Md5).toHex();
    }
    std::unique_ptr<Downloader> makeDownloader(bool autoStart = true);
    // The course 101 with the lessons of `ids` chosen.
    CourseRecord chosen(const QStringList& ids);
    qint32 stateOf(const QString& lessonId);
    int queueSize();
    static QStringList filesUnder(const QString& dir, const QString& suffix);

    LessonFixture fx;
    FileCipher cipher = FileCipher::programCipher();
    std::unique_ptr<QTemporaryDir> temp;
    std::unique_ptr<UserRecord> user;
    std::unique_ptr<CourseStore> store;
    QMutex settingsLock;
    QHash<QString, QString> settings;
    std::atomic_int shutdowns{0};
    std::atomic_bool diskFull{false};
    QString video;
    int timeoutMs = 600;
};

void TestDownloader::initTestCase()
{
    QStandardPaths::setTestModeEnabled(true);
    QString error;
    QVERIFY2(fx.start(&error), qPrintable(error));
}

void TestDownloader::init()
{
    QVERIFY(fx.school.clearFaults());
    QVERIFY(fx.school.resetStats());
    temp = std::make_unique<QTemporaryDir>();
    video = temp->path() + "/video";
    QVERIFY(QDir().mkpath(video));
    user = std::make_unique<UserRecord>();
    user->username = LessonFixture::user;
    user->loginTime = QDateTime::currentDateTime();
    store = std::make_unique<CourseStore>(temp->path() + "/user", cipher);
    settings = {{"DOWNLOAD/TIP", "1"}, {"DOWNLOAD/SHUTDOWN", "1"}};
    shutdowns = 0;
    diskFull = false;
    timeoutMs = 600;
}

void TestDownloader::cleanup()
{
    user.reset();
}

std::unique_ptr<Downloader> TestDownloader::makeDownloader(bool autoStart)
{
    Downloader::Context context;
    context.user = user.get();
    context.store = store.get();
    context.cipher = &cipher;
    context.setting = [this](const QString& key) {
        QMutexLocker locker(&settingsLock);
        return settings.value(key);
    };
    context.videoPath = video;
    context.userRoot = temp->path() + "/user";
    context.autoStart = autoStart;
    context.requestShutdown = [this] {
        ++shutdowns;
    };
    context.options.requestTimeoutMs = timeoutMs;
    context.options.keyUrlTimeoutMs = timeoutMs;
    context.options.retryPausesMs = {20, 40};
    context.options.progressIntervalMs = 100;
    context.options.writeGuard = [this](const QString& name) {
        return !(diskFull && name == "seg00002.ts");
    };
    return std::make_unique<Downloader>(std::move(context));
}

CourseRecord TestDownloader::chosen(const QStringList& ids)
{
    CourseRecord course = fx.course("101");
    for (const QString& id : ids) {
        LessonRecord* lesson = LessonFixture::lesson(course, id);
        if (lesson) {
            lesson->state = Chosen;
        }
    }
    return course;
}

qint32 TestDownloader::stateOf(const QString& lessonId)
{
    QMutexLocker locker(&user->lock);
    for (const CourseRecord& course : user->courses) {
        for (const LessonRecord& lesson : course.list) {
            if (lesson.id == lessonId) {
                return lesson.state;
            }
        }
    }
    return -1;
}

int TestDownloader::queueSize()
{
    QMutexLocker locker(&user->lock);
    return user->queue.size();
}

QStringList TestDownloader::filesUnder(const QString& dir, const QString& suffix)
{
    QStringList files;
    QDirIterator it(dir, QDir::Files | QDir::Hidden, QDirIterator::Subdirectories);
    while (it.hasNext()) {
        const QString file = it.next();
        if (file.endsWith(suffix)) {
            files << file;
        }
    }
    return files;
}

void TestDownloader::courseDownloadsThenDeleteKeepsThumb()
{
    auto downloader = makeDownloader(false);
    QSignalSpy done(downloader.get(), &Downloader::allDone);
    QSignalSpy refresh(downloader.get(), &Downloader::refreshUI);
    QSignalSpy progress(downloader.get(), &Downloader::refreshProgress);
    downloader->start();

    CourseRecord course = chosen({"1013", "1014"});
    QVERIFY(course.list.size() >= 5);
    downloader->addCourse(&course);
    QVERIFY(downloader->isStart()); // adding starts downloading also when paused

    // Directories by the MD5 of the UTF-8 titles.
    const QString courseDir = video + "/" + md5(course.title);
    QCOMPARE(course.dir, courseDir);
    const LessonRecord* l1013 = LessonFixture::lesson(course, "1013");
    const LessonRecord* l1014 = LessonFixture::lesson(course, "1014");
    QCOMPARE(l1013->dir, courseDir + "/" + md5(l1013->title));

    QTRY_COMPARE_WITH_TIMEOUT(stateOf("1014"), qint32(Downloaded), 15000);
    QCOMPARE(stateOf("1013"), qint32(Downloaded));
    QCOMPARE(queueSize(), 0);
    // The tip and the shutdown request once, after the last lesson.
    QTRY_COMPARE(done.size(), 1);
    QTRY_COMPARE(shutdowns.load(), 1);
    QTest::qWait(300);
    QCOMPARE(done.size(), 1);
    QCOMPARE(shutdowns.load(), 1);
    QVERIFY(!refresh.isEmpty());
    QVERIFY(!progress.isEmpty());

    for (const auto& [dir, media] :
         {std::pair{l1013->dir, QString("m1013")}, std::pair{l1014->dir, QString("m1014")}}) {
        for (const QString& name : LessonFixture::segmentNames(media)) {
            QCOMPARE(LessonFixture::read(dir + "/" + name),
                     LessonFixture::read(LessonFixture::mediaFile(media, name)));
        }
    }
    // The thumbnail is the school's picture of the course.
    QTRY_VERIFY(QFileInfo::exists(courseDir + "/thumb.jpg"));
    QCOMPARE(LessonFixture::read(courseDir + "/thumb.jpg"),
             LessonFixture::read(SchoolProcess::mediaDir() + "/img/course/101.jpg"));

    // The stored record holds the states.
    UserRecord stored;
    QCOMPARE(store->load(LessonFixture::user, stored), CourseStore::LoadResult::Loaded);
    QCOMPARE(stored.courses.size(), 1);
    QCOMPARE(LessonFixture::lesson(stored.courses[0], "1013")->state, qint32(Downloaded));
    QCOMPARE(LessonFixture::lesson(stored.courses[0], "1016")->state, qint32(NotChosen));

    downloader->deleteDownloaded({courseDir});
    {
        QMutexLocker locker(&user->lock);
        QCOMPARE(user->courses.size(), 1);
        for (const LessonRecord& lesson : user->courses[0].list) {
            QCOMPARE(lesson.state, qint32(NotChosen));
        }
    }
    QCOMPARE(LessonFixture::entries(courseDir), QStringList{"thumb.jpg"});
    QCOMPARE(LessonFixture::entries(video), QStringList{md5(course.title)});
    QCOMPARE(store->load(LessonFixture::user, stored), CourseStore::LoadResult::Loaded);
    QCOMPARE(LessonFixture::lesson(stored.courses[0], "1013")->state, qint32(NotChosen));
}

void TestDownloader::failedLessonLeavesTheQueue()
{
    QVERIFY(fx.school.addFault({{"route", "/stream/m1014/seg*"}, {"status", 500}}));
    auto downloader = makeDownloader();
    QSignalSpy errors(downloader.get(), &Downloader::downloadError);
    downloader->start();
    CourseRecord course = chosen({"1014", "1013"});
    downloader->addCourse(&course);
    // Lessons run in list order: 1013 before 1014.
    QTRY_COMPARE_WITH_TIMEOUT(stateOf("1014"), qint32(Failed), 15000);
    QTRY_COMPARE(stateOf("1013"), qint32(Downloaded));
    QCOMPARE(queueSize(), 0);
    QTRY_COMPARE(errors.size(), 1);
    QCOMPARE(errors.first().first().toString(), LessonFixture::lesson(course, "1014")->dir);
    QTRY_COMPARE(shutdowns.load(), 1);
}

void TestDownloader::pauseLetsInFlightFinish()
{
    QVERIFY(fx.school.addFault({{"route", "/stream/m1013/seg*"}, {"latency", 500}}));
    auto downloader = makeDownloader();
    QSignalSpy done(downloader.get(), &Downloader::allDone);
    QSignalSpy startPause(downloader.get(), &Downloader::startPause);
    downloader->start();
    CourseRecord course = chosen({"1013"});
    downloader->addCourse(&course);
    const QString dir = LessonFixture::lesson(course, "1013")->dir;

    // Four requests go out at once; pause while they are under way.
    QTRY_VERIFY_WITH_TIMEOUT(filesUnder(dir, ".part").size() == 4, 5000);
    downloader->setStart(false);
    QVERIFY(startPause.size() >= 1);
    QTRY_COMPARE_WITH_TIMEOUT(filesUnder(dir, ".ts").size(), 4, 5000);
    QTest::qWait(1200);
    QCOMPARE(filesUnder(dir, ".ts").size(), 4);
    QCOMPARE(filesUnder(dir, ".part").size(), 0);
    QCOMPARE(fx.segmentRequests("m1013").size(), 4);
    QCOMPARE(stateOf("1013"), qint32(Chosen));
    QCOMPARE(done.size(), 0);
    QCOMPARE(shutdowns.load(), 0);

    downloader->setStart(true);
    QTRY_COMPARE_WITH_TIMEOUT(stateOf("1013"), qint32(Downloaded), 5000);
    const QHash<QString, int> requests = fx.segmentRequests("m1013");
    QCOMPARE(requests.size(), 5);
    for (int count : requests) {
        QCOMPARE(count, 1);
    }
    QTRY_COMPARE(done.size(), 1);
}

void TestDownloader::cancelOtherLessonRestartsTheOneInFlight()
{
    QVERIFY(fx.school.addFault({{"route", "/stream/m1013/seg*"}, {"latency", 400}}));
    auto downloader = makeDownloader();
    downloader->start();
    CourseRecord course = chosen({"1013", "1014"});
    downloader->addCourse(&course);
    const QString dir1013 = LessonFixture::lesson(course, "1013")->dir;
    const QString dir1014 = LessonFixture::lesson(course, "1014")->dir;

    QTRY_VERIFY_WITH_TIMEOUT(filesUnder(dir1013, ".ts").size() >= 2, 5000);
    const QStringList storedBefore = filesUnder(dir1013, ".ts");
    downloader->deleteDownloading({dir1014});
    QCOMPARE(queueSize(), 1);
    QCOMPARE(stateOf("1014"), qint32(NotChosen));

    QTRY_COMPARE_WITH_TIMEOUT(stateOf("1013"), qint32(Downloaded), 10000);
    // The lesson was started again (a second key-and-address call) and skipped what it had.
    QCOMPARE(fx.routeCount("GetKeysAndUrlByLid"), 2);
    const QHash<QString, int> requests = fx.segmentRequests("m1013");
    QCOMPARE(requests.size(), 5);
    for (const QString& file : storedBefore) {
        QCOMPARE(requests.value(QFileInfo(file).fileName()), 1);
    }
    QVERIFY(fx.segmentRequests("m1014").isEmpty());
    QVERIFY(!QFileInfo::exists(dir1014));
    QTRY_COMPARE(shutdowns.load(), 1);
}

void TestDownloader::quitDuringStallIsPrompt()
{
    QVERIFY(fx.school.addFault({{"route", "/stream/*/seg*"}, {"stall", 20000}}));
    CourseRecord course = chosen({"1013"});
    // Time-outs longer than the stall, so that only the quit can end the requests.
    timeoutMs = 30000;
    auto downloader = makeDownloader();
    downloader->start();
    downloader->addCourse(&course);
    const QString dir = LessonFixture::lesson(course, "1013")->dir;
    QTRY_VERIFY_WITH_TIMEOUT(filesUnder(dir, ".part").size() == 4, 5000);
    QTest::qWait(200);

    QElapsedTimer clock;
    clock.start();
    downloader->stop();
    QVERIFY2(clock.elapsed() < 2000, qPrintable(QString::number(clock.elapsed())));
    QVERIFY(downloader->isFinished());
    QCOMPARE(filesUnder(dir, ".part").size(), 0);
    QCOMPARE(filesUnder(dir, ".ts").size(), 0);
    // Not marked failed, still queued for the next start.
    QCOMPARE(stateOf("1013"), qint32(Chosen));
    QCOMPARE(queueSize(), 1);
    QCOMPARE(shutdowns.load(), 0);
}

void TestDownloader::writeFailurePausesAndKeepsTheLesson()
{
    diskFull = true;
    auto downloader = makeDownloader(false);
    QSignalSpy startPause(downloader.get(), &Downloader::startPause);
    QSignalSpy storage(downloader.get(), &Downloader::storageFailed);
    CourseRecord course = chosen({"1013"});
    const QString courseDir = video + "/" + md5(course.title);
    const QString dir = courseDir + "/" + md5(LessonFixture::lesson(course, "1013")->title);
    // One segment is already stored from an earlier run.
    QVERIFY(QDir().mkpath(dir));
    QVERIFY(QFile::copy(LessonFixture::mediaFile("m1013", "seg00000.ts"), dir + "/seg00000.ts"));
    downloader->start();
    downloader->addCourse(&course);

    QTRY_COMPARE_WITH_TIMEOUT(storage.size(), 1, 5000);
    QTRY_VERIFY(!downloader->isStart());
    QVERIFY(startPause.size() >= 2); // started by addCourse, paused by the failure
    QCOMPARE(stateOf("1013"), qint32(Chosen));
    QCOMPARE(queueSize(), 1);
    QCOMPARE(filesUnder(dir, ".part").size(), 0);
    QCOMPARE(LessonFixture::read(dir + "/seg00000.ts"),
             LessonFixture::read(LessonFixture::mediaFile("m1013", "seg00000.ts")));
    QTest::qWait(300);
    QCOMPARE(shutdowns.load(), 0);

    diskFull = false;
    downloader->setStart(true);
    QTRY_COMPARE_WITH_TIMEOUT(stateOf("1013"), qint32(Downloaded), 5000);
    QCOMPARE(fx.segmentRequests("m1013").value("seg00000.ts"), 0);
    QCOMPARE(filesUnder(dir, ".ts").size(), 5);
    QTRY_COMPARE(shutdowns.load(), 1);
}

void TestDownloader::deletingCourseInFlightStopsItsWrites()
{
    QVERIFY(fx.school.addFault({{"route", "/stream/*/seg*"}, {"latency", 300}}));
    auto downloader = makeDownloader();
    downloader->start();
    CourseRecord course = chosen({"1013", "1014"});
    downloader->addCourse(&course);
    const QString courseDir = course.dir;
    const QString dir = LessonFixture::lesson(course, "1013")->dir;
    QTRY_VERIFY(QFileInfo::exists(courseDir + "/thumb.jpg"));
    QTRY_VERIFY_WITH_TIMEOUT(!filesUnder(dir, ".part").isEmpty(), 5000);

    downloader->deleteDownloaded({courseDir});
    QCOMPARE(queueSize(), 0);
    QCOMPARE(stateOf("1013"), qint32(NotChosen));
    QCOMPARE(stateOf("1014"), qint32(NotChosen));
    QCOMPARE(LessonFixture::entries(courseDir), QStringList{"thumb.jpg"});
    // Nothing is written into the cleared directory afterwards.
    QTest::qWait(1000);
    QCOMPARE(LessonFixture::entries(courseDir), QStringList{"thumb.jpg"});
    QVERIFY(fx.segmentRequests("m1014").isEmpty());
}

void TestDownloader::restoredQueueWaitsForStart()
{
    // A stored session with one queued lesson and one entry that cannot be fetched.
    CourseRecord course = chosen({"1013"});
    course.dir = video + "/old-course";
    LessonRecord lesson = *LessonFixture::lesson(course, "1013");
    lesson.dir = course.dir + "/old-lesson"; // a directory name of an older store stays
    LessonFixture::lesson(course, "1013")->dir = lesson.dir;
    LessonRecord done = lesson;
    done.state = Downloaded;
    done.dir = course.dir + "/other";
    user->courses.append(course);
    user->queue = {done, lesson};
    QVERIFY(store->save(*user));
    user->clear();
    settings.insert("APP/LASTUSER", LessonFixture::user);

    auto downloader = makeDownloader(false);
    QVERIFY(downloader->loadStore());
    QCOMPARE(queueSize(), 1);
    downloader->start();
    QTest::qWait(500);
    QCOMPARE(fx.routeCount("GetKeysAndUrlByLid"), 0);
    QCOMPARE(stateOf("1013"), qint32(Chosen));

    downloader->setStart(true);
    QTRY_COMPARE_WITH_TIMEOUT(stateOf("1013"), qint32(Downloaded), 5000);
    QCOMPARE(filesUnder(lesson.dir, ".ts").size(), 5);
    QTRY_COMPARE(shutdowns.load(), 1);
}

QTEST_GUILESS_MAIN(TestDownloader)
#include "tst_downloader.moc"
