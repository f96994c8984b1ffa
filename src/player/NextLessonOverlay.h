#pragma once

#include "StyledWidget.h"

class QLabel;
class QPushButton;

// Over the video at the end of a lesson: the countdown to the next lesson with "立即播放" and
// "取消", or "本课程已学完" with "重新播放".
class NextLessonOverlay : public StyledWidget
{
    Q_OBJECT
public:
    explicit NextLessonOverlay(QWidget* parent);

    void showCountdown(int seconds, const QString& title);
    void showCourseDone();
    QString text() const;

signals:
    void playNowClicked();
    void cancelClicked();
    void replayClicked();

private:
    void place();

    QLabel* label;
    QPushButton* btnNow;
    QPushButton* btnCancel;
    QPushButton* btnReplay;
};
