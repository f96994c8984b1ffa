#include "SystemServices.h"

#include <QDebug>
#include <QDir>
#include <QProcess>
#include <QSaveFile>
#include <QStandardPaths>
#include <QStorageInfo>

#ifdef Q_OS_WIN
#include <QSettings>
#include <malloc.h>
#include <windows.h>
#elif defined(__GLIBC__)
#include <malloc.h>
#endif
#ifndef Q_OS_WIN
#include <sys/resource.h>
#endif

namespace {

SystemServices::Launcher& launcher()
{
    static SystemServices::Launcher current = [](const QString& program, const QStringList& args) {
        return QProcess::startDetached(program, args);
    };
    return current;
}

bool& launcherReplaced()
{
    static bool replaced = false;
    return replaced;
}

QString& autostartOverride()
{
    static QString dir;
    return dir;
}

#ifndef Q_OS_WIN
QString desktopEntryPath(const QString& name)
{
    return SystemServices::autostartDir() + QLatin1Char('/') + name + QStringLiteral(".desktop");
}

// Desktop entries quote an argument that holds blanks; quotes and back slashes are escaped.
QString desktopExec(const QString& program)
{
    QString escaped = program;
    escaped.replace(QLatin1Char('\\'), QStringLiteral("\\\\"))
        .replace(QLatin1Char('"'), QStringLiteral("\\\""))
        .replace(QLatin1Char('`'), QStringLiteral("\\`"))
        .replace(QLatin1Char('$'), QStringLiteral("\\$"));
    return QLatin1Char('"') + escaped + QLatin1Char('"');
}
#endif

} // namespace

void SystemServices::setLauncher(Launcher value)
{
    launcher() = std::move(value);
    launcherReplaced() = true;
}

void SystemServices::setAutostartDir(const QString& dir)
{
    autostartOverride() = dir;
}

QString SystemServices::autostartDir()
{
    if (!autostartOverride().isEmpty()) {
        return autostartOverride();
    }
    return QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation) +
           QStringLiteral("/autostart");
}

bool SystemServices::setAutoRun(bool on, const QString& name, const QString& programPath)
{
#ifdef Q_OS_WIN
    QSettings run(
        QStringLiteral("HKEY_CURRENT_USER\\Software\\Microsoft\\Windows\\CurrentVersion\\Run"),
        QSettings::NativeFormat);
    if (on) {
        run.setValue(name, QDir::toNativeSeparators(programPath));
    } else {
        run.remove(name);
    }
    run.sync();
    return run.status() == QSettings::NoError;
#else
    const QString path = desktopEntryPath(name);
    if (!on) {
        return !QFile::exists(path) || QFile::remove(path);
    }
    if (!QDir().mkpath(autostartDir())) {
        return false;
    }
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly)) {
        return false;
    }
    const QString entry = QStringLiteral("[Desktop Entry]\nType=Application\nName=") + name +
                          QStringLiteral("\nExec=") + desktopExec(programPath) +
                          QStringLiteral("\nX-GNOME-Autostart-enabled=true\n");
    file.write(entry.toUtf8());
    return file.commit();
#endif
}

bool SystemServices::isAutoRunEntryPresent(const QString& name)
{
#ifdef Q_OS_WIN
    QSettings run(
        QStringLiteral("HKEY_CURRENT_USER\\Software\\Microsoft\\Windows\\CurrentVersion\\Run"),
        QSettings::NativeFormat);
    return run.contains(name);
#else
    return QFile::exists(desktopEntryPath(name));
#endif
}

QString SystemServices::diskSpace(const QString& path)
{
#ifdef Q_OS_WIN
    ULARGE_INTEGER available, total, free;
    if (!GetDiskFreeSpaceExW(reinterpret_cast<LPCWSTR>(path.utf16()), &available, &total, &free)) {
        qDebug() << "ERROR: Call to GetDiskFreeSpaceEx() failed.";
        return QString();
    }
    return QString::number(total.QuadPart >> 30) + QLatin1Char('-') +
           QString::number(free.QuadPart >> 30);
#else
    const QStorageInfo storage(path);
    if (!QFileInfo::exists(path) || !storage.isValid() || !storage.isReady()) {
        qDebug() << "ERROR: disk space query failed for" << path;
        return QString();
    }
    return QString::number(quint64(storage.bytesTotal()) >> 30) + QLatin1Char('-') +
           QString::number(quint64(storage.bytesFree()) >> 30);
#endif
}

bool SystemServices::openFile(const QString& path)
{
    // A test that forgot its seam must never run what it downloaded.
    if (QStandardPaths::isTestModeEnabled() && !launcherReplaced()) {
        qDebug() << "open: refused in test mode" << path;
        return false;
    }
#ifdef Q_OS_WIN
    return launcher()(QDir::toNativeSeparators(path), QStringList());
#else
    return launcher()(QStringLiteral("xdg-open"), {path});
#endif
}

void SystemServices::shutdown()
{
#ifdef Q_OS_WIN
    const QString program = QStringLiteral("C:/WINDOWS/system32/shutdown.exe");
    const QStringList arguments{QStringLiteral("-s")};
#else
    // logind decides whether this user may power off; systemctl asks it.
    const QString program = QStringLiteral("systemctl");
    const QStringList arguments{QStringLiteral("poweroff")};
#endif
    // A test that forgot its seam must never switch the machine off.
    if (QStandardPaths::isTestModeEnabled() && !launcherReplaced()) {
        qDebug() << "shutdown: refused in test mode";
        return;
    }
    if (!launcher()(program, arguments)) {
        qDebug() << "shutdown: could not start" << program;
    }
}

void SystemServices::setUpHeap()
{
#if defined(__GLIBC__)
    // Four arenas are plenty for two threads of our own and the libraries'; fewer arenas
    // leave less free memory scattered where a trim cannot return it.
    mallopt(M_ARENA_MAX, 4);
#endif
    // Windows' heap decommits freed pages itself.
}

void SystemServices::setUpHeapForVideo()
{
#if defined(__GLIBC__)
    // A fixed threshold keeps large blocks mapped on their own, so freeing one unmaps it
    // (glibc would otherwise raise the threshold on every such free).
    mallopt(M_MMAP_THRESHOLD, 128 * 1024);
#endif
}

void SystemServices::releaseFreedMemory()
{
#ifdef Q_OS_WIN
    _heapmin();
#elif defined(__GLIBC__)
    malloc_trim(0);
#endif
}

double SystemServices::processCpuMs()
{
#ifdef Q_OS_WIN
    FILETIME created, ended, kernel, user;
    if (!GetProcessTimes(GetCurrentProcess(), &created, &ended, &kernel, &user)) {
        return -1;
    }
    auto ms = [](const FILETIME& t) {
        return ((static_cast<quint64>(t.dwHighDateTime) << 32) | t.dwLowDateTime) / 1e4;
    };
    return ms(kernel) + ms(user);
#else
    rusage usage{};
    if (getrusage(RUSAGE_SELF, &usage) != 0) {
        return -1;
    }
    return (usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) * 1e3 +
           (usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e3;
#endif
}
