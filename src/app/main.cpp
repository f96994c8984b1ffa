#include "App.h"
#ifdef TAMIX_CONTROL
#include "ControlChannel.h"
#endif
#include "LogFile.h"
#include "MainForm.h"
#include "ScreenshotTour.h"
#include "SystemServices.h"

#include <QApplication>
#include <QCommandLineParser>
#include <QDebug>
#include <QElapsedTimer>
#include <QIcon>
#include <QLibraryInfo>
#include <QScreen>
#include <QTimer>
#include <QTranslator>
#include <clocale>
#include <cstdio>
#include <functional>

// Watches the main window for its first paint: the start-up benchmark and the screenshot
// script need to know when the window is really on screen.
class FirstPaintWatcher : public QObject
{
public:
    FirstPaintWatcher(MainForm* window, std::function<void()> action)
        : QObject(window), action(std::move(action))
    {
        window->installEventFilter(this);
    }

protected:
    bool eventFilter(QObject* watched, QEvent* event) override
    {
        if (event->type() == QEvent::Paint && action) {
            // Let this paint finish before acting on it.
            QTimer::singleShot(0, watched, std::move(action));
            action = nullptr;
        }
        return false;
    }

private:
    std::function<void()> action;
};

// The confirmed close stops the context itself; after a probe or a screenshot it is still
// there and goes after the main window.
static void stopContextIfRunning()
{
    if (App::exists()) {
        delete App::instance();
    }
}

// The program speaks Chinese on every desktop, so the toolkit's own dialogs, buttons and
// context menus do too: from the system's translations (Debian's qttranslations5-l10n), or on
// Windows from the "translations" folder beside the program.
static void installToolkitTranslation(QApplication& application)
{
    auto* translator = new QTranslator(&application);
    const QStringList folders{QCoreApplication::applicationDirPath() +
                                  QStringLiteral("/translations"),
                              QLibraryInfo::location(QLibraryInfo::TranslationsPath)};
    for (const QString& folder : folders) {
        if (translator->load(QStringLiteral("qtbase_zh_CN"), folder)) {
            QCoreApplication::installTranslator(translator);
            return;
        }
    }
    qWarning() << "no Chinese translation of the toolkit found in" << folders;
    delete translator;
}

int main(int argc, char* argv[])
{
    QElapsedTimer sinceStart;
    sinceStart.start();
    SystemServices::setUpHeap();
    // No Qt::AA_ShareOpenGLContexts: it makes the toolkit create its shared OpenGL context,
    // and so load the OpenGL driver, before the first window, a third of the start-up's CPU
    // with a software driver. The web engine creates that context itself when the first course
    // page loads it; the player's video needs none.
    // Laptop screens at 150 % or 200 %: the fixed sizes of the windows are meant in points,
    // drawn at the screen's own scale rather than rounded to a whole one.
    QCoreApplication::setAttribute(Qt::AA_EnableHighDpiScaling);
    QCoreApplication::setAttribute(Qt::AA_UseHighDpiPixmaps);
    QGuiApplication::setHighDpiScaleFactorRoundingPolicy(
        Qt::HighDpiScaleFactorRoundingPolicy::PassThrough);
    QApplication application(argc, argv);
    installToolkitTranslation(application);
    // The application object has taken the desktop's locale; the video library refuses to
    // start unless numbers are read and written the C way. The toolkit's own number texts
    // do not depend on it.
    std::setlocale(LC_NUMERIC, "C");

    QCommandLineParser parser;
    const QCommandLineOption help = parser.addHelpOption();
    const QCommandLineOption probe(QStringLiteral("startup-probe"),
                                   QStringLiteral("Print the time and the CPU time to the "
                                                  "first painted main window and quit."));
    const QCommandLineOption screenshot(QStringLiteral("screenshot"),
                                        QStringLiteral("Save the main window to <file> once "
                                                       "it is shown, and quit."),
                                        QStringLiteral("file"));
    const QCommandLineOption shotView(
        QStringLiteral("view"),
        QStringLiteral("With --screenshot: the view to save, one of ") +
            ScreenshotTour::views.join(QStringLiteral(", ")) + QStringLiteral(" (main)."),
        QStringLiteral("name"), QStringLiteral("main"));
    const QCommandLineOption shotLogin(QStringLiteral("login"),
                                       QStringLiteral("With --screenshot: log in as "
                                                      "<user:password> first."),
                                       QStringLiteral("user:password"));
    parser.addOption(probe);
    parser.addOption(screenshot);
    parser.addOption(shotView);
    parser.addOption(shotLogin);
    // An option this version does not know (an older shortcut, a newer installer) is no
    // reason to refuse to start.
    if (!parser.parse(QCoreApplication::arguments())) {
        qWarning().noquote() << "ignored:" << parser.errorText();
    }
    if (parser.isSet(help)) {
        parser.showHelp();
    }
    if (parser.isSet(screenshot) && !ScreenshotTour::views.contains(parser.value(shotView))) {
        std::fprintf(stderr, "unknown view %s; the views are %s\n",
                     qPrintable(parser.value(shotView)),
                     qPrintable(ScreenshotTour::views.join(QStringLiteral(", "))));
        return 2;
    }

    // Building the context here, before any window, also reads the style sheet.
    application.setStyleSheet(App::instance()->styleSheet());
    LogFile::install(App::instance()->logPath());
    if (QScreen* screen = QGuiApplication::primaryScreen()) {
        App::instance()->setScreenRect(screen->availableGeometry());
    }

    int code = 0;
    {
        MainForm mainForm;
        MainForm* window = &mainForm;
        QObject::connect(window, &MainForm::ended, &application, &QCoreApplication::quit,
                         Qt::QueuedConnection);
        // The icon file holds four sizes, all decoded at once: not on the way to the first
        // paint, the window manager takes it a moment later.
        // Watched first, so acted on last: the filter installed last sees the paint first, and
        // the probe reads the CPU time of the first paint, not of the icon after it.
        new FirstPaintWatcher(window, [&application] {
            application.setWindowIcon(QIcon(QStringLiteral(":/vospen/vospen/tamix.ico")));
        });
        if (parser.isSet(probe)) {
            new FirstPaintWatcher(window, [&sinceStart] {
                std::printf("shown after %lld ms, cpu %.1f ms\n",
                            static_cast<long long>(sinceStart.elapsed()),
                            SystemServices::processCpuMs());
                std::fflush(stdout);
                QCoreApplication::quit();
            });
        } else if (parser.isSet(screenshot)) {
            auto* tour = new ScreenshotTour(window, parser.value(shotView),
                                            parser.value(screenshot), parser.value(shotLogin));
            new FirstPaintWatcher(window, [tour] { tour->start(); });
        }
#ifdef TAMIX_CONTROL
        // Test builds: the soak drives the program through this socket.
        if (const QString path = qEnvironmentVariable("TAMIX_CONTROL_SOCKET"); !path.isEmpty()) {
            auto* control = new ControlChannel(App::instance(), window, window);
            code = control->listen(path) ? 0 : 3;
        }
#endif
        if (code == 0) {
            window->show();
            code = application.exec();
        }
    }
    stopContextIfRunning();
    LogFile::uninstall();
    return code;
}
