#include "WebPanel.h"

#include <QCoreApplication>
#include <QLibrary>
#include <QStringList>

namespace {

WebPanel::Factory factory = nullptr;

} // namespace

void WebPanel::setFactory(Factory value)
{
    factory = value;
}

WebPanel* WebPanel::create(const Setup& setup, QWidget* parent, QString* error)
{
    if (!factory) {
        // Never unloaded: the web engine keeps threads and helper processes for the program's life.
        static QLibrary module;
        // Beside the program (the build folder, Windows), else where the installation puts it.
        const QString dir = QCoreApplication::applicationDirPath();
        const QStringList paths{dir + QStringLiteral("/tamix_web"),
                                dir + QStringLiteral("/" TAMIX_WEB_MODULE_DIR "/tamix_web")};
        for (const QString& path : paths) {
            module.setFileName(path);
            if (module.load()) {
                break;
            }
        }
        if (!module.isLoaded()) {
            *error = module.errorString();
            return nullptr;
        }
        factory = reinterpret_cast<Factory>(module.resolve("tamixCreateWebPanel"));
        if (!factory) {
            *error = module.errorString();
            return nullptr;
        }
    }
    return factory(setup, parent);
}
