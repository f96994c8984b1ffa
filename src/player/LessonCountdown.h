#pragma once

#include <QObject>

class QTimer;

// The seconds before the next lesson starts by itself. It fires at most once per start: at
// zero, or at once on playNow(); cancel() and a second playNow() do nothing after that.
class LessonCountdown : public QObject
{
    Q_OBJECT
public:
    explicit LessonCountdown(QObject* parent = nullptr);

    // How long one step of the count lasts; tests shorten it.
    static void setStepMs(int ms);

    void start(int seconds);
    void playNow();
    void cancel();
    bool isRunning() const { return running; }
    int remaining() const { return left; }

signals:
    void ticked(int secondsLeft);
    void fired();

private:
    void step();

    QTimer* timer;
    int left = 0;
    bool running = false;
};
