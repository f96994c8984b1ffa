#include "FaultRules.h"
#include "RateLimiter.h"

#include <QStringList>

#include <algorithm>

namespace {

// Numbers may come as JSON numbers or as text with a k or M suffix (powers of 1000), so that
// "12.5M" reads as 12.5 million bytes per second.
bool readNumber(const QJsonValue& value, double* out)
{
    if (value.isDouble()) {
        *out = value.toDouble();
        return true;
    }
    if (value.isBool()) {
        *out = value.toBool() ? 1 : 0;
        return true;
    }
    QString text = value.toString().trimmed();
    double scale = 1;
    if (text.endsWith(QLatin1Char('k'), Qt::CaseInsensitive)) {
        scale = 1e3;
        text.chop(1);
    } else if (text.endsWith(QLatin1Char('M'), Qt::CaseInsensitive)) {
        scale = 1e6;
        text.chop(1);
    }
    bool ok = false;
    const double number = text.toDouble(&ok);
    *out = number * scale;
    return ok;
}

bool readFlag(const QJsonValue& value)
{
    if (value.isString()) {
        const QString text = value.toString();
        return text != QLatin1String("0") && text != QLatin1String("false");
    }
    return value.toBool() || value.toDouble() != 0;
}

QRegularExpression globToRegex(const QString& glob)
{
    QString rx;
    for (const QChar c : glob) {
        if (c == QLatin1Char('*')) {
            rx += QLatin1String(".*");
        } else if (c == QLatin1Char('?')) {
            rx += QLatin1Char('.');
        } else {
            rx += QRegularExpression::escape(QString(c));
        }
    }
    return QRegularExpression(QRegularExpression::anchoredPattern(rx));
}

} // namespace

bool FaultRules::build(const QJsonObject& object, Rule* rule, QString* error)
{
    static const QStringList known = {
        QStringLiteral("route"),    QStringLiteral("every"),    QStringLiteral("times"),
        QStringLiteral("latency"),  QStringLiteral("stall"),    QStringLiteral("status"),
        QStringLiteral("cut"),      QStringLiteral("rate"),     QStringLiteral("html"),
        QStringLiteral("chunked"),  QStringLiteral("shortKey"), QStringLiteral("playlist"),
        QStringLiteral("drop"),     QStringLiteral("urlQuery"), QStringLiteral("trickle"),
        QStringLiteral("redirect"), QStringLiteral("body"),     QStringLiteral("inflate"),
        QStringLiteral("endless"),  QStringLiteral("bomb"),     QStringLiteral("range")};
    static const QStringList ranges = {QStringLiteral("ignore"), QStringLiteral("refuse"),
                                       QStringLiteral("shifted"), QStringLiteral("badtotal")};
    static const QStringList playlists = {
        QStringLiteral("crlf"),      QStringLiteral("absolute"),  QStringLiteral("unsafe"),
        QStringLiteral("query"),     QStringLiteral("subfolder"), QStringLiteral("keyformat"),
        QStringLiteral("rotate"),    QStringLiteral("master"),    QStringLiteral("noendlist"),
        QStringLiteral("oddnames"),  QStringLiteral("filekey"),   QStringLiteral("fileseg"),
        QStringLiteral("otherhost"), QStringLiteral("disguised")};
    for (auto it = object.begin(); it != object.end(); ++it) {
        if (!known.contains(it.key())) {
            *error = QStringLiteral("unknown fault key: ") + it.key();
            return false;
        }
    }
    const QString route = object.value(QLatin1String("route")).toString();
    if (route.isEmpty()) {
        *error = QStringLiteral("a fault needs a route pattern");
        return false;
    }
    rule->source = object;
    rule->pattern = globToRegex(route);

    auto number = [&](const char* key, double fallback, double* out) {
        const QJsonValue value = object.value(QLatin1String(key));
        if (value.isUndefined()) {
            *out = fallback;
            return true;
        }
        if (!readNumber(value, out) || *out < 0) {
            *error = QStringLiteral("bad value for fault key ") + QLatin1String(key);
            return false;
        }
        return true;
    };
    double every = 1, times = 0, latency = 0, stall = 0, status = 0, cut = -1, rate = 0,
           trickle = 0, inflate = 0;
    if (!number("every", 1, &every) || !number("times", 0, &times) ||
        !number("inflate", 0, &inflate) || !number("latency", 0, &latency) ||
        !number("stall", 0, &stall) || !number("trickle", 0, &trickle) ||
        !number("status", 0, &status) || !number("rate", 0, &rate)) {
        return false;
    }
    if (object.contains(QLatin1String("cut")) && !number("cut", -1, &cut)) {
        return false;
    }
    if (status != 0 && (status < 100 || status > 599)) {
        *error = QStringLiteral("fault status must be an HTTP status code");
        return false;
    }
    const QString playlist = object.value(QLatin1String("playlist")).toString();
    if (!playlist.isEmpty() && !playlists.contains(playlist)) {
        *error = QStringLiteral("playlist fault is one of ") + playlists.join(QLatin1String(", "));
        return false;
    }
    const QString range = object.value(QLatin1String("range")).toString();
    if (!range.isEmpty() && !ranges.contains(range)) {
        *error = QStringLiteral("range fault is one of ") + ranges.join(QLatin1String(", "));
        return false;
    }
    rule->effect.range = range;
    rule->every = std::max(1, int(every));
    rule->times = int(times);
    rule->effect.latencyMs = int(latency);
    rule->effect.stallMs = int(stall);
    rule->effect.trickleMs = int(trickle);
    rule->effect.status = int(status);
    rule->effect.cutAfter = qint64(cut);
    rule->effect.html = readFlag(object.value(QLatin1String("html")));
    rule->effect.chunked = readFlag(object.value(QLatin1String("chunked")));
    rule->effect.shortKey = readFlag(object.value(QLatin1String("shortKey")));
    rule->effect.drop = readFlag(object.value(QLatin1String("drop")));
    rule->effect.playlist = playlist;
    rule->effect.urlQuery = object.value(QLatin1String("urlQuery")).toString();
    rule->effect.redirect = object.value(QLatin1String("redirect")).toString();
    rule->effect.body = object.value(QLatin1String("body")).toString();
    rule->effect.inflateTo = qint64(inflate);
    rule->effect.endless = readFlag(object.value(QLatin1String("endless")));
    rule->effect.bomb = readFlag(object.value(QLatin1String("bomb")));
    if (rate > 0) {
        rule->effect.limiter = std::make_shared<RateLimiter>(std::int64_t(rate));
    }
    return true;
}

bool FaultRules::replace(const QJsonValue& value, QString* error)
{
    QJsonArray list;
    if (value.isArray()) {
        list = value.toArray();
    } else if (value.isObject()) {
        list.append(value);
    } else if (!value.isNull() && !value.isUndefined()) {
        *error = QStringLiteral("faults are a JSON array of objects");
        return false;
    }
    std::vector<Rule> built;
    for (const QJsonValue& item : list) {
        Rule rule;
        if (!item.isObject() || !build(item.toObject(), &rule, error)) {
            if (error->isEmpty()) {
                *error = QStringLiteral("a fault is a JSON object");
            }
            return false;
        }
        built.push_back(std::move(rule));
    }
    std::lock_guard<std::mutex> lock(mutex);
    rules = std::move(built);
    return true;
}

bool FaultRules::add(const QJsonObject& object, QString* error)
{
    Rule rule;
    if (!build(object, &rule, error)) {
        return false;
    }
    std::lock_guard<std::mutex> lock(mutex);
    rules.push_back(std::move(rule));
    return true;
}

FaultEffect FaultRules::match(const std::string& path)
{
    FaultEffect total;
    const QString text = QString::fromStdString(path);
    std::lock_guard<std::mutex> lock(mutex);
    for (Rule& rule : rules) {
        if (!rule.pattern.match(text).hasMatch()) {
            continue;
        }
        ++rule.seen;
        if (rule.seen % rule.every != 0 || (rule.times > 0 && rule.hits >= rule.times)) {
            continue;
        }
        ++rule.hits;
        const FaultEffect& e = rule.effect;
        total.latencyMs += e.latencyMs;
        total.stallMs = std::max(total.stallMs, e.stallMs);
        total.trickleMs = std::max(total.trickleMs, e.trickleMs);
        if (total.status == 0) {
            total.status = e.status;
        }
        if (e.cutAfter >= 0 && (total.cutAfter < 0 || e.cutAfter < total.cutAfter)) {
            total.cutAfter = e.cutAfter;
        }
        total.html = total.html || e.html;
        total.chunked = total.chunked || e.chunked;
        total.shortKey = total.shortKey || e.shortKey;
        total.drop = total.drop || e.drop;
        if (total.playlist.isEmpty()) {
            total.playlist = e.playlist;
        }
        if (total.urlQuery.isEmpty()) {
            total.urlQuery = e.urlQuery;
        }
        if (total.redirect.isEmpty()) {
            total.redirect = e.redirect;
        }
        if (total.body.isEmpty()) {
            total.body = e.body;
        }
        total.inflateTo = std::max(total.inflateTo, e.inflateTo);
        total.endless = total.endless || e.endless;
        total.bomb = total.bomb || e.bomb;
        if (total.range.isEmpty()) {
            total.range = e.range;
        }
        if (e.limiter && (!total.limiter || e.limiter->rate() < total.limiter->rate())) {
            total.limiter = e.limiter;
        }
    }
    return total;
}

QJsonArray FaultRules::toJson() const
{
    QJsonArray out;
    std::lock_guard<std::mutex> lock(mutex);
    for (const Rule& rule : rules) {
        QJsonObject item = rule.source;
        item.insert(QStringLiteral("seen"), rule.seen);
        item.insert(QStringLiteral("hits"), rule.hits);
        out.append(item);
    }
    return out;
}

bool FaultRules::parseArgument(const QString& text, QJsonObject* rule, QString* error)
{
    const QStringList parts = text.split(QLatin1Char(','));
    if (parts.isEmpty() || parts.first().trimmed().isEmpty()) {
        *error = QStringLiteral("a fault starts with its route pattern: ROUTE,key=value,...");
        return false;
    }
    QJsonObject object;
    object.insert(QStringLiteral("route"), parts.first().trimmed());
    for (int i = 1; i < parts.size(); ++i) {
        const QString part = parts.at(i).trimmed();
        if (part.isEmpty()) {
            continue;
        }
        const int eq = part.indexOf(QLatin1Char('='));
        const QString key = eq < 0 ? part : part.left(eq);
        const QString value = eq < 0 ? QStringLiteral("1") : part.mid(eq + 1);
        object.insert(key, value);
    }
    Rule check;
    if (!build(object, &check, error)) {
        return false;
    }
    *rule = object;
    return true;
}
