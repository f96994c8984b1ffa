// The download scheduler against the stand-in school: the queue worked off in its thread,
// failures, outages, pause, cancel, quit, write failures, deletes, user switches and the
// completion seams.
#include "CourseLibrary.h"
#include "CourseStore.h"
#include "Downloader.h"
#include "FileCipher.h"
#include "LessonFixture.h"
#include "LessonProgress.h"
#include "StoredLesson.h"
#include "URLManager.h"
#include "UserRecord.h"

#include <QCryptographicHash>
#include <QDirIterator>
#include <QTemporaryDir>
#include <QtTest>
#include <cerrno>

class TestDownloader : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase();
    void init();
    void cleanup();

    void courseDownloadsThenDeleteKeepsThumb();
    void failedLessonLeavesTheQueue();
    void outageEndsWithTheLessonDone();
    void pauseLetsInFlightFinish();
    void cancelOtherLessonLeavesTheOneInFlight();
    void deleteAtTheWorkersTurn_data();
    void deleteAtTheWorkersTurn();
    void quitDuringStallIsPrompt();
    void writeFailurePausesAndKeepsTheLesson();
    void deletingCourseInFlightStopsItsWrites();
    void restoredQueueWaitsForStart();
    void storedCourseKeepsItsFolders();
    void userSwitchDuringADownload();
    void damagedRecordIsToldWithItsCopy();
    void lostRecordIsRebuiltFromTheFolders_data();
    void lostRecordIsRebuiltFromTheFolders();
    void unwritableRecordIsToldOncePerCause();
    void storedLessonsComeBackAfterALostRecord_data();
    void storedLessonsComeBackAfterALostRecord();
    void noCompletionWithoutADownload_data();
    void noCompletionWithoutADownload();
    void forgottenSessionWaitsForTheNextLogin();
    void sameTitlesKeepTheirOwnFolders();
    void heldLessonLetsTheNextOneRun();
    void progressCountsBytesInFlight();
    void limitChangesTheLessonInFlight();
    void timeLeftIsSmoothedAndToldOnceSteady();
    void timeLeftFollowsWhatArrives();

private:
    static QString md5(const QString& text)
    {
        return QCryptographicHash::hash(text.toUtf8(), QCryptographicHash::Md5).toHex();
    }
    std::unique_ptr<Downloader>
    makeDownloader(bool autoStart = true,
                   std::function<QString(const LessonRecord&)> keyUrl = nullptr);
    QString lessonDir(const QString& lessonId);
    // The course 101 with the lessons of `ids` chosen.
    CourseRecord chosen(const QStringList& ids);
    qint32 stateOf(const QString& lessonId);
    int queueSize();
    static QStringList filesUnder(const QString& dir, const QString& suffix);

    LessonFixture fx;
    FileCipher cipher = FileCipher::programCipher();
    std::unique_ptr<QTemporaryDir> temp;
    std::unique_ptr<CourseStore> store;
    std::unique_ptr<CourseLibrary> library;
    QMutex settingsLock;
    QHash<QString, QString> settings;
    std::atomic_int shutdowns{0};
    std::atomic_bool diskFull{false};
    QString video;
    int timeoutMs = 600;
    std::function<void(const QString&, const QString&)> hook;
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
    QVERIFY(fx.school.bindSession(fx.sid, LessonFixture::user)); // a test may have forgotten it
    temp = std::make_unique<QTemporaryDir>();
    video = temp->path() + "/video";
    QVERIFY(QDir().mkpath(video));
    store = std::make_unique<CourseStore>(temp->path() + "/user", cipher);
    library = std::make_unique<CourseLibrary>(store.get());
    UserRecord user;
    user.username = LessonFixture::user;
    user.loginTime = QDateTime::currentDateTime();
    library->replace(user);
    hook = nullptr;
    settings = {{"DOWNLOAD/TIP", "1"}, {"DOWNLOAD/SHUTDOWN", "1"}};
    shutdowns = 0;
    diskFull = false;
    timeoutMs = 600;
}

void TestDownloader::cleanup()
{
    library.reset();
}

std::unique_ptr<Downloader>
TestDownloader::makeDownloader(bool autoStart, std::function<QString(const LessonRecord&)> keyUrl)
{
    Downloader::Context context;
    context.keyUrl = std::move(keyUrl);
    context.library = library.get();
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
    context.options.stallPauseMinMs = 50;
    context.options.workerHook = [this](const QString& point, const QString& dir) {
        if (hook) {
            hook(point, dir);
        }
    };
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

QString TestDownloader::lessonDir(const QString& lessonId)
{
    for (const CourseRecord& course : library->courses()) {
        for (const LessonRecord& lesson : course.list) {
            if (lesson.id == lessonId) {
                return lesson.dir;
            }
        }
    }
    return QString();
}

qint32 TestDownloader::stateOf(const QString& lessonId)
{
    for (const CourseRecord& course : library->courses()) {
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
    return library->queue().size();
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
    downloader->addCourse(course);
    QVERIFY(downloader->isStart()); // adding starts downloading also when paused

    // Directories by the MD5 of the UTF-8 ids and titles.
    const QString courseDir = video + "/" + md5("101\n" + course.title);
    QCOMPARE(downloader->findCourse("101")->dir, courseDir);
    const LessonRecord* l1013 = LessonFixture::lesson(course, "1013");
    QCOMPARE(lessonDir("1013"), courseDir + "/" + md5("101\n1013\n" + l1013->title));

    QTRY_COMPARE_WITH_TIMEOUT(stateOf("1014"), qint32(Complete), 15000);
    QCOMPARE(stateOf("1013"), qint32(Complete));
    QCOMPARE(queueSize(), 0);
    // The tip and the shutdown request once, after the last lesson.
    QTRY_COMPARE(done.size(), 1);
    QTRY_COMPARE(shutdowns.load(), 1);
    QTest::qWait(300);
    QCOMPARE(done.size(), 1);
    QCOMPARE(shutdowns.load(), 1);
    QVERIFY(!refresh.isEmpty());
    QVERIFY(!progress.isEmpty());

    for (const auto& [dir, media] : {std::pair{lessonDir("1013"), QString("m1013")},
                                     std::pair{lessonDir("1014"), QString("m1014")}}) {
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
    QCOMPARE(LessonFixture::lesson(stored.courses[0], "1013")->state, qint32(Complete));
    QCOMPARE(LessonFixture::lesson(stored.courses[0], "1016")->state, qint32(NotChosen));

    downloader->deleteDownloaded({courseDir});
    const QList<CourseRecord> after = library->courses();
    QCOMPARE(after.size(), 1);
    for (const LessonRecord& lesson : after.first().list) {
        QCOMPARE(lesson.state, qint32(NotChosen));
    }
    QCOMPARE(LessonFixture::entries(courseDir), QStringList{"thumb.jpg"});
    QCOMPARE(LessonFixture::entries(video), QStringList{md5("101\n" + course.title)});
    QCOMPARE(store->load(LessonFixture::user, stored), CourseStore::LoadResult::Loaded);
    QCOMPARE(LessonFixture::lesson(stored.courses[0], "1013")->state, qint32(NotChosen));
}

void TestDownloader::failedLessonLeavesTheQueue()
{
    // A permanent refusal; a 5xx would only make the lesson wait.
    QVERIFY(fx.school.addFault({{"route", "/stream/m1014/index.m3u8"}, {"status", 404}}));
    auto downloader = makeDownloader();
    QSignalSpy errors(downloader.get(), &Downloader::downloadError);
    QSignalSpy done(downloader.get(), &Downloader::allDone);
    QSignalSpy ended(downloader.get(), &Downloader::endedWithFailures);
    downloader->start();
    CourseRecord course = chosen({"1014", "1013"});
    downloader->addCourse(course);
    // Lessons run in list order: 1013 before 1014.
    QTRY_COMPARE_WITH_TIMEOUT(stateOf("1014"), qint32(Failed), 15000);
    QTRY_COMPARE(stateOf("1013"), qint32(Complete));
    QCOMPARE(queueSize(), 0);
    QTRY_COMPARE(errors.size(), 1);
    QCOMPARE(errors.first().first().toString(), lessonDir("1014"));
    QCOMPARE(library->failedLessons().first().failReason, QString("服务器拒绝（HTTP 404）"));
    QCOMPARE(fx.routeCount("playlist"), 2); // 404 is not asked again
    // The end is told with the failure, and the computer stays on for a retry.
    QTRY_COMPARE(ended.size(), 1);
    QCOMPARE(ended.first(), QVariantList({1, 1}));
    QCOMPARE(done.size(), 0);
    QCOMPARE(shutdowns.load(), 0);
}

void TestDownloader::pauseLetsInFlightFinish()
{
    QVERIFY(fx.school.addFault({{"route", "/stream/m1013/seg*"}, {"latency", 500}}));
    auto downloader = makeDownloader();
    QSignalSpy done(downloader.get(), &Downloader::allDone);
    QSignalSpy startPause(downloader.get(), &Downloader::startPause);
    downloader->start();
    CourseRecord course = chosen({"1013"});
    downloader->addCourse(course);
    const QString dir = lessonDir("1013");

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
    QTRY_COMPARE_WITH_TIMEOUT(stateOf("1013"), qint32(Complete), 5000);
    const QHash<QString, int> requests = fx.segmentRequests("m1013");
    QCOMPARE(requests.size(), 5);
    for (int count : requests) {
        QCOMPARE(count, 1);
    }
    QTRY_COMPARE(done.size(), 1);
}

void TestDownloader::cancelOtherLessonLeavesTheOneInFlight()
{
    QVERIFY(fx.school.addFault({{"route", "/stream/m1013/seg*"}, {"latency", 400}}));
    auto downloader = makeDownloader();
    downloader->start();
    CourseRecord course = chosen({"1013", "1014"});
    downloader->addCourse(course);
    const QString dir1013 = lessonDir("1013");
    const QString dir1014 = lessonDir("1014");

    QTRY_VERIFY_WITH_TIMEOUT(filesUnder(dir1013, ".ts").size() >= 2, 5000);
    downloader->deleteDownloading({dir1014});
    QCOMPARE(queueSize(), 1);
    QCOMPARE(stateOf("1014"), qint32(NotChosen));

    QTRY_COMPARE_WITH_TIMEOUT(stateOf("1013"), qint32(Complete), 10000);
    QCOMPARE(fx.routeCount("GetKeysAndUrlByLid"), 1);
    const QHash<QString, int> requests = fx.segmentRequests("m1013");
    QCOMPARE(requests.size(), 5);
    for (int count : requests) {
        QCOMPARE(count, 1);
    }
    QVERIFY(fx.segmentRequests("m1014").isEmpty());
    QVERIFY(!QFileInfo::exists(dir1014));
    QTRY_COMPARE(shutdowns.load(), 1);
}

void TestDownloader::deleteAtTheWorkersTurn_data()
{
    QTest::addColumn<QString>("point");
    QTest::newRow("the queue head as the worker takes it") << "taken";
    QTest::newRow("a lesson as it completes") << "ending";
}

void TestDownloader::deleteAtTheWorkersTurn()
{
    QFETCH(QString, point);
    // The worker holds still at `point` while the page deletes the lesson.
    std::atomic_bool reached{false};
    hook = [&](const QString& at, const QString&) {
        if (at == point && !reached.exchange(true)) {
            QThread::msleep(400);
        }
    };
    auto downloader = makeDownloader();
    downloader->start();
    downloader->addCourse(chosen({"1013"}));
    const QString dir = lessonDir("1013");
    QTRY_VERIFY_WITH_TIMEOUT(reached.load(), 10000);
    downloader->deleteDownloading({dir});
    QCOMPARE(stateOf("1013"), qint32(NotChosen));
    QTest::qWait(800);
    QCOMPARE(stateOf("1013"), qint32(NotChosen));
    QCOMPARE(queueSize(), 0);
    QVERIFY2(!QFileInfo::exists(dir), qPrintable(LessonFixture::entries(dir).join(' ')));
    UserRecord stored;
    QCOMPARE(store->load(LessonFixture::user, stored), CourseStore::LoadResult::Loaded);
    QCOMPARE(LessonFixture::lesson(stored.courses[0], "1013")->state, qint32(NotChosen));
}

void TestDownloader::quitDuringStallIsPrompt()
{
    QVERIFY(fx.school.addFault({{"route", "/stream/*/seg*"}, {"stall", 20000}}));
    CourseRecord course = chosen({"1013"});
    // Time-outs longer than the stall, so that only the quit can end the requests.
    timeoutMs = 30000;
    auto downloader = makeDownloader();
    downloader->start();
    downloader->addCourse(course);
    const QString dir = lessonDir("1013");
    QTRY_VERIFY_WITH_TIMEOUT(filesUnder(dir, ".part").size() == 4, 5000);
    QTest::qWait(200);

    QElapsedTimer clock;
    clock.start();
    downloader->stop();
    QVERIFY2(clock.elapsed() < 2000, qPrintable(QString::number(clock.elapsed())));
    QVERIFY(!downloader->isRunning());
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
    const QString courseDir = video + "/" + md5("101\n" + course.title);
    const QString dir =
        courseDir + "/" + md5("101\n1013\n" + LessonFixture::lesson(course, "1013")->title);
    // One segment is already stored from an earlier run.
    QVERIFY(QDir().mkpath(dir));
    QVERIFY(QFile::copy(LessonFixture::mediaFile("m1013", "seg00000.ts"), dir + "/seg00000.ts"));
    downloader->start();
    downloader->addCourse(course);

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
    QTRY_COMPARE_WITH_TIMEOUT(stateOf("1013"), qint32(Complete), 5000);
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
    downloader->addCourse(course);
    const QString courseDir = downloader->findCourse("101")->dir;
    const QString dir = lessonDir("1013");
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
    done.state = Complete;
    done.dir = course.dir + "/other";
    UserRecord user = library->record();
    user.courses.append(course);
    user.queue = {done, lesson};
    QVERIFY(store->save(user));
    library->replace(UserRecord());
    settings.insert("APP/LASTUSER", LessonFixture::user);

    auto downloader = makeDownloader(false);
    QVERIFY(downloader->loadStore());
    QCOMPARE(queueSize(), 1);
    downloader->start();
    QTest::qWait(500);
    QCOMPARE(fx.routeCount("GetKeysAndUrlByLid"), 0);
    QCOMPARE(stateOf("1013"), qint32(Chosen));

    downloader->setStart(true);
    QTRY_COMPARE_WITH_TIMEOUT(stateOf("1013"), qint32(Complete), 5000);
    QCOMPARE(filesUnder(lesson.dir, ".ts").size(), 5);
    QTRY_COMPARE(shutdowns.load(), 1);
}

void TestDownloader::outageEndsWithTheLessonDone()
{
    QVERIFY(fx.school.addFault({{"route", "/stream/m1013/seg*"}, {"latency", 300}}));
    auto downloader = makeDownloader();
    QSignalSpy waiting(downloader.get(), &Downloader::lessonWaiting);
    downloader->start();
    downloader->addCourse(chosen({"1013", "1014"}));
    const QString dir = lessonDir("1013");
    QTRY_VERIFY_WITH_TIMEOUT(filesUnder(dir, ".ts").size() >= 1, 5000);
    const QStringList before = filesUnder(dir, ".ts");
    // The school goes away (connections refused) and comes back on the same ports.
    QVERIFY(fx.school.restart(2500));
    QVERIFY(fx.school.addFault({{"route", "/stream/m1013/seg*"}, {"latency", 300}}));
    QTRY_COMPARE_WITH_TIMEOUT(stateOf("1013"), qint32(Complete), 15000);
    QTRY_COMPARE_WITH_TIMEOUT(stateOf("1014"), qint32(Complete), 15000);
    QVERIFY(!waiting.isEmpty());
    QCOMPARE(waiting.first().at(1).toBool(), true);
    QTRY_VERIFY(!downloader->isWaiting(dir));
    // What was stored before the outage is not fetched again.
    const QHash<QString, int> after = fx.segmentRequests("m1013");
    for (const QString& file : before) {
        QCOMPARE(after.value(QFileInfo(file).fileName()), 0);
    }
}

void TestDownloader::storedCourseKeepsItsFolders()
{
    auto downloader = makeDownloader();
    downloader->start();
    downloader->addCourse(chosen({"1013"}));
    QTRY_COMPARE_WITH_TIMEOUT(stateOf("1013"), qint32(Complete), 10000);
    const QString courseDir = downloader->findCourse("101")->dir;
    downloader.reset();

    // The user picks another download folder; the course is added again, freshly built.
    const QString oldVideo = video;
    video = temp->path() + "/other";
    QVERIFY(QDir().mkpath(video));
    downloader = makeDownloader();
    downloader->start();
    downloader->addCourse(chosen({"1014"}));
    QCOMPARE(downloader->findCourse("101")->dir, courseDir);
    QVERIFY(lessonDir("1014").startsWith(courseDir + "/"));
    QTRY_COMPARE_WITH_TIMEOUT(stateOf("1014"), qint32(Complete), 10000);
    QCOMPARE(stateOf("1013"), qint32(Complete));
    QCOMPARE(filesUnder(lessonDir("1014"), ".ts").size(),
             LessonFixture::segmentNames("m1014").size());
    QVERIFY(LessonFixture::entries(video).isEmpty());
    QVERIFY(courseDir.startsWith(oldVideo + "/"));
}

void TestDownloader::userSwitchDuringADownload()
{
    QVERIFY(fx.school.addFault({{"route", "/stream/*/seg*"}, {"latency", 400}}));
    auto downloader = makeDownloader();
    downloader->start();
    downloader->addCourse(chosen({"1013"}));
    const QString dir = lessonDir("1013");
    QTRY_VERIFY_WITH_TIMEOUT(!filesUnder(dir, ".part").isEmpty(), 5000);

    UserRecord other;
    other.username = "13800000002";
    other.loginTime = QDateTime::currentDateTime();
    downloader->switchUser(other);
    QVERIFY(library->courses().isEmpty());
    QVERIFY(library->queue().isEmpty());
    QVERIFY(downloader->currentLesson().isEmpty());
    // The lesson in flight stopped: nothing half-written stays, nothing more is asked for.
    QCOMPARE(filesUnder(dir, ".part").size(), 0);
    const int requests = fx.routeCount("segment");
    QTest::qWait(1000);
    QCOMPARE(fx.routeCount("segment"), requests);

    // The first user's record kept the lesson queued; logging back in brings it back.
    UserRecord first;
    first.username = LessonFixture::user;
    first.loginTime = QDateTime::currentDateTime();
    downloader->switchUser(first);
    QCOMPARE(stateOf("1013"), qint32(Chosen));
    QTRY_COMPARE_WITH_TIMEOUT(stateOf("1013"), qint32(Complete), 15000);
}

void TestDownloader::noCompletionWithoutADownload_data()
{
    QTest::addColumn<QString>("how");
    QTest::newRow("the only lesson in flight deleted") << "delete";
    QTest::newRow("a switch away from a downloading user") << "switch";
    QTest::newRow("every lesson failed") << "fail";
}

void TestDownloader::noCompletionWithoutADownload()
{
    QFETCH(QString, how);
    if (how == "fail") {
        QVERIFY(fx.school.addFault({{"route", "*/GetKeysAndUrlByLid/*"}, {"status", 404}}));
    } else {
        QVERIFY(fx.school.addFault({{"route", "/stream/*/seg*"}, {"latency", 400}}));
    }
    auto downloader = makeDownloader();
    QSignalSpy done(downloader.get(), &Downloader::allDone);
    downloader->start();
    downloader->addCourse(
        chosen(how == "fail" ? QStringList{"1013", "1014"} : QStringList{"1013"}));
    if (how == "fail") {
        QTRY_COMPARE_WITH_TIMEOUT(stateOf("1014"), qint32(Failed), 5000);
        QCOMPARE(stateOf("1013"), qint32(Failed));
    } else {
        QTRY_VERIFY_WITH_TIMEOUT(!filesUnder(lessonDir("1013"), ".part").isEmpty(), 5000);
        if (how == "delete") {
            downloader->deleteDownloading({lessonDir("1013")});
        } else {
            UserRecord other;
            other.username = "13800000002";
            other.loginTime = QDateTime::currentDateTime();
            downloader->switchUser(other);
        }
    }
    QVERIFY(queueSize() == 0);
    QTest::qWait(800);
    QCOMPARE(done.size(), 0);
    QCOMPARE(shutdowns.load(), 0);
}

void TestDownloader::forgottenSessionWaitsForTheNextLogin()
{
    // The key-and-address call is signed with the library's session of the moment.
    URLManager urls([this] { return library->sid(); });
    library->setSid(fx.sid);
    QVERIFY(fx.school.addFault({{"route", "/stream/*/seg*"}, {"latency", 300}}));
    auto downloader = makeDownloader(true, [&urls](const LessonRecord& lesson) {
        return urls.getKeysAndUrlByLidUrl(lesson.courseId, lesson.id, lesson.c_type);
    });
    QSignalSpy errors(downloader.get(), &Downloader::downloadError);
    QSignalSpy lost(downloader.get(), &Downloader::sessionLost);
    downloader->start();
    CourseRecord course = chosen({"1013", "1014"});
    // The stored address carries a session the school never knew, as a queue restored from
    // an older record would.
    QString& stored = LessonFixture::lesson(course, "1013")->keyUrl;
    QVERIFY(stored.replace("key=" + fx.sid, "key=stale").contains("key=stale"));
    downloader->addCourse(course);
    const QString dir = lessonDir("1013");
    QTRY_VERIFY_WITH_TIMEOUT(!filesUnder(dir, ".ts").isEmpty(), 5000);

    // The school restarts and keeps no session: the lesson in flight loses its connections,
    // and asking again for its stream is answered "请先登录".
    QVERIFY(fx.school.forgetSessions());
    QVERIFY(fx.school.restart(300));
    QVERIFY(fx.school.addFault({{"route", "/stream/*/seg*"}, {"latency", 300}}));
    QTRY_VERIFY_WITH_TIMEOUT(!lost.isEmpty(), 10000);
    QVERIFY(downloader->isWaiting(dir));
    // Waiting costs the school nothing: neither the lost lesson nor the one queued behind it
    // is asked for again before a login, however long the student stays away.
    QVERIFY(fx.school.resetStats());
    QTest::qWait(30000);
    const int asked = fx.school.stats()["routes"].toObject()["GetKeysAndUrlByLid"].toInt();
    QVERIFY2(asked <= 1, qPrintable(QString("%1 key-and-address calls while waiting").arg(asked)));
    QCOMPARE(stateOf("1013"), qint32(Chosen));
    QCOMPARE(queueSize(), 2);
    QVERIFY(errors.isEmpty());

    // The next login: a new session, and the lesson goes on by itself.
    QVERIFY(fx.school.clearFaults());
    QVERIFY(fx.school.bindSession("second-session", LessonFixture::user));
    UserRecord again = library->session();
    again.sid = "second-session";
    downloader->switchUser(again);
    QTRY_COMPARE_WITH_TIMEOUT(stateOf("1013"), qint32(Complete), 15000);
    QTRY_COMPARE_WITH_TIMEOUT(stateOf("1014"), qint32(Complete), 15000);
    QVERIFY(errors.isEmpty());
}

void TestDownloader::sameTitlesKeepTheirOwnFolders()
{
    auto downloader = makeDownloader();
    downloader->start();
    // Two courses of one title, each with two lessons of one title.
    CourseRecord first = chosen({"1013", "1014"});
    CourseRecord second = first;
    second.id = "999";
    for (LessonRecord& lesson : second.list) {
        lesson.courseId = second.id;
    }
    for (CourseRecord* course : {&first, &second}) {
        LessonFixture::lesson(*course, "1014")->title =
            LessonFixture::lesson(*course, "1013")->title;
    }
    downloader->addCourse(first);
    downloader->addCourse(second);
    QTRY_COMPARE_WITH_TIMEOUT(queueSize(), 0, 20000);

    QSet<QString> dirs;
    for (const CourseRecord& course : library->courses()) {
        for (const LessonRecord& lesson : course.list) {
            if (lesson.state == Complete) {
                dirs.insert(lesson.dir);
                const QString media = lesson.id == "1013" ? "m1013" : "m1014";
                for (const QString& name : LessonFixture::segmentNames(media)) {
                    QCOMPARE(LessonFixture::read(lesson.dir + "/" + name),
                             LessonFixture::read(LessonFixture::mediaFile(media, name)));
                }
            }
        }
    }
    QCOMPARE(dirs.size(), 4);

    // Deleting one of the two courses leaves every file of the other.
    const QString firstDir = downloader->findCourse(first.id)->dir;
    const CourseRecord kept = *downloader->findCourse(second.id);
    downloader->deleteDownloaded({firstDir});
    QStringList left = LessonFixture::entries(firstDir);
    left.removeAll("thumb.jpg"); // the picture stays, if it has come yet
    QVERIFY2(left.isEmpty(), qPrintable(left.join(", ")));
    int lessons = 0;
    for (const LessonRecord& lesson : kept.list) {
        if (lesson.state != Complete) {
            continue;
        }
        ++lessons;
        const QString media = lesson.id == "1013" ? "m1013" : "m1014";
        for (const QString& name : LessonFixture::segmentNames(media)) {
            QCOMPARE(LessonFixture::read(lesson.dir + "/" + name),
                     LessonFixture::read(LessonFixture::mediaFile(media, name)));
        }
    }
    QCOMPARE(lessons, 2);
    QCOMPARE(downloader->findCourse(second.id)->list, kept.list);
}

void TestDownloader::damagedRecordIsToldWithItsCopy()
{
    const QString path = store->recordPath(LessonFixture::user);
    QVERIFY(QDir().mkpath(QFileInfo(path).absolutePath()));
    QFile file(path);
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write("not a record"); // 12 bytes: no whole cipher block
    file.close();
    settings.insert("APP/LASTUSER", LessonFixture::user);

    auto downloader = makeDownloader(false);
    QSignalSpy damaged(downloader.get(), &Downloader::recordDamaged);
    QVERIFY(!downloader->loadStore());
    QCOMPARE(damaged.size(), 1);
    QCOMPARE(damaged.first().first().toString(),
             QStringLiteral("下载记录已损坏，已另存为 ") + path + ".bad");
    QCOMPARE(LessonFixture::read(path + ".bad"), QByteArray("not a record"));
}

void TestDownloader::lostRecordIsRebuiltFromTheFolders_data()
{
    QTest::addColumn<bool>("damaged");
    QTest::newRow("damaged") << true;
    QTest::newRow("lost") << false;
}

void TestDownloader::lostRecordIsRebuiltFromTheFolders()
{
    QFETCH(bool, damaged);
    auto downloader = makeDownloader();
    downloader->start();
    downloader->addCourse(chosen({"1013", "1014"}));
    QTRY_COMPARE_WITH_TIMEOUT(stateOf("1014"), qint32(Complete), 15000);
    QTRY_COMPARE(stateOf("1013"), qint32(Complete));
    CourseRecord before = library->courses().first();
    downloader.reset();
    // One of the two lessons cut short on disk: only the whole one comes back.
    QVERIFY(QFile::resize(lessonDir("1014") + "/seg00001.ts", 100));

    const QString path = store->recordPath(LessonFixture::user);
    if (damaged) {
        QFile file(path);
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write("not a record");
    } else {
        QVERIFY(QFile::remove(path));
    }
    settings.insert("APP/LASTUSER", LessonFixture::user);
    library->replace(UserRecord());
    downloader = makeDownloader(false);
    QSignalSpy told(downloader.get(), &Downloader::recordDamaged);
    QVERIFY(!downloader->loadStore());
    const QString found = QStringLiteral("已从下载目录找回 1 个已缓存的课件");
    QCOMPARE(told.size(), 1);
    QCOMPARE(told.first().first().toString(),
             damaged ? QString("下载记录已损坏，已另存为 " + path + ".bad；" + found)
                     : QString("下载记录丢失，" + found));

    // The next login of the student finds the course downloaded, in its folder.
    UserRecord session;
    session.username = LessonFixture::user;
    session.loginTime = QDateTime::currentDateTime();
    downloader->switchUser(session);
    QCOMPARE(told.size(), 1);
    QCOMPARE(library->courses().size(), 1);
    QCOMPARE(library->courses().first().dir, before.dir);
    QCOMPARE(library->courses().first().title, before.title);
    QCOMPARE(stateOf("1013"), qint32(Complete));
    QCOMPARE(lessonDir("1013"), LessonFixture::lesson(before, "1013")->dir);
    QCOMPARE(stateOf("1014"), qint32(NotChosen));
    QCOMPARE(queueSize(), 0);
}

void TestDownloader::unwritableRecordIsToldOncePerCause()
{
    // A regular file where the user's folder belongs: no record can be written below it, even
    // as root.
    const QString userDir = store->userDir(LessonFixture::user);
    const auto block = [&] {
        QVERIFY(QDir().mkpath(QFileInfo(userDir).absolutePath()));
        QFile file(userDir);
        QVERIFY(file.open(QIODevice::WriteOnly));
    };
    block();
    auto downloader = makeDownloader(false);
    QSignalSpy failed(downloader.get(), &Downloader::storageFailed);
    QVERIFY(!downloader->saveStore());
    QVERIFY(!downloader->saveStore());
    QVERIFY(!downloader->saveStore());
    QCOMPARE(failed.size(), 1);
    const QString prefix = QStringLiteral("下载记录无法保存：");
    const QString message = failed.first().first().toString();
    // The system's reason for ENOTDIR.
    QCOMPARE(message, prefix + qt_error_string(ENOTDIR));

    QVERIFY(QFile::remove(userDir));
    QVERIFY(downloader->saveStore());
    QCOMPARE(failed.size(), 1);

    // After a success the same failure is news again.
    QVERIFY(QDir(userDir).removeRecursively());
    block();
    QVERIFY(!downloader->saveStore());
    QCOMPARE(failed.size(), 2);
}

void TestDownloader::storedLessonsComeBackAfterALostRecord_data()
{
    QTest::addColumn<bool>("earlier");
    QTest::newRow("folders of this version") << false;
    // Named by the titles alone.
    QTest::newRow("folders of earlier versions") << true;
}

void TestDownloader::storedLessonsComeBackAfterALostRecord()
{
    QFETCH(bool, earlier);
    if (earlier) {
        CourseRecord course = chosen({"1013", "1014"});
        course.dir = video + "/" + md5(course.title);
        UserRecord user = library->record();
        for (LessonRecord& lesson : course.list) {
            lesson.dir = course.dir + "/" + md5(lesson.title);
            if (lesson.state == Chosen) {
                user.queue.append(lesson);
            }
        }
        user.courses = {course};
        library->replace(user);
    }
    QString courseDir;
    QString dir1013;
    {
        auto downloader = makeDownloader();
        downloader->start();
        if (!earlier) {
            downloader->addCourse(chosen({"1013", "1014"}));
        }
        QTRY_COMPARE_WITH_TIMEOUT(stateOf("1014"), qint32(Complete), 15000);
        QTRY_COMPARE_WITH_TIMEOUT(stateOf("1013"), qint32(Complete), 15000);
        courseDir = downloader->findCourse("101")->dir;
        dir1013 = lessonDir("1013");
        // 1014 lost a segment: it is not whole.
        QVERIFY(
            QFile::remove(lessonDir("1014") + "/" + LessonFixture::segmentNames("m1014").at(1)));
    }
    // The record is lost; the session comes in again with a fresh one.
    QVERIFY(QFile::remove(store->recordPath(LessonFixture::user)));
    UserRecord session = library->session();
    library->replace(session);
    QVERIFY(fx.school.resetStats());

    auto downloader = makeDownloader();
    downloader->start();
    // What the page builds from the school's answer and hands to the dialog.
    CourseRecord page = fx.course("101");
    QCOMPARE(StoredLesson::recover(page, downloader->downloadRoots(), cipher), 1);
    QCOMPARE(page.dir, courseDir);
    QCOMPARE(LessonFixture::lesson(page, "1013")->state, qint32(Complete));
    QCOMPARE(LessonFixture::lesson(page, "1013")->dir, dir1013);
    QCOMPARE(LessonFixture::lesson(page, "1014")->state, qint32(NotChosen));
    downloader->fileRecovered(page);
    QCOMPARE(queueSize(), 0);
    UserRecord stored;
    QCOMPARE(store->load(LessonFixture::user, stored), CourseStore::LoadResult::Loaded);
    QCOMPARE(LessonFixture::lesson(stored.courses[0], "1013")->state, qint32(Complete));
    QVERIFY(fx.segmentRequests("m1013").isEmpty());
}

void TestDownloader::heldLessonLetsTheNextOneRun()
{
    QVERIFY(fx.school.addFault({{"route", "/stream/m1013/seg*"}, {"latency", 400}}));
    auto downloader = makeDownloader();
    downloader->start();
    downloader->addCourse(chosen({"1013", "1014"}));
    const QString dir1013 = lessonDir("1013");
    QTRY_VERIFY_WITH_TIMEOUT(!filesUnder(dir1013, ".part").isEmpty(), 5000);
    downloader->setLessonPaused(dir1013, true);
    QTRY_COMPARE_WITH_TIMEOUT(stateOf("1014"), qint32(Complete), 10000);
    QCOMPARE(stateOf("1013"), qint32(Chosen));
    QVERIFY(filesUnder(dir1013, ".ts").size() < 5);
    // The hold is kept with the record, written just after the lesson's state has changed.
    UserRecord stored;
    QTRY_VERIFY(store->load(LessonFixture::user, stored) == CourseStore::LoadResult::Loaded &&
                stored.queue.size() == 1);
    QVERIFY(stored.queue.first().paused);
    QCOMPARE(shutdowns.load(), 0); // a held lesson is still to come

    downloader->setLessonPaused(dir1013, false);
    QTRY_COMPARE_WITH_TIMEOUT(stateOf("1013"), qint32(Complete), 10000);
    QTRY_COMPARE(shutdowns.load(), 1);
}

void TestDownloader::progressCountsBytesInFlight()
{
    // 20 KB/s: the first segment takes seconds to be whole.
    QVERIFY(fx.school.addFault({{"route", "/stream/m1013/seg*"}, {"rate", 20000}}));
    auto downloader = makeDownloader();
    bool beforeAnySegment = false;
    float last = 0;
    bool backwards = false;
    connect(downloader.get(), &Downloader::refreshProgress, this, [&](QString dir, float size) {
        backwards = backwards || size < last;
        last = size;
        beforeAnySegment = beforeAnySegment || (size > 0 && filesUnder(dir, ".ts").isEmpty());
    });
    downloader->start();
    downloader->addCourse(chosen({"1013"}));
    QTRY_VERIFY_WITH_TIMEOUT(beforeAnySegment, 10000);
    downloader->deleteDownloading({lessonDir("1013")});
    QVERIFY(!backwards);
}

void TestDownloader::limitChangesTheLessonInFlight()
{
    // The school sends 200 KB/s: without a limit the 608 KB lesson takes about 3 s.
    QVERIFY(fx.school.addFault({{"route", "/stream/m1013/seg*"}, {"rate", 200000}}));
    auto downloader = makeDownloader();
    float kb = 0;
    connect(downloader.get(), &Downloader::refreshProgress, this,
            [&](QString, float size) { kb = size; });
    downloader->start();
    downloader->addCourse(chosen({"1013"}));
    QTRY_VERIFY_WITH_TIMEOUT(kb >= 50, 5000);

    // 32 KB/s from an empty allowance: at most 64 KB in 2 s, where the school would send 400.
    downloader->setRateLimit(32 * 1024);
    QTest::qWait(200);
    const float before = kb;
    QTest::qWait(2000);
    const float grown = kb - before;
    QVERIFY2(grown >= 16 && grown < 128, qPrintable(QString::number(grown)));
    QCOMPARE(stateOf("1013"), qint32(Chosen));

    // Lifted: the rest (over 400 KB, 13 s at 32 KB/s) comes at the school's pace.
    downloader->setRateLimit(0);
    QTRY_COMPARE_WITH_TIMEOUT(stateOf("1013"), qint32(Complete), 6000);
    for (const QString& name : LessonFixture::segmentNames("m1013")) {
        QCOMPARE(LessonFixture::read(lessonDir("1013") + "/" + name),
                 LessonFixture::read(LessonFixture::mediaFile("m1013", name)));
    }
}

void TestDownloader::timeLeftIsSmoothedAndToldOnceSteady()
{
    LessonProgress lesson;
    // 100 KB/s of a 10 MB (10240 KB) lesson, a report a second.
    for (int s = 0; s <= 9; ++s) {
        lesson.report(s * 1000, float(s * 100), 10, 100);
    }
    QCOMPARE(lesson.remainingSeconds(), -1); // watched for 9 s only
    lesson.report(10000, 1000, 10, 100);
    QCOMPARE(lesson.remainingSeconds(), 93); // (10240 - 1000) / 100 = 92.4
    // One second at 200 KB/s: 100 + (1 - e^-0.1) × 100 = 109.52 KB/s; 9040 / 109.52 = 82.5.
    lesson.report(11000, 1200, 10, 200);
    QCOMPARE(lesson.remainingSeconds(), 83);
    // A report behind what was stored (a segment given up) changes nothing shown.
    lesson.report(12000, 900, 0, 0);
    QCOMPARE(lesson.sizeKB(), 1200.0f);
    QCOMPARE(lesson.totalMB(), 10.0f);
    lesson.interrupt();
    lesson.report(13000, 1300, 10, 100);
    QCOMPARE(lesson.remainingSeconds(), -1);
    QCOMPARE(LessonProgress::remainingText(3725), QString("剩余 1:02:05"));
}

void TestDownloader::timeLeftFollowsWhatArrives()
{
    LessonProgress lesson;
    // A 1 MB (1024 KB) lesson over a 4 KB/s line, a report a second.
    for (int s = 0; s <= 10; ++s) {
        lesson.report(s * 1000, float(s * 4), 1, 4);
    }
    QCOMPARE(lesson.remainingSeconds(), 246); // (1024 - 40) / 4
    // A segment comes again: the bytes still arrive at 4 KB/s, the count stands at 40 KB for
    // five seconds, then leaps to 64 KB. The time left neither climbs nor drops with it.
    for (int s = 11; s <= 15; ++s) {
        lesson.report(s * 1000, 40, 1, 4);
        QCOMPARE(lesson.remainingSeconds(), 246);
    }
    lesson.report(16000, 64, 1, 4);
    QCOMPARE(lesson.remainingSeconds(), 240); // (1024 - 64) / 4
    // The line slows to 2 KB/s: 4 + (1 - e^-0.1) × (2 - 4) = 3.8097 KB/s; 958 / 3.8097 = 251.5.
    lesson.report(17000, 66, 1, 2);
    QCOMPARE(lesson.remainingSeconds(), 252);
}

QTEST_GUILESS_MAIN(TestDownloader)
#include "tst_downloader.moc"
