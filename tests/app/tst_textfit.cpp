// Every text of the client's windows fits the widget that shows it: no label, button, check
// box or radio button cuts its text, at the scale the test runs under (ctest runs it at 1 and,
// as tst_textfit_scale2, at QT_SCALE_FACTOR=2). A one-line text is measured with the widget's
// own font against the room its style leaves it; a word-wrapped label by its height.
#include "App.h"
#include "CourseInfo.h"
#include "CourseLibrary.h"
#include "FormAbout.h"
#include "FormAlterPwd.h"
#include "FormBaseSet.h"
#include "FormCourseware.h"
#include "FormDownload.h"
#include "FormPlayer.h"
#include "FormUpgrade.h"
#include "FormUser.h"
#include "FormUserInfo.h"
#include "MainForm.h"
#include "ReLogin.h"
#include "SystemServices.h"
#include "ToShutdown.h"
#include "UserRecord.h"
#include "XMessageBox.h"

#include <QCheckBox>
#include <QLabel>
#include <QPushButton>
#include <QRadioButton>
#include <QStyleOptionButton>
#include <QtTest>
#include <functional>
#include <memory>

class TestTextFit : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase();
    void cleanupTestCase();
    void everyTextFits_data();
    void everyTextFits();

private:
    QTemporaryDir docs;
};

using Factory = std::function<QWidget*()>;
Q_DECLARE_METATYPE(Factory)

// What does not fit in `top`, one line a widget. A label's size hint is its text with its
// margins; a button's text must fit the room its style leaves beside the indicator or icon.
static QStringList clippedTexts(QWidget* top)
{
    QStringList found;
    for (QWidget* w : top->findChildren<QWidget*>()) {
        auto* label = qobject_cast<QLabel*>(w);
        auto* button = qobject_cast<QAbstractButton*>(w);
        const QString text = label ? label->text() : button ? button->text() : QString();
        if (text.isEmpty() || !w->isVisibleTo(top)) {
            continue;
        }
        int need = 0;
        int room = 0;
        if (label) {
            need =
                label->wordWrap() ? label->heightForWidth(w->width()) : label->sizeHint().width();
            room = label->wordWrap() ? w->height() : w->width();
        } else {
            QStyleOptionButton option;
            option.initFrom(button);
            const auto element = qobject_cast<QCheckBox*>(button) ? QStyle::SE_CheckBoxContents
                                 : qobject_cast<QRadioButton*>(button)
                                     ? QStyle::SE_RadioButtonContents
                                     : QStyle::SE_PushButtonContents;
            room = button->style()->subElementRect(element, &option, button).width() -
                   (button->icon().isNull() ? 0 : button->iconSize().width() + 4);
            need = button->fontMetrics().horizontalAdvance(QString(text).remove(QLatin1Char('&')));
        }
        if (need > room) {
            found.append(
                QStringLiteral("%1#%2 \"%3\": needs %4, has %5")
                    .arg(QLatin1String(w->metaObject()->className()), w->objectName(), text)
                    .arg(need)
                    .arg(room));
        }
    }
    return found;
}

// A course whose lessons carry titles as long as the school's.
static CourseRecord longCourse()
{
    CourseRecord course;
    course.id = QStringLiteral("9001");
    course.title = QStringLiteral("2027年注册会计师《会计》基础精讲班（含历年真题解析）");
    course.dir = CourseLibrary::courseFolder(App::instance()->videoPath(), course);
    for (int i = 0; i < 3; ++i) {
        LessonRecord lesson;
        lesson.courseId = course.id;
        lesson.id = course.id + QLatin1Char('-') + QString::number(i);
        lesson.level = i == 0 ? 1 : 3;
        lesson.type = QStringLiteral("kejian");
        lesson.title = QStringLiteral("第%1讲 长期股权投资的初始计量与后续计量").arg(i + 1);
        lesson.c_time = QStringLiteral("01:12:30");
        lesson.state = QList<qint32>{NotChosen, Chosen, Complete}.at(i);
        lesson.dir = CourseLibrary::lessonFolder(course.dir, lesson);
        course.list.append(lesson);
    }
    return course;
}

void TestTextFit::initTestCase()
{
    QStandardPaths::setTestModeEnabled(true);
    qputenv("TAMIX_DOCUMENTS_DIR", docs.path().toUtf8());
    qputenv("TAMIX_VIDEOS_DIR", docs.path().toUtf8());
    SystemServices::setLauncher([](const QString&, const QStringList&) { return true; });
    qApp->setStyleSheet(App::instance()->styleSheet());
    // A student with one course on the computer and one of its lessons still coming in, so
    // that the download manager and the courseware page show their tiles.
    UserRecord record;
    record.sid = QStringLiteral("fit");
    record.username = QStringLiteral("13800000001");
    record.nickname = QStringLiteral("会计学员一号");
    record.courses = {longCourse()};
    record.queue = {record.courses.first().list.at(1)};
    App::instance()->library()->replace(record);
}

void TestTextFit::cleanupTestCase()
{
    delete App::instance();
}

// A page of the main window's body, at the body's size, then brought to the state to look at.
template <typename Page> static Factory page(std::function<void(Page*)> then = nullptr)
{
    return [then] {
        auto* shown = new Page;
        shown->resize(1210, 650);
        if (then) {
            then(shown);
        }
        return shown;
    };
}

void TestTextFit::everyTextFits_data()
{
    QTest::addColumn<Factory>("make");
    QTest::newRow("main window, login") << Factory([] { return new MainForm; });
    QTest::newRow("registration") << page<FormUser>(
        [](FormUser* user) { QMetaObject::invokeMethod(user, "showRegist"); });
    QTest::newRow("user panel") << page<FormUserInfo>();
    QTest::newRow("download manager") << page<FormDownload>();
    QTest::newRow("download manager, 缓存中")
        << page<FormDownload>([](FormDownload* manager) { manager->downloadingTab()->click(); });
    QTest::newRow("courseware page") << page<FormCourseware>(
        [](FormCourseware* courseware) { courseware->showCourse(QStringLiteral("9001")); });
    QTest::newRow("settings") << Factory(
        [] { return new FormBaseSet(QStringLiteral("基本设置")); });
    QTest::newRow("about") << Factory([] { return new FormAbout(QStringLiteral("关于")); });
    QTest::newRow("upgrade") << Factory([] {
        FormUpgrade::Offer offer;
        offer.version = QStringLiteral("1.2.0");
        offer.content =
            QStringLiteral("1. 新增下载限速；2. 播放器全屏时显示控制栏；3. 修复若干问题。");
        offer.url = QStringLiteral("http://127.0.0.1:9/tamix.exe");
        return new FormUpgrade(offer);
    });
    QTest::newRow("message box") << Factory([] {
        return new XMessageBox(QStringLiteral("无法在此文件夹中保存课程，请选择其他文件夹。"),
                               false);
    });
    QTest::newRow("shutdown countdown") << Factory([] { return new ToShutdown; });
    QTest::newRow("password change")
        << Factory([] { return new FormAlterPwd(QStringLiteral("修改密码")); });
    QTest::newRow("re-login") << Factory([] { return new ReLogin; });
    QTest::newRow("lesson selection") << Factory([] { return new CourseInfo(longCourse()); });
    QTest::newRow("player") << Factory([] {
        return new FormPlayer(QStringLiteral("课件1 第1讲 长期股权投资的初始计量与后续计量"));
    });
}

void TestTextFit::everyTextFits()
{
    QFETCH(Factory, make);
    std::unique_ptr<QWidget> top(make());
    top->show();
    QVERIFY(QTest::qWaitForWindowExposed(top.get()));
    const QStringList clipped = clippedTexts(top.get());
    QVERIFY2(clipped.isEmpty(), qPrintable(clipped.join(QLatin1Char('\n'))));
}

QTEST_MAIN(TestTextFit)
#include "tst_textfit.moc"
