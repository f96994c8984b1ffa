#include "Statistics.h"

namespace {

QJsonObject toObject(const QMap<QString, int>& counts)
{
    QJsonObject out;
    for (auto it = counts.begin(); it != counts.end(); ++it) {
        out.insert(it.key(), it.value());
    }
    return out;
}

} // namespace

void Statistics::request(const QString& route, const QString& path, const QString& cookie,
                         const QString& range)
{
    std::lock_guard<std::mutex> lock(mutex);
    ++totalRequests;
    ++routes[route];
    ++paths[path];
    if (!cookie.isEmpty() && cookies.size() < kMaxCookies) {
        cookies.append(QJsonObject{{QStringLiteral("route"), route},
                                   {QStringLiteral("path"), path},
                                   {QStringLiteral("cookie"), cookie}});
    }
    if (!range.isEmpty() && ranges.size() < kMaxCookies) {
        ranges.append(
            QJsonObject{{QStringLiteral("path"), path}, {QStringLiteral("range"), range}});
    }
}

void Statistics::learnStatus(const QJsonObject& report)
{
    std::lock_guard<std::mutex> lock(mutex);
    reports.append(report);
}

void Statistics::badSignature(const QString& route)
{
    std::lock_guard<std::mutex> lock(mutex);
    ++totalBadSignatures;
    ++badSignatures[route];
}

void Statistics::reset()
{
    std::lock_guard<std::mutex> lock(mutex);
    routes.clear();
    paths.clear();
    cookies = QJsonArray();
    ranges = QJsonArray();
    reports = QJsonArray();
    badSignatures.clear();
    totalRequests = 0;
    totalBadSignatures = 0;
}

QJsonObject Statistics::toJson() const
{
    std::lock_guard<std::mutex> lock(mutex);
    return QJsonObject{{QStringLiteral("requests"), totalRequests},
                       {QStringLiteral("routes"), toObject(routes)},
                       {QStringLiteral("paths"), toObject(paths)},
                       {QStringLiteral("cookies"), cookies},
                       {QStringLiteral("ranges"), ranges},
                       {QStringLiteral("learnStatus"), reports},
                       {QStringLiteral("badSignatures"), totalBadSignatures},
                       {QStringLiteral("badSignatureRoutes"), toObject(badSignatures)}};
}
