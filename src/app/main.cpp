#include "App.h"
#include "MainForm.h"

#include <QApplication>
#include <QCommandLineParser>
#include <QElapsedTimer>
#include <QIcon>
#include <QScreen>
#include <QTimer>
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

int main(int argc, char* argv[])
{
    QElapsedTimer sinceStart;
    sinceStart.start();
    // The web view and the video area share OpenGL contexts with the toolkit.
    QCoreApplication::setAttribute(Qt::AA_ShareOpenGLContexts);
    QApplication application(argc, argv);

    QCommandLineParser parser;
    parser.addHelpOption();
    const QCommandLineOption probe(QStringLiteral("startup-probe"),
                                   QStringLiteral("Print the time to the first painted main "
                                                  "window and quit."));
    const QCommandLineOption screenshot(QStringLiteral("screenshot"),
                                        QStringLiteral("Save the main window to <file> once "
                                                       "it is shown, and quit."),
                                        QStringLiteral("file"));
    parser.addOption(probe);
    parser.addOption(screenshot);
    parser.process(application);

    // Building the context here, before any window, also reads the style sheet.
    application.setStyleSheet(App::instance()->styleSheet());
    application.setWindowIcon(QIcon(QStringLiteral(":/vospen/vospen/tamix.ico")));
    if (QScreen* screen = QGuiApplication::primaryScreen()) {
        App::instance()->setScreenRect(screen->availableGeometry());
    }

    int code = 0;
    {
        MainForm mainForm;
        MainForm* window = &mainForm;
        if (parser.isSet(probe)) {
            new FirstPaintWatcher(window, [&sinceStart] {
                std::printf("shown after %lld ms\n", static_cast<long long>(sinceStart.elapsed()));
                std::fflush(stdout);
                QCoreApplication::quit();
            });
        } else if (parser.isSet(screenshot)) {
            const QString file = parser.value(screenshot);
            new FirstPaintWatcher(window, [window, file] {
                // A moment for the pages to finish their first layout.
                QTimer::singleShot(300, window, [window, file] {
                    const bool saved = window->grab().save(file);
                    std::printf("%s %s\n", saved ? "saved" : "could not save", qPrintable(file));
                    QCoreApplication::exit(saved ? 0 : 1);
                });
            });
        }
        window->show();
        code = application.exec();
    }
    stopContextIfRunning();
    return code;
}
