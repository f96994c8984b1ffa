#pragma once

#include <QString>

// The keys of "tamix.ini". Every reader compares the value with "1"; a missing key, "0", "2"
// or any other text means off.
namespace SettingKeys {
inline const QString autoRun = QStringLiteral("START/AUTORUN");      // "1" start with the system
inline const QString minToTray = QStringLiteral("MIN/SHOWPOSITION"); // "1" tray, "2" taskbar
inline const QString closeToTray = QStringLiteral("CLOSE/SHOWPOSITION"); // "1" tray, "2" quit
inline const QString videoPath = QStringLiteral("DOWNLOAD/Video_Path");  // the download root
// Every download folder used so far (a list): only store folders below them are ever deleted.
inline const QString usedVideoPaths = QStringLiteral("DOWNLOAD/Used_Paths");
inline const QString autoDownload = QStringLiteral("DOWNLOAD/AUTO");      // "1" resume by itself
inline const QString shutdownAfter = QStringLiteral("DOWNLOAD/SHUTDOWN"); // "1" power off when done
inline const QString tipAfter = QStringLiteral("DOWNLOAD/TIP"); // "1" tray notice when done
// Download speed limit in KB/s over all segment transfers; missing, "0" or not a number: none.
inline const QString rateLimit = QStringLiteral("DOWNLOAD/RATE_LIMIT");
// Keeps the computer from sleeping while lessons download. On unless "0": a student who never
// opened the settings expects the downloads to finish.
inline const QString keepAwake = QStringLiteral("DOWNLOAD/KEEP_AWAKE");
inline const QString resumePlayback = QStringLiteral("PLAYER/WATCHTIME"); // "1" resume position
inline const QString playerSpeed = QStringLiteral("PLAYER/SPEED");        // "0.75" .. "2"
inline const QString playerVolume = QStringLiteral("PLAYER/VOLUME");      // "0" .. "10"
inline const QString playerMute = QStringLiteral("PLAYER/MUTE");          // "1" muted
// The player window's last normal place, "x,y,w,h".
inline const QString playerPlace = QStringLiteral("PLAYER/PLACE");
// The next lesson follows by itself after a countdown; on unless "0".
inline const QString autoPlayNext = QStringLiteral("PLAYER/AUTONEXT");
inline const QString lastUser = QStringLiteral("APP/LASTUSER"); // last user name
// The main window's place and size when it was last closed: "x,y,width,height".
inline const QString windowGeometry = QStringLiteral("WINDOW/GEOMETRY");
} // namespace SettingKeys
