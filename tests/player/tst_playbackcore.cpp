// The playback core without a window: course order, the end of a lesson in the store, the
// countdown and where the window opens.
#include "BookmarkStore.h"
#include "CourseLibrary.h"
#include "CourseOrder.h"
#include "CourseStore.h"
#include "Downloader.h"
#include "FileCipher.h"
#include "LessonCountdown.h"
#include "PlaybackSession.h"
#include "WatchProgress.h"
#include "WindowPlacement.h"

#include <QtTest>
#include <memory>

class TestPlaybackCore : public QObject
{
    Q_OBJECT
private slots:
    void init();
    void courseOrder_data();
    void courseOrder();
    void endOfLessonIsStored();
    void endActionFollowsTheSetting_data();
    void endActionFollowsTheSetting();
    void countdownStartsOnce();
    void placement_data();
    void placement();
    void watchedText_data();
    void watchedText();
    void bookmarksSurviveARestart();
    void damagedBookmarksKeptAndTold_data();
    void damagedBookmarksKeptAndTold();
    void exportMatchesTheHandWrittenFile();

private:
    LessonRecord lesson(const QString& id, qint32 level, qint32 state, bool withPlaylist);
    void startDownloader();

    std::unique_ptr<QTemporaryDir> temp;
    FileCipher cipher = FileCipher::programCipher();
    std::unique_ptr<CourseStore> store;
    std::unique_ptr<CourseLibrary> library;
    std::unique_ptr<Downloader> downloader;
};

void TestPlaybackCore::init()
{
    downloader.reset();
    temp = std::make_unique<QTemporaryDir>();
    store = std::make_unique<CourseStore>(temp->path() + "/user", cipher);
    library = std::make_unique<CourseLibrary>(store.get());
}

void TestPlaybackCore::startDownloader()
{
    Downloader::Context context;
    context.library = library.get();
    context.store = store.get();
    context.cipher = &cipher;
    context.setting = [](const QString&) {
        return QString();
    };
    context.videoPath = temp->path() + "/video";
    context.userRoot = temp->path() + "/user";
    downloader = std::make_unique<Downloader>(std::move(context));
}

LessonRecord TestPlaybackCore::lesson(const QString& id, qint32 level, qint32 state,
                                      bool withPlaylist)
{
    LessonRecord l;
    l.courseId = "7";
    l.id = id;
    l.level = level;
    l.state = state;
    l.title = "课件 " + id;
    l.dir = temp->filePath("video/" + id);
    if (withPlaylist) {
        QDir().mkpath(l.dir);
        QFile file(l.dir + "/00000.ls");
        file.open(QIODevice::WriteOnly);
        file.write("x");
    }
    return l;
}

// Course: 0 chapter, 1 downloaded, 2 failed, 3 downloaded but its folder gone, 4 section,
// 5 downloaded, 6 not chosen.
void TestPlaybackCore::courseOrder_data()
{
    QTest::addColumn<int>("source");
    QTest::addColumn<int>("from");
    QTest::addColumn<int>("previous");
    QTest::addColumn<int>("next");
    QTest::newRow("stored, first") << int(CourseOrder::Stored) << 1 << -1 << 5;
    QTest::newRow("stored, last") << int(CourseOrder::Stored) << 5 << 1 << -1;
    QTest::newRow("online skips headings") << int(CourseOrder::Online) << 3 << 2 << 5;
    QTest::newRow("online, last") << int(CourseOrder::Online) << 6 << 5 << -1;
    QTest::newRow("out of the list") << int(CourseOrder::Stored) << 9 << -1 << -1;
}

void TestPlaybackCore::courseOrder()
{
    CourseRecord course;
    course.id = "7";
    course.list = {lesson("0", 1, NotChosen, false), lesson("1", 3, Complete, true),
                   lesson("2", 3, Failed, true),     lesson("3", 3, Complete, false),
                   lesson("4", 2, NotChosen, false), lesson("5", 3, Complete, true),
                   lesson("6", 3, NotChosen, false)};
    QFETCH(int, source);
    QFETCH(int, from);
    const CourseOrder order(course, CourseOrder::Source(source));
    QTEST(order.previous(from), "previous");
    QTEST(order.next(from), "next");
}

// A lesson played to its end: position back to "0", watched, its length kept, all in the record
// file that the next start reads; a later save of the end position does not undo it.
void TestPlaybackCore::endOfLessonIsStored()
{
    CourseRecord course;
    course.id = "7";
    course.list = {lesson("1", 3, Complete, true), lesson("2", 3, Complete, true)};
    course.list[0].watchtimes = "5";
    UserRecord user;
    user.username = "13800000001";
    user.courses = {course};
    library->replace(user);
    startDownloader();
    bool resume = true;
    PlaybackSession session(downloader.get(), nullptr, [&resume] { return resume; });
    session.chooseFolder(course.list[0].dir);
    QCOMPARE(session.started(), 5);
    QCOMPARE(session.nextIndex(), 1);
    session.savePosition(6000, 6400, false);
    session.finish(6400);
    session.savePosition(6400, 6400, false); // the window's close after the end
    QVERIFY(session.isFinished());

    UserRecord stored;
    QCOMPARE(CourseStore(temp->path() + "/user", cipher).load("13800000001", stored),
             CourseStore::LoadResult::Loaded);
    const LessonRecord& first = stored.courses.first().list.first();
    QCOMPARE(first.watchtimes, QString("0"));
    QVERIFY(first.watched);
    QCOMPARE(first.lengthSeconds, 6);
    QVERIFY(!stored.courses.first().list.last().watched);
    QCOMPARE(stored.lastLesson, QString("1"));

    // Played again from the start it stays watched; the jump is to nowhere.
    session.chooseFolder(course.list[0].dir);
    QCOMPARE(session.started(), -1);
}

void TestPlaybackCore::endActionFollowsTheSetting_data()
{
    QTest::addColumn<bool>("hasNext");
    QTest::addColumn<bool>("autoPlay");
    QTest::addColumn<int>("action");
    QTest::newRow("next, on") << true << true << int(PlaybackSession::CountDown);
    QTest::newRow("next, off") << true << false << int(PlaybackSession::StayOnEnd);
    QTest::newRow("last, on") << false << true << int(PlaybackSession::CourseDone);
    QTest::newRow("last, off") << false << false << int(PlaybackSession::CourseDone);
}

void TestPlaybackCore::endActionFollowsTheSetting()
{
    QFETCH(bool, hasNext);
    QFETCH(bool, autoPlay);
    QTEST(int(PlaybackSession::endAction(hasNext, autoPlay)), "action");
}

// "立即播放" pressed while the count reaches zero, and again, and "取消" after: one start.
void TestPlaybackCore::countdownStartsOnce()
{
    LessonCountdown::setStepMs(20);
    LessonCountdown countdown;
    QSignalSpy fired(&countdown, &LessonCountdown::fired);
    QSignalSpy ticks(&countdown, &LessonCountdown::ticked);
    countdown.start(3);
    QTRY_COMPARE(fired.size(), 1);
    countdown.playNow();
    countdown.playNow();
    countdown.cancel();
    QTest::qWait(100);
    QCOMPARE(fired.size(), 1);
    QCOMPARE(ticks.size(), 3); // 3, 2, 1

    countdown.start(3);
    countdown.cancel();
    QTest::qWait(100);
    QCOMPARE(fired.size(), 1);
    LessonCountdown::setStepMs(1000);
}

void TestPlaybackCore::placement_data()
{
    QTest::addColumn<QRect>("remembered");
    QTest::addColumn<QRect>("mainWindow");
    QTest::addColumn<QList<QRect>>("screens");
    QTest::addColumn<QPoint>("topLeft");
    const QList<QRect> one{QRect(0, 0, 1920, 1080)};
    const QList<QRect> two{QRect(0, 0, 1920, 1080), QRect(1920, 0, 1280, 1024)};
    // Size 854 x 560 throughout.
    QTest::newRow("over the main window")
        << QRect() << QRect(100, 100, 1000, 700) << one << QPoint(172, 169);
    QTest::newRow("remembered on the second screen")
        << QRect(2000, 100, 854, 560) << QRect(100, 100, 1000, 700) << two << QPoint(2000, 100);
    QTest::newRow("remembered screen gone")
        << QRect(2000, 100, 854, 560) << QRect(100, 100, 1000, 700) << one << QPoint(172, 169);
    QTest::newRow("main window at the edge")
        << QRect() << QRect(1500, 900, 400, 300) << one << QPoint(1066, 520);
    QTest::newRow("no main window") << QRect() << QRect() << one << QPoint(532, 259);
}

void TestPlaybackCore::placement()
{
    QFETCH(QRect, remembered);
    QFETCH(QRect, mainWindow);
    QFETCH(QList<QRect>, screens);
    QTEST(WindowPlacement::topLeft(QSize(854, 560), remembered, mainWindow, screens), "topLeft");
    QCOMPARE(WindowPlacement::fromText(WindowPlacement::toText(QRect(-5, 7, 854, 560))),
             QRect(-5, 7, 854, 560));
}

void TestPlaybackCore::watchedText_data()
{
    QTest::addColumn<QString>("position");
    QTest::addColumn<int>("length");
    QTest::addColumn<bool>("watched");
    QTest::addColumn<QString>("text");
    QTest::newRow("never opened") << QString() << 0 << false << QString();
    QTest::newRow("length unknown") << "300" << 0 << false << QString();
    QTest::newRow("a third") << "140" << 420 << false << "已学 33%";
    QTest::newRow("in the last second") << "419" << 420 << false << "已学 99%";
    QTest::newRow("watched, back at 0") << "0" << 420 << true << "已学完";
    QTest::newRow("damaged position") << "abc" << 420 << false << QString();
}

void TestPlaybackCore::watchedText()
{
    LessonRecord lesson;
    QFETCH(QString, position);
    QFETCH(int, length);
    QFETCH(bool, watched);
    lesson.watchtimes = position;
    lesson.lengthSeconds = length;
    lesson.watched = watched;
    QTEST(WatchProgress::lessonText(lesson), "text");
}

void TestPlaybackCore::bookmarksSurviveARestart()
{
    const QString folder = temp->filePath("data");
    {
        BookmarkStore store(folder, "13800000001");
        QVERIFY(store.load());
        store.add("102", "1022", 90, "第二段\n重点");
        const int late = store.add("102", "1022", 300);
        store.add("102", "1022", 10, QString(600, QChar(0x4e2d)));
        const int gone = store.add("102", "1022", 200, "删掉");
        store.add("102", "1027", 5, "另一讲");
        QVERIFY(store.setNote("102", "1022", late, "结论"));
        QVERIFY(store.remove("102", "1022", gone));
        QVERIFY(!store.remove("102", "1022", gone));
    }
    BookmarkStore again(folder, "13800000001");
    QSignalSpy damage(&again, &BookmarkStore::damaged);
    QVERIFY(again.load());
    QCOMPARE(damage.size(), 0);
    const QList<Bookmark> marks = again.bookmarks("102", "1022");
    QCOMPARE(marks.size(), 3);
    QCOMPARE(marks.at(0).seconds, 10);
    QCOMPARE(marks.at(0).note, QString(500, QChar(0x4e2d)));
    QCOMPARE(marks.at(1).note, QString("第二段 重点"));
    QCOMPARE(marks.at(2).seconds, 300);
    QCOMPARE(marks.at(2).note, QString("结论"));
    QCOMPARE(again.bookmarks("102", "1027").size(), 1);
    // Another user's file is another file.
    BookmarkStore other(folder, "13900000000");
    QVERIFY(other.load());
    QVERIFY(other.bookmarks("102", "1022").isEmpty());
}

void TestPlaybackCore::damagedBookmarksKeptAndTold_data()
{
    QTest::addColumn<QByteArray>("bytes");
    QTest::newRow("cut short") << QByteArray(R"({"version":1,"lessons":[{"course":"1)");
    QTest::newRow("a later version") << QByteArray(R"({"version":9,"lessons":[]})");
    QTest::newRow("no object") << QByteArray("[1,2,3]");
    QTest::newRow("huge") << QByteArray(BookmarkStore::maxFileBytes + 1, ' ');
}

void TestPlaybackCore::damagedBookmarksKeptAndTold()
{
    QFETCH(QByteArray, bytes);
    const QString folder = temp->filePath("data");
    BookmarkStore store(folder, "13800000001");
    QVERIFY(QDir().mkpath(folder));
    for (int round = 1; round <= 2; ++round) {
        QFile file(store.path());
        QVERIFY(file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size());
        file.close();
        QSignalSpy damage(&store, &BookmarkStore::damaged);
        QVERIFY(!store.load());
        QCOMPARE(damage.size(), 1);
        const QString aside = store.path() + (round == 1 ? ".bad" : ".bad-2");
        QVERIFY(damage.at(0).at(0).toString().contains(QDir::toNativeSeparators(aside)));
        QFile kept(aside);
        QVERIFY(kept.open(QIODevice::ReadOnly));
        QVERIFY(kept.readAll() == bytes);
        // Working again: a new bookmark goes into a new file, the kept one stays.
        store.add("102", "1022", 1, "新");
        QCOMPARE(QFileInfo(aside).size(), qint64(bytes.size()));
        QVERIFY(store.load());
        QCOMPARE(store.bookmarks("102", "1022").size(), 1);
    }
}

void TestPlaybackCore::exportMatchesTheHandWrittenFile()
{
    CourseRecord course;
    course.id = "102";
    course.title = "经济法基础冲刺班";
    LessonRecord chapter;
    chapter.id = "1021";
    chapter.title = "第1章 总论法律基础";
    LessonRecord first;
    first.id = "1022";
    first.title = "课件1 法律关系要素";
    LessonRecord second;
    second.id = "1023";
    second.title = "课件2 法律事实分类";
    LessonRecord unmarked;
    unmarked.id = "1026";
    unmarked.title = "课件3 试用期与工资";
    course.list = {chapter, first, second, unmarked};
    BookmarkStore store(temp->filePath("data"), "13800000001");
    store.add("102", "1023", 600, "事件与行为：区分\t要点");
    store.add("102", "1022", 3723, "😀 结束前复习");
    store.add("102", "1022", 5, "主体、客体、内容 %1 <b>");
    store.add("102", "1023", 0);
    store.add("109", "1091", 7, "别的课程");

    const QString target = temp->filePath("笔记.txt");
    QString error;
    QVERIFY2(store.exportTo(course, target, &error), qPrintable(error));
    QFile written(target);
    QFile expected(QFINDTESTDATA("data/bookmarks-export.txt"));
    QVERIFY(written.open(QIODevice::ReadOnly) && expected.open(QIODevice::ReadOnly));
    QCOMPARE(QString::fromUtf8(written.readAll()), QString::fromUtf8(expected.readAll()));
    // Nothing but the chosen file.
    QCOMPARE(QDir(temp->path()).entryList(QDir::Files), QStringList{"笔记.txt"});
}

QTEST_GUILESS_MAIN(TestPlaybackCore)
#include "tst_playbackcore.moc"
