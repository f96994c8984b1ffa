#pragma once

#include <QHash>
#include <QString>
#include <QStringList>

// A decoded JSON value: every scalar member as text, every object or array member as a child
// node (array elements are named "0", "1", ...). Copies share their data until written.
class JsonNode
{
public:
    QString getString(const QString& key) const { return values.value(key); }
    JsonNode getObject(const QString& key) const { return children.value(key); }

    bool isEmpty() const { return values.isEmpty() && children.isEmpty(); }
    // Names of the child nodes, array indices in numeric order before other names in text order,
    // so that walking an array keeps the order of the text.
    QStringList childKeys() const;

    QHash<QString, QString> values;
    QHash<QString, JsonNode> children;
};
