#pragma once

#include <QObject>
#include <QString>

class QNetworkAccessManager;
class QNetworkReply;

// One-shot HTTP GET. Asynchronous helpers hand the body to `done`; the synchronous form blocks
// the calling thread in a local event loop. An empty text means the request failed on the
// network, was not answered within the helper's time, answered more than `maxBytes`, or named
// an address other than http/https.
class HttpHelper : public QObject
{
    Q_OBJECT
public:
    static constexpr int syncTimeoutMs = 30000;
    // Login, page addresses and course information; the version check and the learning status
    // may take longer (setTimeout).
    static constexpr int defaultTimeoutMs = 15000;
    static constexpr qint64 maxBytes = 4 * 1024 * 1024;

    explicit HttpHelper(QObject* parent = nullptr, bool sync = false);
    ~HttpHelper() override;

    void setTimeout(int ms) { timeoutMs = ms; }
    // Test seam: every helper's time, in place of its own (0: each its own again).
    static void setTimeoutForTests(int ms);
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
    QNetworkAccessManager* network();

    QNetworkAccessManager* manager = nullptr;
    bool sync;
    int timeoutMs = defaultTimeoutMs;
};
