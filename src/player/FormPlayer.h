#pragma once

#include "CourseRecord.h"
#include "StyledWidget.h"

#include <QPoint>
#include <QPointer>
#include <QSize>
#include <QWidget>
#include <optional>

class HttpHelper;
class MpvController;
class MpvWidget;
class OnlinePlaylist;
class PlayerTitleBar;
class QComboBox;
class QLabel;
class QPushButton;
class QTemporaryFile;
class QTimer;
class Slider;

// The video player window: one lesson, online or from the store, with its own title bar and
// control bar (background from the style sheet), the remembered position, learning-status reports
// and the download button.
class FormPlayer : public StyledWidget
{
    Q_OBJECT
public:
    // The lecture speeds offered, slowest first.
    static const QList<double> speeds;

    explicit FormPlayer(const QString& title, QWidget* parent = nullptr);
    ~FormPlayer() override;

    // False when no video renderer could be made: the window is then neither built nor shown.
    bool isBuilt() const { return built; }

    // Lesson `lid` of course `cid`: from the store when it is downloaded, else online.
    void playLesson(const QString& cid, const QString& lid, const QString& c_type);
    // The downloaded lesson stored in `dir`.
    void playLocal(const QString& dir);

    // How often the position is written while playing; tests shorten it.
    static void setPositionSaveInterval(int ms);
    // In full screen, how long the bars and the cursor stay after the mouse last moved; tests
    // shorten it.
    static void setControlsHideDelay(int ms);
    static int controlsHideDelay();

    void setSpeed(double factor);
    double speed() const;

    // For tests and benchmarks: what plays and how.
    MpvController* controller() const { return mpv; }
    MpvWidget* videoWidget() const { return video; }
    const std::optional<CourseRecord>& currentCourse() const { return course; }
    const LessonRecord* currentLesson() const;
    // The lesson now loaded, once its playlist has come.
    const QString& lesson() const { return lessonId; }

public slots:
    void onMax();
    void onNormal();

private slots:
    void updateSlider();
    void seek(int value);
    void playPause();
    void normalFullScreen();
    void onBtnVolumnClick();
    void onBtnNoVolumClick();
    void onPlayerStart();
    void onVolumnSlider(int value);
    void onBtnDownClick();
    void onBtnStudyClick();
    void httpGetMyCourseInfoDone(const QString& result);
    void httpPushLearnStateDone(const QString& result);
    void onError(const QString& reason);

protected:
    void timerEvent(QTimerEvent* event) override;
    void mouseDoubleClickEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void closeEvent(QCloseEvent* event) override;

private:
    void build(const QString& title);
    void showTip(const QString& text);
    void showLoadText(const QString& text);
    // The lesson's own title ("课件N ..."), once its record is known.
    void showLessonTitle(const QString& title);
    // Full screen: the bars and the cursor come back on a mouse move and go after a pause.
    void mouseMovedOverVideo(const QPoint& globalPos);
    void showControls();
    void hideIdleControls();
    void playOnline(const QString& playlist, const QString& cid, const QString& lid);
    void playFile(const QByteArray& playlist);
    void pushLearnStatus(const QString& status);
    void savePosition();
    void stepSpeed(int step);
    void updatePauseButtons();
    // The slider's range and the total time, from the length mpv reports.
    void showDuration();
    LessonRecord* lessonRecord();

    MpvController* mpv = nullptr;
    MpvWidget* video = nullptr;
    Slider* progress = nullptr;
    Slider* volume = nullptr;
    QLabel* lbltime1 = nullptr;
    QLabel* lbltime2 = nullptr;
    QPushButton* btnVolumn = nullptr;
    QPushButton* btnNoVolumn = nullptr;
    QPushButton* btnPlay = nullptr;
    QPushButton* btnPause = nullptr;
    QPushButton* btnStudy = nullptr;
    QPushButton* btnDown = nullptr;
    QPushButton* btnScreen = nullptr;
    QPushButton* btnRecovery = nullptr;
    QComboBox* speedBox = nullptr;
    QWidget* bar = nullptr;
    PlayerTitleBar* titleBar = nullptr;
    QLabel* labelLoad = nullptr;
    QLabel* labelTip = nullptr;
    QPushButton* btnBigStart = nullptr;
    bool built = false;
    bool fullScreen = false;
    QString durationText;
    int savedVolume = 5;
    int barHeight = 50;
    QSize normalSize{-1, -1};
    QPoint normalPos{0, 0};
    int tipTicks = 0;
    int tipTimer = 0;
    bool jumpTipPending = false;
    // The jump to the remembered place was asked for and has not landed yet.
    bool jumpPending = false;
    bool studyPushed = false;
    // Playback has started at least once: only then does the position mean something.
    bool hasStarted = false;
    QString classId;
    QString lessonId;
    QString lessonType;
    HttpHelper* courseInfo = nullptr;
    HttpHelper* learnState = nullptr;
    OnlinePlaylist* onlinePlaylist = nullptr;
    QTimer* saveTimer = nullptr;
    QTimer* hideTimer = nullptr;
    QPoint lastMousePos;
    QTemporaryFile* playlistFile = nullptr;
    // The lesson's course: the stored record when the course is in the store, else the one
    // built from the course-information answer. `lessonIndex` points into its list.
    std::optional<CourseRecord> course;
    int lessonIndex = -1;
};
