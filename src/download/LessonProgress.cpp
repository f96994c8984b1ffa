#include "LessonProgress.h"

#include <cmath>

void LessonProgress::report(qint64 nowMs, float sizeKB, float totalMB, float speedKB)
{
    if (sizeKB > size && std::isfinite(sizeKB)) {
        size = sizeKB;
    }
    if (totalMB > 0 && std::isfinite(totalMB)) {
        total = totalMB;
    }
    speed = std::isfinite(speedKB) && speedKB > 0 ? speedKB : 0;
    if (!watching) {
        watching = true;
        lastMs = nowMs;
        return;
    }
    const qint64 dt = nowMs - lastMs;
    if (dt <= 0) {
        return;
    }
    // What really arrives, not the stored amount: that one stands still while a segment that
    // was given up comes again, then leaps, and a time left taken from it jumps with it.
    const double instant = speed;
    if (!rated) {
        rate = instant;
        rated = true;
    } else {
        const double alpha = 1.0 - std::exp(-double(dt) / double(timeConstantMs));
        rate += alpha * (instant - rate);
    }
    watchedMs += dt;
    lastMs = nowMs;
}

void LessonProgress::interrupt()
{
    watching = false;
    rated = false;
    rate = 0;
    watchedMs = 0;
    speed = 0;
}

int LessonProgress::remainingSeconds() const
{
    const double left = double(total) * 1024.0 - double(size);
    if (!rated || watchedMs < timeConstantMs || rate <= 0 || total <= 0) {
        return -1;
    }
    if (left <= 0) {
        return 0;
    }
    return int(std::ceil(left / rate));
}

QString LessonProgress::remainingText(int seconds)
{
    if (seconds < 0) {
        return QString();
    }
    const int h = seconds / 3600;
    const int m = seconds / 60 % 60;
    const int s = seconds % 60;
    if (h > 0) {
        return QStringLiteral("剩余 %1:%2:%3")
            .arg(h)
            .arg(m, 2, 10, QLatin1Char('0'))
            .arg(s, 2, 10, QLatin1Char('0'));
    }
    return QStringLiteral("剩余 %1:%2").arg(m).arg(s, 2, 10, QLatin1Char('0'));
}
