#include "StopSignal.h"

bool StopSignal::sleepFor(std::chrono::milliseconds duration)
{
    return sleepUntil(std::chrono::steady_clock::now() + duration);
}

bool StopSignal::sleepUntil(std::chrono::steady_clock::time_point when)
{
    std::unique_lock<std::mutex> lock(mutex);
    wake.wait_until(lock, when, [this] { return stopped; });
    return !stopped;
}

void StopSignal::stop()
{
    {
        std::lock_guard<std::mutex> lock(mutex);
        stopped = true;
    }
    wake.notify_all();
}

bool StopSignal::stopping() const
{
    std::lock_guard<std::mutex> lock(mutex);
    return stopped;
}
