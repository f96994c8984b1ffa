#pragma once

#include <QObject>
#include <QPoint>

class QTimer;
class QWidget;

// In full screen only the video is left: a real mouse move over it brings the bars back, and
// they and the cursor go again after a pause, unless the pointer rests on a bar.
class FullScreenControls : public QObject
{
    Q_OBJECT
public:
    FullScreenControls(QWidget* video, QList<QWidget*> bars, QObject* parent);

    static void setHideDelay(int ms);
    static int hideDelay();

    // The window went into or out of full screen.
    void setFullScreen(bool on);

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void mouseMoved(const QPoint& globalPos);
    void hideIdle();

    QWidget* video;
    QList<QWidget*> bars;
    QTimer* hideTimer;
    QPoint lastMousePos;
    bool fullScreen = false;
};
