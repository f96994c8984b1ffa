#pragma once

#include <QObject>

class MpvController;
class PlaybackSession;
class PlayerControlBar;
class PlayerTips;
class QTimer;

// The lesson's time in the window: the groove and the clock follow mpv, a press or a drag on
// the groove jumps, the remembered place is jumped to once the lesson has started ("已跳转至
// 上次播放时间" when it has landed), and the position is written every `saveMs` while playing.
class PlayerTimeline : public QObject
{
    Q_OBJECT
public:
    PlayerTimeline(MpvController* mpv, PlaybackSession* playback, PlayerControlBar* bar,
                   PlayerTips* tips, int saveMs, QObject* parent = nullptr);

    // A new lesson loads: no jump of the last one is told any more.
    void loading();
    // The lesson has started: its length shown, the saving begun, the remembered place asked.
    void started();
    // Seconds from the start; nothing before a lesson is loaded.
    void seek(int seconds);
    // Seconds from here, kept within the lesson.
    void step(int seconds);
    void savePosition();
    void stop();

private:
    void showDuration();
    void updateSlider();

    MpvController* mpv;
    PlaybackSession* playback;
    PlayerControlBar* bar;
    PlayerTips* tips;
    QTimer* saveTimer;
    bool jumpTipPending = false;
};
