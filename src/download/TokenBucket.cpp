#include "TokenBucket.h"

#include <QDebug>
#include <limits>

qint64 TokenBucket::bytesPerSecond(const QString& kbPerSecond)
{
    bool ok = false;
    const qint64 kb = kbPerSecond.trimmed().toLongLong(&ok);
    if (!ok || kb <= 0) {
        return 0;
    }
    const qint64 bounded = qBound(minKBps, kb, maxKBps);
    if (bounded != kb) {
        qDebug() << "download limit" << kb << "KB/s out of bounds, using" << bounded;
    }
    return bounded * 1024;
}

void TokenBucket::refill(qint64 nowMs)
{
    const qint64 elapsed = nowMs - lastMs;
    lastMs = qMax(lastMs, nowMs);
    if (elapsed <= 0 || !isLimited()) {
        return;
    }
    // Past one second the bucket is full whatever came before: no overflow for long idles.
    milli = qMin(capacity(), milli + perSecond * qMin<qint64>(elapsed, 1000));
}

void TokenBucket::setRate(qint64 bytesPerSecond, qint64 nowMs)
{
    const qint64 rate = qBound<qint64>(0, bytesPerSecond, maxKBps * 1024);
    if (!isLimited()) {
        perSecond = rate;
        reset(nowMs);
        return;
    }
    refill(nowMs);
    perSecond = rate;
    milli = qMin(milli, capacity());
}

void TokenBucket::reset(qint64 nowMs)
{
    milli = 0;
    lastMs = nowMs;
}

qint64 TokenBucket::available(qint64 nowMs)
{
    if (!isLimited()) {
        return std::numeric_limits<qint64>::max();
    }
    refill(nowMs);
    return milli / 1000;
}

void TokenBucket::take(qint64 bytes)
{
    if (isLimited()) {
        milli = qMax<qint64>(0, milli - bytes * 1000);
    }
}

qint64 TokenBucket::msUntil(qint64 bytes, qint64 nowMs)
{
    if (!isLimited()) {
        return 0;
    }
    refill(nowMs);
    const qint64 missing = qMin(bytes, perSecond) * 1000 - milli;
    return missing <= 0 ? 0 : (missing + perSecond - 1) / perSecond;
}
