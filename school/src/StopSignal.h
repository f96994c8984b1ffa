#pragma once

#include <chrono>
#include <condition_variable>
#include <mutex>

// Lets every waiting handler (latency, stalls, bandwidth pacing) wake at once when the
// server shuts down, so a stop never waits for a fault to run its course.
class StopSignal
{
public:
    // Sleeps for the given time; false when the server began stopping meanwhile.
    bool sleepFor(std::chrono::milliseconds duration);
    bool sleepUntil(std::chrono::steady_clock::time_point when);
    void stop();
    bool stopping() const;

private:
    mutable std::mutex mutex;
    std::condition_variable wake;
    bool stopped = false;
};
