#include "App.h"
#include "CourseLibrary.h"
#include "Downloaded.h"
#include "Downloader.h"
#include "Downloading.h"
#include "FormCourseware.h"
#include "FormDownload.h"
#include "FormMaskBtn.h"
#include "FormPlayer.h"
#include "FormThumbnail.h"
#include "HttpHelper.h"
#include "JsonHelper.h"
#include "Md5.h"
#include "MpvController.h"
#include "SchoolCourse.h"
#include "SchoolProcess.h"
#include "URLManager.h"
#include "UserRecord.h"
#include "XMessageBox.h"

#include <QCheckBox>
#include <QDir>
#include <QLabel>
#include <QMenu>
#include <QPushButton>
#include <QScopeGuard>
#include <QScrollArea>
#include <QScrollBar>
#include <QTemporaryDir>
#include <QtTest>

// Made-up stores for the page's rules; the scheduler runs only for the real download at the
// end, from the stand-in school.
class TestManager : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void cleanup();
    void emptyStoreShowsNoCourse();
    void downloadedCourseIsOneTileWithBadge();
    void queuedLessonsFillRowsOfFive();
    void overlayTexts_data();
    void overlayTexts();
    void overlayFollowsPause();
    void downloadingTabShowsPauseWhileStarted();
    void deleteHandsExactlyTheCheckedCourses();
    void longQueueMakesTilesAsScrolledAndSelectsThemAll();
    void coursewareRows_data();
    void coursewareRows();
    void deleteThenResizeClosesUpOnBothPages();
    void coursewareFollowsLessonsFinishing();
    void editModeBelongsToThePage();
    void pressHoldsOneLessonAndMenuPutsOneFirst();
    void refusedKeyShowsFailureAndRetryBringsItBack();
    void lessonPutAfterAnotherWaitsWithItsBytes();
    void outageKeepsFiguresAndTellsTheNextTry();
    void realDownloadMovesTileAndPlaysLocally();

private:
    CourseRecord makeCourse(const QString& id, int lessons, int state);
    void store(const QList<CourseRecord>& courses, const QList<LessonRecord>& queue = {});
    static QList<int> rowSizes(const QList<FormThumbnail*>& tiles);
    FormThumbnail* downloadingTile(const QString& dir) const;
    static QString storedLessonDir(const QString& courseId, const QString& lessonId);

    SchoolProcess school;
    QStringList asked; // the questions of the message boxes, answered OK
    QTemporaryDir docs;
    QTemporaryDir videos;
    FormDownload* page = nullptr;
};

void TestManager::initTestCase()
{
    QStandardPaths::setTestModeEnabled(true);
    qputenv("TAMIX_MPV_OPTIONS", "ao=null,hwdec=no");
    QVERIFY2(school.start(), qPrintable(school.errorString()));
    QVERIFY(school.bindSession("mgr-a", "13800000001"));
    school.pointClientHere();
    qputenv("TAMIX_DOCUMENTS_DIR", docs.path().toUtf8());
    qputenv("TAMIX_VIDEOS_DIR", videos.path().toUtf8());
    UserRecord session;
    session.sid = "mgr-a";
    session.username = "13800000001";
    App::instance()->library()->setSession(session);
    XMessageBox::setResponder([this](XMessageBox& box) {
        asked.append(box.text());
        return true;
    });
}

void TestManager::init()
{
    App::instance()->downloader()->setStart(false);
    store({});
    asked.clear();
    page = new FormDownload;
    page->resize(1210, 600);
    page->show();
}

void TestManager::cleanup()
{
    // A test that failed half-way leaves no fault for the next one.
    school.clearFaults();
    delete page;
    if (App::instance()->player()) {
        App::instance()->player()->close();
    }
}

// Folders named as the store names them, so that deleting them is allowed.
CourseRecord TestManager::makeCourse(const QString& id, int lessons, int state)
{
    CourseRecord course;
    course.id = id;
    course.title = "课程" + id;
    course.dir = CourseLibrary::courseFolder(App::instance()->videoPath(), course);
    for (int i = 0; i < lessons; ++i) {
        LessonRecord lesson;
        lesson.courseId = id;
        lesson.id = id + "-" + QString::number(i);
        lesson.level = 3;
        lesson.type = "kejian";
        lesson.title = "课件" + QString::number(i + 1);
        lesson.state = state;
        lesson.dir = CourseLibrary::lessonFolder(course.dir, lesson);
        course.list.append(lesson);
    }
    return course;
}

QString TestManager::storedLessonDir(const QString& courseId, const QString& lessonId)
{
    const std::optional<CourseRecord> stored = App::instance()->downloader()->findCourse(courseId);
    for (const LessonRecord& lesson : stored ? stored->list : QList<LessonRecord>()) {
        if (lesson.id == lessonId) {
            return lesson.dir;
        }
    }
    return QString();
}

void TestManager::store(const QList<CourseRecord>& courses, const QList<LessonRecord>& queue)
{
    UserRecord record = App::instance()->session();
    record.courses = courses;
    record.queue = queue;
    App::instance()->library()->replace(record);
    emit App::instance()->downloader()->refreshUI();
}

QList<int> TestManager::rowSizes(const QList<FormThumbnail*>& tiles)
{
    QList<int> sizes;
    int rowTop = -1;
    int left = 0;
    for (const FormThumbnail* tile : tiles) {
        if (tile->y() != rowTop) {
            rowTop = tile->y();
            left = tile->x();
            sizes.append(0);
        }
        // Rows fill from the left, 232 pixels a tile.
        if (tile->x() != left + 232 * sizes.last()) {
            return {-1};
        }
        ++sizes.last();
    }
    return sizes;
}

void TestManager::emptyStoreShowsNoCourse()
{
    QSignalSpy counts(page->downloadedList(), &TileList::listCountChange);
    store({});
    QCOMPARE(counts.count(), 1);
    QCOMPARE(counts.first().first().toInt(), 0);
    QVERIFY(page->downloadedList()->noCourseLabel()->isVisible());
    QCOMPARE(page->downloadedTabSelected()->text(), QString("已缓存"));
    QCOMPARE(page->downloadingTab()->text(), QString("缓存中"));
    QVERIFY(!page->startButton()->isVisible() && !page->pauseButton()->isVisible());
}

void TestManager::downloadedCourseIsOneTileWithBadge()
{
    CourseRecord course = makeCourse("601", 4, Complete);
    course.list[3].state = NotChosen;
    store({course, makeCourse("602", 2, NotChosen)});
    const QList<FormThumbnail*> tiles = page->downloadedList()->tileList();
    QCOMPARE(tiles.size(), 1);
    QCOMPARE(tiles.first()->badgeText(), QString("已缓存3个视频"));
    QCOMPARE(page->downloadedTabSelected()->text(), QString("已缓存（1个课程）"));
    QVERIFY(!page->downloadedList()->noCourseLabel()->isVisible());
}

void TestManager::queuedLessonsFillRowsOfFive()
{
    const CourseRecord course = makeCourse("603", 11, Chosen);
    store({course}, course.list);
    const QList<FormThumbnail*> tiles = page->downloadingList()->tileList();
    QCOMPARE(rowSizes(tiles), QList<int>({5, 5, 1}));
    page->downloadingTab()->click();
    QTest::qWait(0);
    QCOMPARE(tiles.first()->x(), (tiles.first()->parentWidget()->width() - 1160) / 2);
    QCOMPARE(tiles.first()->mode, int(FormThumbnail::LessonQueued));
    QCOMPARE(page->downloadingTab()->text(), QString("缓存中（11个课件）"));
}

void TestManager::overlayTexts_data()
{
    QTest::addColumn<float>("speed");
    QTest::addColumn<float>("size");
    QTest::addColumn<QString>("speedText");
    QTest::addColumn<QString>("sizeText");
    QTest::newRow("MB/s and KB") << 2048.5f << 1023.9f << "2.00MB/s"
                                 << "1023.90KB/123.50MB";
    QTest::newRow("exactly 1024 KB/s") << 1024.0f << 1536.0f << "1024.00KB/s"
                                       << "1.50MB/123.50MB";
}

void TestManager::overlayTexts()
{
    QFETCH(float, speed);
    QFETCH(float, size);
    QFETCH(QString, speedText);
    QFETCH(QString, sizeText);
    QCOMPARE(FormMaskBtn::speedText(speed), speedText);
    QCOMPARE(FormMaskBtn::sizeText(size, 123.5f), sizeText);
}

void TestManager::overlayFollowsPause()
{
    const CourseRecord course = makeCourse("604", 3, Chosen);
    store({course}, course.list);
    const QList<FormThumbnail*> tiles = page->downloadingList()->tileList();
    emit App::instance()->downloader()->refreshProgress(course.list.at(1).dir, 512, 2, 100);
    QCOMPARE(tiles.at(1)->mode, int(FormThumbnail::LessonProgress));
    // 512 KB of 2 MB as the server counts them (1000 KB): 25.6 %, 5760 × 0.256 = 1474.56.
    QCOMPARE(tiles.at(1)->overlay()->pieSpan(), 1474);
    emit App::instance()->downloader()->refreshProgress(course.list.at(2).dir, 0, 2, 0);
    QCOMPARE(tiles.at(2)->overlay()->pieSpan(), 0);
    for (const FormThumbnail* tile : tiles) {
        QCOMPARE(tile->overlay()->statusText(), QString("暂停中"));
    }
    App::instance()->downloader()->setStart(true);
    QCOMPARE(tiles.at(0)->overlay()->statusText(), QString("等待中"));
    QCOMPARE(tiles.at(1)->overlay()->statusText(), QString("100.00KB/s"));
    emit App::instance()->downloader()->downloadError(course.list.at(2).dir);
    QCOMPARE(tiles.at(2)->overlay()->statusText(), QString("缓存失败"));
    // Paused again: the figures stay under "暂停中"; a failed lesson still says so.
    App::instance()->downloader()->setStart(false);
    QCOMPARE(tiles.at(1)->overlay()->statusText(), QString("暂停中"));
    QCOMPARE(tiles.at(1)->overlay()->detailText(), QString("512.00KB/2.00MB"));
    QCOMPARE(tiles.at(2)->overlay()->statusText(), QString("缓存失败"));
}

void TestManager::downloadingTabShowsPauseWhileStarted()
{
    // Empty: the no-course picture, and nothing to start or pause.
    page->downloadingTab()->click();
    QVERIFY(page->downloadingList()->emptyView()->isVisible());
    QVERIFY(!page->startButton()->isVisible() && !page->pauseButton()->isVisible());

    const CourseRecord course = makeCourse("615", 1, Chosen);
    store({course}, course.list);
    QVERIFY(page->startButton()->isVisible());
    App::instance()->downloader()->setStart(true); // started elsewhere
    QVERIFY(page->pauseButton()->isVisible());
    QVERIFY(!page->startButton()->isVisible());
    QVERIFY(page->downloadingList()->isVisible() && !page->downloadedList()->isVisible());
    page->pauseButton()->click();
    QVERIFY(!App::instance()->downloader()->isStart());
    QVERIFY(page->startButton()->isVisible() && !page->pauseButton()->isVisible());
    page->downloadedTab()->click();
    QVERIFY(!page->startButton()->isVisible() && !page->pauseButton()->isVisible());
}

void TestManager::deleteHandsExactlyTheCheckedCourses()
{
    QList<CourseRecord> courses{makeCourse("605", 2, Complete), makeCourse("606", 1, Complete),
                                makeCourse("607", 1, Complete)};
    for (const CourseRecord& course : courses) {
        for (const LessonRecord& lesson : course.list) {
            QVERIFY(QDir().mkpath(lesson.dir));
            QFile media(lesson.dir + "/index.m3u8");
            QVERIFY(media.open(QIODevice::WriteOnly));
        }
    }
    store(courses);
    page->editButton()->click();
    QTest::mouseClick(page->checkAllBox(), Qt::LeftButton, {}, QPoint(6, 6));
    const QList<FormThumbnail*> tiles = page->downloadedList()->tileList();
    QCOMPARE(tiles.size(), 3);
    tiles.at(1)->setChecked(false);
    QVERIFY(!page->checkAllBox()->isChecked());
    QVERIFY(tiles.at(0)->isChecked() && tiles.at(2)->isChecked());
    page->deleteButton()->click();
    QCOMPARE(asked, QStringList{"确定删除所选的 2 个课程\n及其已下载的文件？"});

    QVERIFY(page->editButton()->isVisible() && !page->deleteButton()->isVisible());
    for (const CourseRecord& stored : App::instance()->downloader()->courses()) {
        const bool kept = stored.id == "606";
        QCOMPARE(stored.list.first().state, kept ? qint32(Complete) : qint32(NotChosen));
        QCOMPARE(QFileInfo::exists(stored.list.first().dir + "/index.m3u8"), kept);
    }
    QCOMPARE(page->downloadedList()->tileList().size(), 1);
}

// 200 lessons, 40 rows: the tiles below the view come when scrolled to, and "全选" with
// "删除所选" takes every lesson, whether its tile was made or not.
void TestManager::longQueueMakesTilesAsScrolledAndSelectsThemAll()
{
    const CourseRecord course = makeCourse("620", 200, Chosen);
    store({course}, course.list);
    page->downloadingTab()->click();
    TileList* list = page->downloadingList();
    QCOMPARE(list->count(), 200);
    QVERIFY2(list->tileList().size() < 100, qPrintable(QString::number(list->tileList().size())));
    auto* scroll = list->findChild<QScrollArea*>();
    QVERIFY(scroll);
    scroll->verticalScrollBar()->setValue(scroll->verticalScrollBar()->maximum());
    QCOMPARE(list->tileList().size(), 200);
    QCOMPARE(list->tileList().last()->dir, course.list.last().dir);
    QCOMPARE(rowSizes(list->tileList().mid(195)), QList<int>({5}));

    // Back at the top, a rebuild makes only what is in view again.
    scroll->verticalScrollBar()->setValue(0);
    store({course}, course.list);
    QVERIFY(list->tileList().size() < 100);
    page->editButton()->click();
    QTest::mouseClick(page->checkAllBox(), Qt::LeftButton, {}, QPoint(6, 6));
    page->deleteButton()->click();
    QCOMPARE(asked, QStringList{"确定删除所选的 200 个课件\n及其已下载的文件？"});
    QVERIFY(App::instance()->downloader()->queue().isEmpty());
}

void TestManager::coursewareRows_data()
{
    QTest::addColumn<int>("lessons");
    QTest::addColumn<QList<int>>("rows");
    QTest::newRow("3: room for add-more") << 3 << QList<int>{4};
    QTest::newRow("5: a full row") << 5 << QList<int>{5};
    QTest::newRow("10: two full rows") << 10 << QList<int>{5, 5};
}

void TestManager::coursewareRows()
{
    QFETCH(int, lessons);
    QFETCH(QList<int>, rows);
    CourseRecord course = makeCourse("608", lessons + 1, Complete);
    course.list.last().state = NotChosen;
    store({course});
    FormCourseware courseware;
    courseware.showCourse("608");
    QCOMPARE(courseware.courseTitle(), course.title);
    QCOMPARE(rowSizes(courseware.tileList()), rows);
    const bool addMore = courseware.tileList().last()->mode == FormThumbnail::AddMore;
    QCOMPARE(addMore, lessons % 5 != 0);
    // "全选" checks the lessons and can be checked with an add-more tile present.
    courseware.editButton()->click();
    courseware.checkAllBox()->setChecked(true);
    for (const FormThumbnail* tile : courseware.tileList()) {
        QCOMPARE(tile->isChecked(), tile->mode != FormThumbnail::AddMore);
    }
    courseware.tileList().first()->setChecked(false);
    courseware.tileList().first()->setChecked(true);
    QVERIFY(courseware.checkAllBox()->isChecked());
}

void TestManager::deleteThenResizeClosesUpOnBothPages()
{
    QList<CourseRecord> courses{makeCourse("609", 7, Complete)};
    for (int i = 0; i < 5; ++i) {
        courses.append(makeCourse(QString::number(610 + i), 1, Complete));
    }
    store(courses);
    FormCourseware courseware;
    courseware.resize(1210, 600);
    courseware.show();
    courseware.showCourse("609");
    QCOMPARE(rowSizes(courseware.tileList()), QList<int>({5, 3})); // 7 lessons and add-more
    courseware.editButton()->click();
    courseware.tileList().at(1)->setChecked(true);
    courseware.tileList().at(4)->setChecked(true);
    courseware.deleteButton()->click();
    for (const QSize& size : {QSize(1600, 900), QSize(1210, 600), QSize(1300, 700)}) {
        courseware.resize(size);
        page->resize(size);
        QTest::qWait(0);
    }
    // Five lessons left: one full row, no room for add-more.
    QCOMPARE(rowSizes(courseware.tileList()), QList<int>({5}));
    QCOMPARE(courseware.tileList().last()->mode, int(FormThumbnail::DownloadedLesson));

    page->editButton()->click();
    page->downloadedList()->tileList().at(2)->setChecked(true);
    page->deleteButton()->click();
    for (const QSize& size : {QSize(1600, 900), QSize(1210, 600)}) {
        page->resize(size);
        QTest::qWait(0);
    }
    QCOMPARE(rowSizes(page->downloadedList()->tileList()), QList<int>({5}));
}

FormThumbnail* TestManager::downloadingTile(const QString& dir) const
{
    for (FormThumbnail* tile : page->downloadingList()->tileList()) {
        if (tile->dir == dir) {
            return tile;
        }
    }
    return nullptr;
}

void TestManager::coursewareFollowsLessonsFinishing()
{
    CourseRecord course = makeCourse("620", 3, Complete);
    course.list.last().state = Chosen;
    store({course}, {course.list.last()});
    FormCourseware courseware;
    courseware.show();
    courseware.showCourse("620");
    QCOMPARE(rowSizes(courseware.tileList()), QList<int>({3})); // two lessons and add-more
    courseware.editButton()->click();
    courseware.tileList().at(1)->setChecked(true);
    // The third lesson finishes while the page is open.
    course.list.last().state = Complete;
    store({course});
    QCOMPARE(rowSizes(courseware.tileList()), QList<int>({4}));
    QCOMPARE(courseware.tileList().at(2)->dir, course.list.last().dir);
    // Still in edit mode, the mark where it was.
    QVERIFY(courseware.cancelButton()->isVisibleTo(&courseware));
    QVERIFY(courseware.tileList().at(1)->isChecked());
    QVERIFY(!courseware.tileList().at(2)->isChecked());
}

void TestManager::editModeBelongsToThePage()
{
    const CourseRecord queued = makeCourse("618", 2, Chosen);
    store({makeCourse("617", 1, Complete), queued}, queued.list);
    page->editButton()->click();
    page->downloadingTab()->click();
    FormThumbnail* lesson = page->downloadingList()->tileList().first();
    QVERIFY(lesson->isEditMode());
    QTest::mouseClick(lesson->overlay(), Qt::LeftButton);
    QVERIFY(lesson->isChecked());
    // A rebuild keeps the mode and the mark.
    emit App::instance()->downloader()->refreshUI();
    QVERIFY(page->downloadingList()->tileList().first()->isChecked());
    page->cancelButton()->click();
    QVERIFY(!page->downloadingList()->tileList().first()->isChecked());
    page->downloadedTab()->click();
    FormThumbnail* course = page->downloadedList()->tileList().first();
    QVERIFY(!course->isEditMode());
    QTest::mouseClick(course->picture(), Qt::LeftButton);
    QVERIFY(!course->isChecked());
    // Nothing checked: no question, and edit mode ends.
    page->editButton()->click();
    page->deleteButton()->click();
    QVERIFY(asked.isEmpty());
    QVERIFY(page->editButton()->isVisible());
}

void TestManager::pressHoldsOneLessonAndMenuPutsOneFirst()
{
    const CourseRecord course = makeCourse("619", 3, Chosen);
    store({course}, course.list);
    Downloader* downloader = App::instance()->downloader();
    downloader->setStart(true);
    const QString first = course.list.at(0).dir;
    QTest::mouseClick(downloadingTile(first)->overlay(), Qt::LeftButton);
    QVERIFY(downloader->isLessonPaused(first));
    QCOMPARE(downloadingTile(first)->overlay()->statusText(), QString("暂停中"));
    QCOMPARE(downloadingTile(course.list.at(1).dir)->overlay()->statusText(), QString("等待中"));
    QTest::mouseClick(downloadingTile(first)->overlay(), Qt::LeftButton);
    QVERIFY(!downloader->isLessonPaused(first));
    QCOMPARE(downloadingTile(first)->overlay()->statusText(), QString("等待中"));

    std::unique_ptr<QMenu> menu(downloadingTile(course.list.at(2).dir)->makeMenu(nullptr));
    const QList<QAction*> actions = menu->actions();
    QCOMPARE(actions.size(), 2);
    QCOMPARE(actions.at(1)->text(), QString("优先下载"));
    actions.at(1)->trigger();
    QCOMPARE(downloader->queue().first().dir, course.list.at(2).dir);
    QCOMPARE(page->downloadingList()->tileList().first()->dir, course.list.at(2).dir);
}

void TestManager::refusedKeyShowsFailureAndRetryBringsItBack()
{
    const CourseRecord course =
        schoolCourse(*App::instance()->urlManager(), "102", {"1022", "1023", "1026"});
    QVERIFY(school.addFault(QJsonObject{{"route", "/stream/*/key"}, {"status", 403}}));
    App::instance()->setSetting("DOWNLOAD/TIP", "1");
    Downloader* downloader = App::instance()->downloader();
    QSignalSpy allDone(downloader, &Downloader::allDone);
    QSignalSpy ended(downloader, &Downloader::endedWithFailures);
    downloader->addCourse(course);
    downloader->start();
    page->downloadingTab()->click();
    // The worker may have failed the lessons already: their folders come from the stored course.
    const QString dir = storedLessonDir(course.id, "1022");
    QVERIFY(!dir.isEmpty());
    // The lessons have left the queue and the list was rebuilt, yet their tiles stay.
    QTRY_VERIFY_WITH_TIMEOUT(downloader->failedLessons().size() == 3 &&
                                 downloader->queue().isEmpty() && downloadingTile(dir) &&
                                 downloadingTile(dir)->mode == FormThumbnail::LessonFailed,
                             20000);
    FormThumbnail* failed = downloadingTile(dir);
    QCOMPARE(failed->overlay()->statusText(), QString("缓存失败"));
    QCOMPARE(failed->toolTip(), QString("缓存失败：服务器拒绝（HTTP 403）"));
    QCOMPARE(page->downloadingTab()->text(), QString("缓存中（3个课件）"));
    // Nothing left to start or pause, once the page has heard of the last failure.
    QTRY_VERIFY(!page->startButton()->isVisible() && !page->pauseButton()->isVisible());
    QTRY_COMPARE(ended.size(), 1);
    QCOMPARE(ended.first(), QVariantList({0, 3}));

    QVERIFY(school.clearFaults());
    QTest::mouseClick(failed->overlay()->retryButton(), Qt::LeftButton);
    QVERIFY(page->pauseButton()->isVisible());
    QTRY_VERIFY_WITH_TIMEOUT(!page->downloadedList()->tileList().isEmpty(), 20000);
    QCOMPARE(page->downloadingList()->tileList().size(), 2);
    QTRY_VERIFY(!page->startButton()->isVisible() && !page->pauseButton()->isVisible());
    // Two lessons still failed: the end is told as it is, never as all done.
    QTRY_COMPARE(ended.size(), 2);
    QCOMPARE(ended.last(), QVariantList({1, 2}));
    QCOMPARE(allDone.size(), 0);
    App::instance()->setSetting("DOWNLOAD/TIP", "0");
}

void TestManager::lessonPutAfterAnotherWaitsWithItsBytes()
{
    const CourseRecord course =
        schoolCourse(*App::instance()->urlManager(), "103", {"1032", "1033"});
    // Slow enough for progress reports (every 2 s) long before the lesson is whole.
    QVERIFY(school.addFault(QJsonObject{{"route", "/stream/*"}, {"rate", 10000}}));
    Downloader* downloader = App::instance()->downloader();
    downloader->addCourse(course);
    downloader->start();
    page->downloadingTab()->click();
    const QString first = storedLessonDir(course.id, "1032");
    const QString second = storedLessonDir(course.id, "1033");
    // Whatever the outcome, nothing of it goes on into the next test.
    const auto removeAfter = qScopeGuard([&] { downloader->deleteDownloading({first, second}); });
    QTRY_VERIFY_WITH_TIMEOUT(downloadingTile(first) &&
                                 downloadingTile(first)->overlay()->currentState() ==
                                     FormMaskBtn::Progress &&
                                 downloadingTile(first)->overlay()->size > 0,
                             15000);
    std::unique_ptr<QMenu> menu(downloadingTile(second)->makeMenu(nullptr));
    menu->actions().at(1)->trigger();
    // At once, and still after the reports of the requests it had under way.
    for (int wait : {0, 2500}) {
        QTest::qWait(wait);
        FormMaskBtn* overlay = downloadingTile(first)->overlay();
        QCOMPARE(overlay->statusText(), QString("等待中"));
        QVERIFY2(!overlay->detailText().startsWith("0.00KB") &&
                     overlay->detailText().endsWith("MB"),
                 qPrintable(overlay->detailText()));
    }
    QTRY_COMPARE_WITH_TIMEOUT(downloadingTile(second)->overlay()->currentState(),
                              int(FormMaskBtn::Progress), 10000);
}

void TestManager::outageKeepsFiguresAndTellsTheNextTry()
{
    const CourseRecord course = schoolCourse(*App::instance()->urlManager(), "101", {"1013"});
    // The third of five segments never comes: the other four are stored, then the lesson waits.
    QVERIFY(school.addFault(QJsonObject{{"route", "/stream/*/seg00002*"}, {"drop", true}}));
    Downloader* downloader = App::instance()->downloader();
    QList<float> sizes;
    connect(downloader, &Downloader::refreshProgress, this,
            [&](QString, float size) { sizes.append(size); });
    downloader->addCourse(course);
    page->downloadingTab()->click();
    const QString dir = storedLessonDir(course.id, "1013");
    QVERIFY(!dir.isEmpty());
    QTRY_VERIFY_WITH_TIMEOUT(downloadingTile(dir) &&
                                 downloadingTile(dir)->overlay()->currentState() ==
                                     FormMaskBtn::Stalled,
                             30000);
    FormMaskBtn* overlay = downloadingTile(dir)->overlay();
    QCOMPARE(overlay->statusText(), QString("网络中断，等待重试"));
    QVERIFY2(overlay->noteText().startsWith("下次重试 "), qPrintable(overlay->noteText()));
    QVERIFY(overlay->size > 0);
    QVERIFY2(overlay->detailText().endsWith("MB") && !overlay->detailText().startsWith("0.00KB"),
             qPrintable(overlay->detailText()));
    // Once the told time has come the try is under way (its quick retries take seconds): the
    // tile never shows a time gone by.
    QTest::qWait(int(qMax<qint64>(0, QDateTime::currentDateTime().msecsTo(overlay->retryAt))) +
                 1100);
    if (FormThumbnail* tile = downloadingTile(dir)) {
        const QString note = tile->overlay()->noteText();
        const QTime told = QTime::fromString(note.mid(5), "HH:mm:ss");
        QVERIFY2(note == "正在重试" || (told.isValid() && told >= QTime::currentTime().addSecs(-1)),
                 qPrintable(note));
    }
    QVERIFY(school.clearFaults());
    QTRY_VERIFY_WITH_TIMEOUT(!page->downloadedList()->tileList().isEmpty(), 30000);
    QVERIFY(!sizes.isEmpty());
    QVERIFY(std::is_sorted(sizes.begin(), sizes.end()));
    disconnect(downloader, &Downloader::refreshProgress, this, nullptr);
}

void TestManager::realDownloadMovesTileAndPlaysLocally()
{
    const CourseRecord course = schoolCourse(*App::instance()->urlManager(), "102", {"1022"});
    // The lesson's 108 KB at 30 KB/s: long enough for a progress report (every 2 s).
    QVERIFY(school.addFault(QJsonObject{{"route", "/stream/*"}, {"rate", 30000}}));
    Downloader* downloader = App::instance()->downloader();
    downloader->addCourse(course);
    page->downloadingTab()->click();
    QCOMPARE(page->downloadingList()->tileList().size(), 1);
    QCOMPARE(page->downloadingList()->tileList().first()->overlay()->statusText(),
             QString("等待中"));

    // The lesson's tile (the list may have been rebuilt meanwhile) shows progress as it comes,
    // before the lesson leaves the queue.
    QStringList seen;
    connect(downloader, &Downloader::refreshProgress, this, [&] {
        for (const FormThumbnail* tile : page->downloadingList()->tileList()) {
            seen.append(QString::number(tile->mode) + " " + tile->overlay()->statusText());
        }
    });
    downloader->start();
    QTRY_VERIFY_WITH_TIMEOUT(!page->downloadedList()->tileList().isEmpty(), 30000);
    QVERIFY(school.clearFaults());
    QVERIFY(!seen.isEmpty());
    QVERIFY2(seen.first().startsWith("3 ") && seen.first().endsWith("B/s"),
             qPrintable(seen.first()));
    QVERIFY(page->downloadingList()->tileList().isEmpty());
    QCOMPARE(page->downloadedList()->tileList().first()->courseId, QString("102"));

    FormCourseware courseware;
    courseware.show();
    courseware.showCourse("102");
    FormThumbnail* lesson = courseware.tileList().first();
    QTest::mouseClick(lesson->picture(), Qt::LeftButton);
    FormPlayer* player = App::instance()->player();
    QVERIFY(player);
    QCOMPARE(player->windowTitle(), lesson->title);
    QSignalSpy started(player->controller(), &MpvController::started);
    QVERIFY(started.wait(15000));
    downloader->stop();
}

QTEST_MAIN(TestManager)
#include "tst_manager.moc"
