#pragma once

#include <QWidget>

class QComboBox;
class QLabel;
class QPushButton;
class Slider;

// The player's control bar: its buttons, the two sliders, the time and the speed box, laid out
// in one row. It decides nothing; the window connects and drives its parts.
class PlayerControlBar : public QWidget
{
    Q_OBJECT
public:
    // The lecture speeds offered, slowest first.
    static const QList<double> speeds;
    static QString speedText(double factor);

    // The groove above, the buttons below.
    static constexpr int barHeight = 72;

    explicit PlayerControlBar(QWidget* parent);
    // The large round play button over the video, shown while paused.
    static QPushButton* bigStartButton(QWidget* video);
    // A button of the player's look: pointing hand, no focus (keys go to the window).
    static QPushButton* makeButton(const QString& name, QWidget* parent,
                                   const QString& text = QString());

    // The lesson's length, then the time played: the slider and "mm:ss" / "/mm:ss".
    void setDuration(qint64 seconds);
    void showTime(qint64 seconds);

    Slider* progress;
    Slider* volume;
    QLabel* lbltime1;
    QLabel* lbltime2;
    QPushButton* btnPlay;
    QPushButton* btnPause;
    QPushButton* btnPrev;
    QPushButton* btnNext;
    QPushButton* btnVolumn;
    QPushButton* btnNoVolumn;
    QPushButton* btnStudy;
    QPushButton* btnDown;
    QPushButton* btnMark;
    QPushButton* btnMarks;
    QPushButton* btnScreen;
    QPushButton* btnRecovery;
    QComboBox* speedBox;

private:
    QString durationText;
};
