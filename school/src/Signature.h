#pragma once

#include <QString>
#include <QStringList>

// The school's check of a signed call: MD5 over the salt placed before every signed value,
// taken over the Latin-1 bytes (characters outside Latin-1 count as '?').
class Signature
{
public:
    static QString compute(const QStringList& values);
    static bool matches(const QStringList& values, const QString& given);
};
