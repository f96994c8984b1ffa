// The main window and its bars: the size rule, the page stack, minimise and close policies
// (through the message-box seam), the shadow rings, geometry for the dialogs, maximise and
// dragging, the welcome text and the navigation mark.
#include "App.h"
#include "BaseDialog.h"
#include "CourseLibrary.h"
#include "CourseRecord.h"
#include "Downloader.h"
#include "FormMyClass.h"
#include "MainForm.h"
#include "NavigatWidget.h"
#include "QuitNotifier.h"
#include "SettingKeys.h"
#include "SheetDialog.h"
#include "SystemServices.h"
#include "TitleWidget.h"
#include "UserRecord.h"
#include "XMessageBox.h"

#include <QLayout>
#include <QMenu>
#include <QPushButton>
#include <QtTest>

class TestMainForm : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase();
    void init();
    void cleanup();

    void sizeRule_data();
    void sizeRule();
    void startsOnTheUserPage();
    void pageSwitches_data();
    void pageSwitches();
    void navigationMark_data();
    void navigationMark();
    void minimisePolicy_data();
    void minimisePolicy();
    void closePolicy_data();
    void closePolicy();
    void closeFromTrayStopsInOrder_data();
    void closeFromTrayStopsInOrder();
    void dialogsFromTheTrayKeepTheProgram();
    void ringAlphas_data();
    void ringAlphas();
    void shadowOnlyWhenNotMaximised_data();
    void shadowOnlyWhenNotMaximised();
    void contentGeometry();
    void dialogsCoverTheBody();
    void draggingTheTitleBar();
    void draggingADialogDragsTheWindow_data();
    void draggingADialogDragsTheWindow();
    void welcomeText_data();
    void welcomeText();
    void logoutShowsTheUserPage();
    void lostSessionIsToldOnceAndShowsTheLogin_data();
    void lostSessionIsToldOnceAndShowsTheLogin();
    void backButtonBelongsToTheWebPage();

private:
    MainForm* makeWindow(int screenWidth = 1920, int screenHeight = 1040);
    // Shown, with a student logged in.
    MainForm* makeLoggedInWindow();
    void setIni(const QString& key, const QString& value);

    std::unique_ptr<QTemporaryDir> docs;
    std::unique_ptr<MainForm> window;
    QStringList asked;
};

void TestMainForm::initTestCase()
{
    QStandardPaths::setTestModeEnabled(true);
    SystemServices::setLauncher([](const QString&, const QStringList&) { return true; });
    // Nothing listens there: the start-up request fails at once.
    qputenv("TAMIX_API_URL", "http://127.0.0.1:9");
    qputenv("TAMIX_KEY_URL", "http://127.0.0.1:9");
}

void TestMainForm::init()
{
    docs = std::make_unique<QTemporaryDir>();
    QVERIFY(docs->isValid());
    qputenv("TAMIX_DOCUMENTS_DIR", docs->path().toUtf8());
    qputenv("TAMIX_VIDEOS_DIR", docs->path().toUtf8());
    asked.clear();
    XMessageBox::setResponder(nullptr);
    BaseDialog::setRunHook(nullptr);
    MainForm::setTrayAvailable([] { return true; });
    App::allowNewRun(); // a test that quit ended the previous run
}

void TestMainForm::cleanup()
{
    window.reset();
    if (App::exists()) {
        delete App::instance();
    }
    XMessageBox::setResponder(nullptr);
    BaseDialog::setRunHook(nullptr);
    SheetDialog::setScreenComposes(0);
}

MainForm* TestMainForm::makeWindow(int screenWidth, int screenHeight)
{
    qApp->setStyleSheet(App::instance()->styleSheet());
    App::instance()->setScreenRect(QRect(0, 0, screenWidth, screenHeight));
    window = std::make_unique<MainForm>();
    return window.get();
}

MainForm* TestMainForm::makeLoggedInWindow()
{
    MainForm* form = makeWindow();
    form->show();
    UserRecord user;
    user.username = "13800000001";
    App::instance()->library()->setSession(user);
    App::instance()->setLogin(true);
    return form;
}

void TestMainForm::setIni(const QString& key, const QString& value)
{
    if (!value.isNull()) {
        App::instance()->setSetting(key, value);
    }
}

void TestMainForm::sizeRule_data()
{
    QTest::addColumn<int>("screenWidth");
    QTest::addColumn<QSize>("expected");
    QTest::newRow("narrow 800") << 800 << QSize(800, 600);
    QTest::newRow("exactly 1210") << 1210 << QSize(800, 600);
    QTest::newRow("1211") << 1211 << QSize(1210, 720);
    QTest::newRow("wide 1920") << 1920 << QSize(1210, 720);
}

void TestMainForm::sizeRule()
{
    QFETCH(int, screenWidth);
    QFETCH(QSize, expected);
    QSignalSpy sizes(App::instance(), &App::sizeChange);
    MainForm* form = makeWindow(screenWidth, 900);
    QCOMPARE(form->size(), expected);
    QCOMPARE(sizes.count(), 1);
    QCOMPARE(sizes.first().at(0).toInt(), expected.width());
    QCOMPARE(sizes.first().at(1).toInt(), expected.height());
    QCOMPARE(App::instance()->mainForm(), form);
}

void TestMainForm::startsOnTheUserPage()
{
    MainForm* form = makeWindow();
    QCOMPARE(form->visiblePage(), form->userPage());
    QVERIFY(!form->navigation()->button(4)->isEnabled());
    QVERIFY(form->title()->signInButton()->isVisibleTo(form));
    QVERIFY(!form->title()->welcomeButton()->isVisibleTo(form));
    QVERIFY(!form->title()->backButton()->isVisibleTo(form));
}

void TestMainForm::pageSwitches_data()
{
    QTest::addColumn<QString>("slot");
    QTest::addColumn<bool>("loggedIn");
    QTest::addColumn<QString>("page");
    QTest::addColumn<int>("mark");
    QTest::newRow("my classes, logged in") << "showMyClassForm" << true << "myClass" << 1;
    QTest::newRow("my classes, logged out") << "showMyClassForm" << false << "user" << 4;
    QTest::newRow("downloads") << "showDownloadForm" << false << "download" << 2;
    QTest::newRow("questions") << "showQAForm" << false << "qa" << 3;
    QTest::newRow("user") << "showUserForm" << true << "user" << 4;
    QTest::newRow("login") << "showLogin" << true << "user" << 4;
}

void TestMainForm::pageSwitches()
{
    QFETCH(QString, slot);
    QFETCH(bool, loggedIn);
    QFETCH(QString, page);
    QFETCH(int, mark);
    MainForm* form = makeWindow();
    form->show();
    if (loggedIn) {
        App::instance()->setLogin(true);
    }
    form->showDownloadForm(); // start from elsewhere
    QVERIFY(QMetaObject::invokeMethod(form, slot.toLatin1().constData()));

    const QMap<QString, QWidget*> pages{{"myClass", form->myClassPage()},
                                        {"download", form->downloadPage()},
                                        {"qa", form->qaPage()},
                                        {"user", form->userPage()},
                                        {"courseware", form->coursewarePage()}};
    int visible = 0;
    for (QWidget* p : pages) {
        visible += p->isVisible() ? 1 : 0;
    }
    QCOMPARE(visible, 1);
    QVERIFY(pages.value(page)->isVisible());
    for (int i = 1; i <= 4; ++i) {
        QCOMPARE(form->navigation()->button(i)->isEnabled(), i != mark);
    }
}

void TestMainForm::navigationMark_data()
{
    QTest::addColumn<int>("index");
    QTest::addColumn<QList<int>>("enabled"); // of 1 my classes, 2 downloads, 4 user
    QTest::newRow("none") << 0 << QList<int>{1, 2, 4};
    QTest::newRow("my classes") << 1 << QList<int>{2, 4};
    QTest::newRow("downloads") << 2 << QList<int>{1, 4};
    QTest::newRow("questions: the hidden button") << 3 << QList<int>{1, 2, 4};
    QTest::newRow("user") << 4 << QList<int>{1, 2};
    QTest::newRow("out of range") << 7 << QList<int>{1, 2, 4};
}

void TestMainForm::navigationMark()
{
    QFETCH(int, index);
    QFETCH(QList<int>, enabled);
    MainForm* form = makeWindow();
    form->show();
    NavigatWidget* bar = form->navigation();
    bar->select(index);
    for (int i : {1, 2, 4}) {
        QCOMPARE(bar->button(i)->isEnabled(), enabled.contains(i));
        QVERIFY(bar->button(i)->isVisible());
    }
    QVERIFY(!bar->button(3)->isVisible());
    QCOMPARE(bar->button(3)->isEnabled(), index != 3);
}

void TestMainForm::minimisePolicy_data()
{
    QTest::addColumn<QString>("value");
    QTest::addColumn<bool>("trayShown");
    QTest::addColumn<bool>("toTray");
    QTest::newRow("1: tray") << "1" << true << true;
    QTest::newRow("1 on a desktop without a tray: taskbar") << "1" << false << false;
    QTest::newRow("2: taskbar") << "2" << true << false;
    QTest::newRow("missing: taskbar") << QString() << true << false;
    QTest::newRow("other text: taskbar") << "yes" << true << false;
}

void TestMainForm::minimisePolicy()
{
    QFETCH(QString, value);
    QFETCH(bool, trayShown);
    QFETCH(bool, toTray);
    MainForm::setTrayAvailable([trayShown] { return trayShown; });
    setIni(SettingKeys::minToTray, value);
    MainForm* form = makeWindow();
    form->show();
    QVERIFY(QTest::qWaitForWindowExposed(form));
    form->onBtnMinClick();
    QCOMPARE(form->isInTray(), toTray);
    if (toTray) {
        QVERIFY(form->isHidden());
    } else {
        QTRY_VERIFY(form->windowState() & Qt::WindowMinimized);
    }
}

void TestMainForm::closePolicy_data()
{
    QTest::addColumn<QString>("value");
    QTest::addColumn<bool>("answerOk");
    QTest::addColumn<bool>("asks");
    QTest::addColumn<bool>("quits");
    QTest::addColumn<bool>("trayShown");
    QTest::newRow("1: to the tray, no question") << "1" << true << false << false << true;
    QTest::newRow("1 without a tray: question, cancel") << "1" << false << true << false << false;
    QTest::newRow("2: question, cancel") << "2" << false << true << false << true;
    QTest::newRow("2: question, OK") << "2" << true << true << true << true;
    QTest::newRow("missing: question, cancel") << QString() << false << true << false << true;
    QTest::newRow("missing: question, OK") << QString() << true << true << true << true;
}

void TestMainForm::closePolicy()
{
    QFETCH(QString, value);
    QFETCH(bool, answerOk);
    QFETCH(bool, asks);
    QFETCH(bool, quits);
    QFETCH(bool, trayShown);
    MainForm::setTrayAvailable([trayShown] { return trayShown; });
    setIni(SettingKeys::closeToTray, value);
    bool bothButtons = true;
    XMessageBox::setResponder([this, answerOk, &bothButtons](XMessageBox& box) {
        asked << box.text();
        bothButtons = bothButtons && !box.isOkOnly();
        (answerOk ? box.okButton() : box.cancelButton())->click();
        return answerOk;
    });
    MainForm* form = makeWindow();
    form->show();
    QSignalSpy quit(App::instance(), &App::toQuit);

    const bool closed = form->close();

    QCOMPARE(asked, asks ? QStringList{"确定退出？"} : QStringList{});
    QVERIFY2(bothButtons, "the quit question needs both buttons");
    QCOMPARE(closed, quits);
    QCOMPARE(App::exists(), !quits);
    QCOMPARE(quit.count(), quits ? 1 : 0);
    QCOMPARE(QuitNotifier::instance()->isQuitting(), quits);
    if (quits) {
        // Whatever comes late finds no context, and none is built again.
        QTest::ignoreMessage(QtWarningMsg, "the program has ended: no new application context");
        QVERIFY(!App::instance());
    }
    if (value == "1" && trayShown) {
        QVERIFY(form->isHidden());
        QVERIFY(form->isInTray());
    } else if (!quits) {
        QVERIFY(form->isVisible());
    }
}

// Hidden in the tray, the settings dialog and the About box are opened from the tray menu and
// closed again, and so is a window of its own (as the player is, which needs OpenGL that this
// platform lacks); the program's event loop must go on until it is told to end.
void TestMainForm::dialogsFromTheTrayKeepTheProgram()
{
    setIni(SettingKeys::minToTray, "1");
    MainForm* form = makeWindow();
    form->show();
    QVERIFY(QTest::qWaitForWindowExposed(form));
    int closed = 0;
    BaseDialog::setRunHook([&closed](SheetDialog& dialog) {
        static_cast<BaseDialog&>(dialog).closeButton()->click();
        ++closed;
        return 0;
    });
    QWidget lastWindow;
    QTimer::singleShot(0, form, [form, &lastWindow] {
        form->onBtnMinClick();
        form->trayContextMenu()->actions().at(2)->trigger(); // "设置"
        QMetaObject::invokeMethod(form, "showAboutForm");
        lastWindow.show();
        lastWindow.close();
    });
    QTimer::singleShot(500, qApp, [] { QCoreApplication::exit(7); });
    QCOMPARE(QCoreApplication::exec(), 7);
    QVERIFY(form->isInTray());
    QCOMPARE(closed, 2);
}

void TestMainForm::closeFromTrayStopsInOrder_data()
{
    QTest::addColumn<int>("lessons");
    // Lessons deleted while the question stands, as if they had finished.
    QTest::addColumn<int>("endWhileAsked");
    QTest::addColumn<QStringList>("questions");
    QTest::newRow("hidden in the tray") << 0 << 0 << QStringList();
    // "关闭时最小化到托盘" must not turn the tray's "退出" into another hide.
    QTest::newRow("window shown") << -1 << 0 << QStringList();
    QTest::newRow("a lesson downloading") << 1 << 0 << QStringList{"正在下载 1 个课件，确定退出？"};
    QTest::newRow("lessons ending while asked")
        << 3 << 2 << QStringList{"正在下载 3 个课件，确定退出？", "正在下载 1 个课件，确定退出？"};
}

void TestMainForm::closeFromTrayStopsInOrder()
{
    QFETCH(int, lessons);
    QFETCH(int, endWhileAsked);
    QFETCH(QStringList, questions);
    const bool hiddenFirst = lessons == 0;
    setIni(SettingKeys::closeToTray, "1");
    QStringList dirs;
    XMessageBox::setResponder([this, &dirs, endWhileAsked](XMessageBox& box) {
        asked << box.text();
        if (endWhileAsked > 0) {
            App::instance()->downloader()->deleteDownloading(dirs.mid(0, endWhileAsked));
            asked << box.text();
        }
        return true;
    });
    MainForm* form = makeWindow();
    form->show();
    if (hiddenFirst) {
        QVERIFY(!form->close()); // first close hides to the tray
        QVERIFY(form->isInTray());
    }
    if (lessons > 0) {
        CourseRecord course;
        course.id = "101";
        course.title = "会计基础";
        for (int i = 0; i < lessons; ++i) {
            LessonRecord lesson;
            lesson.courseId = course.id;
            lesson.id = "101" + QString::number(i + 1);
            lesson.title = "第" + QString::number(i + 1) + "讲";
            lesson.state = Chosen;
            lesson.keyUrl = "http://127.0.0.1:9/x";
            course.list << lesson;
        }
        App::instance()->downloader()->addCourse(course);
        App::instance()->downloader()->setStart(true);
        for (const LessonRecord& lesson : App::instance()->downloader()->queue()) {
            dirs << lesson.dir;
        }
    }

    QSignalSpy quit(App::instance(), &App::toQuit);
    // "退出" of the tray menu
    const QList<QAction*> actions = form->trayContextMenu()->actions();
    QCOMPARE(actions.last()->text(), QString("退出"));
    actions.last()->trigger();
    QCOMPARE(quit.count(), 1);
    QVERIFY(!App::exists());
    QCOMPARE(asked, questions);
}

void TestMainForm::ringAlphas_data()
{
    QTest::addColumn<int>("ring");
    QTest::addColumn<int>("alpha");
    // 85 - 40·√i by hand: 85, 45, 85 - 56.57, 85 - 69.28, 85 - 80
    QTest::newRow("0") << 0 << 85;
    QTest::newRow("1") << 1 << 45;
    QTest::newRow("2") << 2 << 28;
    QTest::newRow("3") << 3 << 15;
    QTest::newRow("4") << 4 << 5;
}

void TestMainForm::ringAlphas()
{
    QFETCH(int, ring);
    QFETCH(int, alpha);
    QCOMPARE(MainForm::ringAlpha(ring), alpha);
}

static int edgeAlpha(QWidget* form)
{
    QImage image(form->size(), QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::transparent);
    form->layout()->activate();
    form->render(&image, QPoint(), QRegion(),
                 QWidget::DrawWindowBackground | QWidget::DrawChildren);
    // Half-way down the left edge, inside the shadow band.
    int strongest = 0;
    for (int x = 0; x < MainForm::shadowMargin; ++x) {
        strongest = qMax(strongest, qAlpha(image.pixel(x, form->height() / 2)));
    }
    return strongest;
}

void TestMainForm::shadowOnlyWhenNotMaximised_data()
{
    QTest::addColumn<bool>("composes");
    QTest::newRow("desktop composes") << true;
    // Without a compositor a see-through band would be black: an opaque window, framed.
    QTest::newRow("no compositor") << false;
}

void TestMainForm::shadowOnlyWhenNotMaximised()
{
    QFETCH(bool, composes);
    SheetDialog::setScreenComposes(composes ? 1 : -1);
    MainForm* form = makeWindow(1920, 1040);
    form->move(100, 50);
    form->show();
    QCOMPARE(form->testAttribute(Qt::WA_TranslucentBackground), composes);
    if (composes) {
        const int shadow = edgeAlpha(form);
        QVERIFY2(shadow > 0 && shadow < 255, qPrintable(QString::number(shadow)));
        QCOMPARE(qAlpha(form->grab().toImage().pixel(0, 0)), 0); // the corner stays clear
    } else {
        QCOMPARE(edgeAlpha(form), 255);
        // A line of its own at the edge, so that the window shows against a light desktop.
        QCOMPARE(form->grab().toImage().pixel(0, form->height() / 2), qRgb(0xd2, 0xd2, 0xd2));
        QCOMPARE(form->contentPos(), QPoint(101, 51));
        QCOMPARE(form->contentSize(), form->size() - QSize(2, 2));
    }
    form->onBtnMaxClick();
    QCOMPARE(form->size(), QSize(1920, 1040));
    QCOMPARE(edgeAlpha(form), 255); // the pages reach the edge, no translucent band
}

void TestMainForm::contentGeometry()
{
    MainForm* form = makeWindow(1920, 1040);
    form->move(100, 50);
    form->show();
    QCOMPARE(form->contentPos(), QPoint(105, 55));
    QCOMPARE(form->contentSize(), QSize(1200, 710));

    QSignalSpy sizes(App::instance(), &App::sizeChange);
    QTest::mouseClick(form->title()->findChild<QPushButton*>("btnMax"), Qt::LeftButton);
    QCOMPARE(form->pos(), QPoint(0, 0));
    QCOMPARE(form->contentPos(), QPoint(0, 0));
    QCOMPARE(form->contentSize(), QSize(1920, 1040));
    QVERIFY(form->title()->isMaximised());
    QVERIFY(form->title()->findChild<QPushButton*>("btnNormal")->isVisible());
    QVERIFY(!form->title()->findChild<QPushButton*>("btnMax")->isVisible());
    QCOMPARE(sizes.count(), 1);
    QCOMPARE(sizes.last().at(0).toInt(), 1920);

    QTest::mouseClick(form->title()->findChild<QPushButton*>("btnNormal"), Qt::LeftButton);
    QCOMPARE(form->size(), QSize(1210, 720));
    QCOMPARE(form->pos(), QPoint(100, 50));
    QCOMPARE(form->contentPos(), QPoint(105, 55));
    QVERIFY(!form->title()->isMaximised());
    QCOMPARE(sizes.last().at(0).toInt(), 1210);
}

void TestMainForm::dialogsCoverTheBody()
{
    MainForm* form = makeWindow(1920, 1040);
    form->move(100, 50);
    form->show();
    for (bool maximised : {false, true}) {
        if (maximised) {
            form->onBtnMaxClick();
        }
        const QRect body(form->contentPos(), form->contentSize());
        BaseDialog dialog("基本设置", 570, 410, form);
        QCOMPARE(dialog.geometry(), body);
        QCOMPARE(dialog.panel()->size(), QSize(570, 410));
        XMessageBox box("确定退出？", false, form);
        QCOMPARE(box.geometry(), body);
        QCOMPARE(box.windowTitle(), QString("确认"));
    }
}

static void sendMouse(QWidget* target, QEvent::Type type, const QPoint& local,
                      Qt::MouseButtons buttons)
{
    QMouseEvent event(type, local, target->mapToGlobal(local), Qt::LeftButton, buttons,
                      Qt::NoModifier);
    QApplication::sendEvent(target, &event);
}

void TestMainForm::draggingTheTitleBar()
{
    MainForm* form = makeWindow(1920, 1040);
    form->move(100, 50);
    form->show();
    QVERIFY(QTest::qWaitForWindowExposed(form));
    TitleWidget* bar = form->title();
    // Press 400 px into the bar, move the cursor 30 right and 20 down.
    const QPoint grip(400, 20);
    const QPoint start = bar->mapToGlobal(grip);
    sendMouse(bar, QEvent::MouseButtonPress, grip, Qt::LeftButton);
    QMouseEvent move(QEvent::MouseMove, grip + QPoint(30, 20), start + QPoint(30, 20), Qt::NoButton,
                     Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(bar, &move);
    QCOMPARE(form->pos(), QPoint(130, 70));

    QTest::mouseClick(bar->findChild<QPushButton*>("btnMax"), Qt::LeftButton);
    sendMouse(bar, QEvent::MouseButtonPress, grip, Qt::LeftButton);
    QMouseEvent moveMax(QEvent::MouseMove, grip + QPoint(30, 20),
                        bar->mapToGlobal(grip) + QPoint(30, 20), Qt::NoButton, Qt::LeftButton,
                        Qt::NoModifier);
    QApplication::sendEvent(bar, &moveMax);
    QCOMPARE(form->pos(), QPoint(0, 0));
}

void TestMainForm::draggingADialogDragsTheWindow_data()
{
    QTest::addColumn<bool>("messageBox");
    QTest::addColumn<bool>("maximised");
    QTest::newRow("dialog frame") << false << false;
    QTest::newRow("message box") << true << false;
    QTest::newRow("over a maximised window: nothing moves") << false << true;
}

void TestMainForm::draggingADialogDragsTheWindow()
{
    QFETCH(bool, messageBox);
    QFETCH(bool, maximised);
    MainForm* form = makeWindow(1920, 1040);
    form->move(100, 50);
    form->show();
    if (maximised) {
        form->onBtnMaxClick();
    }
    const QPoint start = maximised ? QPoint(0, 0) : QPoint(105, 55);
    std::unique_ptr<QDialog> sheet;
    if (messageBox) {
        sheet = std::make_unique<XMessageBox>("确定退出？", false, form);
    } else {
        sheet = std::make_unique<BaseDialog>("基本设置", 570, 410, form);
    }
    sheet->show();
    QCOMPARE(sheet->pos(), start);
    const QPoint grip(10, 10);
    sendMouse(sheet.get(), QEvent::MouseButtonPress, grip, Qt::LeftButton);
    QMouseEvent move(QEvent::MouseMove, grip + QPoint(30, 20),
                     sheet->mapToGlobal(grip) + QPoint(30, 20), Qt::NoButton, Qt::LeftButton,
                     Qt::NoModifier);
    QApplication::sendEvent(sheet.get(), &move);
    const QPoint moved = maximised ? QPoint() : QPoint(30, 20);
    QCOMPARE(sheet->pos(), start + moved);
    QCOMPARE(form->pos(), maximised ? QPoint(0, 0) : QPoint(130, 70));
    QCOMPARE(QRect(form->contentPos(), form->contentSize()), sheet->geometry());
}

void TestMainForm::welcomeText_data()
{
    QTest::addColumn<QString>("nickname");
    QTest::addColumn<QString>("expected");
    QTest::newRow("nickname") << "小李"
                              << "欢迎您，小李";
    QTest::newRow("empty nickname: the user name") << ""
                                                   << "欢迎您，13800000001";
}

void TestMainForm::welcomeText()
{
    QFETCH(QString, nickname);
    QFETCH(QString, expected);
    MainForm* form = makeWindow();
    form->show();
    {
        UserRecord user;
        user.username = "13800000001";
        user.nickname = nickname;
        App::instance()->library()->setSession(user);
    }
    App::instance()->setLogin(true);
    QCOMPARE(form->title()->welcomeButton()->text(), expected);
    QVERIFY(form->title()->welcomeButton()->isVisible());
    QVERIFY(!form->title()->signInButton()->isVisible());
    QCOMPARE(form->visiblePage(), form->myClassPage());
}

void TestMainForm::logoutShowsTheUserPage()
{
    MainForm* form = makeLoggedInWindow();
    QSignalSpy login(App::instance(), &App::Login);
    QVERIFY(QMetaObject::invokeMethod(form, "loingout"));
    QCOMPARE(login.count(), 1);
    QCOMPARE(login.first().first().toBool(), false);
    QCOMPARE(form->visiblePage(), form->userPage());
    QVERIFY(form->title()->signInButton()->isVisible());
    // The expired session is on disk, so the next start does not restore it.
    QVERIFY(App::instance()->session().loginTime.secsTo(QDateTime::currentDateTime()) >
            86400LL * 365 * 999);
}

void TestMainForm::lostSessionIsToldOnceAndShowsTheLogin_data()
{
    QTest::addColumn<QString>("where");
    QTest::newRow("a download") << "download";
    QTest::newRow("the course page's 下载课件") << "page";
}

void TestMainForm::lostSessionIsToldOnceAndShowsTheLogin()
{
    QFETCH(QString, where);
    XMessageBox::setResponder([this](XMessageBox& box) {
        asked << box.text();
        return true;
    });
    MainForm* form = makeLoggedInWindow();
    form->showMyClassForm();
    QSignalSpy told(form, &MainForm::told);
    // The school says it again and again: the student hears it once.
    for (int i = 0; i < 3; ++i) {
        if (where == "download") {
            emit App::instance()->downloader()->sessionLost();
        } else {
            QVERIFY(
                QMetaObject::invokeMethod(form->myClassPage(), "httpGetMyCourseInfoDone",
                                          Q_ARG(QString, R"({"flag":"0","infos":"请先登录"})")));
        }
    }
    QCOMPARE(told.size(), 1);
    QCOMPARE(told.first().first().toString(), QString("登录已失效，请重新登录后继续下载。"));
    QVERIFY(!App::instance()->isLogin());
    QCOMPARE(form->visiblePage(), form->userPage());
    QVERIFY(asked.isEmpty()); // no bare "请先登录" box
}

void TestMainForm::backButtonBelongsToTheWebPage()
{
    MainForm* form = makeWindow();
    form->show();
    App::instance()->setLogin(true);
    form->showMyClassForm();
    QPushButton* back = form->title()->backButton();
    // The page has stepped into a course: somewhere to go back to.
    QVERIFY(QMetaObject::invokeMethod(form, "showNavigate", Q_ARG(bool, false)));
    QVERIFY(back->isVisible());
    form->showDownloadForm();
    QVERIFY(!back->isVisible());
    form->showCourseware(QString());
    QVERIFY(!back->isVisible());
    form->showMyClassForm();
    QVERIFY(back->isVisible());
    QVERIFY(QMetaObject::invokeMethod(form, "showNavigate", Q_ARG(bool, true)));
    QVERIFY(!back->isVisible());
}

QTEST_MAIN(TestMainForm)
#include "tst_mainform.moc"
