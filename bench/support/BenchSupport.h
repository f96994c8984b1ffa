#pragma once

// What the benchmark programs share: the median of their runs, and waiting in the event loop.
#include <QCoreApplication>
#include <QElapsedTimer>
#include <algorithm>
#include <functional>
#include <vector>

inline double median(std::vector<double> values)
{
    std::sort(values.begin(), values.end());
    const size_t n = values.size();
    return n == 0 ? 0 : n % 2 ? values[n / 2] : (values[n / 2 - 1] + values[n / 2]) / 2;
}

// Runs the event loop until `done` holds or `ms` pass; the elapsed milliseconds, or -1.
inline double waitFor(const std::function<bool()>& done, int ms = 20000)
{
    QElapsedTimer clock;
    clock.start();
    while (!done()) {
        if (clock.elapsed() > ms) {
            return -1;
        }
        QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
    }
    return clock.nsecsElapsed() / 1e6;
}
