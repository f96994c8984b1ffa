#pragma once

#include <QString>
#include <QStringList>
#include <functional>

// Start with the operating system, the free space of a drive, and the system shutdown.
// Windows uses the per-user run key, GetDiskFreeSpaceExW and shutdown.exe; Linux an XDG
// autostart entry, the file-system statistics and systemd's power-off.
class SystemServices
{
public:
    // Starts a program without waiting for it; true when it could be started.
    using Launcher = std::function<bool(const QString& program, const QStringList& arguments)>;

    // `name` names the entry (the executable's base name), `programPath` is what it starts.
    static bool setAutoRun(bool on, const QString& name, const QString& programPath);
    static bool isAutoRunEntryPresent(const QString& name);
    // "T-F": total and free size of the drive holding `path`, in whole GiB; empty on failure.
    static QString diskSpace(const QString& path);
    static void shutdown();
    // Starts a downloaded program: on Windows the file itself, elsewhere through the desktop's
    // handler for its type. True when it could be started.
    static bool openFile(const QString& path);

    // The heap policy of a long-running process that opens and closes a video player.
    // Decoded frames are large blocks freed on mpv's threads; with glibc's defaults they land
    // in up to sixteen per-thread arenas that keep the memory, and each opening of a lesson
    // left megabytes behind. setUpHeap() limits the arenas: first in main, before any thread
    // starts. setUpHeapForVideo() keeps large blocks mapped on their own: before the first
    // player, not at start, where it would cost every start-up many mappings of large blocks.
    static void setUpHeap();
    static void setUpHeapForVideo();
    // Gives the heap that has been freed back to the system (after the player has gone).
    static void releaseFreedMemory();
    // User and system time of the whole process so far, every thread, in milliseconds.
    static double processCpuMs();

    // Test seams. Tests replace the launcher so that nothing is ever powered off, and point the
    // autostart folder into their own sandbox.
    static void setLauncher(Launcher launcher);
    static void setAutostartDir(const QString& dir);
    static QString autostartDir();
};
