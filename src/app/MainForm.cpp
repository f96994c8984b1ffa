#include "MainForm.h"

#include "App.h"
#include "BaseDialog.h"
#include "CourseLibrary.h"
#include "Downloader.h"
#include "FormAbout.h"
#include "FormBaseSet.h"
#include "FormCourseware.h"
#include "FormDownload.h"
#include "FormMyClass.h"
#include "FormQA.h"
#include "FormUpgrade.h"
#include "FormUser.h"
#include "HttpHelper.h"
#include "JsonHelper.h"
#include "MainMenus.h"
#include "NavigatWidget.h"
#include "SettingKeys.h"
#include "SheetDialog.h"
#include "StyledWidget.h"
#include "TitleWidget.h"
#include "ToShutdown.h"
#include "URLManager.h"
#include "VersionCheck.h"
#include "WindowPlacement.h"
#include "XMessageBox.h"

#include <QAction>
#include <QApplication>
#include <QCloseEvent>
#include <QCursor>
#include <QDebug>
#include <QMenu>
#include <QPainter>
#include <QPainterPath>
#include <QPushButton>
#include <QScreen>
#include <QTimer>
#include <QVBoxLayout>
#include <cmath>

static std::function<bool()>& trayAnswer()
{
    static std::function<bool()> answer = [] {
        return QSystemTrayIcon::isSystemTrayAvailable();
    };
    return answer;
}

bool MainForm::trayAvailable()
{
    return trayAnswer()();
}

void MainForm::setTrayAvailable(std::function<bool()> answer)
{
    trayAnswer() = std::move(answer);
}

MainForm::MainForm(QWidget* parent) : QWidget(parent)
{
    App::allowNewRun();
    App* app = App::instance();
    // Hidden in the tray, the window is not there to count: closing a dialog opened from the
    // tray would end the program. The program ends only through closeEvent.
    QGuiApplication::setQuitOnLastWindowClosed(false);
    setWindowTitle(App::appName);
    // The shadow is see-through and needs a desktop that composes windows; elsewhere it
    // would be a black band, and the window is opaque with a plain one-pixel frame.
    composes = SheetDialog::screenComposes();
    shadow = composes ? shadowMargin : 1;
    if (composes) {
        setAttribute(Qt::WA_TranslucentBackground);
    }
    setMouseTracking(true);
    setWindowFlags(Qt::FramelessWindowHint);

    const QRect screen = app->screenRect();
    if (screen.width() > 1210) {
        resize(1210, 720);
    } else {
        resize(800, 600);
    }
    if (screen.isValid()) {
        move(screen.center() - rect().center());
    }
    restoreGeometry();
    app->setSize(width(), height());
    app->setMainForm(this);

    titleWidget = new TitleWidget(this);
    titleWidget->setFixedHeight(50);
    navigatWidget = new NavigatWidget(this);
    navigatWidget->setFixedHeight(60);
    pageLayout = new QVBoxLayout();
    pageLayout->setContentsMargins(0, 0, 0, 0);
    auto border = [this] {
        auto* line = new StyledWidget(this);
        line->setObjectName(QStringLiteral("MainBorder"));
        line->setFixedHeight(1);
        return line;
    };
    mainLayout = new QVBoxLayout(this);
    mainLayout->setContentsMargins(shadow, shadow, shadow, shadow);
    mainLayout->setSpacing(0);
    mainLayout->addWidget(titleWidget);
    mainLayout->addWidget(border());
    mainLayout->addLayout(pageLayout, 1);
    mainLayout->addWidget(border());
    mainLayout->addWidget(navigatWidget);

    formMyClass = new FormMyClass(this);
    formQA = new FormQA(this);
    formUser = new FormUser(this);
    formCourseware = new FormCourseware(this);

    menus = new MainMenus(app, this);
    connect(menus, &MainMenus::settingsWanted, this, &MainForm::showSetForm);
    connect(menus, &MainMenus::aboutWanted, this, &MainForm::showAboutForm);
    connect(menus, &MainMenus::versionCheckWanted, this, &MainForm::showUpgrade);
    connect(menus, &MainMenus::userCentreWanted, this, &MainForm::showLogin);
    connect(menus, &MainMenus::logoutWanted, this, &MainForm::loingout);

    showVisible(formUser, 4);
    for (QWidget* page : pages()) {
        pageLayout->addWidget(page);
    }

    createTray();

    versionCheck = new VersionCheck(app->urlManager(), this);
    connect(versionCheck, &VersionCheck::newerVersion, this,
            [this](const FormUpgrade::Offer& offer) {
                delete formUpgrade;
                formUpgrade = new FormUpgrade(offer);
                formUpgrade->run();
            });
    connect(versionCheck, &VersionCheck::answered, this,
            [this](const QString& message) { XMessageBox(message, true, this).showAndWait(); });
    sidHttp = new HttpHelper(this);
    connect(sidHttp, &HttpHelper::done, this, &MainForm::httpSidDone);

    connect(app, &App::Login, this, &MainForm::showMyClassForm);
    connect(formMyClass, &FormMyClass::showNavigate, this, &MainForm::showNavigate);
    connect(app, &App::toShutdown, this, &MainForm::onShutdown);
    connect(app, &App::initDone, this, &MainForm::onInitDone);
    connect(app->downloader(), &Downloader::allDone, this, &MainForm::downloadDone);
    connect(app->downloader(), &Downloader::endedWithFailures, this, &MainForm::downloadEnded);
    connect(app->downloader(), &Downloader::storageFailed, this, [this](const QString& message) {
        trayIcon->showMessage(App::appName, message, QSystemTrayIcon::Warning, 10000);
    });
    connect(app->downloader(), &Downloader::recordDamaged, this, [this](const QString& message) {
        trayIcon->showMessage(App::appName, message, QSystemTrayIcon::Warning, 10000);
    });
    // The school forgot the session (its restart, an expiry): every later call would be
    // refused, so the student logs in again; the waiting lessons then go on.
    connect(app, &App::sessionLost, this, &MainForm::onSessionLost);

    app->init();
}

MainForm::~MainForm()
{
    delete formAbout;
    delete formUpgrade;
    if (App::exists() && App::instance()->mainForm() == this) {
        App::instance()->setMainForm(nullptr);
    }
}

void MainForm::createTray()
{
    trayMenu = new QMenu(this);
    showAction = trayMenu->addAction(QStringLiteral("显示"));
    trayMenu->addSeparator();
    trayMenu->addAction(menus->settingsAction());
    trayMenu->addSeparator();
    quitAction = trayMenu->addAction(QStringLiteral("退出"));
    connect(showAction, &QAction::triggered, this, &MainForm::showMe);
    connect(quitAction, &QAction::triggered, this, &MainForm::quitFromTray);

    trayIcon = new QSystemTrayIcon(QIcon(QStringLiteral(":/vospen/vospen/16_16.png")), this);
    trayIcon->setContextMenu(trayMenu);
    trayIcon->setToolTip(App::appName);
    connect(trayIcon, &QSystemTrayIcon::activated, this, &MainForm::onSystemTrayIconClicked);
    trayIcon->show();
}

bool MainForm::isMaximisedToScreen() const
{
    // After the orderly stop the context is gone; a late paint must not build a new one.
    return App::exists() && size() == App::instance()->screenRect().size();
}

QPoint MainForm::contentPos() const
{
    if (isMaximisedToScreen()) {
        return pos();
    }
    return pos() + QPoint(shadow, shadow);
}

QSize MainForm::contentSize() const
{
    if (isMaximisedToScreen()) {
        return size();
    }
    return size() - QSize(2 * shadow, 2 * shadow);
}

void MainForm::moveTo(int x, int y)
{
    move(x - shadow, y - shadow);
}

int MainForm::ringAlpha(int ring)
{
    return static_cast<int>(85 - 40 * std::sqrt(static_cast<double>(ring)));
}

QList<QWidget*> MainForm::pages() const
{
    QList<QWidget*> built{formMyClass, formDownload, formQA, formUser, formCourseware};
    built.removeAll(nullptr);
    return built;
}

FormDownload* MainForm::downloadForm()
{
    // Built when first asked for: its lists and their pictures are the dearest part of the
    // window, and the student starts at the login or the course page.
    if (!formDownload) {
        formDownload = new FormDownload(this);
        formDownload->hide();
        pageLayout->addWidget(formDownload);
    }
    return formDownload;
}

QWidget* MainForm::downloadPage()
{
    return downloadForm();
}

QWidget* MainForm::coursewarePage() const
{
    return formCourseware;
}

QWidget* MainForm::qaPage() const
{
    return formQA;
}

QWidget* MainForm::userPage() const
{
    return formUser;
}

QWidget* MainForm::visiblePage() const
{
    for (QWidget* page : pages()) {
        if (!page->isHidden()) {
            return page;
        }
    }
    return nullptr;
}

void MainForm::showVisible(QWidget* wid, int style)
{
    for (QWidget* page : pages()) {
        page->hide();
    }
    wid->show();
    navigatWidget->select(style);
    // The back button steps back in the web page: it is there only while that page is.
    titleWidget->backButton()->setVisible(wid == formMyClass && webBackWanted);
}

void MainForm::showMyClassForm()
{
    App* app = App::instance();
    if (!app) {
        return;
    }
    if (app->isLogin()) {
        showVisible(formMyClass, 1);
        formMyClass->reloadIfFailed();
    } else {
        showVisible(formUser, 4);
    }
}

void MainForm::showDownloadForm()
{
    showVisible(downloadForm(), 2);
}

void MainForm::showQAForm()
{
    showVisible(formQA, 3);
}

void MainForm::showUserForm()
{
    showVisible(formUser, 4);
}

void MainForm::showLogin()
{
    showUserForm();
}

void MainForm::showCourseware(QString cid)
{
    formCourseware->showCourse(cid);
    showVisible(formCourseware, 0);
}

void MainForm::showNavigate(bool show)
{
    webBackWanted = !show;
    titleWidget->backButton()->setVisible(webBackWanted && formMyClass->isVisibleTo(this));
}

void MainForm::webBack()
{
    if (formMyClass->back()) {
        showNavigate(true);
    }
}

void MainForm::showSetForm()
{
    if (!formBaseSet) {
        formBaseSet = new FormBaseSet(QStringLiteral("基本设置"), this);
    }
    formBaseSet->run();
}

void MainForm::showAboutForm()
{
    if (!formAbout) {
        formAbout =
            new FormAbout(QStringLiteral("关于 ") + App::appName + QLatin1Char(' ') + App::version);
    }
    formAbout->run();
}

void MainForm::showUpgrade()
{
    versionCheck->checkAsked();
}

void MainForm::loingout()
{
    App* app = App::instance();
    if (!app) {
        return;
    }
    app->setLogin(false);
    showUserForm();
}

void MainForm::onSystemTrayIconClicked(QSystemTrayIcon::ActivationReason reason)
{
    if (reason == QSystemTrayIcon::Trigger || reason == QSystemTrayIcon::DoubleClick) {
        showMe();
    }
}

void MainForm::showMe()
{
    setWindowState(Qt::WindowActive);
    show();
    inTray = false;
}

void MainForm::onInitDone()
{
    // The network's first call waits for the window's first paint (its set-up is not on the
    // way there), or two seconds for a window that is not shown (started into the tray).
    networkStepDue = true;
    QTimer::singleShot(painted ? 0 : 2000, this, &MainForm::startNetworkStep);
}

void MainForm::startNetworkStep()
{
    App* app = App::instance();
    if (!app || !networkStepDue) {
        return;
    }
    networkStepDue = false;
    if (app->library()->sid().isEmpty()) {
        sidHttp->get(app->urlManager()->getSessionIdUrl());
    } else {
        versionCheck->checkAtStart();
    }
}

void MainForm::httpSidDone(QString result)
{
    if (result.isEmpty()) {
        qDebug() << "no session id: the school did not answer";
        return;
    }
    App* app = App::instance();
    if (!app) {
        return;
    }
    // A login pressed meanwhile asked for its own session id and may be logged in with it:
    // this later one would leave the student with a session the school never logged in.
    if (app->library()->sid().isEmpty()) {
        const JsonNode answer = JsonHelper::parse(result);
        app->library()->setSid(
            answer.getObject(QStringLiteral("data")).getString(QStringLiteral("sid")));
    }
    versionCheck->checkAtStart();
}

void MainForm::closeForm()
{
    close();
}

void MainForm::showSetMenu()
{
    menus->popUpSettings();
}

void MainForm::showUserMenu()
{
    menus->popUpUser();
}

void MainForm::onBtnMinClick()
{
    // Without a tray the hidden window could not be brought back: the taskbar then.
    App* app = App::instance();
    if (app && app->isOn(SettingKeys::minToTray) && trayAvailable()) {
        hide();
        inTray = true;
    } else {
        showMinimized();
    }
}

void MainForm::onBtnMaxClick()
{
    App* app = App::instance();
    if (!app) {
        return;
    }
    normalSize = size();
    normalPos = pos();
    resize(app->screenRect().size());
    move(0, 0);
    mainLayout->setContentsMargins(0, 0, 0, 0);
}

void MainForm::onBtnNormalClick()
{
    resize(normalSize);
    move(normalPos);
    mainLayout->setContentsMargins(shadow, shadow, shadow, shadow);
}

void MainForm::downloadDone()
{
    trayIcon->showMessage(App::appName, QStringLiteral("全部下载已完成"),
                          QSystemTrayIcon::Information, 10000);
}

void MainForm::onSessionLost()
{
    App* context = App::instance();
    // Told once: logged out, later reports of the same loss find nobody logged in.
    if (!context || !context->isLogin()) {
        return;
    }
    const QString text = QStringLiteral("登录已失效，请重新登录后继续下载。");
    trayIcon->showMessage(App::appName, text, QSystemTrayIcon::Warning, 10000);
    emit told(text);
    // The login page follows Login(false); the lessons waiting for a login go on after it.
    context->setLogin(false);
}

void MainForm::downloadEnded(int complete, int failed)
{
    const QString text =
        QStringLiteral("下载已结束：%1 个课件完成，%2 个课件缓存失败").arg(complete).arg(failed);
    trayIcon->showMessage(App::appName, text, QSystemTrayIcon::Warning, 10000);
    emit told(text);
}

void MainForm::onShutdown()
{
    ToShutdown countdown;
    countdown.run();
}

std::optional<QRect> MainForm::savedGeometry(const QString& saved, const QList<QRect>& screens,
                                             const QSize& minimum)
{
    const QRect rect = WindowPlacement::fromText(saved);
    if (rect.width() < minimum.width() || rect.height() < minimum.height()) {
        return std::nullopt;
    }
    // Enough of the title bar to take hold of it.
    const QRect titleBar(rect.x() + shadowMargin, rect.y() + shadowMargin,
                         rect.width() - 2 * shadowMargin, 40);
    for (const QRect& screen : screens) {
        const QRect visible = screen.intersected(titleBar);
        if (visible.width() >= 100 && visible.height() >= 20) {
            return rect;
        }
    }
    return std::nullopt;
}

void MainForm::restoreGeometry()
{
    App* app = App::instance();
    QList<QRect> screens;
    for (const QScreen* screen : QGuiApplication::screens()) {
        screens.append(screen->availableGeometry());
    }
    const std::optional<QRect> saved =
        savedGeometry(app->setting(SettingKeys::windowGeometry), screens, QSize(800, 600));
    if (saved) {
        resize(saved->size());
        move(saved->topLeft());
    }
}

void MainForm::saveGeometry()
{
    App* app = App::instance();
    if (!app) {
        return;
    }
    const bool maximised = isMaximisedToScreen() && normalSize.isValid();
    const QRect normal = maximised ? QRect(normalPos, normalSize) : geometry();
    app->setSetting(SettingKeys::windowGeometry, WindowPlacement::toText(normal));
}

void MainForm::stopContext()
{
    saveGeometry();
    if (App::exists()) {
        App::instance()->setMainForm(nullptr);
        delete App::instance();
    }
    App::endForGood();
}

void MainForm::quitFromTray()
{
    quitAsked = true;
    close();
    quitAsked = false; // still here: the student chose to stay
}

int MainForm::lessonsDownloading() const
{
    const App* app = App::instance();
    Downloader* downloader = app ? app->downloader() : nullptr;
    if (!downloader || !downloader->isStart()) {
        return 0;
    }
    const QList<LessonRecord> queue = downloader->queue();
    return int(std::count_if(queue.cbegin(), queue.cend(),
                             [](const LessonRecord& lesson) { return !lesson.paused; }));
}

bool MainForm::refuseQuit(bool always)
{
    const auto question = [this] {
        const int downloading = lessonsDownloading();
        return downloading > 0 ? QStringLiteral("正在下载 %1 个课件，确定退出？").arg(downloading)
                               : QStringLiteral("确定退出？");
    };
    if (!always && lessonsDownloading() == 0) {
        return false;
    }
    XMessageBox box(question(), false, this);
    if (App* app = App::instance()) {
        connect(app->downloader(), &Downloader::refreshUI, &box,
                [&box, question] { box.setText(question()); });
    }
    return box.showAndWait();
}

void MainForm::closeEvent(QCloseEvent* event)
{
    App* app = App::instance();
    if (!app) {
        // The orderly stop has already run.
        event->accept();
        return;
    }
    // The tray's "退出" and a close while hidden in the tray end the program: a question only
    // when lessons would stop downloading.
    if (inTray || quitAsked) {
        if (refuseQuit(false)) {
            event->ignore();
            return;
        }
        stopContext();
        event->accept();
        emit ended();
        return;
    }
    if (app->isOn(SettingKeys::closeToTray) && trayAvailable()) {
        event->ignore();
        hide();
        inTray = true;
        return;
    }
    if (refuseQuit(true)) {
        event->ignore();
        return;
    }
    stopContext();
    event->accept();
    emit ended();
}

void MainForm::paintEvent(QPaintEvent*)
{
    if (!painted) {
        painted = true;
        if (networkStepDue) {
            QTimer::singleShot(0, this, &MainForm::startNetworkStep);
        }
    }
    if (isMaximisedToScreen()) {
        return;
    }
    QPainter painter(this);
    if (!composes) {
        painter.setPen(QColor(0xd2, 0xd2, 0xd2));
        painter.drawRect(rect().adjusted(0, 0, -1, -1));
        return;
    }
    painter.setRenderHint(QPainter::Antialiasing, true);
    // Ring j is darkened by the pens of rings j and outwards, one over the other: each ring
    // is stroked once with the alpha those strokes add up to.
    double clear = 1.0;
    for (int i = shadow - 1; i >= 0; --i) {
        clear *= 1.0 - ringAlpha(i) / 255.0;
        const int inset = shadow - i;
        QPainterPath ring;
        ring.addRoundedRect(inset, inset, width() - 2 * inset, height() - 2 * inset, 2, 2);
        painter.setPen(QColor(0, 0, 0, qRound(255 * (1.0 - clear))));
        painter.drawPath(ring);
    }
}

void MainForm::changeEvent(QEvent* event)
{
    if (event->type() == QEvent::WindowStateChange && !(windowState() & Qt::WindowMinimized)) {
        update();
    }
    QWidget::changeEvent(event);
}
