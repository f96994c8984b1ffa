#include "JsonNode.h"

#include <algorithm>

QStringList JsonNode::childKeys() const
{
    QStringList keys = children.keys();
    std::sort(keys.begin(), keys.end(), [](const QString& a, const QString& b) {
        bool aIsIndex = false;
        bool bIsIndex = false;
        const qulonglong ai = a.toULongLong(&aIsIndex);
        const qulonglong bi = b.toULongLong(&bIsIndex);
        if (aIsIndex != bIsIndex) {
            return aIsIndex;
        }
        return aIsIndex ? ai < bi : a < b;
    });
    return keys;
}
