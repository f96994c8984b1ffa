#pragma once

#include <QList>
#include <QString>
#include <functional>

// Time-outs, retry pauses and parallelism of the lesson fetcher. The defaults are those of the
// product; tests shorten them.
struct DownloadOptions
{
    // Longest silence of a playlist, key or segment request before it counts as failed.
    int requestTimeoutMs = 30000;
    // A segment whose body arrives slower than `floorBytes` per `floorWindowMs` (1 KB/s over
    // 30 s) counts as failed for now: a trickle must not hold the queue.
    qint64 floorBytes = 30 * 1024;
    int floorWindowMs = 30000;
    // Longest wait for the key-and-address answer.
    int keyUrlTimeoutMs = 30000;
    // Pauses before the quick retries of a request that failed for want of the network or the
    // server; its length is the number of retries. After them the lesson waits (stalls).
    QList<int> retryPausesMs{1000, 2000, 4000};
    // A waiting lesson is tried again after a twentieth of the time it has been waiting,
    // within these bounds: a short outage ends quickly, a long one costs nothing.
    int stallPauseMinMs = 1000;
    int stallPauseMaxMs = 60000;
    // Segment requests in flight at once within one lesson.
    int maxInFlight = 4;
    // Longest wait of the GUI for the worker to let go of a lesson being deleted; after it the
    // lesson's files go on the worker's thread once it has.
    int releaseWaitMs = 5000;
    // Interval of the progress notifications.
    int progressIntervalMs = 2000;
    // Test seam: returning false for a file name makes its write fail as on a full disk.
    std::function<bool(const QString& fileName)> writeGuard;
    // Test seam, called on the worker's thread with "taken" right after a lesson became the
    // one in flight and with "ending" right before its outcome is filed.
    std::function<void(const QString& point, const QString& lessonDir)> workerHook;
};
