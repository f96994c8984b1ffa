#include "LogFile.h"

#include "LogMask.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <cstdio>
#include <mutex>

namespace {
struct State
{
    std::mutex mutex;
    QString path;
    QFile file;
    QtMessageHandler previous = nullptr;
    bool installed = false;
};

State& state()
{
    static State s;
    return s;
}

void rotate(State& s)
{
    s.file.close();
    const QString older = s.path + QStringLiteral(".1");
    QFile::remove(older);
    QFile::rename(s.path, older);
}

void handler(QtMsgType type, const QMessageLogContext& context, const QString& message)
{
    State& s = state();
    const QString line = LogFile::format(type, message);
    {
        std::lock_guard<std::mutex> lock(s.mutex);
        if (!s.file.isOpen() && !s.path.isEmpty()) {
            QDir().mkpath(QFileInfo(s.path).absolutePath());
            s.file.setFileName(s.path);
            s.file.open(QIODevice::WriteOnly | QIODevice::Append);
        }
        if (s.file.isOpen()) {
            s.file.write(line.toUtf8() + '\n');
            s.file.flush();
            if (s.file.size() > LogFile::maxBytes) {
                rotate(s);
            }
        }
    }
    if (s.previous) {
        s.previous(type, context, LogMask::text(message));
    } else {
        std::fprintf(stderr, "%s\n", LogMask::text(message).toLocal8Bit().constData());
    }
}
} // namespace

void LogFile::install(const QString& path)
{
    State& s = state();
    {
        std::lock_guard<std::mutex> lock(s.mutex);
        s.file.close();
        s.path = path;
    }
    if (!s.installed) {
        s.previous = qInstallMessageHandler(handler);
        s.installed = true;
    }
}

void LogFile::uninstall()
{
    State& s = state();
    if (s.installed) {
        qInstallMessageHandler(s.previous);
        s.installed = false;
    }
    std::lock_guard<std::mutex> lock(s.mutex);
    s.file.close();
    s.path.clear();
}

QString LogFile::path()
{
    State& s = state();
    std::lock_guard<std::mutex> lock(s.mutex);
    return s.path;
}

QString LogFile::format(QtMsgType type, const QString& message)
{
    static const char* const levels[] = {"debug", "warning", "critical", "fatal", "info"};
    const int index = int(type) >= 0 && int(type) < 5 ? int(type) : 0;
    return QDateTime::currentDateTime().toString(QStringLiteral("yyyy-MM-dd HH:mm:ss.zzz")) +
           QLatin1Char(' ') + QLatin1String(levels[index]) + QLatin1Char(' ') +
           LogMask::text(message);
}
