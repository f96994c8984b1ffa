// The yardstick of the start-up benchmark: an empty window of the client's size under the
// client's style sheet, with the same high-DPI settings, shown and painted once, then gone.
#include "SystemServices.h"

#include <QApplication>
#include <QFile>
#include <QTimer>
#include <QWidget>
#include <cstdio>

class FirstPaint : public QObject
{
protected:
    bool eventFilter(QObject*, QEvent* event) override
    {
        if (event->type() == QEvent::Paint && !seen) {
            seen = true;
            QTimer::singleShot(0, [] {
                std::printf("shown cpu %.1f ms\n", SystemServices::processCpuMs());
                std::fflush(stdout);
                QCoreApplication::quit();
            });
        }
        return false;
    }

private:
    bool seen = false;
};

int main(int argc, char* argv[])
{
    QCoreApplication::setAttribute(Qt::AA_EnableHighDpiScaling);
    QCoreApplication::setAttribute(Qt::AA_UseHighDpiPixmaps);
    QApplication application(argc, argv);
    QFile style(QStringLiteral(":/vospen/vospen/vospen.css"));
    if (style.open(QIODevice::ReadOnly)) {
        application.setStyleSheet(QString::fromUtf8(style.readAll()));
    }
    QWidget window;
    window.resize(1210, 720);
    FirstPaint watcher;
    window.installEventFilter(&watcher);
    window.show();
    return application.exec();
}
