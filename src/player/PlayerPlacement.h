#pragma once

#include <QPoint>
#include <QSize>

class App;
class QWidget;

// Where the player window is: opened at its remembered place or over the main window, made
// as large as the screen by its own button and back, and its normal place remembered when it
// closes (not a full-screen or minimised one).
class PlayerPlacement
{
public:
    // `app` keeps the remembered place and knows the main window; none in some tests.
    PlayerPlacement(QWidget* window, App* app);

    void open();
    void maximise();
    void restore();
    void remember(bool fullScreen);

private:
    QWidget* window;
    App* app;
    QSize normalSize{-1, -1};
    QPoint normalPos{0, 0};
};
