#pragma once

#include "FaultEffect.h"

#include <QJsonArray>
#include <QJsonObject>
#include <QRegularExpression>
#include <QString>

#include <memory>
#include <mutex>
#include <string>
#include <vector>

// Faults switched on per route pattern, from the command line or through the control
// endpoint. A rule counts the requests whose path matches its glob ('*' any text, '?' one
// character); every `every`-th of them is hit, at most `times` times (0: no limit).
class FaultRules
{
public:
    // Replaces all rules by a JSON array of rule objects (or one object); counters restart.
    bool replace(const QJsonValue& rules, QString* error);
    bool add(const QJsonObject& rule, QString* error);
    FaultEffect match(const std::string& path);
    QJsonArray toJson() const;

    // The command-line form "ROUTE,key=value,key=value" (a bare key means true).
    static bool parseArgument(const QString& text, QJsonObject* rule, QString* error);

private:
    struct Rule
    {
        QJsonObject source;
        QRegularExpression pattern;
        int every = 1;
        int times = 0;
        FaultEffect effect;
        int seen = 0;
        int hits = 0;
    };

    static bool build(const QJsonObject& object, Rule* rule, QString* error);

    mutable std::mutex mutex;
    std::vector<Rule> rules;
};
