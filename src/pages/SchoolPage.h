#pragma once

#include <QWebEnginePage>

// The web page of the my-classes view. The main frame stays on the school's origin: links,
// redirects and new windows that lead elsewhere are handed out (openExternally) instead of
// being loaded; new windows of the school open in the view itself.
class SchoolPage : public QWebEnginePage
{
    Q_OBJECT
public:
    SchoolPage(QWebEngineProfile* profile, const QString& schoolOrigin, QObject* parent = nullptr);

signals:
    // An address of another origin the user asked for: it belongs in the desktop browser.
    void openExternally(const QUrl& url);
    // A new window of the school's origin: the view loads it.
    void openInView(const QUrl& url);

protected:
    bool acceptNavigationRequest(const QUrl& url, NavigationType type, bool isMainFrame) override;
    QWebEnginePage* createWindow(WebWindowType type) override;
    void javaScriptConsoleMessage(JavaScriptConsoleMessageLevel level, const QString& message,
                                  int lineNumber, const QString& sourceID) override;

private:
    QString schoolOrigin;
    // A page made for a new window only learns its address; it passes it on and goes.
    SchoolPage* opener = nullptr;
};
