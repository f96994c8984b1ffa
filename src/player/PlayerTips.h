#pragma once

#include <QObject>

class QLabel;
class QWidget;

// The player's two texts over the video: the centred status ("正在加载课程", "正在跳转",
// "加载失败") and the tip near the bottom that goes after 3 s.
class PlayerTips : public QObject
{
    Q_OBJECT
public:
    explicit PlayerTips(QWidget* window);

    void showLoad(const QString& text);
    void hideLoad();
    // An empty text is no tip.
    void showTip(const QString& text);
    // The tips count down from the first start of playback on.
    void startClock();
    // Back to their places after the window changed size.
    void place();

protected:
    void timerEvent(QTimerEvent* event) override;

private:
    QWidget* window;
    QLabel* labelLoad;
    QLabel* labelTip;
    int tipTicks = 0;
    int tipTimer = 0;
};
