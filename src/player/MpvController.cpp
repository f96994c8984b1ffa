#include "MpvController.h"

#include "LogMask.h"
#include "MpvLibrary.h"
#include "TlsTrust.h"

#include <QByteArray>
#include <QDebug>
#include <QFile>
#include <QStringList>
#include <clocale>
#include <utility>
#include <vector>

namespace {

enum Observed : uint64_t { TimePos = 1, Duration, Pause, EofReached, Speed };
// The reply tag of seek commands.
constexpr uint64_t seekTag = 100;

const std::pair<const char*, const char*> fixedOptions[] = {
    // Nothing of the user's own mpv set-up, no window, no keys, no scripts: the player
    // window is the whole user interface.
    {"config", "no"},
    {"terminal", "no"},
    {"osc", "no"},
    {"input-default-bindings", "no"},
    {"input-vo-keyboard", "no"},
    {"load-scripts", "no"},
    {"ytdl", "no"},
    {"idle", "yes"},
    // The end of a lecture keeps the last picture and the controls; play starts it again.
    {"keep-open", "yes"},
    {"hwdec", "auto-safe"},
    // An online lecture is read ahead about a minute or two, not mpv's default of 150 MB
    // ahead and 50 MB behind: an hour's lecture would otherwise end up in memory.
    {"demuxer-max-bytes", "32MiB"},
    {"demuxer-max-back-bytes", "16MiB"},
    {"vo", "libmpv"},
    // Every file handed over is an HLS playlist: a local one with segments on disk and its
    // key on the key-file server, or an online one. Forcing the format stops mpv from trying
    // the lines of a broken playlist as files of their own.
    {"demuxer-lavf-format", "hls"},
    {"demuxer-lavf-o", "protocol_whitelist=[file,http,https,tcp,tls,crypto,data]"},
    // ffmpeg takes any certificate unless told to verify; mpv hands this (and the CA file)
    // on to the playlist's nested key and segment requests as well.
    {"tls-verify", "yes"},
};

void setOption(const MpvLibrary* api, mpv_handle* mpv, const char* name, const char* value)
{
    const int result = api->set_option_string(mpv, name, value);
    if (result < 0) {
        qDebug() << "mpv option" << name << "refused:" << api->error_string(result);
    }
}

} // namespace

MpvController::MpvController(QObject* parent) : QObject(parent)
{
    api = MpvLibrary::instance();
    if (!api) {
        setupError = QStringLiteral("libmpv: ") + MpvLibrary::errorString();
        return;
    }
    // mpv refuses to start unless numbers are written the C way, and the toolkit takes the
    // desktop's locale at start (a Chinese desktop, for one). Programs that build their own
    // application object, the tests among them, come here too.
    std::setlocale(LC_NUMERIC, "C");
    mpv = api->create();
    if (!mpv) {
        setupError = QStringLiteral("mpv_create failed");
        return;
    }
    for (const auto& [name, value] : fixedOptions) {
        setOption(api, mpv, name, value);
    }
    if (const QString caFile = TlsTrust::caFileForPlayer(); !caFile.isEmpty()) {
        setOption(api, mpv, "tls-ca-file", QFile::encodeName(caFile).constData());
    }

    // For test machines without sound or video hardware, e.g. "ao=null,hwdec=no".
    const QStringList extra =
        qEnvironmentVariable("TAMIX_MPV_OPTIONS").split(QLatin1Char(','), Qt::SkipEmptyParts);
    for (const QString& option : extra) {
        const int equals = option.indexOf(QLatin1Char('='));
        if (equals > 0) {
            setOption(api, mpv, option.left(equals).toUtf8().constData(),
                      option.mid(equals + 1).toUtf8().constData());
        }
    }

    if (const int result = api->initialize(mpv); result < 0) {
        setupError = QString::fromUtf8(api->error_string(result));
        api->terminate_destroy(mpv);
        mpv = nullptr;
        return;
    }
    api->request_log_messages(mpv, "warn");
    api->observe_property(mpv, TimePos, "time-pos", MPV_FORMAT_DOUBLE);
    api->observe_property(mpv, Duration, "duration", MPV_FORMAT_DOUBLE);
    api->observe_property(mpv, Pause, "pause", MPV_FORMAT_FLAG);
    api->observe_property(mpv, EofReached, "eof-reached", MPV_FORMAT_FLAG);
    api->observe_property(mpv, Speed, "speed", MPV_FORMAT_DOUBLE);
    api->set_wakeup_callback(mpv, &MpvController::wakeup, this);
}

MpvController::~MpvController()
{
    if (mpv) {
        api->set_wakeup_callback(mpv, nullptr, nullptr);
        api->terminate_destroy(mpv);
    }
}

void MpvController::wakeup(void* context)
{
    // Called on one of mpv's threads: no mpv call here, only one queued drain at a time.
    auto* self = static_cast<MpvController*>(context);
    if (!self->drainQueued.exchange(true)) {
        QMetaObject::invokeMethod(self, "drainEvents", Qt::QueuedConnection);
    }
}

void MpvController::drainEvents()
{
    drainQueued = false;
    while (mpv) {
        const mpv_event* event = api->wait_event(mpv, 0);
        if (event->event_id == MPV_EVENT_NONE) {
            break;
        }
        handleEvent(*event);
    }
}

void MpvController::handleEvent(const mpv_event& event)
{
    switch (event.event_id) {
    case MPV_EVENT_FILE_LOADED:
        // Started once the duration is known; it arrives as a property change. (Reading it
        // here would wait for mpv's core, which may itself wait for this thread to render.)
        loaded = true;
        atEnd = false;
        startPending = true;
        break;
    case MPV_EVENT_END_FILE: {
        const auto* end = static_cast<const mpv_event_end_file*>(event.data);
        loaded = false;
        seekRequested = seekRunning = false;
        if (end->reason == MPV_END_FILE_REASON_ERROR) {
            emit error(QString::fromUtf8(api->error_string(end->error)));
        }
        break;
    }
    case MPV_EVENT_SEEK:
        seekRunning = seekRequested;
        break;
    case MPV_EVENT_PLAYBACK_RESTART:
        // Also sent when a file starts: only one after the requested seek began counts.
        if (seekRunning) {
            seekRequested = seekRunning = false;
            emit seekFinished();
        }
        break;
    case MPV_EVENT_COMMAND_REPLY:
        if (event.reply_userdata == seekTag && event.error < 0 && seekRequested) {
            seekRequested = seekRunning = false;
            emit seekFinished();
        }
        break;
    case MPV_EVENT_LOG_MESSAGE: {
        const auto* message = static_cast<const mpv_event_log_message*>(event.data);
        qDebug().noquote() << "mpv" << message->prefix << message->level
                           << LogMask::text(QString::fromUtf8(message->text).trimmed());
        break;
    }
    case MPV_EVENT_PROPERTY_CHANGE: {
        const auto* property = static_cast<const mpv_event_property*>(event.data);
        if (property->format == MPV_FORMAT_DOUBLE) {
            const qint64 ms = qint64(*static_cast<const double*>(property->data) * 1000);
            if (event.reply_userdata == TimePos) {
                positionMs = ms;
                // mpv reports the position first: waiting for the length keeps the window from
                // starting with a total time of 00:00. A stream whose length never comes still
                // starts once it plays.
                if (durationMs > 0 || ms >= 1000) {
                    announceStart();
                }
                emit positionChanged(ms);
            } else if (event.reply_userdata == Duration) {
                durationMs = ms;
                emit durationChanged(ms);
                announceStart();
            } else if (event.reply_userdata == Speed) {
                speedFactor = *static_cast<const double*>(property->data);
            }
        } else if (property->format == MPV_FORMAT_FLAG) {
            const bool on = *static_cast<const int*>(property->data) != 0;
            if (event.reply_userdata == Pause && on != paused) {
                paused = on;
                emit pausedChanged(on);
            } else if (event.reply_userdata == EofReached && on != atEnd) {
                atEnd = on;
                if (on) {
                    emit endReached();
                }
            }
        }
        break;
    }
    default:
        break;
    }
}

void MpvController::announceStart()
{
    if (startPending && loaded) {
        startPending = false;
        emit started();
    }
}

void MpvController::command(std::initializer_list<const char*> args, uint64_t tag)
{
    if (!mpv) {
        return;
    }
    std::vector<const char*> list(args);
    list.push_back(nullptr);
    // Asynchronous: the GUI thread never waits for mpv's core.
    const int result = api->command_async(mpv, tag, list.data());
    if (result < 0) {
        qDebug() << "mpv command" << list.front() << "failed:" << api->error_string(result);
    }
}

void MpvController::load(const QString& file)
{
    current = file;
    loaded = false;
    atEnd = false;
    positionMs = 0;
    durationMs = 0;
    seekRequested = seekRunning = false;
    setPaused(false);
    command({"loadfile", QFile::encodeName(file).constData(), "replace"});
}

void MpvController::setFlag(const char* name, bool on)
{
    int flag = on ? 1 : 0;
    if (mpv) {
        api->set_property_async(mpv, 0, name, MPV_FORMAT_FLAG, &flag);
    }
}

void MpvController::setNumber(const char* name, double value)
{
    if (mpv) {
        api->set_property_async(mpv, 0, name, MPV_FORMAT_DOUBLE, &value);
    }
}

void MpvController::setPaused(bool pause)
{
    setFlag("pause", pause);
    paused = pause;
}

void MpvController::restart()
{
    if (loaded) {
        seek(0);
        setPaused(false);
    } else if (!current.isEmpty()) {
        load(current);
    }
}

void MpvController::stop()
{
    command({"stop"});
    loaded = false;
    seekRequested = seekRunning = false;
}

void MpvController::seek(qint64 ms)
{
    const QByteArray seconds = QByteArray::number(double(ms) / 1000.0, 'f', 3);
    if (!mpv) {
        return;
    }
    seekRequested = true;
    seekRunning = false;
    command({"seek", seconds.constData(), "absolute+exact"}, seekTag);
}

void MpvController::setVolume(double level)
{
    setNumber("volume", qBound(0.0, level, 1.0) * 100.0);
}

void MpvController::setMuted(bool mute)
{
    setFlag("mute", mute);
    muted = mute;
}

void MpvController::setSpeed(double factor)
{
    setNumber("speed", factor);
}
