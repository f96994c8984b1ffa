#pragma once

#include <chrono>
#include <cstdint>
#include <mutex>

class StopSignal;

// A bandwidth cap shared by every reply that one fault rule slows down, so parallel
// connections together stay under the cap the way they would on one real link.
class RateLimiter
{
public:
    explicit RateLimiter(std::int64_t bytesPerSecond);

    std::int64_t rate() const { return bytesPerSecond; }
    // Waits until `bytes` more may be sent; false when the server stops meanwhile.
    bool acquire(std::int64_t bytes, StopSignal& stop);

private:
    const std::int64_t bytesPerSecond;
    std::mutex mutex;
    std::chrono::steady_clock::time_point nextFree;
};
