#pragma once

#include <QObject>
#include <functional>

class MpvController;
class PlayerControlBar;

// Volume, mute and speed of the player: the bar's controls, mpv, and the settings that keep
// them across windows and restarts.
class PlayerSound : public QObject
{
    Q_OBJECT
public:
    using Read = std::function<QString(const QString&)>;
    using Write = std::function<void(const QString&, const QString&)>;

    PlayerSound(PlayerControlBar* bar, MpvController* mpv, Read setting, Write setSetting,
                QObject* parent);

    // The kept volume, mute and speed, on the bar and in mpv.
    void restore();

    // The volume slider's value (0..10); ignored while muted.
    void setVolume(int value);
    void stepVolume(int step);
    void mute();
    void unmute();
    int volume() const;
    bool isMuted() const;

    // One of the offered speeds; false (nothing changed) for another.
    bool setSpeed(double factor);
    bool stepSpeed(int step);
    double speed() const;

private:
    void store();

    PlayerControlBar* bar;
    MpvController* mpv;
    Read setting;
    Write setSetting;
    int savedVolume = 5;
};
