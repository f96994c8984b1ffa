#pragma once

#include "JsonNode.h"

class QJsonValue;

// Decodes a server answer into a JsonNode tree. Scalars keep the text JavaScript would give
// them (numbers as Number.prototype.toString writes them, true, false, null), so code that
// compares flags and sizes as text sees what the server meant.
class JsonHelper
{
public:
    // Never fails: text that is not JSON yields an empty node.
    static JsonNode parse(const QString& text);
    static JsonNode fromJsonValue(const QJsonValue& value);
    // JavaScript's Number-to-String: 1 -> "1", 1.5 -> "1.5", 1e21 -> "1e+21", 1e-7 -> "1e-7".
    static QString numberText(double value);
    static QString scalarText(const QJsonValue& value);
};
