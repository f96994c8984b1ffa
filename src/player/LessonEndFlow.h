#pragma once

#include <QObject>
#include <functional>

class LessonCountdown;
class NextLessonOverlay;
class PlaybackSession;
class PlayerControlBar;

// What follows the lessons in the window: "上一讲" / "下一讲" with their titles, and at a
// lesson's end the countdown to the next one, or "本课程已学完".
class LessonEndFlow : public QObject
{
    Q_OBJECT
public:
    // Seconds the next lesson is counted down from.
    static constexpr int countdownSeconds = 5;

    // `autoPlayNext` reads the setting at each end.
    LessonEndFlow(PlaybackSession* session, PlayerControlBar* bar, NextLessonOverlay* overlay,
                  std::function<bool()> autoPlayNext, QObject* parent);

    LessonCountdown* countdown() const { return timer; }
    // The lesson played to its end, `durationMs` long.
    void lessonEnded(qint64 durationMs);
    // The countdown stopped and the overlay gone; true when a countdown was running.
    bool cancel();
    // Whether the overlay or the countdown speaks for the end.
    bool isShowing() const;
    void updateButtons();

signals:
    // The lesson at this index of the session's course is to play.
    void playIndex(int index);
    void replay();

private:
    PlaybackSession* session;
    PlayerControlBar* bar;
    NextLessonOverlay* overlay;
    std::function<bool()> autoPlayNext;
    LessonCountdown* timer;
    int target = -1;
};
