#pragma once

#include <QString>
#include <QtGlobal>

// The download speed limit: bytes may be taken at `rate` per second on average. What is not
// taken while nothing waits is kept, but never more than one second's allowance, so that after
// a quiet spell no more than that goes at once. The caller gives the time (a monotonic clock in
// milliseconds); the bucket keeps fractions of a byte, so many small takes add up exactly.
class TokenBucket
{
public:
    // Bounds of a limit in KB/s, as the settings take it: below the floor a segment would read
    // as a trickle and be given up.
    static constexpr qint64 minKBps = 16;
    static constexpr qint64 maxKBps = 1024 * 1024;

    // "DOWNLOAD/RATE_LIMIT" (KB/s) as bytes per second: 0 (no limit) for a missing, zero,
    // negative or non-numeric text; a number outside the bounds is brought within them.
    static qint64 bytesPerSecond(const QString& kbPerSecond);

    // No limit until setRate().
    TokenBucket() = default;

    // 0 or less: no limit. Coming from no limit the bucket starts empty; a changed limit keeps
    // what was saved, up to the new one-second allowance.
    void setRate(qint64 bytesPerSecond, qint64 nowMs);
    qint64 rate() const { return perSecond; }
    bool isLimited() const { return perSecond > 0; }
    // Empty from `nowMs` on (a new start is not a burst).
    void reset(qint64 nowMs);

    // Bytes that may be taken at `nowMs` (unbounded without a limit).
    qint64 available(qint64 nowMs);
    void take(qint64 bytes);
    // Milliseconds from `nowMs` until `bytes` (at most one second's allowance) may be taken.
    qint64 msUntil(qint64 bytes, qint64 nowMs);

private:
    void refill(qint64 nowMs);
    qint64 capacity() const { return perSecond * 1000; }

    qint64 perSecond = 0;
    qint64 milli = 0; // saved allowance in thousandths of a byte
    qint64 lastMs = 0;
};
