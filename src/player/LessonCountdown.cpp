#include "LessonCountdown.h"

#include <QTimer>

namespace {
int stepMs = 1000;
}

void LessonCountdown::setStepMs(int ms)
{
    stepMs = ms;
}

LessonCountdown::LessonCountdown(QObject* parent) : QObject(parent), timer(new QTimer(this))
{
    connect(timer, &QTimer::timeout, this, &LessonCountdown::step);
}

void LessonCountdown::start(int seconds)
{
    left = qMax(0, seconds);
    running = true;
    timer->start(stepMs);
    emit ticked(left);
    if (left == 0) {
        playNow();
    }
}

void LessonCountdown::step()
{
    if (!running) {
        return;
    }
    if (--left > 0) {
        emit ticked(left);
        return;
    }
    playNow();
}

void LessonCountdown::playNow()
{
    if (!running) {
        return;
    }
    running = false;
    timer->stop();
    emit fired();
}

void LessonCountdown::cancel()
{
    running = false;
    timer->stop();
}
