#include "AwakeLock.h"

#include <QDebug>
#include <QStandardPaths>
#include <QThread>

#ifdef Q_OS_WIN
#include <windows.h>
#elif defined(QT_DBUS_LIB)
#include <QDBusConnection>
#include <QDBusError>
#include <QDBusMessage>
#include <QDBusPendingCallWatcher>
#include <QDBusPendingReply>
#include <QDBusUnixFileDescriptor>
#endif

namespace {

AwakeLock::Backend& backend()
{
    static AwakeLock::Backend current;
    return current;
}

const char* nameOf(AwakeLock::Kind kind)
{
    return kind == AwakeLock::Kind::Sleep ? "sleep" : "screen";
}

#if !defined(Q_OS_WIN) && defined(QT_DBUS_LIB)
// A service that does not answer gives the lock up after this; nothing waits for it.
constexpr int callTimeoutMs = 5000;

void unInhibitScreen(quint32 cookie)
{
    QDBusConnection bus = QDBusConnection::sessionBus();
    if (!bus.isConnected()) {
        return; // the screen saver's inhibits end with our connection anyway
    }
    QDBusMessage call = QDBusMessage::createMethodCall(
        QStringLiteral("org.freedesktop.ScreenSaver"),
        QStringLiteral("/org/freedesktop/ScreenSaver"),
        QStringLiteral("org.freedesktop.ScreenSaver"), QStringLiteral("UnInhibit"));
    call << cookie;
    bus.send(call);
}
#endif

} // namespace

struct AwakeLock::System
{
#if !defined(Q_OS_WIN) && defined(QT_DBUS_LIB)
    bool sleepPending = false;
    bool screenPending = false;
    QDBusUnixFileDescriptor sleepFd; // logind keeps the lock while this stays open
    bool screenHeld = false;
    quint32 screenCookie = 0;
#endif
};

AwakeLock::AwakeLock(const QString& appName, QObject* parent)
    : QObject(parent), app(appName), system(std::make_unique<System>())
{
}

AwakeLock::~AwakeLock()
{
    setHeld(Kind::Sleep, false);
    setHeld(Kind::Screen, false);
}

void AwakeLock::setBackend(Backend value)
{
    backend() = std::move(value);
}

bool AwakeLock::isHeld(Kind kind) const
{
    return kind == Kind::Sleep ? sleepWanted : screenWanted;
}

void AwakeLock::setHeld(Kind kind, bool held, const QString& why)
{
    bool& wanted = kind == Kind::Sleep ? sleepWanted : screenWanted;
    if (wanted == held) {
        return;
    }
    wanted = held;
    apply(kind, held, why);
}

void AwakeLock::apply(Kind kind, bool held, const QString& why)
{
    if (backend()) {
        backend()(kind, held);
        return;
    }
    if (QStandardPaths::isTestModeEnabled()) {
        qDebug() << "keep awake: no" << nameOf(kind) << "lock in test mode";
        return;
    }
#ifdef Q_OS_WIN
    Q_UNUSED(kind)
    Q_UNUSED(why)
    // The state belongs to the calling thread and each call replaces it whole.
    Q_ASSERT(QThread::currentThread() == thread());
    EXECUTION_STATE flags = ES_CONTINUOUS;
    if (sleepWanted) {
        flags |= ES_SYSTEM_REQUIRED;
    }
    if (screenWanted) {
        flags |= ES_SYSTEM_REQUIRED | ES_DISPLAY_REQUIRED;
    }
    if (SetThreadExecutionState(flags) == 0) {
        qDebug() << "keep awake: SetThreadExecutionState failed" << GetLastError();
    }
#elif defined(QT_DBUS_LIB)
    System& os = *system;
    if (kind == Kind::Sleep) {
        if (!held) {
            os.sleepFd = QDBusUnixFileDescriptor(); // closing it ends the lock
            return;
        }
        if (os.sleepPending || os.sleepFd.isValid()) {
            return;
        }
        QDBusConnection bus = QDBusConnection::systemBus();
        if (!bus.isConnected()) {
            qDebug().noquote() << "keep awake: no system bus, the computer may sleep:"
                               << bus.lastError().message();
            return;
        }
        QDBusMessage call = QDBusMessage::createMethodCall(
            QStringLiteral("org.freedesktop.login1"), QStringLiteral("/org/freedesktop/login1"),
            QStringLiteral("org.freedesktop.login1.Manager"), QStringLiteral("Inhibit"));
        call << QStringLiteral("sleep") << app << why << QStringLiteral("block");
        os.sleepPending = true;
        auto* watcher = new QDBusPendingCallWatcher(bus.asyncCall(call, callTimeoutMs), this);
        connect(watcher, &QDBusPendingCallWatcher::finished, this,
                [this](QDBusPendingCallWatcher* answer) {
                    answer->deleteLater();
                    system->sleepPending = false;
                    const QDBusPendingReply<QDBusUnixFileDescriptor> reply = *answer;
                    if (reply.isError()) {
                        qDebug().noquote() << "keep awake: no sleep lock from the login manager:"
                                           << reply.error().name() << reply.error().message();
                    } else if (sleepWanted) {
                        system->sleepFd = reply.value();
                    } // not wanted any more: the descriptor closes with the reply
                });
        return;
    }
    if (!held) {
        if (os.screenHeld) {
            os.screenHeld = false;
            unInhibitScreen(os.screenCookie);
        }
        return;
    }
    if (os.screenPending || os.screenHeld) {
        return;
    }
    QDBusConnection bus = QDBusConnection::sessionBus();
    if (!bus.isConnected()) {
        qDebug().noquote() << "keep awake: no session bus, the screen may go dark:"
                           << bus.lastError().message();
        return;
    }
    QDBusMessage call = QDBusMessage::createMethodCall(
        QStringLiteral("org.freedesktop.ScreenSaver"),
        QStringLiteral("/org/freedesktop/ScreenSaver"),
        QStringLiteral("org.freedesktop.ScreenSaver"), QStringLiteral("Inhibit"));
    call << app << why;
    os.screenPending = true;
    auto* watcher = new QDBusPendingCallWatcher(bus.asyncCall(call, callTimeoutMs), this);
    connect(watcher, &QDBusPendingCallWatcher::finished, this,
            [this](QDBusPendingCallWatcher* answer) {
                answer->deleteLater();
                system->screenPending = false;
                const QDBusPendingReply<quint32> reply = *answer;
                if (reply.isError()) {
                    qDebug().noquote()
                        << "keep awake: the screen saver did not answer:" << reply.error().name()
                        << reply.error().message();
                } else if (screenWanted) {
                    system->screenHeld = true;
                    system->screenCookie = reply.value();
                } else {
                    unInhibitScreen(reply.value());
                }
            });
#else
    Q_UNUSED(why)
    qDebug() << "keep awake: no" << nameOf(kind) << "lock on this system" << held;
#endif
}
