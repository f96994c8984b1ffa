// Start-up through the main window: a stored session at most 86399 seconds old comes back with
// its session id (so the school sees no session-id request), an older one does not, and a
// logout is never restored.
#include "AccountTestEnv.h"
#include "CourseLibrary.h"
#include "FormLoginin.h"
#include "FormMyClass.h"
#include "FormUser.h"
#include "FormUserInfo.h"
#include "HttpHelper.h"
#include "MainForm.h"
#include "SettingKeys.h"
#include "UserRecord.h"

#include <QComboBox>
#include <QJsonObject>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>

class TestAccountSession : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase();
    void init();
    void cleanup();

    void startUp_data();
    void startUp();
    void logoutIsNeverRestored_data();
    void logoutIsNeverRestored();
    void loginOverABadNetwork_data();
    void loginOverABadNetwork();

private:
    // Leaves a store of 13800000001 that logged in `ageSeconds` ago, as a run before would.
    void storeSession(qint64 ageSeconds)
    {
        App* app = App::instance();
        UserRecord user;
        user.uid = "1001";
        user.username = "13800000001";
        user.nickname = "林小禾";
        user.sid = "stored-session";
        // The record's clock stands still, so the age at start-up is exactly this one.
        const QDateTime now = QDateTime::currentDateTime();
        UserRecord::setClock([now] { return now; });
        user.loginTime = now.addSecs(-ageSeconds);
        app->library()->replace(user);
        app->saveStore();
        app->setSetting(SettingKeys::lastUser, "13800000001");
        QImage picture(40, 40, QImage::Format_RGB32);
        picture.fill(Qt::green);
        QVERIFY(picture.save(app->store()->userDir("13800000001") + "/13800000001.jpg", "JPG"));
        delete app;
    }
    void startMainForm() { window = std::make_unique<MainForm>(); }
    void stopMainForm()
    {
        window.reset();
        env.dropContext();
        UserRecord::setClock(nullptr);
    }

    AccountTestEnv env;
    std::unique_ptr<MainForm> window;
};

void TestAccountSession::initTestCase()
{
    QVERIFY2(env.startSchool(), qPrintable(env.school.errorString()));
}

void TestAccountSession::init()
{
    env.freshFolders();
    QVERIFY(env.school.resetStats());
}

void TestAccountSession::cleanup()
{
    stopMainForm();
}

void TestAccountSession::startUp_data()
{
    QTest::addColumn<qint64>("ageSeconds");
    QTest::addColumn<bool>("restored");
    QTest::newRow("86399 s old") << qint64(86399) << true;
    QTest::newRow("86400 s old") << qint64(86400) << false;
}

void TestAccountSession::startUp()
{
    QFETCH(qint64, ageSeconds);
    QFETCH(bool, restored);
    storeSession(ageSeconds);
    startMainForm();
    App* app = App::instance();
    FormUser* user = window->userForm();
    QCOMPARE(app->isLogin(), restored);
    // The version check comes last on both roads.
    QTRY_COMPARE_WITH_TIMEOUT(env.route("getPcUpdate"), 1, 10000);
    if (restored) {
        QCOMPARE(env.route("getSessionId"), 0);
        QCOMPARE(app->session().sid, QString("stored-session"));
        QCOMPARE(window->visiblePage(), window->myClassPage());
        QVERIFY(!user->userPanel()->isHidden());
        QVERIFY(user->loginPage()->isHidden());
        QCOMPARE(user->userPanel()->accountLabel()->text(), QString("手机：13800000001"));
        QVERIFY(user->userPanel()->avatarLabel());
        QVERIFY(!user->userPanel()->avatarLabel()->pixmap(Qt::ReturnByValue).isNull());
        QCOMPARE(user->userPanel()->nicknameLabel()->text(), QString("林小禾"));
    } else {
        QCOMPARE(env.route("getSessionId"), 1);
        QVERIFY(!app->session().sid.isEmpty());
        QVERIFY(app->session().sid != "stored-session");
        QVERIFY(app->session().username.isEmpty());
        QCOMPARE(window->visiblePage(), window->userPage());
        QVERIFY(!user->loginPage()->isHidden());
        QVERIFY(user->userPanel()->isHidden());
        QVERIFY(!user->userPanel()->avatarLabel());
        QCOMPARE(user->loginPage()->nameBox()->currentText(), QString("13800000001"));
    }
}

void TestAccountSession::logoutIsNeverRestored_data()
{
    QTest::addColumn<bool>("fromMenu");
    QTest::newRow("退出 on the panel") << false;
    QTest::newRow("退出 in the user menu") << true;
}

void TestAccountSession::logoutIsNeverRestored()
{
    QFETCH(bool, fromMenu);
    storeSession(60);
    startMainForm();
    QVERIFY(App::instance()->isLogin());
    window->show();
    QVERIFY(QTest::qWaitForWindowExposed(window.get()));
    const QSize before = window->size();
    FormUser* user = window->userForm();
    if (fromMenu) {
        QVERIFY(QMetaObject::invokeMethod(window.get(), "loingout"));
    } else {
        user->userPanel()->escButton()->click();
    }
    QVERIFY(!App::instance()->isLogin());
    QVERIFY(!user->loginPage()->isHidden());
    QVERIFY(user->userPanel()->isHidden());
    QCOMPARE(window->visiblePage(), window->userPage());
    // The login page takes the panel's place without growing the window.
    QCoreApplication::processEvents();
    QCOMPARE(window->size(), before);

    // The next start finds nobody logged in and asks for a new session.
    stopMainForm();
    QVERIFY(env.school.resetStats());
    startMainForm();
    QVERIFY(!App::instance()->isLogin());
    QVERIFY(!window->userForm()->loginPage()->isHidden());
    QCOMPARE(window->visiblePage(), window->userPage());
    QTRY_COMPARE_WITH_TIMEOUT(env.route("getSessionId"), 1, 10000);
}

void TestAccountSession::loginOverABadNetwork_data()
{
    QTest::addColumn<QJsonObject>("fault");
    QTest::addColumn<bool>("loggedIn");
    QTest::addColumn<int>("sessionCalls");
    // The first session id is lost; the login asks for one before it goes out.
    QTest::newRow("session id lost at start")
        << QJsonObject{{"route", "*getSessionId*"}, {"status", 500}, {"times", 1}} << true << 2;
    QTest::newRow("login never answered")
        << QJsonObject{{"route", "*dologin*"}, {"stall", 8000}} << false << 1;
    // The start-up session id comes after the login's own: the login's stays.
    QTest::newRow("start-up session id late")
        << QJsonObject{{"route", "*getSessionId*"}, {"latency", 800}, {"times", 1}} << true << 2;
}

void TestAccountSession::loginOverABadNetwork()
{
    QFETCH(QJsonObject, fault);
    QFETCH(bool, loggedIn);
    QFETCH(int, sessionCalls);
    QVERIFY(env.school.addFault(fault));
    HttpHelper::setTimeoutForTests(1000);
    startMainForm();
    QTRY_COMPARE_WITH_TIMEOUT(env.route("getSessionId"), 1, 10000);
    FormLoginin* login = window->userForm()->loginPage();
    login->nameBox()->setEditText("13800000001");
    login->passwordBox()->setText("tamix123");
    login->loginButton()->click();
    QTRY_VERIFY_WITH_TIMEOUT(login->loginButton()->isEnabled(), 5000);
    HttpHelper::setTimeoutForTests(0);
    QVERIFY(env.school.clearFaults());
    QCOMPARE(App::instance()->isLogin(), loggedIn);
    QCOMPARE(env.route("getSessionId"), sessionCalls);
    QCOMPARE(env.messages, loggedIn ? QStringList() : QStringList{"请检查网络连接"});
    QCOMPARE(login->loginButton()->text(), QString("登录"));
    // Whatever answers late must not replace the session the student logged in with.
    const QString sid = App::instance()->library()->sid();
    QTest::qWait(1200);
    QCOMPARE(App::instance()->library()->sid(), sid);
}

QTEST_MAIN(TestAccountSession)
#include "tst_accountsession.moc"
