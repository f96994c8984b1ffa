#pragma once

#include <QObject>
#include <QString>

class MainForm;
class QTimer;

// Drives the running client to one of its views and saves a picture of it, then quits:
// "main" (the window as it starts), "myclass" (logged in, the school's course page loaded),
// "selection" (the download selection dialog the page's own button opens), and, after
// "下载选中" on every lesson of that course, "downloading" (a tile with progress),
// "downloaded" (the course downloaded), "courseware" (that course's page) and "player" (its
// first lesson playing from the store); "failed" and "waiting" (a lesson that failed, and one
// that waits for its server, as the school the caller runs makes them); "settings" (the
// settings dialog) and "upgrade" (the upgrade dialog as a newer version opens it).
class ScreenshotTour : public QObject
{
    Q_OBJECT
public:
    static const QStringList views;

    // `login` is "user:password", needed by every view but "main".
    ScreenshotTour(MainForm* window, const QString& view, const QString& file,
                   const QString& login);

    // Called once the main window has been painted.
    void start();

private:
    void step();
    bool onDownloadingTab() const;
    // Views that open the player on a downloaded lesson.
    bool playerView() const;
    void save(QWidget* widget);
    void fail(const char* why);

    MainForm* window;
    QString view;
    QString file;
    QString login;
    QTimer* poll = nullptr;
    int stage = 0;
    int ticks = 0;
};
