#include "VersionNumber.h"

#include <QStringList>

VersionNumber::VersionNumber(const QString& text)
{
    const QStringList parts = text.trimmed().split(QLatin1Char('.'));
    for (const QString& part : parts) {
        bool ok = false;
        const quint32 value = part.toUInt(&ok);
        const bool digits = !part.isEmpty() && part.size() <= 9 &&
                            std::all_of(part.begin(), part.end(), [](QChar c) {
                                return c >= QLatin1Char('0') && c <= QLatin1Char('9');
                            });
        if (!ok || !digits) {
            segments.clear();
            return;
        }
        segments.append(value);
    }
    valid = !segments.isEmpty();
}

int VersionNumber::compare(const VersionNumber& other) const
{
    const int n = std::max(segments.size(), other.segments.size());
    for (int i = 0; i < n; ++i) {
        const quint32 mine = segments.value(i, 0);
        const quint32 theirs = other.segments.value(i, 0);
        if (mine != theirs) {
            return mine < theirs ? -1 : 1;
        }
    }
    return 0;
}
