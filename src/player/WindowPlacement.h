#pragma once

#include <QList>
#include <QPoint>
#include <QRect>
#include <QSize>

// Where the player window opens: at its remembered place while that place still lies on one of
// the screens, else centred over the main window, kept on that window's screen.
class WindowPlacement
{
public:
    // `remembered` is invalid when none was kept, `mainWindow` when there is no main window;
    // `screens` are the screens' available areas.
    static QPoint topLeft(const QSize& size, const QRect& remembered, const QRect& mainWindow,
                          const QList<QRect>& screens);

    // The remembered place as the settings keep it ("x,y,w,h"), and back.
    static QString toText(const QRect& rect);
    static QRect fromText(const QString& text);
};
