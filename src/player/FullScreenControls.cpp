#include "FullScreenControls.h"

#include <QCursor>
#include <QMouseEvent>
#include <QTimer>
#include <QWidget>

namespace {
int hideMs = 3000;
}

void FullScreenControls::setHideDelay(int ms)
{
    hideMs = ms;
}

int FullScreenControls::hideDelay()
{
    return hideMs;
}

FullScreenControls::FullScreenControls(QWidget* video, QList<QWidget*> bars, QObject* parent)
    : QObject(parent), video(video), bars(std::move(bars)), hideTimer(new QTimer(this))
{
    hideTimer->setSingleShot(true);
    connect(hideTimer, &QTimer::timeout, this, &FullScreenControls::hideIdle);
    // The video covers the whole window in full screen: its mouse moves bring the bars back.
    video->setMouseTracking(true);
    video->installEventFilter(this);
    if (QWidget* window = video->window(); window != video) {
        window->installEventFilter(this);
    }
}

void FullScreenControls::setFullScreen(bool on)
{
    fullScreen = on;
    for (QWidget* bar : bars) {
        bar->setVisible(!on);
    }
    video->unsetCursor();
    if (on) {
        lastMousePos = QCursor::pos();
        hideTimer->start(hideMs);
    } else {
        hideTimer->stop();
    }
}

bool FullScreenControls::eventFilter(QObject* watched, QEvent* event)
{
    if (event->type() == QEvent::MouseMove) {
        mouseMoved(static_cast<QMouseEvent*>(event)->globalPos());
    }
    return QObject::eventFilter(watched, event);
}

void FullScreenControls::mouseMoved(const QPoint& globalPos)
{
    // Relayouts and cursor changes may repeat the last position: only a real move counts.
    if (!fullScreen || globalPos == lastMousePos) {
        return;
    }
    lastMousePos = globalPos;
    for (QWidget* bar : bars) {
        bar->show();
    }
    video->unsetCursor();
    hideTimer->start(hideMs);
}

void FullScreenControls::hideIdle()
{
    if (!fullScreen) {
        return;
    }
    // Not while the pointer rests on a bar: the student is about to use it.
    for (QWidget* bar : bars) {
        if (bar->underMouse()) {
            hideTimer->start(hideMs);
            return;
        }
    }
    for (QWidget* bar : bars) {
        bar->hide();
    }
    video->setCursor(Qt::BlankCursor);
}
