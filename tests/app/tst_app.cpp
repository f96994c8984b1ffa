// The application context: data directory, settings, the video folder, session restore across
// restarts and the operating-system services (through their seams: nothing is powered off and
// no real autostart entry or documents folder is touched).
#include "App.h"
#include "AwakeLock.h"
#include "CourseLibrary.h"
#include "Downloader.h"
#include "QuitNotifier.h"
#include "SettingKeys.h"
#include "SystemServices.h"
#include "UserRecord.h"

#include <QProcess>
#include <QTcpServer>
#include <QTcpSocket>
#include <QtTest>
#include <utility>

class TestApp : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase();
    void init();
    void cleanup();

    void firstStart();
    void blankVideoPathCountsAsEmpty();
    void storedVideoPathIsCreated();
    void settingReads_data();
    void settingReads();
    void sessionRestore_data();
    void sessionRestore();
    void logoutIsNeverRestored();
    void logoutWithoutUserWritesNothing();
    void autoRun();
    void diskSpace();
    void shutdownGoesThroughTheLauncher();
    void sleepLockFollowsTheQueue_data();
    void sleepLockFollowsTheQueue();
    void md5();
    void signals_();
    void destructionTellsEveryoneToQuit();

private:
    QString iniPath() const { return docs->path() + "/" + App::appName + "/tamix.ini"; }
    void writeIni(const QString& key, const QString& value) const
    {
        QSettings ini(iniPath(), QSettings::IniFormat);
        ini.setIniCodec("UTF-8");
        ini.setValue(key, value);
    }
    void restart()
    {
        delete App::instance();
        App::instance();
    }

    std::unique_ptr<QTemporaryDir> docs;
    std::unique_ptr<QTemporaryDir> videos;
    QList<QPair<QString, QStringList>> launched;
    QStringList locks; // "take sleep", "let go of screen", ... as the system would be asked
};

void TestApp::initTestCase()
{
    QStandardPaths::setTestModeEnabled(true);
    SystemServices::setLauncher([this](const QString& program, const QStringList& arguments) {
        launched.append({program, arguments});
        return true;
    });
    AwakeLock::setBackend([this](AwakeLock::Kind kind, bool held) {
        locks.append(QString(held ? "take " : "let go of ") +
                     (kind == AwakeLock::Kind::Sleep ? "sleep" : "screen"));
    });
}

void TestApp::init()
{
    docs = std::make_unique<QTemporaryDir>();
    videos = std::make_unique<QTemporaryDir>();
    qputenv("TAMIX_DOCUMENTS_DIR", docs->path().toUtf8());
    qputenv("TAMIX_VIDEOS_DIR", videos->path().toUtf8());
    SystemServices::setAutostartDir(docs->filePath("autostart"));
    launched.clear();
    locks.clear();
}

void TestApp::cleanup()
{
    if (App::exists()) {
        delete App::instance();
    }
}

void TestApp::firstStart()
{
    App* app = App::instance();
    QCOMPARE(app->appDir(), docs->path() + QStringLiteral("/岚禾会计网校"));
    QVERIFY(QFileInfo(app->appDir()).isDir());
    const QString expected = videos->path() + "/tamixVideo";
    QCOMPARE(app->videoPath(), expected);
    QVERIFY(QFileInfo(expected).isDir());
    QCOMPARE(app->userRoot(), app->appDir() + "/user");

    QSettings ini(iniPath(), QSettings::IniFormat);
    ini.setIniCodec("UTF-8");
    QCOMPARE(ini.value("DOWNLOAD/Video_Path").toString(), expected);
    QVERIFY(!app->isOn(SettingKeys::autoDownload));
    QVERIFY(!app->isLogin());
    QVERIFY(app->screenRect().isNull());
}

void TestApp::blankVideoPathCountsAsEmpty()
{
    QDir().mkpath(docs->path() + "/" + App::appName);
    writeIni(SettingKeys::videoPath, "   ");
    QCOMPARE(App::instance()->videoPath(), videos->path() + "/tamixVideo");
}

void TestApp::storedVideoPathIsCreated()
{
    const QString chosen = videos->path() + QStringLiteral("/我的课程");
    QDir().mkpath(docs->path() + "/" + App::appName);
    writeIni(SettingKeys::videoPath, chosen);
    QCOMPARE(App::instance()->videoPath(), chosen);
    QVERIFY(QFileInfo(chosen).isDir());
}

void TestApp::settingReads_data()
{
    QTest::addColumn<QString>("stored");
    QTest::addColumn<bool>("on");
    QTest::newRow("1") << "1" << true;
    QTest::newRow("0") << "0" << false;
    QTest::newRow("2") << "2" << false;
    QTest::newRow("yes") << "yes" << false;
    QTest::newRow(" 1") << " 1" << false;
    QTest::newRow("missing") << QString() << false;
}

void TestApp::settingReads()
{
    QFETCH(QString, stored);
    QFETCH(bool, on);
    QDir().mkpath(docs->path() + "/" + App::appName);
    if (!stored.isNull()) {
        writeIni(SettingKeys::tipAfter, stored);
    }
    QCOMPARE(App::instance()->isOn(SettingKeys::tipAfter), on);
    App::instance()->setSetting(SettingKeys::shutdownAfter, "1");
    QSettings ini(iniPath(), QSettings::IniFormat);
    QCOMPARE(ini.value("DOWNLOAD/SHUTDOWN").toString(), QStringLiteral("1"));
}

void TestApp::sessionRestore_data()
{
    QTest::addColumn<qint64>("ageSeconds");
    QTest::addColumn<bool>("restored");
    QTest::newRow("a minute") << qint64(60) << true;
    QTest::newRow("86399 s") << qint64(86399) << true;
    QTest::newRow("86400 s") << qint64(86400) << false;
    QTest::newRow("a week") << qint64(7 * 86400) << false;
    QTest::newRow("in the future") << qint64(-3600) << true;
}

void TestApp::sessionRestore()
{
    QFETCH(qint64, ageSeconds);
    QFETCH(bool, restored);

    App* app = App::instance();
    UserRecord user;
    user.username = "13800000001";
    user.nickname = QStringLiteral("小李");
    user.sid = "kept-session";
    user.loginTime = QDateTime::currentDateTime().addSecs(-ageSeconds);
    CourseRecord course;
    course.id = "42";
    user.courses.append(course);
    app->library()->replace(user);
    app->saveStore();
    app->setSetting(SettingKeys::lastUser, "13800000001");
    const QString avatar = app->store()->userDir("13800000001") + "/13800000001.jpg";
    QFile(avatar).open(QIODevice::WriteOnly);

    restart();
    app = App::instance();
    QSignalSpy login(app, &App::Login);
    QSignalSpy avatarSpy(app, &App::userImgAdd);
    QSignalSpy initDone(app, &App::initDone);
    app->init();
    QCOMPARE(initDone.size(), 1);
    QCOMPARE(app->isLogin(), restored);
    if (restored) {
        QCOMPARE(login.size(), 1);
        QCOMPARE(login.first().first().toBool(), true);
        QCOMPARE(avatarSpy.size(), 1);
        QCOMPARE(avatarSpy.first().first().toString(), avatar);
        QCOMPARE(app->session().sid, QStringLiteral("kept-session"));
        QCOMPARE(app->session().nickname, QStringLiteral("小李"));
        QCOMPARE(app->library()->courses().size(), 1);
    } else {
        QCOMPARE(login.size(), 0);
        QCOMPARE(avatarSpy.size(), 0);
        QCOMPARE(app->session().sid, QString(""));
        QCOMPARE(app->session().username, QString(""));
        QVERIFY(app->library()->courses().isEmpty());
    }
}

void TestApp::logoutIsNeverRestored()
{
    App* app = App::instance();
    UserRecord u2;
    u2.username = "u2";
    u2.loginTime = QDateTime::currentDateTime();
    app->library()->replace(u2);
    app->setSetting(SettingKeys::lastUser, "u2");
    app->setLogin(true);
    QSignalSpy login(app, &App::Login);
    app->setLogin(false);
    QCOMPARE(login.size(), 1);
    QCOMPARE(login.first().first().toBool(), false);
    QVERIFY(app->session().loginTime.date().year() <= QDate::currentDate().year() - 1000);

    UserRecord stored;
    QCOMPARE(app->store()->load("u2", stored), CourseStore::LoadResult::Loaded);
    QCOMPARE(stored.loginTime, app->session().loginTime);

    restart();
    App::instance()->init();
    QVERIFY(!App::instance()->isLogin());
    QCOMPARE(App::instance()->session().username, QString(""));
}

void TestApp::logoutWithoutUserWritesNothing()
{
    App* app = App::instance();
    app->setLogin(false);
    QVERIFY(!QFileInfo::exists(app->userRoot() + "/kecheng.lhc"));
}

void TestApp::autoRun()
{
    App* app = App::instance();
    const QString entry =
        docs->filePath("autostart") + "/" + QCoreApplication::applicationName() + ".desktop";
    app->setAutoRun(false); // no entry yet: still records the choice
    QCOMPARE(app->setting(SettingKeys::autoRun), QStringLiteral("0"));
    QVERIFY(!QFile::exists(entry));

    app->setAutoRun(true);
    QCOMPARE(app->setting(SettingKeys::autoRun), QStringLiteral("1"));
    QFile file(entry);
    QVERIFY(file.open(QIODevice::ReadOnly));
    const QString text = QString::fromUtf8(file.readAll());
    QVERIFY(text.startsWith("[Desktop Entry]\n"));
    QVERIFY2(text.contains("\nExec=\"" + QCoreApplication::applicationFilePath() + "\"\n"),
             qPrintable(text));
    file.close();

    app->setAutoRun(false);
    QVERIFY(!QFile::exists(entry));
    QCOMPARE(app->setting(SettingKeys::autoRun), QStringLiteral("0"));

    // A program under a folder with blanks is quoted as one argument.
    QVERIFY(SystemServices::setAutoRun(true, "withblanks", "/opt/my school/tamix"));
    QFile blanks(docs->filePath("autostart/withblanks.desktop"));
    QVERIFY(blanks.open(QIODevice::ReadOnly));
    QVERIFY(blanks.readAll().contains("\nExec=\"/opt/my school/tamix\"\n"));
}

void TestApp::diskSpace()
{
    // Independent figures from coreutils: total blocks, free blocks, block size.
    QProcess stat;
    stat.start("stat", {"-f", "-c", "%b %f %S", videos->path()});
    QVERIFY(stat.waitForFinished(5000));
    const QStringList parts = QString::fromLatin1(stat.readAllStandardOutput()).split(' ');
    QCOMPARE(parts.size(), 3);
    const quint64 blockSize = parts[2].trimmed().toULongLong();
    const quint64 total = (parts[0].toULongLong() * blockSize) >> 30;
    const quint64 free = (parts[1].toULongLong() * blockSize) >> 30;

    const QString answer = App::instance()->diskSpace(videos->path());
    const QStringList figures = answer.split('-');
    QCOMPARE(figures.size(), 2);
    QCOMPARE(figures[0].toULongLong(), total);
    // Other processes write to the disk meanwhile; a GiB of slack.
    QVERIFY2(qAbs(qint64(figures[1].toULongLong()) - qint64(free)) <= 1, qPrintable(answer));

    QCOMPARE(App::instance()->diskSpace(videos->path() + "/no/such/folder"), QString());
}

void TestApp::shutdownGoesThroughTheLauncher()
{
    App::instance()->shutdown();
    QCOMPARE(launched.size(), 1);
    QCOMPARE(launched.first().first, QStringLiteral("systemctl"));
    QCOMPARE(launched.first().second, QStringList{"poweroff"});
}

void TestApp::sleepLockFollowsTheQueue_data()
{
    QTest::addColumn<QString>("stored");
    QTest::addColumn<bool>("kept");
    QTest::newRow("never set") << QString() << true;
    QTest::newRow("switched off") << "0" << false;
}

void TestApp::sleepLockFollowsTheQueue()
{
    QFETCH(QString, stored);
    QFETCH(bool, kept);
    // A school that takes the lesson's first request and never answers: the lesson stays in
    // flight for as long as the test needs.
    QTcpServer school;
    QVERIFY(school.listen(QHostAddress::LocalHost));
    QList<QTcpSocket*> requests;
    connect(&school, &QTcpServer::newConnection, &school, [&] {
        while (QTcpSocket* socket = school.nextPendingConnection()) {
            requests.append(socket);
        }
    });
    const QByteArray api = qgetenv("TAMIX_API_URL");
    qputenv("TAMIX_API_URL", QString("http://127.0.0.1:%1").arg(school.serverPort()).toUtf8());
    if (!stored.isNull()) {
        QDir().mkpath(docs->path() + "/" + App::appName);
        writeIni(SettingKeys::keepAwake, stored);
    }
    App* app = App::instance();
    app->init();
    QVERIFY(locks.isEmpty()); // nothing queued

    CourseRecord course;
    course.id = "7";
    course.title = QStringLiteral("会计基础");
    LessonRecord lesson;
    lesson.courseId = "7";
    lesson.id = "71";
    lesson.title = QStringLiteral("第一讲");
    lesson.state = Chosen;
    course.list.append(lesson);
    // What the system was told since the last look.
    const auto told = [this] {
        return std::exchange(locks, {});
    };
    const QStringList take = kept ? QStringList{"take sleep"} : QStringList();
    const QStringList letGo = kept ? QStringList{"let go of sleep"} : QStringList();
    app->downloader()->addCourse(course);
    QTRY_VERIFY(!requests.isEmpty()); // the lesson has started
    QCOMPARE(told(), take);
    app->downloader()->setStart(false);
    QCOMPARE(told(), letGo);
    app->downloader()->setStart(true);
    QCOMPARE(told(), take);
    app->downloader()->deleteDownloading({app->downloader()->queue().value(0).dir});
    QVERIFY(app->downloader()->queue().isEmpty());
    QCOMPARE(told(), letGo);

    // Queued again, switched off and on in the settings, then the program ends with the
    // lesson in flight.
    course.list.first().state = Chosen;
    app->downloader()->addCourse(course);
    QTRY_COMPARE(requests.size(), 2);
    QCOMPARE(told(), take);
    if (kept) {
        app->setSetting(SettingKeys::keepAwake, "0");
        QCOMPARE(told(), letGo);
        app->setSetting(SettingKeys::keepAwake, "1");
        QCOMPARE(told(), take);
    }
    delete app;
    QCOMPARE(told(), letGo);
    qputenv("TAMIX_API_URL", api);
}

void TestApp::md5()
{
    QCOMPARE(App::md5("abc"), QStringLiteral("900150983cd24fb0d6963f7d28e17f72"));
    // Outside Latin-1 every character counts as '?': md5sum of "??".
    QCOMPARE(App::md5(QStringLiteral("张三")), QStringLiteral("ea03fcb8c47822bce772cf6c07d0ebbb"));
}

void TestApp::signals_()
{
    App* app = App::instance();
    QSignalSpy size(app, &App::sizeChange);
    QSignalSpy image(app, &App::userImgAdd);
    QSignalSpy shutdown(app, &App::toShutdown);
    app->setSize(1210, 720);
    app->addUserImg("/a/b.jpg");
    app->requestShutdown();
    QCOMPARE(size.size(), 1);
    QCOMPARE(size.first(), QVariantList({1210, 720}));
    QCOMPARE(app->width(), 1210);
    QCOMPARE(app->height(), 720);
    QCOMPARE(image.first().first().toString(), QStringLiteral("/a/b.jpg"));
    QCOMPARE(shutdown.size(), 1);
    QVERIFY(launched.isEmpty()); // asking for the countdown powers nothing off
}

void TestApp::destructionTellsEveryoneToQuit()
{
    App* app = App::instance();
    QSignalSpy quit(app, &App::toQuit);
    QVERIFY(!QuitNotifier::isQuitting());
    delete app;
    QCOMPARE(quit.size(), 1);
    QVERIFY(QuitNotifier::isQuitting());
    QVERIFY(!App::exists());
    App::instance(); // a new context starts afresh
    QVERIFY(!QuitNotifier::isQuitting());
}

QTEST_GUILESS_MAIN(TestApp)
#include "tst_app.moc"
