// The context's player operations: they create widgets, so they are built with the player
// into the widget library and not into the context's own.
#include "App.h"
#include "FormPlayer.h"
#include "MpvController.h"

FormPlayer* App::player() const
{
    return static_cast<FormPlayer*>(playerWindow.data());
}

FormPlayer* App::openPlayer(const QString& title)
{
    if (playerWindow) {
        QPointer<QObject> old = playerWindow;
        replacingPlayer = true;
        player()->close();
        delete old.data();
        replacingPlayer = false;
    }
    auto* window = new FormPlayer(title);
    playerWindow = window;
    // Without a renderer the window is never shown.
    if (window->isBuilt()) {
        // mpv pauses at the end of a lesson as well: the screen may then go dark.
        connect(window->controller(), &MpvController::pausedChanged, window,
                [this, window](bool paused) {
                    if (player() == window) {
                        setPlayerState(true, !paused);
                    }
                });
    }
    setPlayerState(window->isBuilt(), window->isBuilt());
    return window;
}
