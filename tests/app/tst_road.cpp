// The student's whole road through the real client, against the stand-in school: log in, the
// course page, the page's own "下载课件", two lessons chosen and downloaded, the completion
// tip, the downloaded course and its courseware page, one lesson played from the store and
// left at 0:20, the client ended and started again as a new process under the same Chinese
// locale (session restored, the lesson jumps back), and the shutdown countdown after one more
// download reaching the launcher, never the machine. With TAMIX_ROAD_TLS set the school
// speaks only HTTPS, with a certificate of a test CA that the client is made to trust.
#include "App.h"
#include "ChildProcess.h"
#include "CourseInfo.h"
#include "CourseItem.h"
#include "CourseLibrary.h"
#include "Downloaded.h"
#include "Downloader.h"
#include "FormCourseware.h"
#include "FormDownload.h"
#include "FormLoginin.h"
#include "FormMyClass.h"
#include "FormPlayer.h"
#include "FormThumbnail.h"
#include "FormUser.h"
#include "MainForm.h"
#include "MpvController.h"
#include "SchoolProcess.h"
#include "SchoolWebView.h"
#include "SettingKeys.h"
#include "SystemServices.h"
#include "TlsTrust.h"
#include "ToShutdown.h"
#include "XMessageBox.h"

#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QProcess>
#include <QPushButton>
#include <QTemporaryDir>
#include <QtTest>

class TestRoad : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void theWholeRoad();
    // The second half, run by theWholeRoad() in a process of its own.
    void restartedClient();

private:
    static bool isRestarted() { return qEnvironmentVariableIsSet("TAMIX_ROAD_RESTARTED"); }
    static bool isTls() { return qEnvironmentVariableIsSet("TAMIX_ROAD_TLS"); }
    bool pageLoaded(MainForm& window);
    void chooseInDialog(const QStringList& lessons);
    static bool tipShown(FormPlayer* player, const QString& prefix);
    static FormThumbnail* lessonTile(MainForm& window, const QString& lessonId);
    int route(const QString& name);

    SchoolProcess school;
    QTemporaryDir docs;
    QTemporaryDir videos;
    QStringList toChoose;
    QStringList launched;
    int countdowns = 0;
};

void TestRoad::initTestCase()
{
    QStandardPaths::setTestModeEnabled(true);
    WebPanel::setFactory(tamixCreateWebPanel);
    qputenv("TAMIX_MPV_OPTIONS", "ao=null,hwdec=no");
    // The restarted client finds the school and its folders where the first one left them.
    if (!isRestarted()) {
        school.setTls(isTls() ? SchoolProcess::Tls::Trusted : SchoolProcess::Tls::None);
        QVERIFY2(school.start(), qPrintable(school.errorString()));
        school.pointClientHere();
        qputenv("TAMIX_DOCUMENTS_DIR", docs.path().toUtf8());
        qputenv("TAMIX_VIDEOS_DIR", videos.path().toUtf8());
        qputenv("TAMIX_ROAD_CA", school.caFile().toUtf8());
    }
    if (isTls()) {
        QVERIFY(TlsTrust::addCaForTests(qEnvironmentVariable("TAMIX_ROAD_CA")));
    }
    MainForm::setTrayAvailable([] { return true; });
    SystemServices::setLauncher([this](const QString& program, const QStringList& args) {
        launched.append((QStringList{program} + args).join(' '));
        return true;
    });
    // "确定退出？" and any other box: OK.
    XMessageBox::setResponder([](XMessageBox&) { return true; });
    SheetDialog::setRunHook([this](SheetDialog& dialog) {
        if (auto* info = qobject_cast<CourseInfo*>(&dialog)) {
            for (CourseItem* row : info->rows()) {
                if (toChoose.contains(info->record().list.at(row->lessonIndex()).id)) {
                    QTest::mouseClick(row->titleLabel(), Qt::LeftButton);
                }
            }
            info->downloadButton()->click();
        } else if (auto* countdown = qobject_cast<ToShutdown*>(&dialog)) {
            ++countdowns;
            // Thirty seconds pass.
            for (int i = 0; i < 30; ++i) {
                QMetaObject::invokeMethod(countdown, "tick");
            }
        }
        return 0;
    });
}

int TestRoad::route(const QString& name)
{
    return school.stats().value("routes").toObject().value(name).toInt();
}

bool TestRoad::pageLoaded(MainForm& window)
{
    QSignalSpy loads(window.myClassPage(), &FormMyClass::pageLoaded);
    return loads.wait(30000) && loads.last().first().toBool();
}

FormThumbnail* TestRoad::lessonTile(MainForm& window, const QString& lessonId)
{
    for (FormThumbnail* tile : window.coursewareForm()->tileList()) {
        if (tile->lessonId == lessonId) {
            return tile;
        }
    }
    return nullptr;
}

bool TestRoad::tipShown(FormPlayer* player, const QString& prefix)
{
    for (QLabel* label : player->findChildren<QLabel*>("labelload")) {
        if (label->isVisible() && label->text().startsWith(prefix)) {
            return true;
        }
    }
    return false;
}

void TestRoad::theWholeRoad()
{
    const QString lessonDone = "已缓存2个视频";
    {
        MainForm window;
        window.show();
        App* app = App::instance();
        app->setSetting(SettingKeys::resumePlayback, "1");
        app->setSetting(SettingKeys::tipAfter, "1");

        // Log in on the login page as a student does, once the client holds a session id.
        QTRY_VERIFY_WITH_TIMEOUT(!app->library()->sid().isEmpty(), 10000);
        FormLoginin* login = window.userForm()->loginPage();
        login->nameBox()->setCurrentText("13800000001");
        login->passwordBox()->setText("tamix123");
        login->loginButton()->click();
        QVERIFY(pageLoaded(window));
        QCOMPARE(window.visiblePage(), static_cast<QWidget*>(window.myClassPage()));

        // The page's own button for course 103; two of its lessons chosen.
        QSignalSpy allDone(app->downloader(), &Downloader::allDone);
        toChoose = QStringList{"1034", "1033"};
        window.myClassPage()->view()->runJavaScript(
            "document.getElementById('download-103').click()", {});
        QTRY_COMPARE_WITH_TIMEOUT(app->downloader()->queue().size() + allDone.count() > 0, true,
                                  10000);
        window.showDownloadForm();
        QTRY_COMPARE_WITH_TIMEOUT(allDone.count(), 1, 60000); // the completion tip
        FormDownload* downloads = window.downloadForm();
        QTRY_COMPARE_WITH_TIMEOUT(downloads->downloadedList()->tileList().size(), 1, 10000);
        FormThumbnail* course = downloads->downloadedList()->tileList().first();
        QCOMPARE(course->badgeText(), lessonDone);

        // The course tile opens its courseware page; the 30-s lesson plays from the store.
        QTest::mouseClick(course->picture(), Qt::LeftButton);
        QCOMPARE(window.visiblePage(), window.coursewarePage());
        FormThumbnail* lesson = lessonTile(window, "1034");
        QVERIFY(lesson);
        QTest::mouseClick(lesson->picture(), Qt::LeftButton);
        FormPlayer* player = app->player();
        QVERIFY(player);
        QSignalSpy started(player->controller(), &MpvController::started);
        QVERIFY(started.wait(15000));
        QMetaObject::invokeMethod(player, "seek", Q_ARG(int, 20));
        QTRY_VERIFY_WITH_TIMEOUT(player->controller()->position() >= 20000, 10000);
        player->close();
        QTest::qWait(0);
        QVERIFY(!app->player());
        // The client ends ("确定退出？" answered OK).
        QVERIFY(window.close());
    }
    QVERIFY(!App::exists());

    // Started again as a new process: no login, the session comes back, and so does the
    // place in the lesson.
    const int logins = route("dologin");
    ChildProcess restarted;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert("TAMIX_ROAD_RESTARTED", "1");
    env.insert("LANG", "zh_CN.UTF-8");
    env.remove("LC_ALL");
    restarted.setProcessEnvironment(env);
    restarted.setProcessChannelMode(QProcess::MergedChannels);
    restarted.start(QCoreApplication::applicationFilePath(), {"restartedClient"});
    QVERIFY(restarted.waitForStarted());
    const bool ended = restarted.waitForFinished(240000);
    const QByteArray output = restarted.readAll();
    QVERIFY2(ended && restarted.exitStatus() == QProcess::NormalExit && restarted.exitCode() == 0,
             output.constData());
    QVERIFY2(output.contains("PASS   : TestRoad::restartedClient()"), output.constData());
    QCOMPARE(route("dologin"), logins);
}

void TestRoad::restartedClient()
{
    if (!isRestarted()) {
        QSKIP("the restarted client of theWholeRoad(), in a process of its own");
    }
    MainForm window;
    window.show();
    App* app = App::instance();
    QVERIFY(app->isLogin());
    QVERIFY(pageLoaded(window));
    window.showCourseware("103");
    FormThumbnail* lesson = lessonTile(window, "1034");
    QVERIFY(lesson);
    QTest::mouseClick(lesson->picture(), Qt::LeftButton);
    FormPlayer* player = app->player();
    QVERIFY(player);
    QTRY_VERIFY_WITH_TIMEOUT(tipShown(player, "已跳转至上次播放时间00:2"), 15000);
    player->close();
    QTest::qWait(0);

    // "下载完成后关机" on, one more lesson: the countdown runs out into the launcher.
    app->setSetting(SettingKeys::shutdownAfter, "1");
    toChoose = QStringList{"1032"};
    window.myClassPage()->view()->runJavaScript("document.getElementById('download-103').click()",
                                                {});
    QTRY_COMPARE_WITH_TIMEOUT(countdowns, 1, 60000);
    QCOMPARE(launched.filter("poweroff").size() + launched.filter("shutdown").size(), 1);
    QVERIFY(window.close());
}

QTEST_MAIN(TestRoad)
#include "tst_road.moc"
