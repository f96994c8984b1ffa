#pragma once

#include <QObject>
#include <atomic>

// The scheduler's flags that the fetcher on the worker thread watches. Every change emits
// changed(), which reaches a fetcher waiting in its event loop queued, so that it reacts at
// once instead of polling.
class DownloadFlags : public QObject
{
    Q_OBJECT
public:
    explicit DownloadFlags(bool running = false, QObject* parent = nullptr);

    bool isStart() const { return running.load(); }
    bool isQuitting() const { return quitting.load(); }
    bool isCancelled() const { return cancelled.load(); }
    // Whether the lesson in flight is to be abandoned now.
    bool stopRequested() const { return isQuitting() || isCancelled(); }

    // Returns the previous value.
    bool setStart(bool value);
    void requestQuit();
    void setCancelled(bool value);
    // Clears the cancel flag and tells whether it was set.
    bool takeCancelled();

signals:
    void changed();

private:
    std::atomic_bool running;
    std::atomic_bool quitting{false};
    std::atomic_bool cancelled{false};
};
