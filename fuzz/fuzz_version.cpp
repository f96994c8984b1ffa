// Two version texts: never a crash, and the comparison is an order (antisymmetric, and a
// version equals itself).
#include "VersionNumber.h"

#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const QString text = QString::fromUtf8(reinterpret_cast<const char*>(data), int(size));
    const int cut = text.indexOf(QLatin1Char('|'));
    const VersionNumber a(cut < 0 ? text : text.left(cut));
    const VersionNumber b(cut < 0 ? QStringLiteral("1.1.4") : text.mid(cut + 1));
    if (a.compare(a) != 0 || a.compare(b) != -b.compare(a)) {
        std::abort();
    }
    return 0;
}
