#pragma once

#include <QWidget>

class QPushButton;

// The dark overlay over a queued lesson's tile: "暂停中" while downloads are paused, else
// "等待中", "缓存失败", or the speed, the sizes and a pie that grows clockwise with the
// progress.
class FormMaskBtn : public QWidget
{
    Q_OBJECT
public:
    enum State { Progress = 3, Waiting = 4, Failed = 5 };

    explicit FormMaskBtn(QWidget* parent = nullptr);

    // `percent` of the lesson is stored; the pie is at least one sixteenth of a degree.
    void setState(int state, float percent);
    int currentState() const { return state; }
    int pieSpan() const { return span; }

    // "1.50MB/s" or "1024.00KB/s" from KB/s.
    static QString speedText(float speedKB);
    // "512.00KB/123.50MB": the stored amount in KB, the lesson's size in MB.
    static QString sizeText(float sizeKB, float totalMB);
    // What the overlay shows now in its status line: "暂停中", "等待中", "缓存失败", or the
    // speed while in progress.
    QString statusText() const;

    float speed = 0;
    float size = 0;
    float totalSize = 0;

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    // The icon buttons are made the first time the overlay paints: most tiles of a long list
    // are never scrolled into view.
    void showIcon(const QString& name);

    int state = Waiting;
    const int fullAngle = 5760;
    int span = 0;
    QPushButton* btnWait = nullptr;
    QPushButton* btnPauseKejian = nullptr;
    QPushButton* btnFail = nullptr;
};
