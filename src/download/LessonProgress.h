#pragma once

#include <QString>
#include <QtGlobal>

// What the student sees of one lesson's download: the stored amount, the size, the speed and the
// time left. The amount never goes backwards (a segment given up after a failure takes its bytes
// in flight back, and a lesson fetched again starts from what is on disk), and a size not yet
// known keeps the last known one.
//
// The time left comes from an exponentially weighted average of the speed (the bytes that
// really arrive) with a time constant of about ten seconds, and is told only once the rate has
// been watched for that long; a pause or an outage starts the watch again.
class LessonProgress
{
public:
    static constexpr qint64 timeConstantMs = 10000;

    // A progress report at `nowMs` (a monotonic clock): KB stored, MB in all (0: unknown), KB/s.
    void report(qint64 nowMs, float sizeKB, float totalMB, float speedKB);
    // The lesson stopped for a while (paused, waiting): its next rate is watched afresh.
    void interrupt();

    float sizeKB() const { return size; }
    float totalMB() const { return total; }
    float speedKB() const { return speed; }
    bool hasFigures() const { return size > 0 || total > 0; }
    // Seconds left, or -1 while the rate is not known well enough.
    int remainingSeconds() const;
    // The smoothed rate in KB/s (0 before the second report).
    double rateKB() const { return rate; }

    // "剩余 1:05" below an hour, "剩余 1:02:05" above.
    static QString remainingText(int seconds);

private:
    float size = 0;
    float total = 0;
    float speed = 0;
    double rate = 0;
    qint64 lastMs = 0;
    qint64 watchedMs = 0;
    bool watching = false;
    bool rated = false;
};
