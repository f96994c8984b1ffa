#pragma once

#include <QJsonArray>
#include <QJsonObject>
#include <QMap>
#include <QString>

#include <mutex>

// What the school has received, for tests to look at: requests per route name and per path,
// the cookies and Range headers that came with them, learning-status reports and refused
// signatures.
class Statistics
{
public:
    void request(const QString& route, const QString& path, const QString& cookie,
                 const QString& range = QString());
    void learnStatus(const QJsonObject& report);
    void badSignature(const QString& route);
    void reset();
    QJsonObject toJson() const;

private:
    // Enough for every test; a long benchmark run must not grow memory without bound.
    static constexpr int kMaxCookies = 2000;

    mutable std::mutex mutex;
    QMap<QString, int> routes;
    QMap<QString, int> paths;
    QJsonArray cookies;
    QJsonArray ranges;
    QJsonArray reports;
    QMap<QString, int> badSignatures;
    int totalRequests = 0;
    int totalBadSignatures = 0;
};
