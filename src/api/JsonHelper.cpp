#include "JsonHelper.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QJsonParseError>
#include <algorithm>
#include <cctype>
#include <cerrno>
#include <charconv>
#include <cmath>
#include <cstdlib>

// The JSON text with every number outside the double range replaced by what JavaScript makes
// of it: a string "Infinity" or "-Infinity" for one too large (its text form), 0 for one too
// small. The parser refuses such numbers, which would lose the whole answer.
static QByteArray clampNumbers(const QByteArray& json)
{
    QByteArray out;
    out.reserve(json.size());
    const int n = json.size();
    int i = 0;
    while (i < n) {
        const char c = json.at(i);
        if (c == '"') {
            const int start = i++;
            while (i < n && json.at(i) != '"') {
                i += json.at(i) == '\\' ? 2 : 1;
            }
            i = qMin(i + 1, n);
            out += json.mid(start, i - start);
            continue;
        }
        if (c == '-' || (c >= '0' && c <= '9')) {
            const int start = i;
            while (i < n &&
                   (std::isdigit(uchar(json.at(i))) || json.at(i) == '-' || json.at(i) == '+' ||
                    json.at(i) == '.' || json.at(i) == 'e' || json.at(i) == 'E')) {
                ++i;
            }
            const QByteArray number = json.mid(start, i - start);
            errno = 0;
            const double value = std::strtod(number.constData(), nullptr);
            if (errno == ERANGE && std::isinf(value)) {
                out += value < 0 ? "\"-Infinity\"" : "\"Infinity\"";
            } else if (errno == ERANGE && value == 0) {
                out += '0';
            } else {
                out += number;
            }
            continue;
        }
        out += c;
        ++i;
    }
    return out;
}

JsonNode JsonHelper::parse(const QString& text)
{
    QJsonParseError error{};
    const QByteArray json = text.toUtf8();
    QJsonDocument document = QJsonDocument::fromJson(json, &error);
    if (error.error == QJsonParseError::IllegalNumber) {
        document = QJsonDocument::fromJson(clampNumbers(json), &error);
    }
    if (error.error != QJsonParseError::NoError) {
        return JsonNode();
    }
    if (document.isObject()) {
        return fromJsonValue(document.object());
    }
    if (document.isArray()) {
        return fromJsonValue(document.array());
    }
    return JsonNode();
}

static void addMember(JsonNode& node, const QString& name, const QJsonValue& value)
{
    // A member name lives in one of the two hashes only; a later one of the same name wins.
    if (value.isObject() || value.isArray()) {
        node.values.remove(name);
        node.children.insert(name, JsonHelper::fromJsonValue(value));
    } else {
        node.children.remove(name);
        node.values.insert(name, JsonHelper::scalarText(value));
    }
}

JsonNode JsonHelper::fromJsonValue(const QJsonValue& value)
{
    JsonNode node;
    if (value.isObject()) {
        const QJsonObject object = value.toObject();
        for (auto it = object.constBegin(); it != object.constEnd(); ++it) {
            addMember(node, it.key(), it.value());
        }
    } else if (value.isArray()) {
        const QJsonArray array = value.toArray();
        for (int i = 0; i < array.size(); ++i) {
            addMember(node, QString::number(i), array.at(i));
        }
    }
    return node;
}

QString JsonHelper::scalarText(const QJsonValue& value)
{
    switch (value.type()) {
    case QJsonValue::String:
        return value.toString();
    case QJsonValue::Double:
        return numberText(value.toDouble());
    case QJsonValue::Bool:
        return value.toBool() ? QStringLiteral("true") : QStringLiteral("false");
    case QJsonValue::Null:
        return QStringLiteral("null");
    default:
        return QStringLiteral("undefined");
    }
}

QString JsonHelper::numberText(double value)
{
    if (std::isnan(value)) {
        return QStringLiteral("NaN");
    }
    if (std::isinf(value)) {
        return value < 0 ? QStringLiteral("-Infinity") : QStringLiteral("Infinity");
    }
    if (value == 0) {
        return QStringLiteral("0"); // also -0
    }

    // The shortest digits that read back as the same double, as d.ddddde±x.
    char buffer[64];
    const auto result = std::to_chars(buffer, buffer + sizeof buffer, std::fabs(value),
                                      std::chars_format::scientific);
    const std::string scientific(buffer, result.ptr);
    const std::size_t e = scientific.find('e');
    std::string digits = scientific.substr(0, e);
    digits.erase(std::remove(digits.begin(), digits.end(), '.'), digits.end());
    const int k = int(digits.size());
    const int n = std::atoi(scientific.c_str() + e + 1) + 1; // value = 0.digits × 10^n

    std::string out = value < 0 ? "-" : "";
    if (k <= n && n <= 21) {
        out += digits + std::string(std::size_t(n - k), '0');
    } else if (0 < n && n <= 21) {
        out += digits.substr(0, std::size_t(n)) + '.' + digits.substr(std::size_t(n));
    } else if (-6 < n && n <= 0) {
        out += "0." + std::string(std::size_t(-n), '0') + digits;
    } else {
        const int exponent = n - 1;
        out += digits.substr(0, 1);
        if (k > 1) {
            out += '.' + digits.substr(1);
        }
        out += 'e';
        out += exponent < 0 ? '-' : '+';
        out += std::to_string(std::abs(exponent));
    }
    return QString::fromLatin1(out.c_str());
}
