#include "App.h"
#include "CourseInfo.h"
#include "CourseItem.h"
#include "CourseLibrary.h"
#include "Downloader.h"
#include "FormMyClass.h"
#include "FormPlayer.h"
#include "HttpHelper.h"
#include "JsonHelper.h"
#include "SchoolCourse.h"
#include "SchoolProcess.h"
#include "SchoolWebView.h"
#include "URLManager.h"
#include "UserRecord.h"
#include "WebPanel.h"
#include "XMessageBox.h"

#include <QCheckBox>
#include <QDesktopServices>
#include <QLabel>
#include <QTcpServer>
#include <QTemporaryDir>
#include <QUrlQuery>
#include <QtTest>

// The school's pages call window.FormMyClass as they always have; everything that makes that
// work comes from the client. User 13800000001 owns courses 101 to 103.
class TestMyClass : public QObject
{
    Q_OBJECT

public slots:
    // Stands in for the desktop for every scheme a page may try: nothing here is opened.
    void desktopOpen(const QUrl& url) { desktop.append(url); }

private slots:
    void initTestCase();
    void init();
    void cleanup();
    void everyLoginLoadsTheListPage();
    void pageButtonsReachTheClient_data();
    void pageButtonsReachTheClient();
    void callBeforeTheChannelIsUpArrives();
    void secondVideoWhileOpeningIsIgnored();
    void storedCourseOpensOnItsRecord();
    void missingAnswerShowsMessage();
    void otherOriginCannotCall();
    void failedLoadRecoversOnNextLogin_data();
    void failedLoadRecoversOnNextLogin();
    void leavingThePageTakesAClickAndHttp_data();
    void leavingThePageTakesAClickAndHttp();
    void foreignCoursePageGetsNoKey();
    void pageOutOfSightSleepsAndComesBack_data();
    void pageOutOfSightSleepsAndComesBack();

private:
    bool loginAndWait();
    bool waitLoaded(int loads);
    QVariant script(const QString& source);
    void clickElement(const QString& id);
    int route(const QString& name);

    SchoolProcess school;
    QTemporaryDir docs;
    QTemporaryDir videos;
    FormMyClass* form = nullptr;
    QSignalSpy* loads = nullptr;
    // What the last selection dialog showed, read while it was open (it lives for one use).
    QString dialogCourse;
    QString dialogDir;
    QStringList dialogRows; // "id enabled icon"
    QStringList messages;
    QList<QUrl> desktop;
    // Another site; no request of the client may ever reach it.
    QTcpServer elsewhere;
    QString elsewhereUrl;
    int elsewhereCalls = 0;
};

void TestMyClass::initTestCase()
{
    QStandardPaths::setTestModeEnabled(true);
    WebPanel::setFactory(tamixCreateWebPanel);
    qputenv("TAMIX_MPV_OPTIONS", "ao=null,hwdec=no");
    for (const char* scheme : {"http", "https", "mailto", "tamixtest", "data", "file", "smb"}) {
        QDesktopServices::setUrlHandler(scheme, this, "desktopOpen");
    }
    QVERIFY(elsewhere.listen(QHostAddress::Any));
    elsewhereUrl = QString("http://localhost:%1").arg(elsewhere.serverPort());
    connect(&elsewhere, &QTcpServer::newConnection, this, [this] {
        while (QTcpSocket* socket = elsewhere.nextPendingConnection()) {
            ++elsewhereCalls;
            socket->close();
            socket->deleteLater();
        }
    });
    QVERIFY2(school.start(), qPrintable(school.errorString()));
    QVERIFY(school.bindSession("web-a", "13800000001"));
    school.pointClientHere();
    qputenv("TAMIX_DOCUMENTS_DIR", docs.path().toUtf8());
    qputenv("TAMIX_VIDEOS_DIR", videos.path().toUtf8());
    UserRecord session;
    session.sid = "web-a";
    session.username = "13800000001";
    App::instance()->library()->setSession(session);
    XMessageBox::setResponder([this](XMessageBox& box) {
        messages.append(box.text());
        return true;
    });
    SheetDialog::setRunHook([this](SheetDialog& dialog) {
        if (auto* info = qobject_cast<CourseInfo*>(&dialog)) {
            dialogCourse = info->record().id;
            dialogDir = info->record().dir;
            dialogRows.clear();
            for (CourseItem* row : info->rows()) {
                const QLabel* icon = row->findChild<QLabel*>("lblDoneIcon");
                dialogRows.append(info->record().list.at(row->lessonIndex()).id +
                                  (row->checkBox()->isEnabled() ? " enabled" : " disabled") +
                                  (icon ? " done" : ""));
            }
        }
        return 0;
    });
}

void TestMyClass::init()
{
    form = new FormMyClass;
    form->resize(1000, 600);
    form->show();
    dialogCourse.clear();
    messages.clear();
    desktop.clear();
    elsewhereCalls = 0;
}

void TestMyClass::cleanup()
{
    if (App::instance()->player()) {
        App::instance()->player()->close();
    }
    delete loads;
    loads = nullptr;
    delete form;
    QVERIFY(school.clearFaults());
}

int TestMyClass::route(const QString& name)
{
    return school.stats().value("routes").toObject().value(name).toInt();
}

bool TestMyClass::waitLoaded(int count)
{
    if (!loads) {
        loads = new QSignalSpy(form, &FormMyClass::pageLoaded);
    }
    return QTest::qWaitFor([&] { return loads->count() >= count; }, 20000);
}

bool TestMyClass::loginAndWait()
{
    App::instance()->setLogin(true);
    return waitLoaded(1) && loads->last().first().toBool();
}

QVariant TestMyClass::script(const QString& source)
{
    QVariant result;
    bool answered = false;
    form->view()->runJavaScript(source, [&](const QVariant& value) {
        result = value;
        answered = true;
    });
    if (!QTest::qWaitFor([&] { return answered; }, 5000)) {
        qWarning("the page did not answer a script");
    }
    return result;
}

// A real click, as the user's mouse gives it: only such input counts as the user's asking.
void TestMyClass::clickElement(const QString& id)
{
    const QVariantList centre =
        script(QString("(() => { const r = document.getElementById('%1').getBoundingClientRect();"
                       " return [r.x + r.width / 2, r.y + r.height / 2]; })()")
                   .arg(id))
            .toList();
    QCOMPARE(centre.size(), 2);
    // The web view passes its input on to the engine's own widget, its focus proxy.
    QWidget* input = nullptr;
    for (QWidget* child : form->view()->widget()->findChildren<QWidget*>()) {
        if (child->focusProxy()) {
            input = child->focusProxy();
        }
    }
    QVERIFY(input);
    QTest::mouseClick(input, Qt::LeftButton, Qt::NoModifier,
                      QPoint(centre.at(0).toInt(), centre.at(1).toInt()));
}

void TestMyClass::everyLoginLoadsTheListPage()
{
    const int before = route("GetMyCourseList");
    QVERIFY(loginAndWait());
    QVERIFY(form->view()->url().path().startsWith("/myclass/index"));
    App::instance()->setLogin(true);
    QVERIFY(waitLoaded(2));
    QVERIFY(loads->last().first().toBool());
    QCOMPARE(route("GetMyCourseList") - before, 2);
    QCOMPARE(script("typeof window.FormMyClass.getMyCourseInfo").toString(), QString("function"));
}

// Each button of the school's list page, pressed as a student would.
void TestMyClass::pageButtonsReachTheClient_data()
{
    QTest::addColumn<QString>("button");
    QTest::newRow("skipToList") << "list-102";
    QTest::newRow("getMyCourseInfo") << "download-103";
    QTest::newRow("skipToVideo") << "play-101-1014";
}

void TestMyClass::pageButtonsReachTheClient()
{
    QFETCH(QString, button);
    QSignalSpy navigate(form, &FormMyClass::showNavigate);
    QVERIFY(loginAndWait());
    QVERIFY(script(QString("document.getElementById('%1') !== null").arg(button)).toBool());
    script(QString("document.getElementById('%1').click()").arg(button));

    if (button.startsWith("list-")) {
        QVERIFY(waitLoaded(2));
        const QUrl shown = form->view()->url();
        QVERIFY(shown.path().contains("GetMyCourseInfoForPc"));
        QCOMPARE(QUrlQuery(shown).queryItemValue("class_id"), QString("102"));
        QCOMPARE(navigate.count(), 1);
        QCOMPARE(navigate.first().first().toBool(), false);
        // The lesson list page has the client object too, and back() returns to the list.
        QCOMPARE(script("typeof window.FormMyClass").toString(), QString("object"));
        QVERIFY(form->back());
        QVERIFY(waitLoaded(3));
        QCOMPARE(form->view()->url(), QUrl(form->home()));
    } else if (button.startsWith("download-")) {
        QTRY_COMPARE_WITH_TIMEOUT(dialogCourse, QString("103"), 10000);
        // The busy cursor of the wait is gone once the dialog is there.
        QCOMPARE(QGuiApplication::overrideCursor(), nullptr);
    } else {
        QTRY_VERIFY_WITH_TIMEOUT(App::instance()->player() != nullptr, 10000);
        const QString title = script("SCHOOL.courses.find(c => c.id == '101')"
                                     ".lessons.find(l => l.id == '1014').title")
                                  .toString();
        QVERIFY(!title.isEmpty());
        // Once the course information is in, the title is the lesson's with its courseware
        // number (1014 is the second courseware of course 101 in the school's seed).
        QTRY_COMPARE_WITH_TIMEOUT(App::instance()->player()->windowTitle(), "课件2 " + title,
                                  10000);
        QTRY_COMPARE_WITH_TIMEOUT(App::instance()->player()->lesson(), QString("1014"), 10000);
    }
}

void TestMyClass::callBeforeTheChannelIsUpArrives()
{
    QVERIFY(loginAndWait());
    // An inline script calls while the document is still being parsed, long before the
    // client's channel can have answered; the call is kept and delivered.
    form->view()->setHtml(
        "<html><body><script>window.FormMyClass.getMyCourseInfo(102);</script></body></html>",
        QUrl(school.apiUrl() + "/myclass/index"));
    QTRY_COMPARE_WITH_TIMEOUT(dialogCourse, QString("102"), 10000);
}

void TestMyClass::secondVideoWhileOpeningIsIgnored()
{
    // A second call that arrives while the player of the first is being opened (here: from
    // inside its show event) must not open another one.
    struct Reenter : QObject
    {
        FormMyClass* form;
        int shown = 0;
        bool eventFilter(QObject* watched, QEvent* event) override
        {
            if (event->type() == QEvent::Show && qobject_cast<FormPlayer*>(watched)) {
                ++shown;
                form->skipToVideo("101", "1013", "", "1", "second");
            }
            return false;
        }
    } reenter;
    reenter.form = form;
    qApp->installEventFilter(&reenter);
    form->skipToVideo("101", "1014", "", "1", "first");
    qApp->removeEventFilter(&reenter);
    QCOMPARE(reenter.shown, 1);
    QVERIFY(App::instance()->player());
    QCOMPARE(App::instance()->player()->windowTitle(), QString("first"));
    QVERIFY(form->isNavigable());
}

void TestMyClass::storedCourseOpensOnItsRecord()
{
    // Course 101 is stored with lesson 1013 downloaded; the dialog must show that.
    CourseRecord course = schoolCourse(*App::instance()->urlManager(), "101");
    for (LessonRecord& lesson : course.list) {
        lesson.state = lesson.id == "1013" ? Complete : NotChosen;
    }
    course.dir = videos.path() + "/stored-101";
    UserRecord record = App::instance()->session();
    record.courses = {course};
    App::instance()->library()->replace(record);

    form->getMyCourseInfo("101");
    QTRY_COMPARE_WITH_TIMEOUT(dialogCourse, QString("101"), 10000);
    QCOMPARE(dialogDir, course.dir);
    QCOMPARE(dialogRows,
             QStringList({"1013 disabled done", "1014 enabled", "1016 enabled", "1018 enabled"}));
    App::instance()->library()->replace(App::instance()->session());
}

void TestMyClass::missingAnswerShowsMessage()
{
    QVERIFY(
        school.addFault(QJsonObject{{"route", "*GetMyCourseInfoForPcDownLoad*"}, {"drop", true}}));
    form->getMyCourseInfo("101");
    QTRY_COMPARE_WITH_TIMEOUT(messages, QStringList{"获取课程信息失败"}, 10000);
    QVERIFY(dialogCourse.isEmpty());
}

void TestMyClass::otherOriginCannotCall()
{
    QVERIFY(loginAndWait());
    // The key-file listener is another origin on the same host.
    form->view()->setHtml("<html><body>other</body></html>", QUrl(school.keyUrl() + "/x"));
    QVERIFY(waitLoaded(2));
    QCOMPARE(script("typeof window.FormMyClass").toString(), QString("undefined"));
    // Even a hand-made call in the relay's own format is refused and logged.
    const int before = route("GetMyCourseInfoForPcDownLoad");
    QTest::ignoreMessage(QtWarningMsg,
                         QRegularExpression("refused a page call of getMyCourseInfo"));
    script("document.dispatchEvent(new CustomEvent('tamix:call', {detail: JSON.stringify("
           "{method: 'getMyCourseInfo', args: ['101']})}))");
    QTest::qWait(500);
    QCOMPARE(route("GetMyCourseInfoForPcDownLoad"), before);
    QVERIFY(dialogCourse.isEmpty());
}

void TestMyClass::failedLoadRecoversOnNextLogin_data()
{
    QTest::addColumn<QJsonObject>("fault");
    QTest::addColumn<int>("failedLoads"); // page loads that fail before the panel shows
    QTest::newRow("page dropped") << QJsonObject{{"route", "/myclass/*"}, {"drop", true}} << 1;
    QTest::newRow("page address answered by an HTML 502")
        << QJsonObject{{"route", "*GetMyCourseList*"}, {"status", 502}} << 0;
}

void TestMyClass::failedLoadRecoversOnNextLogin()
{
    QFETCH(QJsonObject, fault);
    QFETCH(int, failedLoads);
    fault.insert("times", 1);
    QVERIFY(school.addFault(fault));
    QVERIFY(waitLoaded(0)); // counts the loads from here on
    App::instance()->setLogin(true);
    QTRY_VERIFY_WITH_TIMEOUT(form->failurePanel()->isVisible(), 10000);
    QCOMPARE(loads->size(), failedLoads);
    if (failedLoads > 0) {
        QCOMPARE(loads->last().first().toBool(), false);
        QVERIFY(!form->loadUrl(form->home()));
    }
    App::instance()->setLogin(true);
    QVERIFY(waitLoaded(failedLoads + 1));
    QVERIFY(loads->last().first().toBool());
    QVERIFY(!form->failurePanel()->isVisible());
    QVERIFY(form->view()->widget()->isVisible());
}

void TestMyClass::pageOutOfSightSleepsAndComesBack_data()
{
    QTest::addColumn<QString>("away");  // what takes the page out of sight
    QTest::addColumn<int>("discardMs"); // the page's time out of sight before it is discarded
    QTest::newRow("another page in front") << "hidden" << 10 * 60 * 1000;
    QTest::newRow("window minimised") << "minimised" << 10 * 60 * 1000;
    QTest::newRow("the player in front, past the discard delay") << "player" << 300;
}

void TestMyClass::pageOutOfSightSleepsAndComesBack()
{
    QFETCH(QString, away);
    QFETCH(int, discardMs);
    const bool player = away == "player";
    const bool discarded = discardMs < 1000;
    QVERIFY(loginAndWait());
    form->view()->setDiscardDelay(discardMs);
    const QUrl address = form->view()->url();
    // What the page itself sees: its own state, and the lifecycle's freeze event.
    QVERIFY(script("window.kept = 'yes'; window.froze = 0;"
                   "document.addEventListener('freeze', () => ++window.froze); true")
                .toBool());
    if (player) {
        QVERIFY(App::instance()->openPlayer("lesson")->isBuilt());
        QVERIFY(form->isVisible()); // in sight but for the player over it
    } else if (away == "minimised") {
        form->showMinimized();
    } else {
        form->hide();
    }
    QTRY_COMPARE(form->view()->lifecycle(),
                 discarded ? WebPanel::Lifecycle::Discarded : WebPanel::Lifecycle::Frozen);
    if (player) {
        App::instance()->player()->close();
    } else {
        form->showNormal();
    }
    QCOMPARE(form->view()->lifecycle(), WebPanel::Lifecycle::Active);
    // Discarded: a new document loaded from the same address, which knows it was discarded.
    // Frozen: the same document, frozen once and running again.
    QVERIFY(!discarded || waitLoaded(2));
    QCOMPARE(form->view()->url(), address);
    const QVariantList seen =
        script("[String(window.kept), window.froze || 0, document.wasDiscarded]").toList();
    const QVariantList expected =
        discarded ? QVariantList{"undefined", 0, true} : QVariantList{"yes", 1, false};
    QCOMPARE(seen.size(), 3);
    for (int i = 0; i < 3; ++i) {
        QCOMPARE(seen.at(i).toString(), expected.at(i).toString());
    }
}

// "ELSE" stands for another site, "HOME" for the school's course list page. "click" is the
// user's mouse on the link, "script" the page clicking it itself, "timer" a window the page
// opens on its own, "assign" the page setting its own location.
void TestMyClass::leavingThePageTakesAClickAndHttp_data()
{
    QTest::addColumn<QString>("href");
    QTest::addColumn<QString>("target");
    QTest::addColumn<QString>("how");
    QTest::addColumn<bool>("toDesktop");
    QTest::addColumn<bool>("inView");
    QTest::newRow("mailto link, click") << "mailto:student@example.com"
                                        << ""
                                        << "click" << false << false;
    QTest::newRow("custom scheme window, click") << "tamixtest://open/101"
                                                 << "_blank"
                                                 << "click" << false << false;
    QTest::newRow("other site link, click") << "ELSE/a"
                                            << ""
                                            << "click" << true << false;
    QTest::newRow("other site link, script") << "ELSE/a"
                                             << ""
                                             << "script" << false << false;
    QTest::newRow("other site window, click") << "ELSE/w"
                                              << "_blank"
                                              << "click" << true << false;
    QTest::newRow("other site window, timer") << "ELSE/w"
                                              << "_blank"
                                              << "timer" << false << false;
    QTest::newRow("data page, assign") << "data:text/html,<form><input type=password></form>"
                                       << ""
                                       << "assign" << false << false;
    QTest::newRow("school window, click") << "HOME"
                                          << "_blank"
                                          << "click" << false << true;
}

void TestMyClass::leavingThePageTakesAClickAndHttp()
{
    QFETCH(QString, href);
    QFETCH(QString, target);
    QFETCH(QString, how);
    QFETCH(bool, toDesktop);
    QFETCH(bool, inView);
    QVERIFY(loginAndWait());
    href.replace("ELSE", elsewhereUrl).replace("HOME", form->home());
    const QUrl shown(school.apiUrl() + "/myclass/index");
    form->view()->setHtml(QString("<html><body style='margin:0'><script>window.mark = 'kept';"
                                  "</script><a id='go' href='%1' target='%2' style='display:block;"
                                  "width:400px;height:200px'>go</a></body></html>")
                              .arg(href, target),
                          shown);
    QVERIFY(waitLoaded(2));
    QVERIFY(loads->last().first().toBool());

    if (how == "click") {
        clickElement("go");
    } else if (how == "script") {
        script("document.getElementById('go').click()");
    } else if (how == "timer") {
        script(QString("setTimeout(() => window.open('%1'), 0)").arg(href));
    } else {
        script(QString("location.href = '%1'").arg(href));
    }

    if (inView) {
        QVERIFY(waitLoaded(3));
        QCOMPARE(form->view()->url(), QUrl(form->home()));
    } else if (toDesktop) {
        QTRY_COMPARE_WITH_TIMEOUT(desktop, QList<QUrl>{QUrl(href)}, 5000);
    } else {
        QTest::qWait(1000);
    }
    if (!toDesktop) {
        QVERIFY(desktop.isEmpty());
    }
    if (!inView) {
        // The page is the one that was shown, untouched.
        QCOMPARE(loads->count(), 2);
        QCOMPARE(form->view()->url(), shown);
        QCOMPARE(script("window.mark").toString(), QString("kept"));
        QVERIFY(!form->failurePanel()->isVisible());
        QVERIFY(form->isNavigable());
    }
    QCOMPARE(elsewhereCalls, 0);
}

void TestMyClass::foreignCoursePageGetsNoKey()
{
    QVERIFY(loginAndWait());
    const QJsonObject page{{"url", QString(elsewhereUrl + "/myclass/index")}};
    const QJsonObject answer{{"flag", "1"}, {"data", page}};
    QVERIFY(QMetaObject::invokeMethod(
        form, "httpGetCourseUrlDone",
        Q_ARG(QString, QString::fromUtf8(QJsonDocument(answer).toJson()))));
    QTRY_VERIFY_WITH_TIMEOUT(form->failurePanel()->isVisible(), 5000);
    QTest::qWait(1500);
    QCOMPARE(elsewhereCalls, 0);
    QVERIFY(!form->home().contains("localhost"));
}

QTEST_MAIN(TestMyClass)
#include "tst_myclass.moc"
