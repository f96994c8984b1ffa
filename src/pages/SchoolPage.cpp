#include "SchoolPage.h"

#include "LogMask.h"
#include "UrlPolicy.h"

#include <QDebug>

// Chromium keeps a click's activation for a few seconds; a navigation the page starts later
// than this after the last input is the page's own doing.
static constexpr qint64 userActionMs = 2000;

SchoolPage::SchoolPage(QWebEngineProfile* profile, const QUrl& school, QObject* parent)
    : QWebEnginePage(profile, parent), school(school)
{
    connect(this, &QWebEnginePage::loadFinished, this, &SchoolPage::onLoadFinished);
}

void SchoolPage::noteUserInput()
{
    lastInput.start();
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
        loadAccepted = true;
        return true;
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
    // A window whose address never reaches the page (an unknown scheme) ends as a failed load.
    connect(page, &QWebEnginePage::loadFinished, page, &QObject::deleteLater);
    return page;
}

void SchoolPage::onLoadFinished(bool ok)
{
    // A refused navigation ends as a failed load, while the document it would have replaced
    // stays; only the loads that were let in end for the client.
    if (ok || loadAccepted) {
        loadAccepted = false;
        emit loadEnded(ok);
    }
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
