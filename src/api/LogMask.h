#pragma once

#include <QString>
#include <QUrl>

// What may go into a log line: session keys, signatures, tokens, cookies and passwords are
// replaced by "***" wherever an address or an answer is written down.
class LogMask
{
public:
    static QString url(const QUrl& url);
    static QString url(const QString& url) { return LogMask::url(QUrl(url, QUrl::TolerantMode)); }
    // Free text (an answer, a script message): "name=value" and "\"name\":\"value\"" pairs of
    // the secret names, and any address in it.
    static QString text(const QString& text);
    static bool isSecretName(const QString& name);
};
