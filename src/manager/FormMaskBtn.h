#pragma once

#include <QDateTime>
#include <QPixmap>
#include <QWidget>

class QPushButton;
class QTimer;

// The dark overlay over a queued lesson's tile: "暂停中" while downloads or this lesson are
// paused, else "等待中", "缓存失败" (with "重试"), "网络中断，等待重试" with the time of the next
// try, or the speed, the time left, the sizes and a pie that grows clockwise with the progress.
// The figures stay whatever the state, once known.
//
// It paints the tile's picture under its dark fill itself, so that a progress report repaints
// the overlay alone and nothing beneath it.
class FormMaskBtn : public QWidget
{
    Q_OBJECT
public:
    enum State { Progress = 3, Waiting = 4, Failed = 5, Stalled = 6, Held = 7 };

    // Where the pie and the figure lines are drawn.
    static constexpr QRect figuresArea{0, 30, 220, 82};

    explicit FormMaskBtn(QWidget* parent = nullptr);

    // `percent` of the lesson is stored; the pie is at least one sixteenth of a degree.
    void setState(int state, float percent);
    int currentState() const { return state; }
    int pieSpan() const { return span; }
    // The picture the overlay darkens.
    void setPicture(const QPixmap& picture);
    bool hasPicture() const { return !picture.isNull(); }

    // "1.50MB/s" or "1024.00KB/s" from KB/s.
    static QString speedText(float speedKB);
    // "512.00KB/123.50MB": the stored amount in KB, the lesson's size in MB.
    static QString sizeText(float sizeKB, float totalMB);
    // What the overlay shows now in its status line: "暂停中", "等待中", "缓存失败",
    // "网络中断，等待重试", or the speed (and the time left, once known) while in progress.
    QString statusText() const;
    // The sizes once known, else empty.
    QString detailText() const;
    // A waiting lesson's next try ("下次重试 14:05:32", "正在重试" once that time has come,
    // "重新登录后继续"), else empty.
    QString noteText() const;
    QPushButton* retryButton() const { return btnRetry; }

    float speed = 0;
    float size = 0;
    float totalSize = 0;
    int remaining = -1; // seconds, -1 while unknown
    QDateTime retryAt;  // null: after the next login
    bool hasFigures = false;

signals:
    void retryClicked();

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    // The icon buttons are made the first time the overlay paints: most tiles of a long list
    // are never scrolled into view.
    void showIcon(const QString& name);
    bool isPausedNow() const;

    int state = Waiting;
    const int fullAngle = 5760;
    int span = 0;
    QPixmap picture;
    QPixmap backdrop; // the picture darkened, made at the first paint
    QPushButton* btnWait = nullptr;
    QPushButton* btnPauseKejian = nullptr;
    QPushButton* btnFail = nullptr;
    QPushButton* btnRetry = nullptr;
    QTimer* retryTimer = nullptr;
};
