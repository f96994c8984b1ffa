// Where windows come up on a real X server: dialogs and the folder chooser in front of their
// parent and centred over it, the tray's own window usable while a dialog is open, and the main
// window's place kept across a restart. Run once without a window manager and once under
// Openbox (tests/app/with-openbox.sh).
#include "App.h"
#include "FormBaseSet.h"
#include "MainForm.h"
#include "SettingKeys.h"
#include "SheetDialog.h"
#include "SystemServices.h"
#include "XMessageBox.h"

#include <QAction>
#include <QFileDialog>
#include <QPushButton>
#include <QScreen>
#include <QtTest>

#include <functional>
#include <xcb/xcb.h>

namespace {

// The window's own top-level ancestor under the root: the window manager's frame, if any.
xcb_window_t frameOf(xcb_connection_t* connection, xcb_window_t window)
{
    for (int depth = 0; depth < 16; ++depth) {
        xcb_query_tree_reply_t* tree =
            xcb_query_tree_reply(connection, xcb_query_tree(connection, window), nullptr);
        if (!tree) {
            return XCB_WINDOW_NONE;
        }
        const xcb_window_t parent = tree->parent;
        const xcb_window_t root = tree->root;
        free(tree);
        if (parent == root) {
            return window;
        }
        window = parent;
    }
    return XCB_WINDOW_NONE;
}

// True when `upper` is stacked above `lower` on the X server, as the student sees it.
bool stackedAbove(QWidget* upper, QWidget* lower)
{
    xcb_connection_t* connection = xcb_connect(nullptr, nullptr);
    if (xcb_connection_has_error(connection)) {
        xcb_disconnect(connection);
        return false;
    }
    const xcb_window_t upperFrame = frameOf(connection, xcb_window_t(upper->winId()));
    const xcb_window_t lowerFrame = frameOf(connection, xcb_window_t(lower->winId()));
    const xcb_window_t root = xcb_setup_roots_iterator(xcb_get_setup(connection)).data->root;
    xcb_query_tree_reply_t* tree =
        xcb_query_tree_reply(connection, xcb_query_tree(connection, root), nullptr);
    int upperAt = -1;
    int lowerAt = -1;
    if (tree) {
        // Bottom first.
        const xcb_window_t* children = xcb_query_tree_children(tree);
        for (int i = 0; i < xcb_query_tree_children_length(tree); ++i) {
            upperAt = children[i] == upperFrame ? i : upperAt;
            lowerAt = children[i] == lowerFrame ? i : lowerAt;
        }
        free(tree);
    }
    xcb_disconnect(connection);
    return upperAt >= 0 && lowerAt >= 0 && upperAt > lowerAt;
}

QPushButton* buttonWithText(QWidget* parent, const QString& text)
{
    for (QPushButton* button : parent->findChildren<QPushButton*>()) {
        if (button->text() == text) {
            return button;
        }
    }
    return nullptr;
}

} // namespace

class TestPlacement : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase();
    void init();
    void cleanup();

    void dialogsInFrontAndCentred_data();
    void dialogsInFrontAndCentred();
    void trayWorksWhileADialogIsOpen();
    void seeThroughOnlyWhereTheScreenComposes_data();
    void seeThroughOnlyWhereTheScreenComposes();
    void windowPlaceKeptAcrossRestart_data();
    void windowPlaceKeptAcrossRestart();

private:
    MainForm* makeWindow();
    // Calls `step` every 50 ms from inside whatever modal loop runs until it returns true;
    // after 15 s every modal widget is closed so that the test ends with a failure, not a hang.
    void whileModal(std::function<bool()> step);

    std::unique_ptr<QTemporaryDir> docs;
    std::unique_ptr<MainForm> window;
};

void TestPlacement::initTestCase()
{
    QStandardPaths::setTestModeEnabled(true);
    SystemServices::setLauncher([](const QString&, const QStringList&) { return true; });
    qputenv("TAMIX_API_URL", "http://127.0.0.1:9");
    qputenv("TAMIX_KEY_URL", "http://127.0.0.1:9");
    docs = std::make_unique<QTemporaryDir>();
    QVERIFY(docs->isValid());
    qputenv("TAMIX_DOCUMENTS_DIR", docs->path().toUtf8());
    qputenv("TAMIX_VIDEOS_DIR", docs->path().toUtf8());
}

void TestPlacement::init()
{
    App::allowNewRun();
    MainForm::setTrayAvailable([] { return true; });
    XMessageBox::setResponder(nullptr);
}

void TestPlacement::cleanup()
{
    window.reset();
    if (App::exists()) {
        delete App::instance();
    }
    XMessageBox::setResponder(nullptr);
    SheetDialog::setScreenComposes(0);
}

MainForm* TestPlacement::makeWindow()
{
    qApp->setStyleSheet(App::instance()->styleSheet());
    App::instance()->setScreenRect(QGuiApplication::primaryScreen()->availableGeometry());
    window = std::make_unique<MainForm>();
    window->show();
    return window.get();
}

void TestPlacement::whileModal(std::function<bool()> step)
{
    auto* poll = new QTimer(this);
    auto* started = new QElapsedTimer;
    started->start();
    connect(poll, &QTimer::timeout, this, [poll, started, step] {
        if (step()) {
            poll->stop();
        } else if (started->elapsed() > 15000) {
            poll->stop();
            while (QWidget* modal = QApplication::activeModalWidget()) {
                modal->close();
            }
        } else {
            return;
        }
        poll->deleteLater();
        delete started;
    });
    poll->start(50);
}

void TestPlacement::dialogsInFrontAndCentred_data()
{
    QTest::addColumn<QString>("dialog");
    QTest::newRow("message box") << "message box";
    QTest::newRow("settings") << "settings";
    QTest::newRow("folder chooser over the settings") << "chooser";
}

void TestPlacement::dialogsInFrontAndCentred()
{
    QFETCH(QString, dialog);
    MainForm* main = makeWindow();
    QVERIFY(QTest::qWaitForWindowExposed(main));
    const QPoint bodyCentre = QRect(main->contentPos(), main->contentSize()).center();
    auto* settings = new FormBaseSet("基本设置", main);
    XMessageBox box("确定退出？", false);

    QWidget* wanted = nullptr;  // the dialog to look at, once it is up
    QWidget* under = main;      // the window it must be in front of
    QPoint centre = bodyCentre; // where its centre belongs
    bool inFront = false;
    QPoint seenCentre;
    bool chooserAsked = false;
    int looks = 0;
    whileModal([&] {
        QWidget* modal = QApplication::activeModalWidget();
        if (dialog == "chooser" && modal == settings && !chooserAsked) {
            chooserAsked = true;
            QTimer::singleShot(0, buttonWithText(settings, "更改目录"), &QPushButton::click);
            return false;
        }
        wanted = dialog == "chooser" ? qobject_cast<QFileDialog*>(modal) : modal;
        if (!wanted || !wanted->isVisible() || !wanted->windowHandle()->isExposed()) {
            return false;
        }
        if (dialog == "chooser") {
            under = settings;
            centre = settings->frameGeometry().center();
        }
        // A window manager may take a moment to stack and place what was mapped.
        inFront = stackedAbove(wanted, under);
        seenCentre = wanted->frameGeometry().center();
        if (!inFront && ++looks < 40) {
            return false;
        }
        while (QWidget* open = QApplication::activeModalWidget()) {
            open->close();
        }
        return true;
    });
    if (dialog == "message box") {
        box.showAndWait();
    } else {
        settings->run();
    }
    QVERIFY2(wanted, "the dialog never came up");
    QVERIFY2(inFront, qPrintable(dialog + " is not in front of its parent"));
    const QPoint off = seenCentre - centre;
    QVERIFY2(qAbs(off.x()) <= 16 && qAbs(off.y()) <= 16,
             qPrintable(QString("%1 is centred %2,%3 away").arg(dialog).arg(off.x()).arg(off.y())));
}

// The tray's icon and menu are windows of their own, outside the main window: a dialog open
// over the main window must leave them usable, and the tray's "退出" ends the program.
void TestPlacement::trayWorksWhileADialogIsOpen()
{
    MainForm* main = makeWindow();
    QVERIFY(QTest::qWaitForWindowExposed(main));
    QPushButton outside("托盘");
    outside.show();
    QVERIFY(QTest::qWaitForWindowExposed(&outside));
    QSignalSpy clicked(&outside, &QPushButton::clicked);
    QSignalSpy ended(main, &MainForm::ended);
    QAction* quit = nullptr;
    for (QAction* action : main->findChildren<QAction*>()) {
        quit = action->text() == "退出" ? action : quit;
    }
    QVERIFY(quit);

    XMessageBox box("确定退出？", false);
    whileModal([&] {
        if (!box.isVisible()) {
            return false;
        }
        // Through the window system, as a real click comes, so that modality applies.
        QTest::mouseClick(outside.windowHandle(), Qt::LeftButton, Qt::NoModifier,
                          outside.rect().center());
        quit->trigger();
        box.close();
        return true;
    });
    box.showAndWait();
    QCOMPARE(clicked.count(), 1);
    QCOMPARE(ended.count(), 1);
    window.release()->deleteLater(); // ended: the program's own stop has run
}

void TestPlacement::seeThroughOnlyWhereTheScreenComposes_data()
{
    QTest::addColumn<bool>("composes");
    QTest::newRow("composing desktop") << true;
    QTest::newRow("no compositor") << false;
}

// Without a compositor the see-through parts of a window are black: the box is then opaque,
// of its own size, over the middle of the window's body.
void TestPlacement::seeThroughOnlyWhereTheScreenComposes()
{
    QFETCH(bool, composes);
    SheetDialog::setScreenComposes(composes ? 1 : -1);
    MainForm* main = makeWindow();
    QVERIFY(QTest::qWaitForWindowExposed(main));
    const QRect body(main->contentPos(), main->contentSize());
    XMessageBox box("确定退出？", false);
    box.show();
    QVERIFY(QTest::qWaitForWindowExposed(&box));
    QCOMPARE(box.testAttribute(Qt::WA_TranslucentBackground), composes);
    const QImage shot = box.grab().toImage();
    const QRgb corner = shot.pixel(2, 2);
    if (composes) {
        QCOMPARE(box.geometry(), body);
        QVERIFY(qAlpha(corner) < 255);
    } else {
        QVERIFY(box.width() < body.width() && box.height() < body.height());
        QVERIFY((box.geometry().center() - body.center()).manhattanLength() <= 2);
        QCOMPARE(qAlpha(corner), 255);
        QVERIFY2(qGray(corner) > 128, "the frame around the box is dark");
    }
}

void TestPlacement::windowPlaceKeptAcrossRestart_data()
{
    const QRect screen = QGuiApplication::primaryScreen()->availableGeometry();
    QTest::addColumn<QRect>("placed");
    QTest::addColumn<bool>("kept");
    QTest::newRow("on the screen")
        << QRect(screen.topLeft() + QPoint(30, 20), QSize(900, 650)) << true;
    QTest::newRow("on a screen that has gone")
        << QRect(screen.topRight() + QPoint(2000, 0), QSize(900, 650)) << false;
}

void TestPlacement::windowPlaceKeptAcrossRestart()
{
    QFETCH(QRect, placed);
    QFETCH(bool, kept);
    App::instance()->setSetting(SettingKeys::windowGeometry, QString());
    MainForm* first = makeWindow();
    const QSize ruled = first->size();
    first->resize(placed.size());
    first->move(placed.topLeft());
    XMessageBox::setResponder([](XMessageBox&) { return true; });
    QSignalSpy ended(first, &MainForm::ended);
    first->close();
    QCOMPARE(ended.count(), 1);
    window.release()->deleteLater();
    QCoreApplication::processEvents();

    App::allowNewRun();
    MainForm* second = makeWindow();
    if (kept) {
        QCOMPARE(second->geometry(), placed);
    } else {
        QCOMPARE(second->size(), ruled);
        QVERIFY(QGuiApplication::primaryScreen()->availableGeometry().contains(
            second->geometry().center()));
    }
}

QTEST_MAIN(TestPlacement)
#include "tst_placement.moc"
