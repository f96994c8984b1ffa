#include "SchoolPage.h"

#include "MyClassBridge.h"

#include <QDebug>

SchoolPage::SchoolPage(QWebEngineProfile* profile, const QString& schoolOrigin, QObject* parent)
    : QWebEnginePage(profile, parent), schoolOrigin(schoolOrigin)
{
}

bool SchoolPage::acceptNavigationRequest(const QUrl& url, NavigationType type, bool isMainFrame)
{
    if (opener) {
        const bool ours = MyClassBridge::originOf(url) == schoolOrigin;
        emit(ours ? opener->openInView(url) : opener->openExternally(url));
        deleteLater();
        return false;
    }
    // Frames are the page's business; they never get the client object anyway. The client's
    // own loads (typed) and documents made from text (data:, about:) stay.
    if (!isMainFrame || type == NavigationTypeTyped || type == NavigationTypeReload ||
        type == NavigationTypeBackForward || MyClassBridge::originOf(url) == schoolOrigin ||
        url.scheme() == QLatin1String("data") || url.scheme() == QLatin1String("about")) {
        return true;
    }
    qDebug().noquote() << "not loading an address of another origin in the client:"
                       << url.toDisplayString(QUrl::RemoveQuery);
    if (type == NavigationTypeLinkClicked &&
        (url.scheme() == QLatin1String("http") || url.scheme() == QLatin1String("https"))) {
        emit openExternally(url);
    }
    return false;
}

QWebEnginePage* SchoolPage::createWindow(WebWindowType)
{
    auto* page = new SchoolPage(profile(), schoolOrigin, this);
    page->opener = this;
    return page;
}

void SchoolPage::javaScriptConsoleMessage(JavaScriptConsoleMessageLevel level,
                                          const QString& message, int lineNumber,
                                          const QString& sourceID)
{
    if (level == ErrorMessageLevel) {
        qDebug().noquote() << "page script:" << message << sourceID << lineNumber;
    }
}
