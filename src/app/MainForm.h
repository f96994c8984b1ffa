#pragma once

#include <QList>
#include <QPoint>
#include <QRect>
#include <QSize>
#include <QSystemTrayIcon>
#include <QWidget>
#include <functional>
#include <optional>

class BaseDialog;
class FormBaseSet;
class FormUpgrade;
class FormAbout;
class FormCourseware;
class FormDownload;
class FormMyClass;
class FormQA;
class FormUser;
class HttpHelper;
class MainMenus;
class NavigatWidget;
class QAction;
class QMenu;
class QVBoxLayout;
class TitleWidget;
class VersionCheck;

// The main window: frameless, and where the desktop composes windows translucent with a shadow
// of its own (elsewhere framed by a plain line). It stacks the title bar, the page area and the
// navigation bar, switches between the pages, owns the menus and the tray icon, decides what
// minimise and close mean, and runs the start-up network step.
class MainForm : public QWidget
{
    Q_OBJECT
public:
    explicit MainForm(QWidget* parent = nullptr);
    ~MainForm() override;

    // The visible body of the window, shadow excluded; the whole window when maximised.
    QPoint contentPos() const;
    QSize contentSize() const;
    // Moves the window so that its body starts at (x, y); dialogs drag the window along.
    void moveTo(int x, int y);

    // Black alpha of shadow ring i (0 innermost): 85 - 40·√i, truncated.
    static int ringAlpha(int ring);
    static constexpr int shadowMargin = 5;

    bool isInTray() const { return inTray; }
    // Whether the desktop has a system tray to hide in; tests replace the answer.
    // The saved place of the window ("x,y,width,height") when it is whole, at least
    // `minimum` in size, and its top edge lies on one of `screens` (a screen that has gone
    // since leaves it nowhere to be grabbed); otherwise nothing.
    static std::optional<QRect> savedGeometry(const QString& saved, const QList<QRect>& screens,
                                              const QSize& minimum);
    static bool trayAvailable();
    static void setTrayAvailable(std::function<bool()> answer);
    FormBaseSet* settingsDialog() const { return formBaseSet; }
    FormUpgrade* upgradeDialog() const { return formUpgrade; }
    bool isMaximisedToScreen() const;
    TitleWidget* title() const { return titleWidget; }
    NavigatWidget* navigation() const { return navigatWidget; }
    QWidget* visiblePage() const;
    FormMyClass* myClassPage() const { return formMyClass; }
    FormDownload* downloadForm();
    QWidget* downloadPage();
    QWidget* qaPage() const;
    QWidget* userPage() const;
    FormUser* userForm() const { return formUser; }
    FormCourseware* coursewareForm() const { return formCourseware; }
    QWidget* coursewarePage() const;
    QMenu* trayContextMenu() const { return trayMenu; }
    QSystemTrayIcon* tray() const { return trayIcon; }

signals:
    // The window has closed for good, the context is stopped: time to leave the event loop.
    void ended();
    // A notice of the download road went to the tray (also where no tray shows it).
    void told(QString text);

private slots:
    void showSetForm();
    void showAboutForm();
    void showUpgrade();
    void loingout();
    void onSystemTrayIconClicked(QSystemTrayIcon::ActivationReason reason);
    void showMe();
    void showVisible(QWidget* wid, int style);
    void onInitDone();
    // The session id, then the version check.
    void startNetworkStep();
    void httpSidDone(QString result);

public slots:
    void showMyClassForm();
    void showDownloadForm();
    void showQAForm();
    void showUserForm();
    void showCourseware(QString cid);
    void closeForm();
    // The tray menu's "退出": ends the program whatever the close setting says.
    void quitFromTray();
    void showSetMenu();
    void showUserMenu();
    void showLogin();
    void showNavigate(bool show);
    void webBack();
    void onBtnMinClick();
    void onBtnMaxClick();
    void onBtnNormalClick();
    void downloadDone();
    // The queue ended with lessons failed: how many came and how many wait for "重试".
    void downloadEnded(int complete, int failed);
    // The school forgot the session: told once, then the login page.
    void onSessionLost();
    void onShutdown();

protected:
    void paintEvent(QPaintEvent* event) override;
    void closeEvent(QCloseEvent* event) override;
    void changeEvent(QEvent* event) override;

private:
    void restoreGeometry();
    void saveGeometry();

    // Lessons queued and not held while downloads run: what a quit would stop.
    int lessonsDownloading() const;
    // Asks the quit question, its count read afresh as lessons end while it stands; true when
    // the student chose to stay. `always`: asked even when nothing downloads.
    bool refuseQuit(bool always);
    void createTray();
    // The orderly stop: player closed, fetchers told to quit, scheduler stopped and waited
    // for, store saved. Runs on every path that ends the program.
    void stopContext();
    // The pages of the stack built so far, in navigation order.
    QList<QWidget*> pages() const;

    QVBoxLayout* mainLayout = nullptr;
    QVBoxLayout* pageLayout = nullptr;
    TitleWidget* titleWidget = nullptr;
    NavigatWidget* navigatWidget = nullptr;
    FormMyClass* formMyClass = nullptr;
    FormDownload* formDownload = nullptr;
    FormUser* formUser = nullptr;
    FormQA* formQA = nullptr;
    FormBaseSet* formBaseSet = nullptr;
    FormAbout* formAbout = nullptr;
    FormUpgrade* formUpgrade = nullptr;
    FormCourseware* formCourseware = nullptr;
    MainMenus* menus = nullptr;
    QMenu* trayMenu = nullptr;
    QAction* quitAction = nullptr;
    QAction* showAction = nullptr;
    QSystemTrayIcon* trayIcon = nullptr;
    bool inTray = false;
    bool quitAsked = false;
    QSize normalSize{-1, -1};
    QPoint normalPos{0, 0};
    HttpHelper* sidHttp = nullptr;
    // The web page has somewhere to go back to (its back button is shown with it).
    bool webBackWanted = false;
    VersionCheck* versionCheck = nullptr;
    bool painted = false;
    bool networkStepDue = false;
    // Whether the desktop composes windows, so that the shadow can be see-through.
    bool composes = true;
    // The band around the body: the shadow, or the plain frame where there is no shadow.
    int shadow = shadowMargin;
};
