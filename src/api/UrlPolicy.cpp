#include "UrlPolicy.h"

#include "LogMask.h"

#include <QDebug>
#include <QNetworkReply>
#include <QNetworkRequest>
#include <memory>

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

bool UrlPolicy::sameOrigin(const QUrl& a, const QUrl& b)
{
    return isAllowed(a) && isAllowed(b) && a.host().compare(b.host(), Qt::CaseInsensitive) == 0 &&
           portOf(a) == portOf(b) && a.scheme().compare(b.scheme(), Qt::CaseInsensitive) == 0;
}

void UrlPolicy::prepare(QNetworkRequest& request)
{
    request.setAttribute(QNetworkRequest::RedirectPolicyAttribute,
                         QNetworkRequest::UserVerifiedRedirectPolicy);
}

void UrlPolicy::watch(QNetworkReply* reply)
{
    // By the time `redirected` fires the reply already names the target: the address asked
    // for is taken now, and every hop is checked against the one before it.
    const QUrl asked = reply->url();
    // The toolkit copies every raw header onto the redirected request: a cookie or a
    // credential must not reach another origin with it.
    const bool carriesSecret =
        reply->request().hasRawHeader("Cookie") || reply->request().hasRawHeader("Authorization");
    auto last = std::make_shared<QUrl>(asked);
    QObject::connect(
        reply, &QNetworkReply::redirected, reply,
        [reply, asked, carriesSecret, last](const QUrl& target) {
            const QUrl from = *last;
            const auto isHttps = [](const QUrl& url) {
                return url.scheme().compare(QLatin1String("https"), Qt::CaseInsensitive) == 0;
            };
            const bool downgrade = (isHttps(asked) || isHttps(from)) && !isHttps(target);
            const bool leaks = carriesSecret && !sameOrigin(asked, target);
            if (isAllowed(target) && !downgrade && !leaks) {
                *last = target;
                emit reply->redirectAllowed();
                return;
            }
            qDebug().noquote() << "redirect refused:" << LogMask::url(from) << "->"
                               << LogMask::url(target)
                               << (downgrade ? "(https to http)"
                                   : leaks   ? "(a cookie to another origin)"
                                             : "");
            reply->setProperty(refusedProperty, true);
            reply->abort();
        });
}

bool UrlPolicy::isRefused(const QNetworkReply* reply)
{
    return reply && reply->property(refusedProperty).toBool();
}
