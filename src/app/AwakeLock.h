#pragma once

#include <QObject>
#include <functional>
#include <memory>

// Keeps the computer from sleeping while lessons download, and the screen on while a lesson
// plays. Windows: SetThreadExecutionState, per thread, so this object is used on the GUI
// thread only. Linux: an inhibitor lock of the login manager ("sleep", its file descriptor held
// open while the lock holds) on the system bus, and the screen saver's inhibit on the session
// bus. The bus calls are asynchronous: a missing bus or service is logged, never waited for.
class AwakeLock : public QObject
{
    Q_OBJECT
public:
    enum class Kind { Sleep, Screen };
    // Stands in for the operating system: told every change of a lock, held or let go.
    using Backend = std::function<void(Kind kind, bool held)>;

    explicit AwakeLock(const QString& appName, QObject* parent = nullptr);
    // Lets go of whatever is held.
    ~AwakeLock() override;

    // Holding a lock twice, or letting go of one not held, changes nothing.
    void setHeld(Kind kind, bool held, const QString& why = QString());

    // Test seam: with a backend set, the system is never asked. In test mode without one, no
    // lock is taken at all: a test must never hold the machine's own.
    static void setBackend(Backend backend);

private:
    struct System; // what the operating system handed out
    void apply(Kind kind, bool held, const QString& why);

    QString app;
    bool sleepWanted = false;
    bool screenWanted = false;
    std::unique_ptr<System> system;
};
