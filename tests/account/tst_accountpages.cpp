// The account pages against the stand-in school: login with its checks, answers and avatar,
// registration, the user panel, password change and re-login. Expected texts and account data
// come from the school's seed and its sources.
#include "AccountTestEnv.h"
#include "CourseLibrary.h"
#include "FormAlterPwd.h"
#include "FormLoginin.h"
#include "FormRegist.h"
#include "FormUser.h"
#include "FormUserInfo.h"
#include "ReLogin.h"
#include "SettingKeys.h"
#include "UserRecord.h"

#include <QApplication>
#include <QComboBox>
#include <QCryptographicHash>
#include <QJsonObject>
#include <QLabel>
#include <QLineEdit>
#include <QPainter>
#include <QPushButton>

static const char* const keepHint = "<hint>";

static QStringList logLines;
static void keepLogLine(QtMsgType, const QMessageLogContext&, const QString& message)
{
    logLines.append(message);
}

static QByteArray fileMd5(const QString& path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        return QByteArray();
    }
    return QCryptographicHash::hash(file.readAll(), QCryptographicHash::Md5).toHex();
}

class TestAccountPages : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase();
    void init();
    void cleanup();

    void loginChecks_data();
    void loginChecks();
    void loginSucceeds();
    void loginRefused_data();
    void loginRefused();
    void schoolStoppedGivesNetworkMessage();
    void returnKeyLogsInKeypadEnterDoesNot();
    void hintsFollowFocus();
    void secondLoginOfAnotherUserClearsLists();
    void existingAvatarMeansNoDownload();
    void failedAvatarDownloadWritesNothing_data();
    void failedAvatarDownloadWritesNothing();
    void passwordsNeverLogged();
    void registration_data();
    void registration();
    void unusualLoginAnswers_data();
    void unusualLoginAnswers();
    void passwordChangeChecks_data();
    void passwordChangeChecks();
    void passwordChangeThroughSchool();
    void refusedPasswordChangeKeepsBoxes();
    void roundAvatar();
    void logoutHidesAvatar();

private:
    void giveSession()
    {
        App::instance()->library()->setSid(QString("test-session-%1").arg(++sessions));
    }
    // Sends a login and waits for the answer to be handled; true when it logged in.
    bool loginAs(const QString& name, const QString& password)
    {
        FormLoginin* page = form->loginPage();
        page->nameBox()->setEditText(name);
        page->passwordBox()->setText(password);
        QSignalSpy login(App::instance(), &App::Login);
        page->onBtnloginClick();
        if (!QTest::qWaitFor([page] { return page->loginButton()->isEnabled(); }, 10000)) {
            return false;
        }
        return login.count() == 1 && login.first().first().toBool();
    }
    QString avatarPath(const QString& name) const
    {
        return App::instance()->userRoot() + "/" + name + "/" + name + ".jpg";
    }

    AccountTestEnv env;
    std::unique_ptr<FormUser> form;
    int sessions = 0;
};

void TestAccountPages::initTestCase()
{
    QVERIFY2(env.startSchool(), qPrintable(env.school.errorString()));
}

void TestAccountPages::init()
{
    env.freshFolders();
    QVERIFY(env.school.resetStats());
    QVERIFY(env.school.clearFaults());
    form = std::make_unique<FormUser>();
}

void TestAccountPages::cleanup()
{
    form.reset();
    env.dropContext();
}

void TestAccountPages::loginChecks_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<QString>("password");
    QTest::addColumn<QString>("message");
    QTest::newRow("nothing typed") << ""
                                   << ""
                                   << "请输入用户名！";
    QTest::newRow("name hint untouched") << keepHint << "tamix123"
                                         << "请输入用户名！";
    QTest::newRow("blank name") << "   "
                                << "tamix123"
                                << "请输入用户名！";
    QTest::newRow("password hint untouched") << "13800000001" << keepHint << "请输入密码！";
    QTest::newRow("blank password") << "13800000001"
                                    << "   "
                                    << "请输入密码！";
}

void TestAccountPages::loginChecks()
{
    QFETCH(QString, name);
    QFETCH(QString, password);
    QFETCH(QString, message);
    giveSession();
    FormLoginin* page = form->loginPage();
    QCOMPARE(page->nameBox()->currentText(), page->nameHint());
    QCOMPARE(page->passwordBox()->text(), page->pwdHint());
    if (name != keepHint) {
        page->nameBox()->setEditText(name);
    }
    if (password != keepHint) {
        page->passwordBox()->setText(password);
    }
    page->loginButton()->click();
    QCOMPARE(env.messages, QStringList{message});
    QVERIFY(page->loginButton()->isEnabled());
    QCOMPARE(env.route("dologin"), 0);
    QVERIFY(!App::instance()->isLogin());
}

void TestAccountPages::loginSucceeds()
{
    giveSession();
    App* app = App::instance();
    QSignalSpy avatar(app, &App::userImgAdd);
    // Blanks around both inputs are not part of them: the school would refuse them.
    QVERIFY(loginAs("  13800000001 ", " tamix123 "));
    QVERIFY(env.messages.isEmpty());
    QVERIFY(app->isLogin());

    const UserRecord record = app->library()->record();
    const UserRecord* user = &record;
    QCOMPARE(user->uid, QString("1001"));
    QCOMPARE(user->username, QString("13800000001"));
    QCOMPARE(user->nickname, QString("林小禾"));
    QCOMPARE(user->email, QString("xiaohe@example.com"));
    QCOMPARE(user->is_img, env.school.apiUrl() + "/img/avatar/1001.jpg");
    QVERIFY(qAbs(user->loginTime.secsTo(QDateTime::currentDateTime())) < 60);
    QVERIFY(user->sid.startsWith("test-session-"));

    UserRecord stored;
    QCOMPARE(app->store()->load("13800000001", stored), CourseStore::LoadResult::Loaded);
    QCOMPARE(stored.uid, QString("1001"));
    QCOMPARE(stored.nickname, QString("林小禾"));
    QCOMPARE(app->setting(SettingKeys::lastUser), QString("13800000001"));

    QVERIFY(form->loginPage()->isHidden());
    QVERIFY(form->registerPage()->isHidden());
    QVERIFY(!form->userPanel()->isHidden());
    QCOMPARE(form->userPanel()->accountLabel()->text(), QString("手机：13800000001"));

    // The avatar arrives later and is exactly the school's picture.
    QVERIFY(avatar.wait(10000));
    QCOMPARE(avatar.first().first().toString(), avatarPath("13800000001"));
    QCOMPARE(fileMd5(avatarPath("13800000001")),
             fileMd5(SchoolProcess::mediaDir() + "/img/avatar/1001.jpg"));
    FormUserInfo* panel = form->userPanel();
    QVERIFY(panel->avatarLabel());
    QCOMPARE(panel->avatarLabel()->pixmap(Qt::ReturnByValue).size(), QSize(70, 70));
    QCOMPARE(panel->nicknameLabel()->text(), QString("林小禾"));
    QCOMPARE(panel->avatarLabel()->x(), (panel->width() - 70) / 2);
    QCOMPARE(panel->avatarLabel()->y(), 80);
    // Hidden widgets get their resize events when shown.
    form->resize(700, 500);
    form->show();
    QVERIFY(QTest::qWaitForWindowExposed(form.get()));
    QCOMPARE(panel->width(), 700);
    QCOMPARE(panel->avatarLabel()->x(), 315);
    QCOMPARE(panel->nicknameLabel()->x(), (700 - panel->nicknameLabel()->width()) / 2);
    QCOMPARE(panel->nicknameLabel()->y(), 160);

    // A later page knows the name.
    form.reset();
    form = std::make_unique<FormUser>();
    QCOMPARE(form->loginPage()->nameBox()->currentText(), QString("13800000001"));
    QVERIFY(form->loginPage()->nameBox()->findText("13800000001") >= 0);
}

void TestAccountPages::loginRefused_data()
{
    QTest::addColumn<bool>("withSession");
    QTest::addColumn<QString>("name");
    QTest::addColumn<QString>("password");
    QTest::addColumn<QString>("message");
    QTest::addColumn<QString>("answer"); // in place of the school's own, empty: its own
    QTest::newRow("wrong password") << true << "13800000001"
                                    << "kuaiji456"
                                    << "密码错误，请重新输入"
                                    << "";
    QTest::newRow("unknown user") << true << "13899999999"
                                  << "tamix123"
                                  << "该用户不存在"
                                  << "";
    // No session id and the school gives none: the login is not sent without one.
    QTest::newRow("no session") << false << "13800000001"
                                << "tamix123"
                                << "请检查网络连接"
                                << "";
    QTest::newRow("signature not checked (flag 0)")
        << true << "13800000001"
        << "tamix123"
        << "签名校验失败"
        << R"({"flag":"0","infos":"签名校验失败","data":{}})";
    QTest::newRow("an answer that is not JSON") << true << "13800000001"
                                                << "tamix123"
                                                << "服务器应答有误，请稍后重试"
                                                << "<html><body>502 Bad Gateway</body></html>";
    const QString markup = "<font color=red>密码错误</font><img src='/usr/share/pixmaps/x.png'>";
    QTest::newRow("markup in the school's words")
        << true << "13800000001"
        << "tamix123" << markup << QString(R"({"flag":"-2","infos":"%1"})").arg(markup);
}

void TestAccountPages::loginRefused()
{
    QFETCH(bool, withSession);
    QFETCH(QString, name);
    QFETCH(QString, password);
    QFETCH(QString, message);
    QFETCH(QString, answer);
    if (!answer.isEmpty()) {
        QVERIFY(env.school.addFault(QJsonObject{{"route", "*dologin*"}, {"body", answer}}));
    }
    if (withSession) {
        giveSession();
    } else {
        QVERIFY(env.school.addFault(QJsonObject{{"route", "*getSessionId*"}, {"status", 500}}));
    }
    QVERIFY(!loginAs(name, password));
    QVERIFY(env.school.clearFaults());
    QCOMPARE(env.messages, message.isEmpty() ? QStringList() : QStringList{message});
    QVERIFY2(env.rendered.isEmpty(), qPrintable(env.rendered.join('\n')));
    QCOMPARE(env.route("dologin"), withSession ? 1 : 0);
    FormLoginin* page = form->loginPage();
    QCOMPARE(page->loginButton()->text(), QString("登录"));
    QVERIFY(page->nameBox()->isEnabled());
    QVERIFY(page->passwordBox()->isEnabled());
    QVERIFY(page->registerLabel()->isEnabled());
    QCOMPARE(page->passwordBox()->text(), password);
    QVERIFY(!App::instance()->isLogin());
    QVERIFY(App::instance()->setting(SettingKeys::lastUser).isEmpty());
    QVERIFY(!form->loginPage()->isHidden());
}

void TestAccountPages::schoolStoppedGivesNetworkMessage()
{
    SchoolProcess gone;
    QVERIFY2(gone.start(), qPrintable(gone.errorString()));
    const QString address = gone.apiUrl();
    gone.stop();
    AccountTestEnv::pointAt(address);
    giveSession();
    const bool loggedIn = loginAs("13800000001", "tamix123");
    AccountTestEnv::pointAt(env.school.apiUrl());
    QVERIFY(!loggedIn);
    QCOMPARE(env.messages, QStringList{"请检查网络连接"});
    FormLoginin* page = form->loginPage();
    QCOMPARE(page->loginButton()->text(), QString("登录"));
    QVERIFY(page->nameBox()->isEnabled() && page->passwordBox()->isEnabled());
    QCOMPARE(page->passwordBox()->text(), QString("tamix123"));
}

void TestAccountPages::returnKeyLogsInKeypadEnterDoesNot()
{
    giveSession();
    FormLoginin* page = form->loginPage();
    page->nameBox()->setEditText("13800000002");
    page->passwordBox()->setText("kuaiji456");
    QTest::keyClick(page->passwordBox(), Qt::Key_Enter, Qt::KeypadModifier);
    QCOMPARE(page->loginButton()->text(), QString("登录"));
    QVERIFY(page->loginButton()->isEnabled());

    QSignalSpy login(App::instance(), &App::Login);
    QTest::keyClick(page->passwordBox(), Qt::Key_Return);
    QCOMPARE(page->loginButton()->text(), QString("正在登录..."));
    QVERIFY(!page->loginButton()->isEnabled());
    QVERIFY(!page->passwordBox()->isEnabled());
    QVERIFY(login.wait(10000));
    QCOMPARE(env.route("dologin"), 1);
}

void TestAccountPages::hintsFollowFocus()
{
    // Focus moves by its events, as the desktop would send them; the page stays unshown, so
    // neither a window manager nor another window's real focus changes come into it.
    FormLoginin* page = form->loginPage();
    QLineEdit* box = page->passwordBox();
    QComboBox* name = page->nameBox();
    const auto moveFocus = [](QWidget* from, QWidget* to) {
        if (from) {
            QFocusEvent out(QEvent::FocusOut, Qt::MouseFocusReason);
            QApplication::sendEvent(from, &out);
        }
        QFocusEvent in(QEvent::FocusIn, Qt::MouseFocusReason);
        QApplication::sendEvent(to, &in);
    };

    moveFocus(nullptr, box);
    QCOMPARE(box->text(), QString());
    QCOMPARE(box->echoMode(), QLineEdit::Password);
    QCOMPARE(name->currentText(), QString("请输入您的手机号"));

    // Left empty, the password box shows its hint readable again.
    moveFocus(box, name);
    QCOMPARE(name->currentText(), QString());
    QCOMPARE(box->text(), QString("请输入密码"));
    QCOMPARE(box->echoMode(), QLineEdit::Normal);

    // Typed text stays, the password as dots.
    QTest::keyClicks(name->lineEdit(), "13800000001");
    moveFocus(name, box);
    QTest::keyClicks(box, "abc");
    moveFocus(box, name);
    QCOMPARE(box->text(), QString("abc"));
    QCOMPARE(box->echoMode(), QLineEdit::Password);
    QCOMPARE(name->currentText(), QString("13800000001"));
}

void TestAccountPages::secondLoginOfAnotherUserClearsLists()
{
    giveSession();
    QVERIFY(loginAs("13800000001", "tamix123"));
    CourseLibrary* library = App::instance()->library();
    UserRecord first = library->record();
    CourseRecord course;
    course.id = "101";
    first.courses.append(course);
    library->replace(first);
    QVERIFY(loginAs("13800000001", "tamix123"));
    QCOMPARE(library->courses().size(), 1);
    QVERIFY(loginAs("13800000002", "kuaiji456"));
    QVERIFY(library->courses().isEmpty());
    QVERIFY(library->queue().isEmpty());
    const UserRecord second = library->record();
    const UserRecord* user = &second;
    QCOMPARE(user->uid, QString("1002"));
    QCOMPARE(user->nickname, QString("周会计"));
    QCOMPARE(App::instance()->setting(SettingKeys::lastUser), QString("13800000002"));
}

void TestAccountPages::existingAvatarMeansNoDownload()
{
    const QString path = avatarPath("13800000002");
    QVERIFY(QDir().mkpath(QFileInfo(path).path()));
    QImage picture(30, 20, QImage::Format_RGB32);
    picture.fill(Qt::red);
    QVERIFY(picture.save(path, "JPG"));
    const QByteArray before = fileMd5(path);

    QStringList events;
    App* app = App::instance();
    connect(app, &App::userImgAdd, form.get(), [&](QString p) { events << "avatar " + p; });
    connect(app, &App::Login, form.get(),
            [&](bool value) { events << QString("login %1").arg(value); });
    giveSession();
    QVERIFY(loginAs("13800000002", "kuaiji456"));
    QCOMPARE(events, (QStringList{"avatar " + path, "login 1"}));
    QTest::qWait(300);
    QCOMPARE(env.route("image"), 0);
    QCOMPARE(fileMd5(path), before);
    QVERIFY(!form->userPanel()->avatarLabel()->pixmap(Qt::ReturnByValue).isNull());
}

void TestAccountPages::failedAvatarDownloadWritesNothing_data()
{
    QTest::addColumn<QJsonObject>("fault");
    QTest::newRow("server error") << QJsonObject{
        {"route", "/img/avatar/*"}, {"status", 500}, {"times", 1}};
    QTest::newRow("page instead of picture")
        << QJsonObject{{"route", "/img/avatar/*"}, {"html", true}, {"times", 1}};
    // 20000 x 20000 pixels claimed by a small file: refused before it is decoded.
    QTest::newRow("picture bomb") << QJsonObject{
        {"route", "/img/avatar/*"}, {"bomb", true}, {"times", 1}};
}

void TestAccountPages::failedAvatarDownloadWritesNothing()
{
    QFETCH(QJsonObject, fault);
    QVERIFY(env.school.addFault(fault));
    QSignalSpy avatar(App::instance(), &App::userImgAdd);
    giveSession();
    QVERIFY(loginAs("13800000001", "tamix123"));
    QVERIFY(avatar.wait(10000));
    QVERIFY(!QFileInfo::exists(avatarPath("13800000001")));
    QCOMPARE(env.route("image"), 1);
    // The nickname is shown over an empty picture.
    QCOMPARE(form->userPanel()->nicknameLabel()->text(), QString("林小禾"));
    QVERIFY(form->userPanel()->avatarLabel()->pixmap(Qt::ReturnByValue).isNull());

    // The next login tries again and gets the picture.
    avatar.clear();
    QVERIFY(loginAs("13800000001", "tamix123"));
    QVERIFY(avatar.wait(10000));
    QCOMPARE(fileMd5(avatarPath("13800000001")),
             fileMd5(SchoolProcess::mediaDir() + "/img/avatar/1001.jpg"));
    QVERIFY(!form->userPanel()->avatarLabel()->pixmap(Qt::ReturnByValue).isNull());
}

void TestAccountPages::passwordsNeverLogged()
{
    logLines.clear();
    const QtMessageHandler previous = qInstallMessageHandler(keepLogLine);
    giveSession();
    const bool refused = !loginAs("13800000001", "Wrong-Secret-1");
    const bool accepted = loginAs("13800000001", "tamix123");
    QSignalSpy avatar(App::instance(), &App::userImgAdd);
    avatar.wait(5000);
    qInstallMessageHandler(previous);
    QVERIFY(refused);
    QVERIFY(accepted);
    // The answers are logged: the handler did see the page's lines.
    QVERIFY(logLines.filter("login answer").size() >= 2);
    QCOMPARE(logLines.filter("Wrong-Secret-1"), QStringList());
    QCOMPARE(logLines.filter("tamix123"), QStringList());
}

void TestAccountPages::registration_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<QString>("password");
    QTest::addColumn<QString>("confirmation");
    QTest::addColumn<QString>("message"); // empty: registered
    QTest::addColumn<bool>("sent");
    // 110 characters, 330 bytes of UTF-8: no folder could hold the record.
    QTest::newRow("name too long for a folder") << QString(110, QChar(0x5B66)) << "123456"
                                                << "123456"
                                                << "用户名过长" << false;
    QTest::newRow("5 characters") << "13710000005"
                                  << "12345"
                                  << "12345"
                                  << "密码长度不符合要求" << false;
    QTest::newRow("6 characters") << "13710000006"
                                  << "abc123"
                                  << "abc123"
                                  << "" << true;
    QTest::newRow("20 characters") << " 13710000020 "
                                   << "abcdefghij0123456789"
                                   << "abcdefghij0123456789"
                                   << "" << true;
    QTest::newRow("21 characters") << "13710000021"
                                   << "abcdefghij0123456789x"
                                   << "abcdefghij0123456789x"
                                   << "密码长度不符合要求" << false;
    QTest::newRow("mismatch before length") << "13710000030"
                                            << "abc"
                                            << "abcd"
                                            << "两次输入的密码不一样" << false;
    QTest::newRow("confirmation untouched") << "13710000031"
                                            << "abc123" << keepHint << "请确认密码" << false;
    QTest::newRow("blank password") << "13710000032"
                                    << "      "
                                    << "      "
                                    << "请输入密码" << false;
    QTest::newRow("name untouched") << keepHint << "abc123"
                                    << "abc123"
                                    << "请输入用户名" << false;
    const QString unusable = "用户名不能含有 \\ / : * ? \" < > | 等字符，也不能以点或空格结尾";
    QTest::newRow("a Windows device name") << "com1.txt"
                                           << "abc123"
                                           << "abc123" << unusable << false;
    QTest::newRow("a character Windows refuses") << "li|ming"
                                                 << "abc123"
                                                 << "abc123" << unusable << false;
    QTest::newRow("a trailing dot") << "liming."
                                    << "abc123"
                                    << "abc123" << unusable << false;
    QTest::newRow("name taken") << "13800000001"
                                << "abc123"
                                << "abc123"
                                << "该用户名已被注册" << true;
}

// Answers the school does not give but another server might: handled as the page's own.
void TestAccountPages::unusualLoginAnswers_data()
{
    QTest::addColumn<QString>("answer");
    QTest::addColumn<QStringList>("messages");
    QTest::addColumn<bool>("loggedIn");
    QTest::newRow("no picture address: nickname still shown")
        << R"({"flag":"1","data":{"uid":"7","username":"13800000009","nickname":"无图同学","is_img":""}})"
        << QStringList() << true;
    QTest::newRow("a user name that cannot be a folder")
        << R"({"flag":"1","data":{"uid":"7","username":"CON","nickname":"x"}})"
        << QStringList{"登录失败"} << false;
    QTest::newRow("a user name longer than a folder name may be")
        << QString(R"({"flag":"1","data":{"uid":"7","username":"%1","nickname":"x"}})")
               .arg(QString(110, QChar(0x5B66)))
        << QStringList{"登录失败"} << false;
    QTest::newRow("a user name with a right-to-left override")
        << QString(R"({"flag":"1","data":{"uid":"7","username":"1380%1gpj.exe","nickname":"x"}})")
               .arg(QChar(0x202E))
        << QStringList{"登录失败"} << false;
    QTest::newRow("refused without a reason")
        << R"({"flag":"-2","infos":"","data":{}})" << QStringList{"登录失败"} << false;
}

void TestAccountPages::unusualLoginAnswers()
{
    QFETCH(QString, answer);
    QFETCH(QStringList, messages);
    QFETCH(bool, loggedIn);
    giveSession();
    QSignalSpy avatar(App::instance(), &App::userImgAdd);
    QMetaObject::invokeMethod(form->loginPage(), "httpLoginDone", Q_ARG(QString, answer));
    QCOMPARE(env.messages, messages);
    QCOMPARE(App::instance()->isLogin(), loggedIn);
    if (loggedIn) {
        QCOMPARE(avatar.count(), 1);
        QCOMPARE(form->userPanel()->nicknameLabel()->text(), QString("无图同学"));
    }
}

void TestAccountPages::registration()
{
    QFETCH(QString, name);
    QFETCH(QString, password);
    QFETCH(QString, confirmation);
    QFETCH(QString, message);
    QFETCH(bool, sent);
    giveSession();
    FormRegist* page = form->registerPage();
    QMouseEvent click(QEvent::MouseButtonPress, QPointF(2, 2), Qt::LeftButton, Qt::LeftButton,
                      Qt::NoModifier);
    QCoreApplication::sendEvent(form->loginPage()->registerLabel(), &click);
    QVERIFY(form->loginPage()->isHidden());
    QVERIFY(!page->isHidden());

    if (name != keepHint) {
        page->nameBox()->setText(name);
    }
    page->passwordBox()->setText(password);
    if (confirmation != keepHint) {
        page->confirmationBox()->setText(confirmation);
    }
    // Whoever used this computer before leaves courses behind; they are not the new user's.
    CourseLibrary* library = App::instance()->library();
    UserRecord before = library->record();
    before.username = "13800000001";
    before.courses.append(CourseRecord());
    library->replace(before);
    QSignalSpy login(App::instance(), &App::Login);
    QSignalSpy avatar(App::instance(), &App::userImgAdd);
    page->registerButton()->click();
    if (sent) {
        QCOMPARE(page->registerButton()->text(), QString("正在请求..."));
        QVERIFY(!page->nameBox()->isEnabled());
        QVERIFY(page->passwordBox()->isEnabled());
        QVERIFY(QTest::qWaitFor([page] { return page->registerButton()->isEnabled(); }, 10000));
    }
    QCOMPARE(page->registerButton()->text(), QString("注册"));
    QVERIFY(page->nameBox()->isEnabled());
    QCOMPARE(env.route("doregister"), sent ? 1 : 0);
    if (!message.isEmpty()) {
        QCOMPARE(env.messages, QStringList{message});
        QVERIFY(!App::instance()->isLogin());
        QVERIFY(!page->isHidden());
        return;
    }
    QVERIFY(env.messages.isEmpty());
    QCOMPARE(login.count(), 1);
    const UserRecord after = library->record();
    const UserRecord* user = &after;
    QCOMPARE(user->username, name.trimmed());
    QVERIFY(user->courses.isEmpty() && user->queue.isEmpty());
    QVERIFY(user->uid.isEmpty() && user->nickname.isEmpty() && user->email.isEmpty());
    QVERIFY(page->isHidden());
    QVERIFY(!form->userPanel()->isHidden());
    QCOMPARE(form->userPanel()->accountLabel()->text(), "手机：" + name.trimmed());
    QCOMPARE(avatar.count(), 0);
    QVERIFY(App::instance()->setting(SettingKeys::lastUser).isEmpty());

    // The new account logs in at the school.
    App::instance()->setLogin(false);
    QVERIFY(!form->loginPage()->isHidden());
    QCOMPARE(page->passwordBox()->text(), page->pwdHint());
    QCOMPARE(page->confirmationBox()->text(), page->pwdHint());
    QVERIFY(loginAs(name.trimmed(), password));
}

void TestAccountPages::passwordChangeChecks_data()
{
    QTest::addColumn<QString>("oldPassword");
    QTest::addColumn<QString>("newPassword");
    QTest::addColumn<QString>("confirmation");
    QTest::addColumn<QString>("message");
    QTest::addColumn<bool>("sent");
    QTest::newRow("old untouched") << keepHint << "abc123"
                                   << "abc123"
                                   << "请输入原密码" << false;
    QTest::newRow("old blank") << "   "
                               << "abc123"
                               << "abc123"
                               << "请输入原密码" << false;
    QTest::newRow("new untouched") << "x" << keepHint << "abc123"
                                   << "请输入新密码" << false;
    QTest::newRow("confirmation untouched") << "x"
                                            << "abc123" << keepHint << "请确认新密码" << false;
    QTest::newRow("mismatch before length") << "x"
                                            << "abc"
                                            << "abcd"
                                            << "两次输入的新密码不一样" << false;
    QTest::newRow("5 characters") << "x"
                                  << "abcde"
                                  << "abcde"
                                  << "密码长度不符合要求" << false;
    QTest::newRow("21 characters") << "x"
                                   << "abcdefghij0123456789x"
                                   << "abcdefghij0123456789x"
                                   << "密码长度不符合要求" << false;
    // Sent: the old password's length is not checked here, and the school, seeing nobody
    // logged in on this session, refuses with its own text.
    QTest::newRow("6 characters") << "x"
                                  << "abc123"
                                  << "abc123"
                                  << "请先登录" << true;
}

void TestAccountPages::passwordChangeChecks()
{
    QFETCH(QString, oldPassword);
    QFETCH(QString, newPassword);
    QFETCH(QString, confirmation);
    QFETCH(QString, message);
    QFETCH(bool, sent);
    giveSession();
    FormAlterPwd dialog("修改密码");
    QCOMPARE(dialog.windowTitle(), QString("修改密码"));
    const QList<QPair<QLineEdit*, QString>> boxes{{dialog.oldBox(), oldPassword},
                                                  {dialog.newBox(), newPassword},
                                                  {dialog.confirmationBox(), confirmation}};
    for (const auto& box : boxes) {
        QCOMPARE(box.first->text(), QString("请输入6-20个字符"));
        if (box.second != keepHint) {
            box.first->setText(box.second);
        }
    }
    dialog.saveButton()->click();
    if (sent) {
        QCOMPARE(dialog.saveButton()->text(), QString("正在请求..."));
        QVERIFY(QTest::qWaitFor([&] { return dialog.saveButton()->isEnabled(); }, 10000));
    }
    QCOMPARE(dialog.saveButton()->text(), QString("保存"));
    QCOMPARE(env.messages, QStringList{message});
    QCOMPARE(env.route("doforget"), sent ? 1 : 0);
}

void TestAccountPages::passwordChangeThroughSchool()
{
    giveSession();
    QVERIFY(loginAs("13800000003", "newbie789"));
    FormUserInfo* panel = form->userPanel();

    bool answered = false;
    bool reloginShown = false;
    bool pwdHiddenMeanwhile = false;
    QString successText;
    QString reloginTitle;
    bool pwdVisibleAfterwards = true;
    FormAlterPwd* shownDialog = nullptr;
    BaseDialog::setRunHook([&](SheetDialog& dialog) -> int {
        if (auto* relogin = qobject_cast<ReLogin*>(&dialog)) {
            reloginShown = true;
            pwdHiddenMeanwhile = shownDialog && !shownDialog->isVisible();
            successText = relogin->findChild<QLabel*>("xgcg")->text();
            relogin->reloginButton()->click();
            return 0;
        }
        shownDialog = qobject_cast<FormAlterPwd*>(&dialog);
        if (!shownDialog) {
            return 0;
        }
        shownDialog->oldBox()->setText("newbie789");
        shownDialog->newBox()->setText("fresh-pw6");
        shownDialog->confirmationBox()->setText("fresh-pw6");
        shownDialog->saveButton()->click();
        answered = QTest::qWaitFor([&] { return reloginShown; }, 10000);
        pwdVisibleAfterwards = shownDialog->isVisible();
        return 0;
    });
    panel->alterPwdButton()->click();
    BaseDialog::setRunHook(nullptr);

    QVERIFY(shownDialog);
    QVERIFY(answered);
    QCOMPARE(shownDialog, panel->passwordDialog());
    QVERIFY(reloginShown);
    QVERIFY(pwdHiddenMeanwhile);
    QVERIFY(!pwdVisibleAfterwards);
    QCOMPARE(successText, QString("修改成功"));
    QVERIFY(env.messages.isEmpty());
    QVERIFY(!App::instance()->isLogin());
    QVERIFY(!form->loginPage()->isHidden());
    QVERIFY(form->userPanel()->isHidden());
    // The typed passwords are gone from the kept dialog and from the login page.
    QCOMPARE(shownDialog->newBox()->text(), QString("请输入6-20个字符"));
    QCOMPARE(form->loginPage()->passwordBox()->text(), QString("请输入密码"));
    QCOMPARE(form->loginPage()->passwordBox()->echoMode(), QLineEdit::Normal);

    // The school took the new password.
    QVERIFY(!loginAs("13800000003", "newbie789"));
    QCOMPARE(env.messages, QStringList{"密码错误，请重新输入"});
    QVERIFY(loginAs("13800000003", "fresh-pw6"));
}

void TestAccountPages::refusedPasswordChangeKeepsBoxes()
{
    giveSession();
    QVERIFY(loginAs("13800000002", "kuaiji456"));
    QStringList texts;
    bool answered = false;
    bool visibleAfterAnswer = false;
    BaseDialog::setRunHook([&](SheetDialog& dialog) -> int {
        auto* pwd = qobject_cast<FormAlterPwd*>(&dialog);
        if (!pwd) {
            return 0;
        }
        pwd->oldBox()->setText("not-my-password");
        pwd->newBox()->setText("abcdef");
        pwd->confirmationBox()->setText("abcdef");
        pwd->saveButton()->click();
        answered = QTest::qWaitFor([&] { return !env.messages.isEmpty(); }, 10000);
        visibleAfterAnswer = pwd->isVisible() && pwd->saveButton()->isEnabled();
        texts << pwd->oldBox()->text() << pwd->newBox()->text() << pwd->confirmationBox()->text()
              << pwd->saveButton()->text();
        return 0;
    });
    form->userPanel()->alterPwdButton()->click();
    BaseDialog::setRunHook(nullptr);
    QVERIFY(answered);
    QCOMPARE(env.messages, QStringList{"原密码错误"});
    QVERIFY(visibleAfterAnswer);
    QCOMPARE(texts, (QStringList{"not-my-password", "abcdef", "abcdef", "保存"}));
    QVERIFY(App::instance()->isLogin());
    // The old password still holds.
    form->userPanel()->escButton()->click();
    QVERIFY(!form->loginPage()->isHidden());
    QVERIFY(loginAs("13800000002", "kuaiji456"));
}

void TestAccountPages::roundAvatar()
{
    QVERIFY(FormUserInfo::roundAvatar(QImage()).isNull());
    // Left half red, right half blue, four times as wide as high: stretched, not cropped.
    QImage wide(140, 35, QImage::Format_RGB32);
    {
        QPainter painter(&wide);
        painter.fillRect(0, 0, 70, 35, Qt::red);
        painter.fillRect(70, 0, 70, 35, Qt::blue);
    }
    const QImage round = FormUserInfo::roundAvatar(wide).toImage();
    QCOMPARE(round.size(), QSize(70, 70));
    QCOMPARE(qAlpha(round.pixel(0, 0)), 0);
    QCOMPARE(qAlpha(round.pixel(69, 69)), 0);
    QCOMPARE(qAlpha(round.pixel(69, 0)), 0);
    QCOMPARE(round.pixel(5, 35), QColor(Qt::red).rgba());
    QCOMPARE(round.pixel(30, 10), QColor(Qt::red).rgba());
    QCOMPARE(round.pixel(64, 35), QColor(Qt::blue).rgba());
    QCOMPARE(round.pixel(40, 60), QColor(Qt::blue).rgba());

    // A file that is no picture: empty avatar, nickname still shown.
    UserRecord someone = App::instance()->session();
    someone.nickname = "某人";
    App::instance()->library()->setSession(someone);
    QTemporaryFile junk;
    QVERIFY(junk.open());
    junk.write("not a picture");
    junk.close();
    App::instance()->addUserImg(junk.fileName());
    QVERIFY(form->userPanel()->avatarLabel()->pixmap(Qt::ReturnByValue).isNull());
    QCOMPARE(form->userPanel()->nicknameLabel()->text(), QString("某人"));
}

void TestAccountPages::logoutHidesAvatar()
{
    QTemporaryDir dir;
    const QString path = dir.filePath("face.jpg");
    QImage picture(20, 20, QImage::Format_RGB32);
    picture.fill(Qt::yellow);
    QVERIFY(picture.save(path, "JPG"));
    App* app = App::instance();
    UserRecord session = app->session();
    session.username = "13800000001";
    session.nickname = "林小禾";
    app->library()->setSession(session);
    app->addUserImg(path);
    app->setLogin(true);
    FormUserInfo* panel = form->userPanel();
    QVERIFY(!panel->avatarLabel()->isHidden());
    QVERIFY(!panel->nicknameLabel()->isHidden());
    app->setLogin(false);
    QVERIFY(panel->avatarLabel()->isHidden());
    QVERIFY(panel->nicknameLabel()->isHidden());
    // A login that brings no picture shows none.
    app->setLogin(true);
    QVERIFY(panel->avatarLabel()->isHidden());
    app->addUserImg(path);
    QVERIFY(!panel->avatarLabel()->isHidden());
}

QTEST_MAIN(TestAccountPages)
#include "tst_accountpages.moc"
