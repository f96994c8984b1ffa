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

#include <QApplication>
#include <QCheckBox>
#include <QDesktopServices>
#include <QDirIterator>
#include <QElapsedTimer>
#include <QJsonArray>
#include <QLabel>
#include <QMessageBox>
#include <QPushButton>
#include <QTcpServer>
#include <QTemporaryDir>
#include <QTimer>
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
    void pageLoadHasADeadline_data();
    void pageLoadHasADeadline();
    void refusedNavigationKeepsThePage_data();
    void refusedNavigationKeepsThePage();
    void scriptWindowsAndDialogs_data();
    void scriptWindowsAndDialogs();
    void signedAddressStaysOffTheDisk();

private:
    bool loginAndWait();
    bool waitLoaded(int loads);
    QVariant script(const QString& source);
    void clickElement(const QString& id);
    int route(const QString& name);
    QPushButton* retryButton() const;
    bool viewVisible() const { return form->view() && form->view()->widget()->isVisible(); }

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

QPushButton* TestMyClass::retryButton() const
{
    return form->failurePanel()->findChild<QPushButton*>("btnReload");
}

// Each row's faults hold the page back (or its address first); every press of "重新加载"
// meets them again until they are used up. Throughout, exactly one of the page and the panel
// is shown.
void TestMyClass::pageLoadHasADeadline_data()
{
    QTest::addColumn<QJsonArray>("faults");
    QTest::addColumn<int>("panels"); // failure panels before the page is there
    QTest::newRow("page stalled, twice")
        << QJsonArray{QJsonObject{{"route", "/myclass/*"}, {"stall", 15000}, {"times", 2}}} << 2;
    QTest::newRow("page trickling")
        << QJsonArray{QJsonObject{{"route", "/myclass/*"}, {"trickle", 300}, {"times", 1}}} << 1;
    QTest::newRow("page address an HTML 502, then the page stalled")
        << QJsonArray{QJsonObject{{"route", "*GetMyCourseList*"}, {"status", 502}, {"times", 1}},
                      QJsonObject{{"route", "/myclass/*"}, {"stall", 15000}, {"times", 1}}}
        << 2;
}

void TestMyClass::pageLoadHasADeadline()
{
    QFETCH(QJsonArray, faults);
    QFETCH(int, panels);
    for (const QJsonValue& fault : faults) {
        QVERIFY(school.addFault(fault.toObject()));
    }
    // Long enough for a page of the school on a busy test machine.
    const int deadlineMs = 4000;
    form->setLoadDeadline(deadlineMs);
    int both = 0;
    int neither = 0;
    QTimer watch;
    connect(&watch, &QTimer::timeout, this, [&] {
        const bool panel = form->failurePanel()->isVisible();
        both += panel && viewVisible() ? 1 : 0;
        // Before the first page (or panel) the area may be empty only until the view exists.
        neither += !panel && !viewVisible() && form->view() ? 1 : 0;
    });
    watch.start(20);
    QVERIFY(waitLoaded(0));
    QElapsedTimer clock;
    clock.start();
    App::instance()->setLogin(true);
    int seen = 0;
    while (true) {
        // The panel comes within the deadline (and the address call's own, much shorter here
        // than its 15 s), or the page.
        QVERIFY(QTest::qWaitFor(
            [&] {
                return (form->failurePanel()->isVisible() && retryButton()->isEnabled()) ||
                       (!loads->isEmpty() && loads->last().first().toBool());
            },
            deadlineMs + 5000));
        if (!form->failurePanel()->isVisible()) {
            break;
        }
        ++seen;
        QVERIFY2(clock.elapsed() < deadlineMs + 4000, qPrintable(QString::number(clock.elapsed())));
        QVERIFY(seen <= panels);
        QVERIFY(!viewVisible());
        clock.restart();
        QTest::mouseClick(retryButton(), Qt::LeftButton);
        // The press is seen at once; the panel stays until the page is there.
        QVERIFY(!retryButton()->isEnabled() || !form->failurePanel()->isVisible());
    }
    watch.stop();
    QCOMPARE(seen, panels);
    QVERIFY(viewVisible());
    QVERIFY(form->view()->url().path().startsWith("/myclass/index"));
    QCOMPARE(both, 0);
    QCOMPARE(neither, 0);
}

// A page of the school with a mark in its script is shown; then something sends it towards a
// refused address. "SCHOOL" stands for the school's origin, "ELSE" for another site.
void TestMyClass::refusedNavigationKeepsThePage_data()
{
    QTest::addColumn<QJsonObject>("fault");
    QTest::addColumn<QString>("action"); // the page's script; empty: the first page itself
    QTest::addColumn<bool>("panel");
    QTest::newRow("school link redirected off-site")
        << QJsonObject{{"route", "/help/away"}, {"redirect", "ELSE"}}
        << "document.getElementById('away').click()" << false;
    QTest::newRow("school navigation superseded by a refused one")
        << QJsonObject{{"route", "/help/slow"}, {"stall", 4000}}
        << "location.href = 'SCHOOL/help/slow';"
           " setTimeout(() => { location.href = 'ELSE/x'; }, 300)"
        << false;
    QTest::newRow("the same, again and again")
        << QJsonObject{{"route", "/help/slow"}, {"stall", 4000}}
        << "let n = 0; const t = setInterval(() => {"
           " location.href = 'SCHOOL/help/slow?' + n;"
           " setTimeout(() => { location.href = 'ELSE/x' + n; }, 100);"
           " if (++n == 5) clearInterval(t); }, 250)"
        << false;
    // Nothing was there to keep: the student is told.
    QTest::newRow("first page redirected off-site")
        << QJsonObject{{"route", "/myclass/index*"}, {"redirect", "ELSE"}} << "" << true;
}

void TestMyClass::refusedNavigationKeepsThePage()
{
    QFETCH(QJsonObject, fault);
    QFETCH(QString, action);
    QFETCH(bool, panel);
    const int deadlineMs = 1500;
    fault["redirect"] = fault.value("redirect").toString().replace("ELSE", elsewhereUrl);
    if (fault.value("redirect").toString().isEmpty()) {
        fault.remove("redirect");
    }
    QVERIFY(school.addFault(fault));
    if (panel) {
        form->setLoadDeadline(deadlineMs);
        QVERIFY(waitLoaded(0));
        App::instance()->setLogin(true);
        QTRY_VERIFY_WITH_TIMEOUT(form->failurePanel()->isVisible(), deadlineMs + 3000);
        QVERIFY(!viewVisible());
        QCOMPARE(elsewhereCalls, 0);
        return;
    }
    QVERIFY(loginAndWait());
    const QUrl shown(school.apiUrl() + "/myclass/index");
    form->view()->setHtml(QString("<html><body><script>window.mark = 'kept';"
                                  "setInterval(() => { window.ticks = (window.ticks || 0) + 1; },"
                                  " 50);</script><a id='away' href='%1/help/away'>away</a>"
                                  "</body></html>")
                              .arg(school.apiUrl()),
                          shown);
    QVERIFY(waitLoaded(2));
    form->setLoadDeadline(deadlineMs);
    action.replace("SCHOOL", school.apiUrl()).replace("ELSE", elsewhereUrl);
    script(action);
    // Past the deadline of any load it may have started.
    QTest::qWait(deadlineMs + 2000);
    QVERIFY(!form->failurePanel()->isVisible());
    QVERIFY(viewVisible());
    QVERIFY(form->isNavigable());
    QCOMPARE(form->view()->url(), shown);
    // The same document, still running.
    const int ticks = script("window.ticks").toInt();
    QTest::qWait(300);
    QVERIFY(script("window.ticks").toInt() > ticks);
    QCOMPARE(script("window.mark").toString(), QString("kept"));
    QCOMPARE(elsewhereCalls, 0);
    QVERIFY(desktop.isEmpty());
}

// What the school's page may do with windows and dialogs. A box of the toolkit's own (a
// QMessageBox the engine would open) is seen, closed and counted as a fault.
void TestMyClass::scriptWindowsAndDialogs_data()
{
    QTest::addColumn<QString>("source");
    QTest::addColumn<QStringList>("shown"); // texts of the window's own message boxes
    QTest::addColumn<QString>("result");    // of the script, when it matters
    QTest::newRow("javascript: window")
        << "window.open(\"javascript:alert('弹出')\"); 'done'" << QStringList() << "done";
    QTest::newRow("javascript: window in capitals, opened from a frame")
        << "const f = document.createElement('iframe'); document.body.appendChild(f);"
           " f.contentWindow.open(' JavaScript:alert(1)'); 'done'"
        << QStringList() << "done";
    QTest::newRow("javascript: link to a new window")
        << "const a = document.createElement('a'); a.target = '_blank';"
           " a.href = \"javascript:alert('链接')\"; document.body.appendChild(a); a.click();"
           " 'done'"
        << QStringList() << "done";
    QTest::newRow("alert of the school's page")
        << "alert('<b>课程已更新</b>'); 'done'" << QStringList{"<b>课程已更新</b>"} << "done";
    QTest::newRow("confirm of the school's page")
        << "String(confirm('确定吗？'))" << QStringList{"确定吗？"} << "true";
    QTest::newRow("alert in a loop") << "for (let i = 0; i < 30; ++i) alert('又一次'); 'done'"
                                     << QStringList{"又一次"} << "done";
    QTest::newRow("alert of a frame of another origin")
        << "const f = document.createElement('iframe');"
           " f.src = 'data:text/html,<script>alert(\"frame\")</script>';"
           " document.body.appendChild(f); 'done'"
        << QStringList() << "done";
    QTest::newRow("prompt") << "String(prompt('姓名？'))" << QStringList() << "null";
}

void TestMyClass::scriptWindowsAndDialogs()
{
    QFETCH(QString, source);
    QFETCH(QStringList, shown);
    QFETCH(QString, result);
    QStringList foreign;
    QTimer watch;
    connect(&watch, &QTimer::timeout, this, [&] {
        for (QWidget* widget : QApplication::topLevelWidgets()) {
            if (auto* box = qobject_cast<QMessageBox*>(widget); box && box->isVisible()) {
                foreign.append(box->text());
                box->reject();
            }
        }
    });
    watch.start(50);
    QVERIFY(loginAndWait());
    QCOMPARE(script(source).toString(), result);
    QTest::qWait(1500);
    // The window still answers: nothing blocks it.
    QCOMPARE(script("6 * 7").toInt(), 42);
    watch.stop();
    QCOMPARE(foreign, QStringList());
    QCOMPARE(messages, shown);
    QVERIFY(desktop.isEmpty());
}

void TestMyClass::signedAddressStaysOffTheDisk()
{
    const QString web = App::instance()->appDir() + "/web";
    // What an earlier version's cache holds of a signed address.
    QVERIFY(QDir().mkpath(web + "/cache/Cache"));
    QFile old(web + "/cache/Cache/data_1");
    QVERIFY(old.open(QIODevice::WriteOnly));
    old.write("http://127.0.0.1/myclass/index?key=web-a&sign=0123456789abcdef");
    old.close();

    QVERIFY(loginAndWait());
    const QString sign = QUrlQuery(QUrl(form->home())).queryItemValue("sign");
    QVERIFY(!sign.isEmpty());
    // Visited again, as a student does, and the view closed with the program.
    QVERIFY(form->back());
    QVERIFY(waitLoaded(2));
    delete loads;
    loads = nullptr;
    delete form;
    form = nullptr;
    QTest::qWait(2000);
    QStringList holding;
    QDirIterator files(web, QDir::Files | QDir::Hidden, QDirIterator::Subdirectories);
    while (files.hasNext()) {
        QFile file(files.next());
        if (file.open(QIODevice::ReadOnly) && (file.readAll().contains(sign.toLatin1()) ||
                                               file.fileName().endsWith("/cache/Cache/data_1"))) {
            holding << file.fileName();
        }
    }
    QCOMPARE(holding, QStringList());
}

QTEST_MAIN(TestMyClass)
#include "tst_myclass.moc"
