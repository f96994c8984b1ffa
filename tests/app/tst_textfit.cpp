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

#include <QAbstractTextDocumentLayout>
#include <QCheckBox>
#include <QLabel>
#include <QPushButton>
#include <QRadioButton>
#include <QStyleOptionButton>
#include <QTextDocument>
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

// The width a one-line text needs in `w`'s font; rich text as laid out by a text document.
static int textWidth(const QWidget* w, const QString& text, Qt::TextFormat format)
{
    if (format == Qt::RichText || (format == Qt::AutoText && Qt::mightBeRichText(text))) {
        QTextDocument document;
        document.setDefaultFont(w->font());
        document.setDocumentMargin(0);
        document.setHtml(text);
        return qCeil(document.idealWidth());
    }
    int widest = 0;
    for (const QString& line : text.split(QLatin1Char('\n'))) {
        widest = qMax(widest, w->fontMetrics().horizontalAdvance(line));
    }
    return widest;
}

// What does not fit in `top`, one line a widget: its class, object name, text and sizes.
static QStringList clippedTexts(QWidget* top)
{
    QStringList found;
    const auto report = [&found](const QWidget* w, const QString& text, int need, int room) {
        found.append(QStringLiteral("%1#%2 \"%3\": needs %4, has %5")
                         .arg(QLatin1String(w->metaObject()->className()), w->objectName(), text)
                         .arg(need)
                         .arg(room));
    };
    for (QWidget* w : top->findChildren<QWidget*>()) {
        if (!w->isVisibleTo(top)) {
            continue;
        }
        if (auto* label = qobject_cast<QLabel*>(w)) {
            if (label->text().isEmpty()) {
                continue;
            }
            if (label->wordWrap()) {
                const int need = label->heightForWidth(label->width());
                if (need > label->height()) {
                    report(label, label->text(), need, label->height());
                }
                continue;
            }
            const int margins = 2 * label->margin() + qMax(label->indent(), 0);
            const int room = label->contentsRect().width() - margins;
            const int need = textWidth(label, label->text(), label->textFormat());
            if (need > room) {
                report(label, label->text(), need, room);
            }
            continue;
        }
        auto* button = qobject_cast<QAbstractButton*>(w);
        if (!button || button->text().isEmpty()) {
            continue;
        }
        QStyleOptionButton option;
        option.initFrom(button);
        option.text = button->text();
        option.icon = button->icon();
        option.iconSize = button->iconSize();
        QStyle::SubElement element = QStyle::SE_PushButtonContents;
        if (qobject_cast<QCheckBox*>(button)) {
            element = QStyle::SE_CheckBoxContents;
        } else if (qobject_cast<QRadioButton*>(button)) {
            element = QStyle::SE_RadioButtonContents;
        }
        int room = button->style()->subElementRect(element, &option, button).width();
        if (element == QStyle::SE_PushButtonContents && !button->icon().isNull()) {
            room -= button->iconSize().width() + 4;
        }
        QString text = button->text();
        text.remove(QLatin1Char('&'));
        const int need = textWidth(button, text, Qt::PlainText);
        if (need > room) {
            report(button, text, need, room);
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
        lesson.state = i == 2 ? Complete : NotChosen;
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
    UserRecord session;
    session.sid = QStringLiteral("fit");
    session.username = QStringLiteral("13800000001");
    session.nickname = QStringLiteral("会计学员一号");
    App::instance()->library()->setSession(session);
    // One course on the computer and one of its lessons still coming in, so that the download
    // manager and the courseware page show their tiles.
    UserRecord record = App::instance()->library()->record();
    CourseRecord course = longCourse();
    for (LessonRecord& lesson : course.list) {
        lesson.dir = CourseLibrary::lessonFolder(course.dir, lesson);
    }
    course.list[1].state = Chosen;
    record.courses = {course};
    record.queue = {course.list[1]};
    App::instance()->library()->replace(record);
}

void TestTextFit::cleanupTestCase()
{
    delete App::instance();
}

void TestTextFit::everyTextFits_data()
{
    QTest::addColumn<Factory>("make");
    QTest::newRow("main window, login") << Factory([] { return new MainForm; });
    QTest::newRow("registration") << Factory([] {
        auto* user = new FormUser;
        user->resize(1210, 650);
        QMetaObject::invokeMethod(user, "showRegist");
        return user;
    });
    QTest::newRow("user panel") << Factory([] {
        auto* panel = new FormUserInfo;
        panel->resize(1210, 650);
        return panel;
    });
    QTest::newRow("download manager") << Factory([] {
        auto* page = new FormDownload;
        page->resize(1210, 650);
        return page;
    });
    QTest::newRow("download manager, 缓存中") << Factory([] {
        auto* page = new FormDownload;
        page->resize(1210, 650);
        page->downloadingTab()->click();
        return page;
    });
    QTest::newRow("courseware page") << Factory([] {
        auto* page = new FormCourseware;
        page->resize(1210, 650);
        page->showCourse(QStringLiteral("9001"));
        return page;
    });
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
