#pragma once

#include "WebPanel.h"

#include <QWidget>

class MyClassBridge;
class QWebEngineProfile;
class QTimer;
class QWebEngineView;
class SchoolPage;

// The web module's panel: a web view on its own profile whose pages of the school's origin
// find the window object "FormMyClass" before their own scripts run. The calls reach the
// client through a web channel in an isolated script world (MyClassBridge). Addresses the
// page hands out go to the desktop browser (QDesktopServices), http and https only.
class SchoolWebView : public QWidget, public WebPanel
{
    Q_OBJECT
public:
    SchoolWebView(const Setup& setup, QWidget* parent);
    ~SchoolWebView() override;

    QWidget* widget() override { return this; }
    void load(const QUrl& url) override;
    void stop() override;
    void setHtml(const QString& html, const QUrl& baseUrl) override;
    QUrl url() const override;
    QUrl requestedUrl() const override;
    void runJavaScript(const QString& source,
                       const std::function<void(const QVariant&)>& done) override;
    void setOutOfSight(bool outOfSight) override;
    Lifecycle lifecycle() const override;
    void setDiscardDelay(int ms) override;

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void addClientScripts();

    QString schoolOrigin;
    QWebEngineProfile* profile = nullptr;
    SchoolPage* page = nullptr;
    QWebEngineView* view = nullptr;
    MyClassBridge* bridge = nullptr;
    QTimer* discardTimer = nullptr;
    bool outOfSight = false;
};

#ifdef TAMIX_WEB_BUILD
#define TAMIX_WEB_ENTRY Q_DECL_EXPORT
#else
#define TAMIX_WEB_ENTRY Q_DECL_IMPORT
#endif

// The module's entry, looked up by name when the program loads it; programs that link the
// module call it directly.
extern "C" TAMIX_WEB_ENTRY WebPanel* tamixCreateWebPanel(const WebPanel::Setup& setup,
                                                         QWidget* parent);
