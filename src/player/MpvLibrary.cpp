#include "MpvLibrary.h"

#include <QLibrary>
#include <QStringList>

namespace {

QString loadError;

} // namespace

bool MpvLibrary::load(QString* error)
{
    // Never unloaded: mpv's threads and the GL driver it loads must not outlive their code.
    static QLibrary library;
#ifdef Q_OS_WIN
    const QStringList names{QStringLiteral("mpv-2"), QStringLiteral("libmpv-2")};
    const int version = -1;
#else
    const QStringList names{QStringLiteral("mpv")};
    const int version = 2;
#endif
    for (const QString& name : names) {
        library.setFileNameAndVersion(name, version);
        if (library.load()) {
            break;
        }
    }
    if (!library.isLoaded()) {
        *error = library.errorString();
        return false;
    }
#define TAMIX_MPV_RESOLVE(name)                                                                    \
    name = reinterpret_cast<decltype(name)>(library.resolve("mpv_" #name));                        \
    if (!name) {                                                                                   \
        *error = QStringLiteral("libmpv has no mpv_" #name);                                       \
        return false;                                                                              \
    }
    TAMIX_MPV_FUNCTIONS(TAMIX_MPV_RESOLVE)
#undef TAMIX_MPV_RESOLVE
    return true;
}

const MpvLibrary* MpvLibrary::instance()
{
    static const MpvLibrary* loaded = [] {
        static MpvLibrary library;
        return library.load(&loadError) ? &library : nullptr;
    }();
    return loaded;
}

QString MpvLibrary::errorString()
{
    instance();
    return loadError;
}
