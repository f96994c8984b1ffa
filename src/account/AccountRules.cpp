#include "AccountRules.h"

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
    return !name.isEmpty() && name != QLatin1String(".") && name != QLatin1String("..") &&
           !name.contains(QLatin1Char('/')) && !name.contains(QLatin1Char('\\')) &&
           !name.contains(QLatin1Char(':'));
}
