#pragma once

#include <QtGlobal>
#include <deque>

// Download speed: the bytes received over the last few seconds divided by the time they took.
class SpeedMeter
{
public:
    explicit SpeedMeter(qint64 windowMs = 6000) : window(windowMs) {}

    void add(qint64 bytes) { total += bytes; }
    qint64 totalBytes() const { return total; }
    // Takes a sample at `nowMs` (a monotonic clock) and returns the speed in KB/s over the
    // samples of the window; 0 until two samples lie apart in time.
    float sample(qint64 nowMs);

private:
    struct Point
    {
        qint64 ms;
        qint64 bytes;
    };
    qint64 window;
    qint64 total = 0;
    std::deque<Point> points;
};
