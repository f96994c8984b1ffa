#include "RateLimiter.h"
#include "StopSignal.h"

#include <algorithm>

RateLimiter::RateLimiter(std::int64_t bytesPerSecond)
    : bytesPerSecond(std::max<std::int64_t>(1, bytesPerSecond)),
      nextFree(std::chrono::steady_clock::now())
{
}

bool RateLimiter::acquire(std::int64_t bytes, StopSignal& stop)
{
    using namespace std::chrono;
    steady_clock::time_point start;
    {
        std::lock_guard<std::mutex> lock(mutex);
        const auto now = steady_clock::now();
        // An idle link does not bank credit beyond a short burst.
        start = std::max(nextFree, now - milliseconds(20));
        nextFree = start + nanoseconds(bytes * 1000000000LL / bytesPerSecond);
    }
    return stop.sleepUntil(start);
}
