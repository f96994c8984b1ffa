#pragma once

#include <QString>
#include <QUrl>

class QNetworkReply;
class QNetworkRequest;

// The one rule for addresses that come from the school, its pages or a playlist: only http
// and https with a host are ever opened. Everything else (file:, qrc:, data:, custom schemes)
// fails at once without being touched, and so does a redirect that leads to one.
class UrlPolicy
{
public:
    static bool isAllowed(const QUrl& url);
    static bool isAllowed(const QString& url) { return isAllowed(QUrl(url, QUrl::TolerantMode)); }
    // Same scheme, host (case-insensitive) and port: the place a cookie or a signed key may go.
    static bool sameOrigin(const QUrl& a, const QUrl& b);

    // Makes the request's redirects pass the rule (and never go from https to http); call
    // `watch` on the reply it gives.
    static void prepare(QNetworkRequest& request);
    // Aborts the reply when it is redirected to an address the rule refuses, from https to
    // http (against the address asked for and every hop), or, for a request that carries a
    // cookie or a credential, to another origin; `isRefused` then tells it apart from a
    // network failure (a refusal will not change when asked again). Call it right after the
    // request is sent.
    static void watch(QNetworkReply* reply);
    static bool isRefused(const QNetworkReply* reply);
};
