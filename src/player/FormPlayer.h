#pragma once

#include "CourseRecord.h"
#include "StyledWidget.h"

#include <QHash>
#include <functional>
#include <memory>
#include <optional>

class BookmarkPanel;
class BookmarkStore;
class FullScreenControls;
class LessonEndFlow;
class LessonLoader;
class MpvController;
class MpvWidget;
class NextLessonOverlay;
class PlaybackSession;
class PlayerControlBar;
class PlayerPlacement;
class PlayerSound;
class PlayerTips;
class PlayerTimeline;
class PlayerTitleBar;
class QPushButton;

// The video player window: a lesson of a course, online or from the store, with its own title
// bar and control bar (background from the style sheet), the tips, full screen and the end of a
// lesson. What plays and what is remembered and reported is the PlaybackSession's.
class FormPlayer : public StyledWidget
{
    Q_OBJECT
public:
    // The lecture speeds offered, slowest first.
    static const QList<double>& speeds;

    explicit FormPlayer(const QString& title, QWidget* parent = nullptr);
    ~FormPlayer() override;

    // False when no video renderer could be made: the window is then neither built nor shown.
    bool isBuilt() const { return built; }

    // Lesson `lid` of course `cid`: from the store when it is downloaded, else online.
    void playLesson(const QString& cid, const QString& lid, const QString& c_type);
    // The downloaded lesson stored in `dir`.
    void playLocal(const QString& dir);
    // The lesson before or after this one in the course; false when there is none.
    bool playPrevious();
    bool playNext();

    // How often the position is written while playing; tests shorten it.
    static void setPositionSaveInterval(int ms);
    // In full screen, how long the bars and the cursor stay after the mouse last moved; tests
    // shorten it.
    static void setControlsHideDelay(int ms);
    static int controlsHideDelay();

    void setSpeed(double factor);
    double speed() const;
    // The volume slider (0..10) and the mute state.
    int volumeLevel() const;
    bool isMuted() const;
    bool isFullScreenShown() const { return fullScreen; }

    // For tests and benchmarks: what plays and how.
    MpvController* controller() const { return mpv; }
    MpvWidget* videoWidget() const { return video; }
    PlaybackSession* session() const { return playback; }
    LessonEndFlow* endFlow() const { return flow; }
    BookmarkPanel* bookmarkPanel() const { return panel; }
    BookmarkStore* bookmarks() const { return bookmarkStore; }
    // "添加书签": the time now, and its note editor.
    void addBookmark();
    const std::optional<CourseRecord>& currentCourse() const;
    const LessonRecord* currentLesson() const;
    // The lesson now loaded, once its playlist has come.
    const QString& lesson() const;
    // What the end-of-lesson overlay says, empty while it is hidden.
    QString endText() const;

public slots:
    void onMax();
    void onNormal();

private slots:
    void seek(int value);
    void playPause();
    void normalFullScreen();
    void onPlayerStart();
    void httpGetMyCourseInfoDone(const QString& result);

protected:
    void mouseDoubleClickEvent(QMouseEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void closeEvent(QCloseEvent* event) override;

private:
    void build();
    void connectParts();
    // The lesson's own title ("课件N ..."), once its record is known.
    void showLessonTitle(const QString& title);
    void stepSpeed(int step);
    void updatePauseButtons();
    bool playIndex(int index);
    void buildBookmarks();
    // The lesson's title and bookmarks, once it is chosen or its course is known.
    void showLesson();

    MpvController* mpv = nullptr;
    MpvWidget* video = nullptr;
    PlayerControlBar* bar = nullptr;
    PlayerTitleBar* titleBar = nullptr;
    NextLessonOverlay* overlay = nullptr;
    LessonEndFlow* flow = nullptr;
    BookmarkStore* bookmarkStore = nullptr;
    BookmarkPanel* panel = nullptr;
    PlayerTips* tips = nullptr;
    PlayerSound* sound = nullptr;
    FullScreenControls* controls = nullptr;
    QPushButton* btnBigStart = nullptr;
    PlaybackSession* playback = nullptr;
    bool built = false;
    bool fullScreen = false;
    std::unique_ptr<PlayerPlacement> placement;
    LessonLoader* loader = nullptr;
    PlayerTimeline* timeline = nullptr;
    // What a key does while the window has the focus.
    QHash<int, std::function<void()>> keys;
};
