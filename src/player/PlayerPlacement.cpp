#include "PlayerPlacement.h"

#include "App.h"
#include "MainForm.h"
#include "SettingKeys.h"
#include "WindowPlacement.h"

#include <QGuiApplication>
#include <QScreen>
#include <QWidget>

PlayerPlacement::PlayerPlacement(QWidget* window, App* app) : window(window), app(app) {}

void PlayerPlacement::open()
{
    const QRect remembered =
        app ? WindowPlacement::fromText(app->setting(SettingKeys::playerPlace)) : QRect();
    QList<QRect> screens;
    for (const QScreen* screen : QGuiApplication::screens()) {
        screens.append(screen->availableGeometry());
    }
    const QWidget* main = app ? app->mainForm() : nullptr;
    const QRect mainRect = main && main->isVisible() ? main->frameGeometry() : QRect();
    if (remembered.isValid()) {
        window->resize(remembered.size());
    }
    window->move(WindowPlacement::topLeft(window->size(), remembered, mainRect, screens));
}

void PlayerPlacement::maximise()
{
    if (!app) {
        return;
    }
    normalSize = window->size();
    normalPos = window->pos();
    const QRect screen = app->screenRect();
    window->resize(screen.right() - screen.left() + 1, screen.bottom() - screen.top() + 1);
    window->move(0, 0);
}

void PlayerPlacement::restore()
{
    window->resize(normalSize);
    window->move(normalPos);
}

void PlayerPlacement::remember(bool fullScreen)
{
    if (!app || fullScreen || window->isMinimized()) {
        return;
    }
    const bool maximised = normalSize.isValid() && window->size() != normalSize;
    app->setSetting(
        SettingKeys::playerPlace,
        WindowPlacement::toText(maximised ? QRect(normalPos, normalSize) : window->geometry()));
}
