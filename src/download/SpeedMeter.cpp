#include "SpeedMeter.h"

float SpeedMeter::sample(qint64 nowMs)
{
    points.push_back({nowMs, total});
    // Keep one point at or before the start of the window, so that the window is always spanned.
    while (points.size() > 2 && nowMs - points[1].ms >= window) {
        points.pop_front();
    }
    const Point& first = points.front();
    const qint64 elapsed = nowMs - first.ms;
    if (elapsed <= 0) {
        return 0.0f;
    }
    return float(double(total - first.bytes) * 1000.0 / double(elapsed) / 1024.0);
}
