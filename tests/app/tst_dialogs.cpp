// The dialog frame, the message box and the shutdown countdown. The countdown's shutdown goes
// through the launcher seam: nothing is ever powered off.
#include "App.h"
#include "BaseDialog.h"
#include "FormAbout.h"
#include "SystemServices.h"
#include "ToShutdown.h"
#include "XMessageBox.h"

#include <QLabel>
#include <QPushButton>
#include <QtTest>

class TestDialogs : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase();
    void init();
    void cleanupTestCase();

    void showAndWait_data();
    void showAndWait();
    void showAndWaitRunsModally_data();
    void showAndWaitRunsModally();
    void okOnlyHidesCancel();
    void baseDialogFrame();
    void aboutBox();
    void countdownAfterOneTick();
    void countdownLastSecondAndFiring();
    void cancelPreventsShutdown_data();
    void cancelPreventsShutdown();

private:
    std::unique_ptr<QTemporaryDir> docs;
    QList<QStringList> launched;
};

void TestDialogs::initTestCase()
{
    QStandardPaths::setTestModeEnabled(true);
    docs = std::make_unique<QTemporaryDir>();
    qputenv("TAMIX_DOCUMENTS_DIR", docs->path().toUtf8());
    qputenv("TAMIX_VIDEOS_DIR", docs->path().toUtf8());
    SystemServices::setLauncher([this](const QString& program, const QStringList& arguments) {
        launched.append(QStringList{program} + arguments);
        return true;
    });
    App::instance();
}

void TestDialogs::init()
{
    launched.clear();
    XMessageBox::setResponder(nullptr);
}

void TestDialogs::cleanupTestCase()
{
    delete App::instance();
}

void TestDialogs::showAndWait_data()
{
    QTest::addColumn<QString>("how");
    QTest::addColumn<bool>("cancelled");
    QTest::newRow("OK") << "ok" << false;
    QTest::newRow("Cancel") << "cancel" << true;
    QTest::newRow("close button") << "close" << true;
    QTest::newRow("closed otherwise") << "window" << true;
    QTest::newRow("Escape") << "escape" << true;
}

static void answer(XMessageBox& box, const QString& how)
{
    if (how == "ok") {
        QTest::mouseClick(box.okButton(), Qt::LeftButton);
    } else if (how == "cancel") {
        QTest::mouseClick(box.cancelButton(), Qt::LeftButton);
    } else if (how == "close") {
        QTest::mouseClick(box.closeButton(), Qt::LeftButton);
    } else if (how == "window") {
        box.close();
    } else {
        QTest::keyClick(&box, Qt::Key_Escape);
    }
}

void TestDialogs::showAndWait()
{
    QFETCH(QString, how);
    QFETCH(bool, cancelled);
    XMessageBox::setResponder([how](XMessageBox& box) {
        answer(box, how);
        return false;
    });
    XMessageBox box("确定退出？", false);
    QCOMPARE(box.showAndWait(), cancelled);
    QVERIFY(!box.isVisible());
    QCOMPARE(XMessageBox::ask("确定退出？"), !cancelled);
}

void TestDialogs::showAndWaitRunsModally_data()
{
    showAndWait_data();
}

// The same answers through the real modal loop, without the seam.
void TestDialogs::showAndWaitRunsModally()
{
    QFETCH(QString, how);
    QFETCH(bool, cancelled);
    XMessageBox box("确定退出？", false);
    QTimer::singleShot(50, &box, [&box, how] {
        QVERIFY(box.isVisible());
        answer(box, how);
    });
    QCOMPARE(box.showAndWait(), cancelled);
}

void TestDialogs::okOnlyHidesCancel()
{
    XMessageBox box("请输入用户名！", true);
    box.show();
    QVERIFY(box.okButton()->isVisible());
    QCOMPARE(box.okButton()->text(), QString("确认"));
    QVERIFY(!box.cancelButton()->isVisible());
    QTimer::singleShot(0, &box, [&box] { box.closeButton()->click(); });
    QCOMPARE(box.showAndWait(), true);
}

void TestDialogs::baseDialogFrame()
{
    BaseDialog dialog("基本设置", 570, 410);
    QCOMPARE(dialog.windowTitle(), QString("基本设置"));
    QCOMPARE(dialog.panel()->objectName(), QString("MessageBox"));
    QCOMPARE(dialog.panel()->size(), QSize(570, 410));
    QCOMPARE(dialog.closeButton()->objectName(), QString("btnControlClose"));
    QVERIFY(dialog.windowFlags() & Qt::FramelessWindowHint);
    QVERIFY(dialog.testAttribute(Qt::WA_TranslucentBackground));
    const QLabel* title = dialog.findChild<QLabel*>("lblUserInfo");
    QVERIFY(title);
    QCOMPARE(title->text(), QString("基本设置"));

    int seen = 0;
    bool wasShown = false;
    BaseDialog::setRunHook([&seen, &wasShown](SheetDialog& shown) {
        ++seen;
        wasShown = shown.isVisible();
        static_cast<BaseDialog&>(shown).closeButton()->click();
        return 7;
    });
    QCOMPARE(dialog.run(), 7);
    BaseDialog::setRunHook(nullptr);
    QCOMPARE(seen, 1);
    QVERIFY(wasShown);
    QVERIFY(!dialog.isVisible());
}

void TestDialogs::aboutBox()
{
    FormAbout about("关于 岚禾会计网校 1.1.4");
    QCOMPARE(about.windowTitle(), QString("关于 岚禾会计网校 1.1.4"));
    QCOMPARE(about.panel()->size(), QSize(500, 180));
    auto* ok = about.findChild<QPushButton*>("btnOK");
    QVERIFY(ok);
    QCOMPARE(ok->text(), QString("确定"));
    about.show();
    ok->click();
    QVERIFY(!about.isVisible());
}

void TestDialogs::countdownAfterOneTick()
{
    ToShutdown countdown;
    QCOMPARE(countdown.windowTitle(), QString("即将关机"));
    QCOMPARE(countdown.panel()->size(), QSize(350, 150));
    QCOMPARE(countdown.labelText(), QString("将在30秒后关机"));
    countdown.show();
    QTRY_COMPARE_WITH_TIMEOUT(countdown.labelText(), QString("将在29秒后关机"), 2500);
    QCOMPARE(countdown.remaining(), 29);
    countdown.cancelButton()->click();
    QVERIFY(launched.isEmpty());
}

void TestDialogs::countdownLastSecondAndFiring()
{
    ToShutdown countdown;
    countdown.show();
    for (int i = 0; i < 29; ++i) {
        QMetaObject::invokeMethod(&countdown, "tick");
    }
    QCOMPARE(countdown.labelText(), QString("将在1秒后关机"));
    QVERIFY(launched.isEmpty());
    QMetaObject::invokeMethod(&countdown, "tick");
    QCOMPARE(launched.size(), 1);
    QVERIFY(!countdown.isVisible());
    QMetaObject::invokeMethod(&countdown, "tick"); // a late tick changes nothing
    QCOMPARE(launched.size(), 1);
}

void TestDialogs::cancelPreventsShutdown_data()
{
    QTest::addColumn<QString>("how");
    QTest::addColumn<int>("atSecond");
    QTest::newRow("取消 at once") << "cancel" << 0;
    QTest::newRow("取消 at the last second") << "cancel" << 29;
    QTest::newRow("close button") << "close" << 10;
    QTest::newRow("Escape") << "escape" << 5;
}

void TestDialogs::cancelPreventsShutdown()
{
    QFETCH(QString, how);
    QFETCH(int, atSecond);
    ToShutdown countdown;
    countdown.show();
    for (int i = 0; i < atSecond; ++i) {
        QMetaObject::invokeMethod(&countdown, "tick");
    }
    if (how == "cancel") {
        countdown.cancelButton()->click();
    } else if (how == "close") {
        countdown.closeButton()->click();
    } else {
        QTest::keyClick(&countdown, Qt::Key_Escape);
    }
    QVERIFY(!countdown.isVisible());
    const QString after = countdown.labelText();
    QTest::qWait(1300); // the timer would have ticked by now
    QCOMPARE(countdown.labelText(), after);
    for (int i = 0; i < 40; ++i) { // and even past the thirty seconds
        QMetaObject::invokeMethod(&countdown, "tick");
    }
    QVERIFY(launched.isEmpty());
}

QTEST_MAIN(TestDialogs)
#include "tst_dialogs.moc"
