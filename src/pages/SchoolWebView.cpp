#include "SchoolWebView.h"

#include "MyClassBridge.h"
#include "SchoolPage.h"
#include "UrlPolicy.h"

#include <QDebug>
#include <QDesktopServices>
#include <QDir>
#include <QEvent>
#include <QFile>
#include <QTimer>
#include <QVBoxLayout>
#include <QWebChannel>
#include <QWebEngineProfile>
#include <QWebEngineScript>
#include <QWebEngineScriptCollection>
#include <QWebEngineSettings>
#include <QWebEngineView>

static QString resourceText(const QString& path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        qWarning().noquote() << "missing resource" << path;
        return QString();
    }
    return QString::fromUtf8(file.readAll());
}

WebPanel* tamixCreateWebPanel(const WebPanel::Setup& setup, QWidget* parent)
{
    return new SchoolWebView(setup, parent);
}

SchoolWebView::SchoolWebView(const Setup& setup, QWidget* parent)
    : QWidget(parent), schoolOrigin(MyClassBridge::originOf(setup.school))
{
    // Cookies of the school's pages live in the data folder, not in a browser's. The cache stays
    // in memory: the pages' addresses carry the session's key and signature, which must not be
    // left on disk. What earlier versions cached there goes.
    profile = new QWebEngineProfile(QStringLiteral("tamix"), this);
    profile->setPersistentStoragePath(setup.storagePath);
    profile->setCachePath(setup.storagePath + QStringLiteral("/cache"));
    profile->setHttpCacheType(QWebEngineProfile::MemoryHttpCache);
    QDir(profile->cachePath() + QStringLiteral("/Cache")).removeRecursively();
    profile->settings()->setAttribute(QWebEngineSettings::JavascriptEnabled, true);
    profile->settings()->setAttribute(QWebEngineSettings::PluginsEnabled, true);
    // A failed load shows the client's own notice with its retry button instead.
    profile->settings()->setAttribute(QWebEngineSettings::ErrorPageEnabled, false);
    // The engine would hand mailto: and other unknown schemes to the desktop on a click by
    // itself; nothing but http and https leaves the page, and only through SchoolPage.
    profile->settings()->setUnknownUrlSchemePolicy(QWebEngineSettings::DisallowUnknownUrlSchemes);

    page = new SchoolPage(profile, setup.school);
    view = new QWebEngineView(this);
    view->setContextMenuPolicy(Qt::NoContextMenu);
    view->setPage(page);
    // The view's input goes to a child made with the first document; it is watched for the
    // clicks that may send an address to the desktop browser.
    view->installEventFilter(this);
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(view);

    connect(page, &QWebEnginePage::loadStarted, this, setup.loadStarted);
    connect(page, &QWebEnginePage::loadProgress, this, setup.loadProgress);
    connect(page, &SchoolPage::loadEnded, this, setup.loadFinished);
    connect(page, &SchoolPage::loadBegun, this, setup.loadBegun);
    connect(page, &SchoolPage::loadRefused, this, setup.loadRefused);
    page->setDialogHandler(setup.scriptDialog);
    connect(page, &SchoolPage::openExternally, this, [](const QUrl& url) {
        if (UrlPolicy::isAllowed(url)) {
            QDesktopServices::openUrl(url);
        }
    });
    connect(page, &SchoolPage::openInView, this, setup.openInView);

    bridge = new MyClassBridge(
        schoolOrigin, [this] { return page->url(); }, setup.client, this);
    addClientScripts();

    discardTimer = new QTimer(this);
    discardTimer->setSingleShot(true);
    discardTimer->setInterval(10 * 60 * 1000);
    connect(discardTimer, &QTimer::timeout, this, [this, discarded = setup.discarded] {
        // Shown again meanwhile by the view itself (its window restored behind the player):
        // a visible page cannot be discarded, and should not be.
        if (outOfSight && !page->isVisible()) {
            page->setLifecycleState(QWebEnginePage::LifecycleState::Discarded);
            if (discarded && page->lifecycleState() == QWebEnginePage::LifecycleState::Discarded) {
                discarded();
            }
        }
    });
}

SchoolWebView::~SchoolWebView()
{
    // The page must go before the profile it was made with.
    delete view;
    delete page;
}

// Every document of the main frame gets the client object before its own scripts run, so
// each load attaches it again by itself.
void SchoolWebView::addClientScripts()
{
    auto* channel = new QWebChannel(page);
    channel->registerObject(QStringLiteral("FormMyClass"), bridge);
    page->setWebChannel(channel, QWebEngineScript::ApplicationWorld);

    QString quotedOrigin = schoolOrigin;
    quotedOrigin.replace(QLatin1Char('\\'), QLatin1String("\\\\"))
        .replace(QLatin1Char('\''), QLatin1String("\\'"));
    QWebEngineScript client;
    client.setName(QStringLiteral("tamix-formmyclass"));
    client.setSourceCode(resourceText(QStringLiteral(":/web/formmyclass.js"))
                             .replace(QLatin1String("__SCHOOL_ORIGIN__"),
                                      QLatin1Char('\'') + quotedOrigin + QLatin1Char('\'')));
    client.setWorldId(QWebEngineScript::MainWorld);
    client.setInjectionPoint(QWebEngineScript::DocumentCreation);
    client.setRunsOnSubFrames(false);

    QWebEngineScript relay;
    relay.setName(QStringLiteral("tamix-bridge"));
    relay.setSourceCode(resourceText(QStringLiteral(":/qtwebchannel/qwebchannel.js")) +
                        QLatin1Char('\n') + resourceText(QStringLiteral(":/web/bridge.js")));
    relay.setWorldId(QWebEngineScript::ApplicationWorld);
    relay.setInjectionPoint(QWebEngineScript::DocumentCreation);
    relay.setRunsOnSubFrames(false);

    page->scripts().insert(relay);
    page->scripts().insert(client);
}

bool SchoolWebView::eventFilter(QObject* watched, QEvent* event)
{
    switch (event->type()) {
    case QEvent::ChildAdded:
        if (watched == view) {
            static_cast<QChildEvent*>(event)->child()->installEventFilter(this);
        }
        break;
    case QEvent::MouseButtonPress:
    case QEvent::MouseButtonRelease:
    case QEvent::KeyPress:
    case QEvent::TouchBegin:
        page->noteUserInput();
        break;
    default:
        break;
    }
    return QWidget::eventFilter(watched, event);
}

void SchoolWebView::load(const QUrl& url)
{
    view->load(url);
}

void SchoolWebView::stop()
{
    page->abandonLoad();
}

void SchoolWebView::setHtml(const QString& html, const QUrl& baseUrl)
{
    page->setHtml(html, baseUrl);
}

QUrl SchoolWebView::url() const
{
    return page->url();
}

QUrl SchoolWebView::requestedUrl() const
{
    return page->requestedUrl();
}

void SchoolWebView::setOutOfSight(bool value)
{
    if (value == outOfSight) {
        return;
    }
    outOfSight = value;
    if (value) {
        // The engine freezes hidden pages only; behind the player the view is still shown.
        page->setVisible(false);
        page->setLifecycleState(QWebEnginePage::LifecycleState::Frozen);
        discardTimer->start();
    } else {
        discardTimer->stop();
        // A discarded page loads its address again here.
        page->setLifecycleState(QWebEnginePage::LifecycleState::Active);
        page->setVisible(view->isVisible());
    }
}

void SchoolWebView::setDiscardDelay(int ms)
{
    discardTimer->setInterval(ms);
}

WebPanel::Lifecycle SchoolWebView::lifecycle() const
{
    switch (page->lifecycleState()) {
    case QWebEnginePage::LifecycleState::Frozen:
        return Lifecycle::Frozen;
    case QWebEnginePage::LifecycleState::Discarded:
        return Lifecycle::Discarded;
    case QWebEnginePage::LifecycleState::Active:
        break;
    }
    return Lifecycle::Active;
}

void SchoolWebView::runJavaScript(const QString& source,
                                  const std::function<void(const QVariant&)>& done)
{
    if (done) {
        page->runJavaScript(source, done);
    } else {
        page->runJavaScript(source);
    }
}
