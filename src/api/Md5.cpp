#include "Md5.h"

#include <QCryptographicHash>

static QString hexDigest(const QByteArray& bytes)
{
    return QString::fromLatin1(QCryptographicHash::hash(bytes, QCryptographicHash::Md5).toHex());
}

QString Md5::latin1Hex(const QString& text)
{
    return hexDigest(text.toLatin1());
}

QString Md5::utf8Hex(const QString& text)
{
    return hexDigest(text.toUtf8());
}
