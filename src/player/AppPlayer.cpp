// The context's player operations: they create widgets, so they are built with the player
// into the widget library and not into the context's own.
#include "App.h"
#include "FormPlayer.h"

FormPlayer* App::player() const
{
    return static_cast<FormPlayer*>(playerWindow.data());
}

FormPlayer* App::openPlayer(const QString& title)
{
    if (playerWindow) {
        QPointer<QObject> old = playerWindow;
        player()->close();
        delete old.data();
    }
    auto* window = new FormPlayer(title);
    playerWindow = window;
    return window;
}
