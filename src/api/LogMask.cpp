#include "LogMask.h"

#include <QRegularExpression>
#include <QStringList>
#include <QUrlQuery>

static const QString mask = QStringLiteral("***");

bool LogMask::isSecretName(const QString& name)
{
    static const QStringList names{
        QStringLiteral("key"),      QStringLiteral("keys"),     QStringLiteral("sign"),
        QStringLiteral("sid"),      QStringLiteral("session"),  QStringLiteral("sessionid"),
        QStringLiteral("token"),    QStringLiteral("auth"),     QStringLiteral("password"),
        QStringLiteral("pwd"),      QStringLiteral("oldpwd"),   QStringLiteral("newpwd"),
        QStringLiteral("repwd"),    QStringLiteral("newrepwd"), QStringLiteral("repassword"),
        QStringLiteral("signature")};
    const QString lower = name.toLower();
    return names.contains(lower) || lower.endsWith(QLatin1String("token")) ||
           lower.endsWith(QLatin1String("pwd")) || lower.endsWith(QLatin1String("password"));
}

QString LogMask::url(const QUrl& url)
{
    if (!url.isValid()) {
        return QStringLiteral("<invalid address>");
    }
    QUrl shown = url;
    shown.setUserInfo(QString());
    if (shown.hasFragment()) {
        // Pages keep state there too ("#key=…").
        shown.setFragment(text(shown.fragment(QUrl::FullyDecoded)));
    }
    if (shown.hasQuery()) {
        QUrlQuery query(shown);
        const auto items = query.queryItems(QUrl::FullyEncoded);
        QUrlQuery masked;
        for (const auto& item : items) {
            masked.addQueryItem(item.first, isSecretName(item.first) ? mask : item.second);
        }
        shown.setQuery(masked);
    }
    return shown.toString(QUrl::FullyEncoded);
}

QString LogMask::text(const QString& text)
{
    // name=value in addresses and forms (also quoted and spaced: password = "x"),
    // "name":"value" / "name":123 in JSON answers, and user:password@ of an address.
    static const QRegularExpression pair(QStringLiteral(
        "([A-Za-z_]+)(\\s*=\\s*)(\"(?:[^\"\\\\]|\\\\.)*\"|'(?:[^'\\\\]|\\\\.)*'|[^&\\s\"'#]*)"
        "|(\"([A-Za-z_]+)\"\\s*:\\s*)(\"(?:[^\"\\\\]|\\\\.)*\"|[^,{}\\[\\]\\s\"]+)"
        "|([A-Za-z][A-Za-z0-9+.-]*://)([^/\\s@]+)@"));
    QString out;
    out.reserve(text.size());
    int last = 0;
    auto it = pair.globalMatch(text);
    while (it.hasNext()) {
        const QRegularExpressionMatch m = it.next();
        out += text.midRef(last, m.capturedStart() - last);
        if (m.capturedLength(7) > 0) {
            out += m.captured(7) + mask + QLatin1Char('@');
        } else if (m.capturedLength(1) > 0) {
            out += m.captured(1) + m.captured(2) +
                   (isSecretName(m.captured(1)) ? mask : m.captured(3));
        } else {
            out += m.captured(4) + (isSecretName(m.captured(5))
                                        ? QLatin1Char('"') + mask + QLatin1Char('"')
                                        : m.captured(6));
        }
        last = m.capturedEnd();
    }
    out += text.midRef(last);
    return out;
}
