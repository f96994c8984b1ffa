#pragma once

#include <QObject>

class App;
class QAction;
class QMenu;
class QWidget;

// The title bar's two menus: settings with help (the school's site, feedback, about, the
// version check, the manual) and the user's (personal centre, logout). The school's pages
// open in the desktop's browser from here; the rest is asked of the main window.
class MainMenus : public QObject
{
    Q_OBJECT
public:
    // `owner` parents the menus, `app` gives the school's addresses and the session.
    MainMenus(App* app, QWidget* owner);

    // "设置", shared with the tray's menu.
    QAction* settingsAction() const { return settings; }
    // Opened under the mouse, as the title bar's buttons are pressed.
    void popUpSettings();
    void popUpUser();

signals:
    void settingsWanted();
    void aboutWanted();
    void versionCheckWanted();
    void userCentreWanted();
    void logoutWanted();

private:
    App* app;
    QAction* settings;
    QMenu* settingsMenu;
    QMenu* userMenu;
};
