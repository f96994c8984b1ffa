#include "UrlPolicy.h"

#include "LogMask.h"

#include <QDebug>
#include <QNetworkReply>
#include <QNetworkRequest>

static const char refusedProperty[] = "tamixRefusedRedirect";

bool UrlPolicy::isAllowed(const QUrl& url)
{
    const QString scheme = url.scheme().toLower();
    return url.isValid() && (scheme == QLatin1String("http") || scheme == QLatin1String("https")) &&
           !url.host().isEmpty();
}

static int portOf(const QUrl& url)
{
    return url.port(url.scheme().compare(QLatin1String("https"), Qt::CaseInsensitive) == 0 ? 443
                                                                                           : 80);
}

bool UrlPolicy::sameHost(const QUrl& a, const QUrl& b)
{
    return isAllowed(a) && isAllowed(b) && a.host().compare(b.host(), Qt::CaseInsensitive) == 0 &&
           portOf(a) == portOf(b);
}

bool UrlPolicy::sameOrigin(const QUrl& a, const QUrl& b)
{
    return sameHost(a, b) && a.scheme().compare(b.scheme(), Qt::CaseInsensitive) == 0;
}

void UrlPolicy::prepare(QNetworkRequest& request)
{
    request.setAttribute(QNetworkRequest::RedirectPolicyAttribute,
                         QNetworkRequest::UserVerifiedRedirectPolicy);
}

void UrlPolicy::watch(QNetworkReply* reply)
{
    QObject::connect(reply, &QNetworkReply::redirected, reply, [reply](const QUrl& target) {
        const QUrl from = reply->url();
        const bool downgrade =
            from.scheme().compare(QLatin1String("https"), Qt::CaseInsensitive) == 0 &&
            target.scheme().compare(QLatin1String("http"), Qt::CaseInsensitive) == 0;
        if (isAllowed(target) && !downgrade) {
            emit reply->redirectAllowed();
            return;
        }
        qDebug().noquote() << "redirect refused:" << LogMask::url(from) << "->"
                           << LogMask::url(target);
        reply->setProperty(refusedProperty, true);
        reply->abort();
    });
}

bool UrlPolicy::isRefused(const QNetworkReply* reply)
{
    return reply && reply->property(refusedProperty).toBool();
}
