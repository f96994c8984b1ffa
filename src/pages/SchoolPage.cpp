#include "SchoolPage.h"

#include "LogMask.h"
#include "UrlPolicy.h"

#include <QDebug>
#include <QTimer>
#include <QWebEngineSettings>

// Chromium keeps a click's activation for a few seconds; a navigation the page starts later
// than this after the last input is the page's own doing.
static constexpr qint64 userActionMs = 2000;
// A dialog asked for within this time after the last one was answered is a page that keeps
// asking (an alert in a loop), not a student's question.
static constexpr qint64 dialogRepeatMs = 1000;
// How long a failed load waits for the navigation that may have taken its place.
static constexpr int failureGraceMs = 1000;
// A page made for a new window whose address has not come by then never gets one.
static constexpr int windowWaitMs = 10000;

SchoolPage::SchoolPage(QWebEngineProfile* profile, const QUrl& school, QObject* parent)
    : QWebEnginePage(profile, parent), school(school)
{
    connect(this, &QWebEnginePage::loadFinished, this, &SchoolPage::onLoadFinished);
    failureGrace = new QTimer(this);
    failureGrace->setSingleShot(true);
    failureGrace->setInterval(failureGraceMs);
    connect(failureGrace, &QTimer::timeout, this, [this] { emit loadEnded(false); });
}

void SchoolPage::noteUserInput()
{
    lastInput.start();
}

void SchoolPage::abandonLoad()
{
    failureGrace->stop();
    if (!loadAccepted) {
        triggerAction(Stop);
        return;
    }
    loadAccepted = false;
    refusedSinceAccepted = false;
    abandoned = true;
    triggerAction(Stop);
    // The engine reports the stopped load's end from a zero timer, before this one; a load let
    // in meanwhile (a quick retry) must not take that end for its own.
    QTimer::singleShot(0, this, [this] { abandoned = false; });
}

bool SchoolPage::isSchool(const QUrl& url) const
{
    return UrlPolicy::isAllowed(url) && UrlPolicy::sameOrigin(url, school);
}

bool SchoolPage::userActedLately() const
{
    return lastInput.isValid() && lastInput.elapsed() < userActionMs;
}

bool SchoolPage::acceptNavigationRequest(const QUrl& url, NavigationType type, bool isMainFrame)
{
    if (opener) {
        passOnWindow(url);
        return false;
    }
    // Frames are the page's business; they never get the client object, and unknown schemes
    // never leave the engine (the profile's policy).
    if (!isMainFrame) {
        return true;
    }
    // The client's own documents made from text (setHtml) arrive typed, as its loads do; a
    // page cannot start a typed navigation. Reload and history only return to what was let in.
    const bool ownDocument =
        (type == NavigationTypeTyped || type == NavigationTypeReload ||
         type == NavigationTypeBackForward) &&
        (url.scheme() == QLatin1String("data") || url.scheme() == QLatin1String("about"));
    if (isSchool(url) || ownDocument) {
        // The client's own loads start afresh; the page's own cannot lift a silence.
        if (type == NavigationTypeTyped) {
            dialogsMuted = false;
            lastDialogEnd.invalidate();
        }
        // A load that failed a moment ago gave way to this one, whose end counts instead.
        failureGrace->stop();
        if (!loadAccepted) {
            loadAccepted = true;
            refusedSinceAccepted = false;
            emit loadBegun();
        }
        return true;
    }
    // A redirect of the load let in, or a navigation that takes its place: the load will end
    // without a new document.
    refusedSinceAccepted = loadAccepted;
    if (failureGrace->isActive()) {
        failureGrace->stop();
        emit loadRefused();
    }
    const bool handOut =
        type == NavigationTypeLinkClicked && UrlPolicy::isAllowed(url) && userActedLately();
    qDebug().noquote() << "not loading in the client:" << LogMask::url(url)
                       << (handOut ? "(to the desktop browser)" : "");
    if (handOut) {
        emit openExternally(url);
    }
    return false;
}

void SchoolPage::passOnWindow(const QUrl& url)
{
    if (isSchool(url)) {
        emit opener->openInView(url);
    } else if (UrlPolicy::isAllowed(url) && opener->userActedLately()) {
        emit opener->openExternally(url);
    } else {
        qDebug().noquote() << "new window refused:" << LogMask::url(url);
    }
    deleteLater();
}

QWebEnginePage* SchoolPage::createWindow(WebWindowType)
{
    auto* page = new SchoolPage(profile(), school, this);
    page->opener = this;
    // A window opened on a javascript: address would run it here, unseen, with dialogs that
    // block the window: this page only learns its address.
    page->settings()->setAttribute(QWebEngineSettings::JavascriptEnabled, false);
    // A window whose address never reaches the page (an unknown scheme) ends as a failed load,
    // or not at all.
    connect(page, &QWebEnginePage::loadFinished, page, &QObject::deleteLater);
    QTimer::singleShot(windowWaitMs, page, &QObject::deleteLater);
    return page;
}

void SchoolPage::onLoadFinished(bool ok)
{
    if (abandoned) {
        abandoned = false;
        return;
    }
    // A refused navigation ends as a failed load, while the document it would have replaced
    // stays; only the loads that were let in end for the client.
    if (!loadAccepted) {
        return;
    }
    const bool refused = !ok && refusedSinceAccepted;
    loadAccepted = false;
    refusedSinceAccepted = false;
    if (ok) {
        emit loadEnded(true);
    } else if (refused) {
        emit loadRefused();
    } else {
        // A load that gives way to a new navigation ends before the engine asks about that
        // one: failed for good only when none follows at once.
        failureGrace->start();
    }
}

bool SchoolPage::dialogAllowed(const QUrl& origin)
{
    if (opener || !dialogHandler || dialogsMuted || !isSchool(origin)) {
        return false;
    }
    if (lastDialogEnd.isValid() && lastDialogEnd.elapsed() < dialogRepeatMs) {
        qDebug() << "the page asks for one dialog after another: no more dialogs from it";
        dialogsMuted = true;
        return false;
    }
    return true;
}

bool SchoolPage::showDialog(const QUrl& origin, const QString& text, bool question)
{
    const bool silenced = dialogsMuted;
    if (!dialogAllowed(origin)) {
        // A silenced page's dialogs are not logged one by one.
        if (!silenced) {
            qDebug().noquote() << "page dialog suppressed:" << LogMask::text(text.left(200));
        }
        return false;
    }
    const bool answer = dialogHandler(text, question);
    lastDialogEnd.start();
    return answer;
}

void SchoolPage::javaScriptAlert(const QUrl& securityOrigin, const QString& msg)
{
    showDialog(securityOrigin, msg, false);
}

bool SchoolPage::javaScriptConfirm(const QUrl& securityOrigin, const QString& msg)
{
    return showDialog(securityOrigin, msg, true);
}

bool SchoolPage::javaScriptPrompt(const QUrl&, const QString& msg, const QString&, QString*)
{
    // The client has no styled box for typing an answer.
    qDebug().noquote() << "page prompt suppressed:" << LogMask::text(msg.left(200));
    return false;
}

void SchoolPage::javaScriptConsoleMessage(JavaScriptConsoleMessageLevel level,
                                          const QString& message, int lineNumber,
                                          const QString& sourceID)
{
    if (level == ErrorMessageLevel) {
        qDebug().noquote() << "page script:" << LogMask::text(message) << LogMask::url(sourceID)
                           << lineNumber;
    }
}
