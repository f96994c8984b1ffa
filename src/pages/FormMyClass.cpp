#include "FormMyClass.h"

#include "App.h"
#include "CourseInfo.h"
#include "Downloader.h"
#include "FormPlayer.h"
#include "HttpHelper.h"
#include "JsonHelper.h"
#include "LogMask.h"
#include "M3u8Loader.h"
#include "ServerConfig.h"
#include "StoredLesson.h"
#include "StyledWidget.h"
#include "SystemServices.h"
#include "URLManager.h"
#include "UrlPolicy.h"
#include "WebPanel.h"
#include "XMessageBox.h"

#include <QDebug>
#include <QGuiApplication>
#include <QLabel>
#include <QPushButton>
#include <QTimer>
#include <QUrl>
#include <QVBoxLayout>

FormMyClass::FormMyClass(QWidget* parent) : QWidget(parent)
{
    setObjectName(QStringLiteral("MainWidget"));
    courseUrlHttp = new HttpHelper(this);
    courseInfoHttp = new HttpHelper(this);

    lineHolder = new StyledWidget(this);
    lineHolder->setObjectName(QStringLiteral("MainWidget"));
    lineHolder->setFixedHeight(1);
    progressLine = new StyledWidget(lineHolder);
    progressLine->setObjectName(QStringLiteral("line"));
    progressLine->setFixedHeight(1);
    progressLine->hide();
    auto* lineLayout = new QVBoxLayout(lineHolder);
    lineLayout->setContentsMargins(0, 0, 0, 0);
    lineLayout->setSpacing(0);
    lineLayout->addWidget(progressLine, 0, Qt::AlignLeft);

    // Shown in place of the page when it could not be loaded.
    failureView = new StyledWidget(this);
    failureView->setObjectName(QStringLiteral("ContentWidget"));
    auto* failureText =
        new QLabel(QStringLiteral("课程页面加载失败，请检查网络后重试。"), failureView);
    failureText->setObjectName(QStringLiteral("lblLoadFailed"));
    retryButton = new QPushButton(QStringLiteral("重新加载"), failureView);
    retryButton->setObjectName(QStringLiteral("btnReload"));
    retryButton->setCursor(Qt::PointingHandCursor);
    auto* failureLayout = new QVBoxLayout(failureView);
    failureLayout->addStretch();
    failureLayout->addWidget(failureText, 0, Qt::AlignHCenter);
    failureLayout->addSpacing(15);
    failureLayout->addWidget(retryButton, 0, Qt::AlignHCenter);
    failureLayout->addStretch();
    failureView->hide();

    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);
    layout->addWidget(lineHolder);
    layout->addWidget(failureView, 1);

    deadline = new QTimer(this);
    deadline->setSingleShot(true);
    deadline->setInterval(loadDeadlineMs);
    connect(deadline, &QTimer::timeout, this, &FormMyClass::onDeadline);

    connect(retryButton, &QPushButton::clicked, this, &FormMyClass::retry);
    connect(courseUrlHttp, &HttpHelper::done, this, &FormMyClass::httpGetCourseUrlDone);
    connect(courseInfoHttp, &HttpHelper::done, this, &FormMyClass::httpGetMyCourseInfoDone);
    connect(App::instance(), &App::Login, this, &FormMyClass::getCourseUrl);
    connect(App::instance(), &App::playerOpen, this, &FormMyClass::updateSleep);
}

FormMyClass::~FormMyClass()
{
    if (waitingForCourseInfo) {
        QGuiApplication::restoreOverrideCursor();
    }
    // The view's last signals must still find this page whole.
    delete webView;
}

bool FormMyClass::createView()
{
    App* app = App::instance();
    if (!app) {
        return false;
    }
    WebPanel::Setup setup;
    setup.storagePath = app->appDir() + QStringLiteral("/web");
    setup.school = QUrl(ServerConfig::apiBaseUrl());
    setup.client = this;
    setup.loadStarted = [this] {
        onWebStart();
    };
    setup.loadProgress = [this](int value) {
        onWebProgress(value);
    };
    setup.loadFinished = [this](bool ok) {
        onWebFinish(ok);
    };
    setup.loadBegun = [this] {
        onWebBegun();
    };
    setup.loadRefused = [this] {
        onWebRefused();
    };
    setup.scriptDialog = [this](const QString& text, bool question) {
        return scriptDialog(text, question);
    };
    setup.openInView = [this](const QUrl& url) {
        loadUrl(url.toString(QUrl::FullyEncoded));
    };
    // What the page's documents and pictures held in our own heap is free now: give it back
    // while the student watches a lesson.
    setup.discarded = [] {
        SystemServices::releaseFreedMemory();
    };
    QString error;
    webView = WebPanel::create(setup, this, &error);
    if (!webView) {
        qWarning().noquote() << "no web view for the course pages:" << error;
        return false;
    }
    static_cast<QVBoxLayout*>(layout())->insertWidget(1, webView->widget(), 1);
    // Made while the panel is shown (the page address failed first): the panel stays until a
    // page is there.
    webView->widget()->setVisible(!loadFailed);
    updateSleep();
    return true;
}

void FormMyClass::updateSleep()
{
    if (webView) {
        const App* app = App::exists() ? App::instance() : nullptr;
        webView->setOutOfSight(!isVisible() || window()->isMinimized() ||
                               (app && app->isPlayerOpen()));
    }
}

void FormMyClass::showEvent(QShowEvent* event)
{
    QWidget::showEvent(event);
    // A minimised window leaves its pages visible; only its state tells.
    window()->installEventFilter(this);
    updateSleep();
}

bool FormMyClass::eventFilter(QObject* watched, QEvent* event)
{
    if (watched == window() && event->type() == QEvent::WindowStateChange) {
        updateSleep();
    }
    return QWidget::eventFilter(watched, event);
}

void FormMyClass::hideEvent(QHideEvent* event)
{
    QWidget::hideEvent(event);
    updateSleep();
}

bool FormMyClass::loadUrl(const QString& url)
{
    if (!navigable) {
        return false;
    }
    load(url);
    return true;
}

void FormMyClass::load(const QString& url)
{
    if (!webView && !createView()) {
        showFailure(true);
        return;
    }
    webView->load(QUrl(url));
}

bool FormMyClass::back()
{
    return loadUrl(homeUrl);
}

void FormMyClass::reloadIfFailed()
{
    // A login on its way brings a fresh address anyway.
    if (loadFailed && !addressPending) {
        retry();
    }
}

void FormMyClass::retry()
{
    // The panel stays, with the press acknowledged, until the page is there or fails again.
    retryButton->setEnabled(false);
    retryButton->setText(QStringLiteral("正在加载..."));
    if (homeUrl.isEmpty()) {
        getCourseUrl(true);
    } else {
        load(homeUrl);
    }
}

void FormMyClass::getCourseUrl(bool value)
{
    App* app = App::instance();
    if (!app) {
        return;
    }
    const QString url = app->urlManager()->getMyCourseListUrl();
    if (!value) {
        qDebug().noquote() << "logged out; the course list page stays:"
                           << QUrl(url).toDisplayString(QUrl::RemoveQuery);
        return;
    }
    addressPending = true;
    courseUrlHttp->get(url);
}

void FormMyClass::httpGetCourseUrlDone(QString result)
{
    addressPending = false;
    App* app = App::instance();
    if (!app) {
        return;
    }
    if (result.isEmpty()) {
        qDebug() << "the course list address did not come: no answer from the school";
        showFailure(true);
        return;
    }
    const JsonNode answer = JsonHelper::parse(result);
    if (answer.getString(QStringLiteral("flag")) != QLatin1String("1")) {
        // An HTML error page of a proxy has no flag at all; either way the student sees the
        // panel with its retry, not an empty page.
        qDebug() << "the course list address was refused:"
                 << answer.getString(QStringLiteral("infos"));
        showFailure(true);
        return;
    }
    const QString url = answer.getObject(QStringLiteral("data")).getString(QStringLiteral("url"));
    // The signed key goes to the school and nowhere else, whatever the answer names.
    if (!UrlPolicy::sameOrigin(QUrl(url), QUrl(ServerConfig::apiBaseUrl()))) {
        qDebug().noquote() << "the course list address is not the school's:" << LogMask::url(url);
        showFailure(true);
        return;
    }
    homeUrl = app->urlManager()->signUrl(url);
    // A login also recovers from a failed load, which otherwise blocks navigation.
    if (loadFailed) {
        load(homeUrl);
    } else {
        loadUrl(homeUrl);
    }
}

void FormMyClass::onWebProgress(int value)
{
    progressLine->setVisible(value < 100);
    progressLine->setFixedWidth(width() * value / 100);
}

void FormMyClass::onWebStart()
{
    navigable = true;
}

void FormMyClass::setLoadDeadline(int ms)
{
    deadline->setInterval(ms);
}

void FormMyClass::onWebBegun()
{
    deadline->start();
}

void FormMyClass::onDeadline()
{
    qDebug().noquote() << "page did not load within" << deadline->interval() / 1000
                       << "s:" << webView->requestedUrl().toDisplayString(QUrl::RemoveQuery);
    webView->stop();
    onWebFinish(false);
}

void FormMyClass::onWebRefused()
{
    // The page shown before is still there and running: it stays, without the panel. With
    // none there yet, the load has failed.
    if (pageShown && !loadFailed) {
        deadline->stop();
        navigable = true;
        progressLine->hide();
        qDebug() << "a refused address took the place of a load; the page stays";
        return;
    }
    onWebFinish(false);
}

bool FormMyClass::scriptDialog(const QString& text, bool question)
{
    if (question) {
        return XMessageBox::ask(text, this);
    }
    XMessageBox::inform(text, this);
    return true;
}

void FormMyClass::onWebFinish(bool value)
{
    deadline->stop();
    pageShown = pageShown || value;
    navigable = value;
    progressLine->hide();
    if (!value) {
        qDebug().noquote() << "page did not load:"
                           << webView->requestedUrl().toDisplayString(QUrl::RemoveQuery);
    }
    showFailure(!value);
    emit pageLoaded(value);
}

void FormMyClass::showFailure(bool failed)
{
    loadFailed = failed;
    retryButton->setEnabled(true);
    retryButton->setText(QStringLiteral("重新加载"));
    failureView->setVisible(failed);
    if (webView) {
        webView->widget()->setVisible(!failed);
    }
}

void FormMyClass::skipToList(QString id)
{
    App* app = App::instance();
    if (!navigable || !app) {
        return;
    }
    loadUrl(app->urlManager()->getMyCourseInfoForPcUrl(id));
    emit showNavigate(false);
}

void FormMyClass::skipToVideo(QString cid, QString lid, QString, QString c_type, QString title)
{
    App* app = App::instance();
    if (!navigable || !app) {
        return;
    }
    navigable = false;
    FormPlayer* player = app->openPlayer(title);
    player->playLesson(cid, lid, c_type);
    navigable = true;
}

void FormMyClass::getMyCourseInfo(QString cid)
{
    App* app = App::instance();
    if (!app) {
        return;
    }
    if (waitingForCourseInfo) {
        return; // the first press is still on its way
    }
    // A slow school must not leave the press without an answer: busy until the dialog or the
    // failure message.
    waitingForCourseInfo = true;
    QGuiApplication::setOverrideCursor(Qt::BusyCursor);
    courseInfoHttp->get(app->urlManager()->getMyCourseInfoForPcDownLoadUrl(cid));
}

void FormMyClass::httpGetMyCourseInfoDone(QString result)
{
    if (waitingForCourseInfo) {
        waitingForCourseInfo = false;
        QGuiApplication::restoreOverrideCursor();
    }
    App* app = App::instance();
    if (!app) {
        return;
    }
    if (result.isEmpty()) {
        XMessageBox::inform(QStringLiteral("获取课程信息失败"), this);
        return;
    }
    const JsonNode answer = JsonHelper::parse(result);
    if (answer.getString(QStringLiteral("flag")) != QLatin1String("1")) {
        const QString infos = answer.getString(QStringLiteral("infos"));
        qDebug() << "course information refused:" << infos;
        // Asking again would be refused again: the student is led to the login instead.
        if (M3u8Loader::isSessionLost(result)) {
            app->reportSessionLost();
            return;
        }
        XMessageBox::inform(infos.isEmpty() ? QStringLiteral("获取课程信息失败") : infos, this);
        return;
    }
    const JsonNode data = answer.getObject(QStringLiteral("data"));
    const QString id = data.getString(QStringLiteral("id"));
    Downloader* downloader = app->downloader();
    const std::optional<CourseRecord> stored = downloader->findCourse(id);
    if (stored) {
        course = *stored;
    } else {
        course = CourseRecord(data, *app->urlManager());
        // Lessons still on disk from a lost record are shown downloaded, not fetched twice.
        if (StoredLesson::recover(course, downloader->downloadRoots(), app->cipher()) > 0) {
            downloader->fileRecovered(course);
        }
    }
    delete courseInfo.data();
    courseInfo = new CourseInfo(course, this);
    courseInfo->run();
    if (courseInfo) {
        courseInfo->deleteLater();
    }
}
