#include "Signature.h"

#include <QCryptographicHash>

static const char kSalt[] = "mavrotq3071|";

QString Signature::compute(const QStringList& values)
{
    QByteArray text;
    for (const QString& value : values) {
        text += kSalt;
        text += value.toLatin1();
    }
    return QString::fromLatin1(QCryptographicHash::hash(text, QCryptographicHash::Md5).toHex());
}

bool Signature::matches(const QStringList& values, const QString& given)
{
    // Clients send lowercase hex; an uppercase one is still the same digest.
    return compute(values).compare(given, Qt::CaseInsensitive) == 0;
}
