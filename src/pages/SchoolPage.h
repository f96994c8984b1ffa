#pragma once

#include <QElapsedTimer>
#include <QUrl>
#include <QWebEnginePage>

// The web page of the my-classes view. Its main frame holds only the school's origin and the
// client's own documents; every other navigation is refused and leaves the document shown as
// it was. Addresses the user asked for by a click (a link, a new window) that lead to another
// http or https site are handed out (openExternally); other schemes never leave the page. New
// windows of the school's origin open in the view itself.
class SchoolPage : public QWebEnginePage
{
    Q_OBJECT
public:
    SchoolPage(QWebEngineProfile* profile, const QUrl& school, QObject* parent = nullptr);

    // A mouse button or key went to the view: what follows within a moment counts as asked for.
    void noteUserInput();

signals:
    // An address of another site the user clicked: it belongs in the desktop browser.
    void openExternally(const QUrl& url);
    // A new window of the school's origin: the view loads it.
    void openInView(const QUrl& url);
    // The end of a load that was let in; a refused navigation ends without it.
    void loadEnded(bool ok);

protected:
    bool acceptNavigationRequest(const QUrl& url, NavigationType type, bool isMainFrame) override;
    QWebEnginePage* createWindow(WebWindowType type) override;
    void javaScriptConsoleMessage(JavaScriptConsoleMessageLevel level, const QString& message,
                                  int lineNumber, const QString& sourceID) override;

private:
    bool isSchool(const QUrl& url) const;
    bool userActedLately() const;
    // The first navigation of a page made for a new window: passed on, never loaded here.
    void passOnWindow(const QUrl& url);
    void onLoadFinished(bool ok);

    QUrl school;
    // Set for a page made for a new window; it only learns its address.
    SchoolPage* opener = nullptr;
    QElapsedTimer lastInput;
    bool loadAccepted = false; // a main-frame navigation was let in since the last load ended
};
