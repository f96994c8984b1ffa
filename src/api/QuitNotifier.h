#pragma once

#include <QObject>
#include <atomic>

// Process-wide "the application is ending" flag. Every blocking wait on the network watches it,
// so that no thread keeps waiting for a server once the user has quit.
class QuitNotifier : public QObject
{
    Q_OBJECT
public:
    static QuitNotifier* instance();
    static bool isQuitting();

    // Sets the flag and tells every waiting request. Safe from any thread.
    void requestQuit();
    // Clears the flag again (tests that build a fresh context after a quit).
    void reset();

signals:
    void quitRequested();

private:
    QuitNotifier() = default;
    std::atomic_bool quitting{false};
};
