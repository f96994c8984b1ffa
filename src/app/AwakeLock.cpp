#include "AwakeLock.h"

#include <QDebug>
#include <QStandardPaths>
#include <QThread>

#ifdef Q_OS_WIN
#include <windows.h>
#elif defined(QT_DBUS_LIB)
#include <QDBusArgument>
#include <QDBusConnection>
#include <QDBusError>
#include <QDBusMessage>
#include <QDBusPendingCallWatcher>
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

QDBusMessage screenSaverCall(const QString& method)
{
    return QDBusMessage::createMethodCall(QStringLiteral("org.freedesktop.ScreenSaver"),
                                          QStringLiteral("/org/freedesktop/ScreenSaver"),
                                          QStringLiteral("org.freedesktop.ScreenSaver"), method);
}

// Sends `call` without waiting; `answered` gets the answer, an error included. False, with a
// line in the log, when there is no bus.
bool ask(const QDBusConnection& bus, const QDBusMessage& call, const char* withoutBus,
         QObject* context, const std::function<void(const QDBusMessage&)>& answered)
{
    if (!bus.isConnected()) {
        qDebug().noquote() << "keep awake:" << withoutBus << bus.lastError().message();
        return false;
    }
    auto* watcher = new QDBusPendingCallWatcher(bus.asyncCall(call, callTimeoutMs), context);
    QObject::connect(watcher, &QDBusPendingCallWatcher::finished, context,
                     [answered, service = call.service()](QDBusPendingCallWatcher* answer) {
                         answer->deleteLater();
                         const QDBusMessage reply = answer->reply();
                         if (reply.type() == QDBusMessage::ErrorMessage) {
                             qDebug().noquote()
                                 << "keep awake:" << service << "refused:" << reply.errorName()
                                 << reply.errorMessage();
                         }
                         answered(reply);
                     });
    return true;
}

void unInhibitScreen(quint32 cookie)
{
    QDBusConnection bus = QDBusConnection::sessionBus();
    if (bus.isConnected()) { // else the inhibit ended with our connection
        bus.send(screenSaverCall(QStringLiteral("UnInhibit")) << cookie);
    }
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
        QDBusMessage call = QDBusMessage::createMethodCall(
            QStringLiteral("org.freedesktop.login1"), QStringLiteral("/org/freedesktop/login1"),
            QStringLiteral("org.freedesktop.login1.Manager"), QStringLiteral("Inhibit"));
        call << QStringLiteral("sleep") << app << why << QStringLiteral("block");
        os.sleepPending =
            ask(QDBusConnection::systemBus(), call, "no system bus, the computer may sleep:", this,
                [this](const QDBusMessage& reply) {
                    system->sleepPending = false;
                    // Not wanted any more: the descriptor closes with the reply.
                    if (sleepWanted && reply.type() == QDBusMessage::ReplyMessage) {
                        system->sleepFd =
                            qdbus_cast<QDBusUnixFileDescriptor>(reply.arguments().value(0));
                    }
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
    os.screenPending =
        ask(QDBusConnection::sessionBus(), screenSaverCall(QStringLiteral("Inhibit")) << app << why,
            "no session bus, the screen may go dark:", this, [this](const QDBusMessage& reply) {
                system->screenPending = false;
                if (reply.type() != QDBusMessage::ReplyMessage) {
                    return;
                }
                const quint32 cookie = reply.arguments().value(0).toUInt();
                if (screenWanted) {
                    system->screenHeld = true;
                    system->screenCookie = cookie;
                } else {
                    unInhibitScreen(cookie);
                }
            });
#else
    Q_UNUSED(why)
    qDebug() << "keep awake: no" << nameOf(kind) << "lock on this system" << held;
#endif
}
