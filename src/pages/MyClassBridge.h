#pragma once

#include <QObject>
#include <QUrl>
#include <QVariantList>
#include <functional>

// The object the web channel offers to the client's relay script. It passes the page's calls
// of skipToList, skipToVideo and getMyCourseInfo on to the page's slots, and only for a page of
// the school's own origin with the right number of arguments; anything else is refused and
// logged.
class MyClassBridge : public QObject
{
    Q_OBJECT
public:
    // `target` receives the calls; `currentUrl` yields the address of the page now shown.
    MyClassBridge(const QString& schoolOrigin, std::function<QUrl()> currentUrl, QObject* target,
                  QObject* parent = nullptr);

    // The origin as the page's script writes it: scheme, host and a port other than the
    // scheme's default ("http://127.0.0.1:18080").
    static QString originOf(const QUrl& url);

    // Called by the relay with the origin of the document it runs in.
    Q_INVOKABLE void call(const QString& origin, const QString& method, const QVariantList& args);

private:
    QString schoolOrigin;
    std::function<QUrl()> currentUrl;
    QObject* target;
};
