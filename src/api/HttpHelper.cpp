#include "HttpHelper.h"

#include "LogMask.h"
#include "QuitNotifier.h"
#include "TransferGuard.h"
#include "UrlPolicy.h"

#include <QEventLoop>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QTimer>
#include <QUrl>

#include <atomic>

static std::atomic<int> testTimeoutMs{0};

void HttpHelper::setTimeoutForTests(int ms)
{
    testTimeoutMs = ms;
}

// Sends the request bounded by the rule of addresses, a deadline and a size; null when the
// address is refused.
static QNetworkReply* send(QNetworkAccessManager* manager, const QString& url, int timeoutMs)
{
    const QUrl address(url, QUrl::TolerantMode);
    if (!UrlPolicy::isAllowed(address)) {
        qDebug().noquote() << "address refused:" << LogMask::url(address);
        return nullptr;
    }
    QNetworkRequest request(address);
    UrlPolicy::prepare(request);
    QNetworkReply* reply = manager->get(request);
    UrlPolicy::watch(reply);
    TransferGuard::Limits limits;
    limits.answerMs = testTimeoutMs > 0 ? testTimeoutMs.load() : timeoutMs;
    limits.maxBytes = HttpHelper::maxBytes;
    TransferGuard::attach(reply, limits);
    return reply;
}

static QString textOf(QNetworkReply* reply)
{
    if (TransferGuard::hasExpired(reply) || TransferGuard::isOversized(reply) ||
        UrlPolicy::isRefused(reply)) {
        return QString();
    }
    return HttpHelper::bodyText(reply->readAll());
}

HttpHelper::HttpHelper(QObject* parent, bool sync) : QObject(parent), sync(sync) {}

QNetworkAccessManager* HttpHelper::network()
{
    // Made with the first request: the toolkit's network set-up (its bearer plugins among
    // it) has no place on the way to the first window.
    if (!manager) {
        manager = new QNetworkAccessManager(this);
        if (!sync) {
            connect(manager, &QNetworkAccessManager::finished, this, &HttpHelper::finished);
        }
    }
    return manager;
}

HttpHelper::~HttpHelper() = default;

QString HttpHelper::bodyText(const QByteArray& body)
{
    const int zero = body.indexOf('\0');
    return QString::fromUtf8(zero < 0 ? body : body.left(zero));
}

void HttpHelper::get(const QString& url)
{
    if (!send(network(), url, timeoutMs)) {
        // Callers wait for `done` in every case, as for an unreachable server.
        QMetaObject::invokeMethod(
            this, [this] { emit done(QString()); }, Qt::QueuedConnection);
    }
}

void HttpHelper::finished(QNetworkReply* reply)
{
    reply->deleteLater();
    // After the orderly stop no page may act on an answer any more.
    if (QuitNotifier::isQuitting()) {
        qDebug() << "answer after the end dropped:" << reply->url().path();
        return;
    }
    emit done(textOf(reply));
}

QString HttpHelper::getSync(const QString& url, int timeoutMs)
{
    if (QuitNotifier::isQuitting()) {
        return QString();
    }
    QNetworkReply* reply = send(network(), url, timeoutMs);
    if (!reply) {
        return QString();
    }
    QEventLoop loop;
    connect(reply, &QNetworkReply::finished, &loop, &QEventLoop::quit);
    connect(QuitNotifier::instance(), &QuitNotifier::quitRequested, &loop, &QEventLoop::quit);
    // The quit may have been requested between the first check and the connection above.
    if (!QuitNotifier::isQuitting()) {
        loop.exec(QEventLoop::ExcludeUserInputEvents);
    }

    QString text;
    if (reply->isFinished()) {
        text = textOf(reply);
    } else {
        qDebug() << "request abandoned (quit):" << reply->url().path();
        reply->abort();
    }
    // Not inside any of the reply's signals here, and a worker thread may have no event loop
    // that would ever run a deferred delete.
    delete reply;
    return text;
}
