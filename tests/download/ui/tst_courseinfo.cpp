#include "App.h"
#include "CourseInfo.h"
#include "CourseItem.h"
#include "CourseLibrary.h"
#include "Downloader.h"
#include "UserRecord.h"
#include "XMessageBox.h"

#include <QCheckBox>
#include <QLabel>
#include <QPushButton>
#include <QTemporaryDir>
#include <QtTest>

// A chapter heading and one courseware row per given state. The scheduler is not started,
// so what "下载选中" hands it stays in its queue.
class TestCourseInfo : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void cleanup();
    void selectionRules_data();
    void selectionRules();
    void oneFontFamily();

private:
    QTemporaryDir docs;
    QTemporaryDir videos;
};

void TestCourseInfo::initTestCase()
{
    QStandardPaths::setTestModeEnabled(true);
    qputenv("TAMIX_DOCUMENTS_DIR", docs.path().toUtf8());
    qputenv("TAMIX_VIDEOS_DIR", videos.path().toUtf8());
    UserRecord session;
    session.username = "13800000001";
    App::instance()->library()->setSession(session);
}

void TestCourseInfo::cleanup()
{
    App::instance()->library()->replace(App::instance()->session());
}

void TestCourseInfo::selectionRules_data()
{
    QTest::addColumn<QList<int>>("states");
    // Steps: "rN" clicks row N's box, "tN" presses on its title, "all" clicks "全选", each
    // followed by ":1" or ":0", whether "全选" is then checked; "down" presses "下载选中".
    QTest::addColumn<QString>("steps");
    QTest::addColumn<QString>("checked");    // per row after the steps
    QTest::addColumn<QStringList>("queued"); // lesson ids; empty: nothing handed over
    QTest::addColumn<QString>("told");       // what a message box said, if one came up
    // The course is in the store already, as the page and the add-more tile hand it over.
    QTest::addColumn<bool>("stored");

    QTest::newRow("all downloaded: nothing to choose")
        << QList<int>{2, 2, 2} << "r0:0 r1:0 down"
        << "000" << QStringList() << QString("请选择要下载的课件") << false;
    QTest::newRow("one by one, then one off") << QList<int>{0, 0, 0} << "r0:0 r1:0 r2:1 r1:0"
                                              << "101" << QStringList() << QString() << false;
    QTest::newRow("a chosen row keeps all unchecked")
        << QList<int>{0, 1, 0} << "r0:0 r2:0"
        << "101" << QStringList() << QString() << false;
    QTest::newRow("all toggles enabled rows only") << QList<int>{0, 2, 0} << "all:1"
                                                   << "101" << QStringList() << QString() << false;
    QTest::newRow("all twice clears") << QList<int>{0, 2, 0} << "all:1 all:0"
                                      << "000" << QStringList() << QString() << false;
    QTest::newRow("a failed lesson can be chosen again")
        << QList<int>{3, 0, 2} << "r0:0 down"
        << "100" << QStringList{"L0"} << QString() << false;
    QTest::newRow("title press counts as a click") << QList<int>{0, 0, 0} << "t0:0 t1:0 t2:1 t2:0"
                                                   << "110" << QStringList() << QString() << false;
    QTest::newRow("download queues the checked")
        << QList<int>{0, 0, 2} << "r0:0 down"
        << "100" << QStringList{"L0"} << QString() << false;
    QTest::newRow("a stored failed lesson is queued again")
        << QList<int>{3, 0, 2} << "r0:0 down"
        << "100" << QStringList{"L0"} << QString() << true;
}

void TestCourseInfo::selectionRules()
{
    QFETCH(QList<int>, states);
    QFETCH(QString, steps);
    QFETCH(QString, checked);
    QFETCH(QStringList, queued);
    QFETCH(QString, told);
    QFETCH(bool, stored);
    QString said;
    XMessageBox::setResponder([&said](XMessageBox& box) {
        said = box.text();
        return true;
    });

    CourseRecord course;
    course.id = "501";
    course.title = "测试课程";
    LessonRecord chapter;
    chapter.courseId = course.id;
    chapter.id = "C";
    chapter.level = 1;
    chapter.title = "第1章 总论";
    course.list.append(chapter);
    for (int i = 0; i < states.size(); ++i) {
        LessonRecord lesson;
        lesson.courseId = course.id;
        lesson.id = "L" + QString::number(i);
        lesson.level = 3;
        lesson.type = "kejian";
        lesson.title = "课件" + QString::number(i + 1);
        lesson.state = states.at(i);
        course.list.append(lesson);
    }

    if (stored) {
        course.dir = CourseLibrary::courseFolder(App::instance()->videoPath(), course);
        for (LessonRecord& lesson : course.list) {
            lesson.dir = CourseLibrary::lessonFolder(course.dir, lesson);
        }
        UserRecord record = App::instance()->session();
        record.courses = {course};
        App::instance()->library()->replace(record);
        course = *App::instance()->downloader()->findCourse(course.id);
    }

    CourseInfo dialog(course);
    dialog.show();
    QCOMPARE(dialog.rows().size(), states.size());
    // "全选" can be used only while some lesson can still be chosen.
    QCOMPARE(dialog.checkAllBox()->isEnabled(),
             states.contains(NotChosen) || states.contains(Failed));
    for (const QString& step : steps.split(' ')) {
        const QString action = step.section(':', 0, 0);
        if (action == "down") {
            dialog.downloadButton()->click();
            continue;
        }
        if (action == "all") {
            QTest::mouseClick(dialog.checkAllBox(), Qt::LeftButton);
        } else {
            CourseItem* row = dialog.rows().at(action.mid(1).toInt());
            if (action.startsWith('t')) {
                QTest::mouseClick(row->titleLabel(), Qt::LeftButton);
            } else {
                // On the indicator, at the box's left.
                QTest::mouseClick(row->checkBox(), Qt::LeftButton, {},
                                  QPoint(6, row->checkBox()->height() / 2));
            }
        }
        QCOMPARE(dialog.checkAllBox()->isChecked(), step.endsWith(":1"));
    }
    for (int i = 0; i < states.size(); ++i) {
        QCOMPARE(dialog.rows().at(i)->checkBox()->isChecked(), checked.at(i) == '1');
        QCOMPARE(dialog.rows().at(i)->checkBox()->isEnabled(),
                 states.at(i) == NotChosen || states.at(i) == Failed);
    }

    const QList<LessonRecord> queue = App::instance()->downloader()->queue();
    QStringList queuedIds;
    for (const LessonRecord& lesson : queue) {
        QCOMPARE(lesson.state, qint32(Chosen));
        queuedIds.append(lesson.id);
    }
    QCOMPARE(queuedIds, queued);
    QCOMPARE(said, told);
    XMessageBox::setResponder(nullptr);
    // The dialog closes only when it handed something over.
    QCOMPARE(dialog.isVisible(), queued.isEmpty());
    if (!queued.isEmpty()) {
        const std::optional<CourseRecord> stored = App::instance()->downloader()->findCourse("501");
        QVERIFY(stored);
        QCOMPARE(stored->list.at(1).state, qint32(Chosen));
        QCOMPARE(stored->list.at(2).state, qint32(NotChosen));
        QCOMPARE(stored->list.at(3).state, qint32(Complete));
    }
}

// Headings, lesson titles, times and the buttons' texts in the client's look: one family.
void TestCourseInfo::oneFontFamily()
{
    qApp->setStyleSheet(App::instance()->styleSheet());
    CourseRecord course;
    course.title = "测试课程";
    LessonRecord chapter;
    chapter.level = 1;
    chapter.title = "第1章 总论";
    LessonRecord section = chapter;
    section.level = 2;
    section.title = "第1节 会计要素";
    LessonRecord lesson;
    lesson.level = 3;
    lesson.title = "课件1 资产的确认";
    lesson.c_time = "12:30";
    course.list = {chapter, section, lesson};
    CourseInfo dialog(course);
    dialog.show();
    const QString family = QFontInfo(dialog.checkAllBox()->font()).family();
    QStringList others;
    for (const QLabel* label : dialog.findChildren<QLabel*>()) {
        if (!label->text().isEmpty() && QFontInfo(label->font()).family() != family) {
            others.append(label->text() + ": " + QFontInfo(label->font()).family());
        }
    }
    qApp->setStyleSheet(QString());
    QVERIFY2(others.isEmpty(), qPrintable(family + " / " + others.join(", ")));
}

QTEST_MAIN(TestCourseInfo)
#include "tst_courseinfo.moc"
