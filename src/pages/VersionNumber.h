#pragma once

#include <QList>
#include <QString>

// A version text such as "1.1.10", compared by its numbers segment by segment: "1.1.10" is
// newer than "1.1.4", "1.2" newer than "1.1.9", and "1.1.4" equals "1.1.4.0".
class VersionNumber
{
public:
    // Digits separated by single dots, at most 9 digits a segment; anything else is not a
    // version (isValid() false).
    explicit VersionNumber(const QString& text);

    bool isValid() const { return valid; }
    // -1, 0 or 1 as this version is older than, equal to or newer than `other`.
    int compare(const VersionNumber& other) const;
    bool isNewerThan(const VersionNumber& other) const { return compare(other) > 0; }

private:
    QList<quint32> segments;
    bool valid = false;
};
