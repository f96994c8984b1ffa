#pragma once

#include <QObject>
#include <QString>

class QNetworkAccessManager;
class QNetworkReply;

// One-shot HTTP GET. Asynchronous helpers hand the body to `done`; the synchronous form blocks
// the calling thread in a local event loop. An empty text means the request failed on the
// network.
class HttpHelper : public QObject
{
    Q_OBJECT
public:
    static constexpr int syncTimeoutMs = 30000;

    explicit HttpHelper(QObject* parent = nullptr, bool sync = false);
    ~HttpHelper() override;

    void get(const QString& url);
    // Waits at most `timeoutMs`; returns at once with an empty text when the application quits.
    QString getSync(const QString& url, int timeoutMs = syncTimeoutMs);

    // The body of a reply as text, cut at the first zero byte.
    static QString bodyText(const QByteArray& body);

signals:
    void done(QString result);

private slots:
    void finished(QNetworkReply* reply);

private:
    QNetworkAccessManager* manager;
};
