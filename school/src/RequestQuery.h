#pragma once

#include <QHash>
#include <QString>

#include <string>

// The query of a request target, percent-decoded as UTF-8. A '+' stays a '+': clients encode
// a real plus as %2B and never send a space as '+'.
class RequestQuery
{
public:
    explicit RequestQuery(const std::string& target);

    QString value(const QString& key) const { return values.value(key); }
    bool contains(const QString& key) const { return values.contains(key); }

private:
    QHash<QString, QString> values;
};
