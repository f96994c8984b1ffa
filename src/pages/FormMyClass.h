#pragma once

#include "CourseInfo.h"

#include <QPointer>
#include <QWidget>

class HttpHelper;
class QPushButton;
class QTimer;
class WebPanel;

// The my-classes page: the school's course page in an embedded web view. After a login it
// asks for the page's address, signs and loads it; the page's script reaches the client
// through the window object "FormMyClass" (skipToList, skipToVideo, getMyCourseInfo).
//
// The web engine is loaded and started with the first page load, after the window has been
// painted. A page load has a deadline, as the page address has: past it, or when a load fails,
// the failure panel with its retry takes the view's place (never both at once).
class FormMyClass : public QWidget
{
    Q_OBJECT
public:
    explicit FormMyClass(QWidget* parent = nullptr);
    ~FormMyClass() override;

    // Loads `url` when navigation is allowed; false otherwise.
    bool loadUrl(const QString& url);
    // Back to the course list page.
    bool back();
    // After a failed load: loads the course list page again (a press on "我的课程").
    void reloadIfFailed();

    bool isNavigable() const { return navigable; }
    QString home() const { return homeUrl; }
    bool hasFailed() const { return loadFailed; }
    // Null until the first page load.
    WebPanel* view() const { return webView; }
    QWidget* loadingBar() const { return progressLine; }
    QWidget* failurePanel() const { return failureView; }
    CourseInfo* selectionDialog() const { return courseInfo; }
    // Test seam: the time a page load may take.
    void setLoadDeadline(int ms);
    static constexpr int loadDeadlineMs = 30000;

signals:
    // The title bar's back button: shown when false.
    void showNavigate(bool show);
    // A page load has ended, loaded or not.
    void pageLoaded(bool ok);

protected:
    void showEvent(QShowEvent* event) override;
    void hideEvent(QHideEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private slots:
    void getCourseUrl(bool value);
    void httpGetCourseUrlDone(QString result);
    void httpGetMyCourseInfoDone(QString result);

public slots:
    void skipToList(QString id);
    void skipToVideo(QString cid, QString lid, QString vid, QString c_type, QString title);
    void getMyCourseInfo(QString cid);

private:
    bool createView();
    // What the web view reports about its loads.
    void onWebProgress(int value);
    void onWebStart();
    void onWebFinish(bool value);
    void onWebBegun();
    void onWebRefused();
    void onDeadline();
    bool scriptDialog(const QString& text, bool question);
    void load(const QString& url);
    void showFailure(bool failed);
    void retry();
    // Out of sight (another page shown, the window in the tray or minimised, the player in
    // front), the web page sleeps and gives back its memory.
    void updateSleep();

    WebPanel* webView = nullptr;
    HttpHelper* courseUrlHttp = nullptr;
    HttpHelper* courseInfoHttp = nullptr;
    QPointer<CourseInfo> courseInfo;
    CourseRecord course;
    bool navigable = true;
    QString homeUrl;
    QWidget* progressLine = nullptr;
    QWidget* lineHolder = nullptr;

    bool loadFailed = false;
    bool pageShown = false;      // a page has loaded since the view was made
    bool addressPending = false; // a page-address call is on its way
    QWidget* failureView = nullptr;
    QPushButton* retryButton = nullptr;
    QTimer* deadline = nullptr;
    // A course-information request for the download dialog is on its way.
    bool waitingForCourseInfo = false;
};
