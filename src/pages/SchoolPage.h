#pragma once

#include <QElapsedTimer>
#include <QUrl>
#include <QWebEnginePage>
#include <functional>

class QTimer;

// The web page of the my-classes view. Its main frame holds only the school's origin and the
// client's own documents; every other navigation is refused and leaves the document shown as
// it was. Addresses the user asked for by a click (a link, a new window) that lead to another
// http or https site are handed out (openExternally); other schemes never leave the page. New
// windows of the school's origin open in the view itself. Pages made for a new window never run
// a script or show a dialog: they only learn their address.
class SchoolPage : public QWebEnginePage
{
    Q_OBJECT
public:
    SchoolPage(QWebEngineProfile* profile, const QUrl& school, QObject* parent = nullptr);

    // A mouse button or key went to the view: what follows within a moment counts as asked for.
    void noteUserInput();
    // Stops the load under way; its end is not reported.
    void abandonLoad();
    // Shows a script dialog of the school's page (`question`: confirm) and returns the answer;
    // without one, every dialog is suppressed.
    using DialogHandler = std::function<bool(const QString& text, bool question)>;
    void setDialogHandler(DialogHandler handler) { dialogHandler = std::move(handler); }

signals:
    // An address of another site the user clicked: it belongs in the desktop browser.
    void openExternally(const QUrl& url);
    // A new window of the school's origin: the view loads it.
    void openInView(const QUrl& url);
    // A main-frame load was let in; loadEnded or loadRefused follows.
    void loadBegun();
    // The end of a load that was let in; a refused navigation ends without it.
    void loadEnded(bool ok);
    // A load that was let in gave way to a refused address (a redirect off the school's origin,
    // or a refused navigation in its place): the document shown before is still there.
    void loadRefused();

protected:
    bool acceptNavigationRequest(const QUrl& url, NavigationType type, bool isMainFrame) override;
    QWebEnginePage* createWindow(WebWindowType type) override;
    void javaScriptConsoleMessage(JavaScriptConsoleMessageLevel level, const QString& message,
                                  int lineNumber, const QString& sourceID) override;
    void javaScriptAlert(const QUrl& securityOrigin, const QString& msg) override;
    bool javaScriptConfirm(const QUrl& securityOrigin, const QString& msg) override;
    bool javaScriptPrompt(const QUrl& securityOrigin, const QString& msg,
                          const QString& defaultValue, QString* result) override;

private:
    bool isSchool(const QUrl& url) const;
    bool userActedLately() const;
    // The first navigation of a page made for a new window: passed on, never loaded here.
    void passOnWindow(const QUrl& url);
    void onLoadFinished(bool ok);
    // Whether a dialog of `origin` may be shown now; a page that asks again the moment the last
    // one was answered is silenced until its next load.
    bool dialogAllowed(const QUrl& origin);
    bool showDialog(const QUrl& origin, const QString& text, bool question);

    QUrl school;
    // Set for a page made for a new window; it only learns its address.
    SchoolPage* opener = nullptr;
    QElapsedTimer lastInput;
    bool loadAccepted = false; // a main-frame navigation was let in since the last load ended
    bool refusedSinceAccepted = false;
    bool abandoned = false; // the end of a stopped load is still to come
    QTimer* failureGrace = nullptr;
    DialogHandler dialogHandler;
    QElapsedTimer lastDialogEnd;
    bool dialogsMuted = false;
};
