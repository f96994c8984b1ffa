#pragma once

#include <QObject>
#include <QString>
#include <atomic>
#include <initializer_list>

class MpvLibrary;
struct mpv_handle;
struct mpv_event;

// One libmpv instance without any widget: options, commands and the observed playback state.
// mpv calls its wakeup callback from its own threads; that only posts a queued call, and the
// events are drained here on the GUI thread. The video goes to a render context that MpvWidget
// creates on handle(); that context must be freed before this object goes. Nothing here
// calls mpv synchronously: with a render context, mpv's core may wait for the GUI thread.
class MpvController : public QObject
{
    Q_OBJECT
public:
    explicit MpvController(QObject* parent = nullptr);
    ~MpvController() override;

    // False when mpv could not be created or initialised (errorString() says why).
    bool isValid() const { return mpv != nullptr; }
    QString errorString() const { return setupError; }
    mpv_handle* handle() const { return mpv; }
    // The library's functions; valid whenever isValid() is.
    const MpvLibrary* library() const { return api; }

    // Starts `file` (a playlist) from the beginning, replacing what plays.
    void load(const QString& file);
    // Loaded and not at its end: the state in which pausing and seeking mean something.
    bool isPlaying() const { return loaded && !atEnd; }
    bool isLoaded() const { return loaded; }
    bool isPaused() const { return paused; }
    void setPaused(bool pause);
    // Plays the current file again from the start (after its end, or after stop()).
    void restart();
    void stop();
    // Exact seek to an absolute position.
    void seek(qint64 ms);
    // A seek was asked for and mpv has not yet played on from its target.
    bool isSeeking() const { return seekRequested; }
    qint64 position() const { return positionMs; }
    qint64 duration() const { return durationMs; }
    // 0.0 .. 1.0 of full volume.
    void setVolume(double level);
    void setMuted(bool mute);
    bool isMuted() const { return muted; }
    void setSpeed(double factor);
    // The speed mpv plays at, as it last reported it.
    double speed() const { return speedFactor; }

signals:
    void started();
    void positionChanged(qint64 ms);
    // The length, as soon as mpv knows it (after started() too, should it change).
    void durationChanged(qint64 ms);
    void pausedChanged(bool paused);
    void endReached();
    // The last seek asked for has landed: playback goes on from its target (or mpv refused it).
    void seekFinished();
    // mpv's reason for a file that could not be played.
    void error(QString reason);

private:
    Q_INVOKABLE void drainEvents();
    void handleEvent(const mpv_event& event);
    void announceStart();
    void command(std::initializer_list<const char*> args, uint64_t tag = 0);
    // Asynchronous property writes; mpv copies the value at once.
    void setFlag(const char* name, bool on);
    void setNumber(const char* name, double value);
    static void wakeup(void* context);

    const MpvLibrary* api = nullptr;
    mpv_handle* mpv = nullptr;
    QString setupError;
    QString current;
    bool loaded = false;
    bool atEnd = false;
    bool startPending = false;
    bool paused = false;
    bool muted = false;
    bool seekRequested = false;
    bool seekRunning = false;            // mpv has begun the requested seek
    std::atomic_bool drainQueued{false}; // set by mpv's threads
    double speedFactor = 1.0;
    qint64 positionMs = 0;
    qint64 durationMs = 0;
};
