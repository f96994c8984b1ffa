#pragma once

#include <QString>

// The log a student can send to support: every debug line, secrets masked, appended to a file
// in the data folder that starts over beside one older generation once it passes `maxBytes`.
// Lines still go to the standard error stream as well.
class LogFile
{
public:
    static constexpr qint64 maxBytes = 2 * 1024 * 1024;

    // Installs the message handler; the file is opened on the first line.
    static void install(const QString& path);
    // Restores the previous handler and closes the file.
    static void uninstall();
    static QString path();
    // One line as it goes to the file (time, level, masked text), without the line end.
    static QString format(QtMsgType type, const QString& message);
};
