#include "AccountRules.h"

#include <QStringList>

bool AccountRules::missing(const QString& text, const QString& hint)
{
    const QString value = text.trimmed();
    return value.isEmpty() || value == hint;
}

bool AccountRules::badLength(const QString& text)
{
    const int length = text.trimmed().size();
    return length < minPasswordLength || length > maxPasswordLength;
}

QString AccountRules::registrationProblem(const QString& name, const QString& password,
                                          const QString& confirmation, const QString& nameHint,
                                          const QString& pwdHint)
{
    if (missing(name, nameHint)) {
        return QStringLiteral("请输入用户名");
    }
    if (name.trimmed().toUtf8().size() > maxNameBytes) {
        return QStringLiteral("用户名过长");
    }
    if (!isPlainName(name.trimmed())) {
        return QStringLiteral("用户名不能含有 \\ / : * ? \" < > | 等字符，也不能以点或空格结尾");
    }
    if (missing(password, pwdHint)) {
        return QStringLiteral("请输入密码");
    }
    if (missing(confirmation, pwdHint)) {
        return QStringLiteral("请确认密码");
    }
    if (password.trimmed() != confirmation.trimmed()) {
        return QStringLiteral("两次输入的密码不一样");
    }
    if (badLength(password) || badLength(confirmation)) {
        return QStringLiteral("密码长度不符合要求");
    }
    return QString();
}

QString AccountRules::passwordChangeProblem(const QString& oldPassword, const QString& newPassword,
                                            const QString& confirmation, const QString& pwdHint)
{
    if (missing(oldPassword, pwdHint)) {
        return QStringLiteral("请输入原密码");
    }
    if (missing(newPassword, pwdHint)) {
        return QStringLiteral("请输入新密码");
    }
    if (missing(confirmation, pwdHint)) {
        return QStringLiteral("请确认新密码");
    }
    if (newPassword.trimmed() != confirmation.trimmed()) {
        return QStringLiteral("两次输入的新密码不一样");
    }
    if (badLength(newPassword) || badLength(confirmation)) {
        return QStringLiteral("密码长度不符合要求");
    }
    return QString();
}

bool AccountRules::isPlainName(const QString& name)
{
    if (name.isEmpty() || name.endsWith(QLatin1Char('.')) || name.endsWith(QLatin1Char(' '))) {
        return false; // also "." and ".."; Windows drops a trailing dot or blank
    }
    // The folder, its avatar file and their temporary names must fit a file name (255 bytes
    // on Linux) and, under the user root, Windows' path length.
    if (name.toUtf8().size() > maxNameBytes) {
        return false;
    }
    for (const QChar c : name) {
        if (c.unicode() < 0x20 || c.unicode() == 0x7F ||
            QStringLiteral("<>:\"/\\|?*").contains(c)) {
            return false;
        }
        // Marks that reorder the text around them would show a folder under another name.
        const ushort u = c.unicode();
        if (u == 0x061C || u == 0x200E || u == 0x200F || (u >= 0x202A && u <= 0x202E) ||
            (u >= 0x2066 && u <= 0x2069)) {
            return false;
        }
    }
    // Windows' device names stay devices with any extension ("con.txt").
    static const QStringList devices = [] {
        QStringList names{QStringLiteral("CON"), QStringLiteral("PRN"), QStringLiteral("AUX"),
                          QStringLiteral("NUL")};
        for (int i = 1; i <= 9; ++i) {
            names << QStringLiteral("COM%1").arg(i) << QStringLiteral("LPT%1").arg(i);
        }
        return names;
    }();
    return !devices.contains(name.section(QLatin1Char('.'), 0, 0).trimmed(), Qt::CaseInsensitive);
}
