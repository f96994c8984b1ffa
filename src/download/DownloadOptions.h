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
    // Longest wait for the key-and-address answer.
    int keyUrlTimeoutMs = 30000;
    // Pauses before the retries of a failed request; its length is the number of retries.
    QList<int> retryPausesMs{1000, 2000, 4000, 8000, 16000};
    // Segment requests in flight at once within one lesson.
    int maxInFlight = 4;
    // Interval of the progress notifications.
    int progressIntervalMs = 2000;
    // Test seam: returning false for a file name makes its write fail as on a full disk.
    std::function<bool(const QString& fileName)> writeGuard;
};
