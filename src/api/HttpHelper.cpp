#include "HttpHelper.h"

#include "QuitNotifier.h"

#include <QEventLoop>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QTimer>
#include <QUrl>

static QNetworkRequest requestFor(const QString& url)
{
    return QNetworkRequest(QUrl(url, QUrl::TolerantMode));
}

HttpHelper::HttpHelper(QObject* parent, bool sync)
    : QObject(parent), manager(new QNetworkAccessManager(this))
{
    if (!sync) {
        connect(manager, &QNetworkAccessManager::finished, this, &HttpHelper::finished);
    }
}

HttpHelper::~HttpHelper() = default;

QString HttpHelper::bodyText(const QByteArray& body)
{
    const int zero = body.indexOf('\0');
    return QString::fromUtf8(zero < 0 ? body : body.left(zero));
}

void HttpHelper::get(const QString& url)
{
    manager->get(requestFor(url));
}

void HttpHelper::finished(QNetworkReply* reply)
{
    reply->deleteLater();
    // After the orderly stop no page may act on an answer any more.
    if (QuitNotifier::isQuitting()) {
        qDebug() << "answer after the end dropped:" << reply->url().path();
        return;
    }
    const QString text = bodyText(reply->readAll());
    emit done(text);
}

QString HttpHelper::getSync(const QString& url, int timeoutMs)
{
    if (QuitNotifier::isQuitting()) {
        return QString();
    }
    QNetworkReply* reply = manager->get(requestFor(url));
    QEventLoop loop;
    QTimer timer;
    timer.setSingleShot(true);
    connect(reply, &QNetworkReply::finished, &loop, &QEventLoop::quit);
    connect(&timer, &QTimer::timeout, &loop, &QEventLoop::quit);
    connect(QuitNotifier::instance(), &QuitNotifier::quitRequested, &loop, &QEventLoop::quit);
    timer.start(timeoutMs);
    // The quit may have been requested between the first check and the connection above.
    if (!QuitNotifier::isQuitting()) {
        loop.exec(QEventLoop::ExcludeUserInputEvents);
    }

    QString text;
    if (reply->isFinished()) {
        text = bodyText(reply->readAll());
    } else {
        qDebug() << "request abandoned (time-out or quit):" << QUrl(url).path();
        reply->abort();
    }
    // Not inside any of the reply's signals here, and a worker thread may have no event loop
    // that would ever run a deferred delete.
    delete reply;
    return text;
}
