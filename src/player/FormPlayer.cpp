#include "FormPlayer.h"

#include "App.h"
#include "BookmarkPanel.h"
#include "BookmarkStore.h"
#include "CourseLibrary.h"
#include "Downloader.h"
#include "FullScreenControls.h"
#include "LessonEndFlow.h"
#include "LessonLoader.h"
#include "MpvController.h"
#include "MpvWidget.h"
#include "NextLessonOverlay.h"
#include "PlaybackSession.h"
#include "PlayerControlBar.h"
#include "PlayerPlacement.h"
#include "PlayerSound.h"
#include "PlayerTimeline.h"
#include "PlayerTips.h"
#include "PlayerTitleBar.h"
#include "SettingKeys.h"
#include "Slider.h"
#include "SystemServices.h"
#include "URLManager.h"
#include "XMessageBox.h"

#include <QComboBox>
#include <QCoreApplication>
#include <QDebug>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QPushButton>
#include <QTimer>
#include <QVBoxLayout>

const QList<double>& FormPlayer::speeds = PlayerControlBar::speeds;

namespace {

// While playing, the remembered position is written this often, so that a crash or a power
// cut loses little of the place in a lecture.
int positionSaveMs = 30000;

void rendererMissing(const QString& reason)
{
    qDebug() << "no video renderer:" << reason;
    XMessageBox::inform(QStringLiteral("无法创建视频渲染器"));
}

} // namespace

void FormPlayer::setPositionSaveInterval(int ms)
{
    positionSaveMs = ms;
}

void FormPlayer::setControlsHideDelay(int ms)
{
    FullScreenControls::setHideDelay(ms);
}

int FormPlayer::controlsHideDelay()
{
    return FullScreenControls::hideDelay();
}

FormPlayer::FormPlayer(const QString& title, QWidget* parent) : StyledWidget(parent)
{
    SystemServices::setUpHeapForVideo();
    setWindowFlags(windowFlags() | Qt::Window | Qt::FramelessWindowHint);
    setMouseTracking(true);
    setWindowTitle(title);
    setObjectName(QStringLiteral("FormPlayer"));
    resize(854, 560);

    mpv = new MpvController(this);
    if (!mpv->isValid() || !MpvWidget::canRender()) {
        rendererMissing(mpv->isValid() ? QStringLiteral("no OpenGL context") : mpv->errorString());
        return;
    }
    App* app = App::instance();
    playback = new PlaybackSession(
        app ? app->downloader() : nullptr, app ? app->urlManager() : nullptr,
        [] { return App::exists() && App::instance()->isOn(SettingKeys::resumePlayback); }, this);
    build();
    titleBar->setTitle(title);
    connectParts();
    sound = new PlayerSound(
        bar, mpv,
        [](const QString& key) {
            return App::exists() ? App::instance()->setting(key) : QString();
        },
        [](const QString& key, const QString& value) {
            if (App::exists()) {
                App::instance()->setSetting(key, value);
            }
        },
        this);
    sound->restore();
    placement = std::make_unique<PlayerPlacement>(this, app);
    placement->open();
    built = true;
    show();
}

FormPlayer::~FormPlayer()
{
    // mpv's render context must go before its handle.
    delete video;
    video = nullptr;
    delete mpv;
    mpv = nullptr;
    // Posted, so that it runs after the rest of this window has gone too.
    QTimer::singleShot(0, QCoreApplication::instance(), &SystemServices::releaseFreedMemory);
}

void FormPlayer::build()
{
    video = new MpvWidget(mpv, this);
    titleBar = new PlayerTitleBar(windowTitle(), this);
    bar = new PlayerControlBar(this);

    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);
    layout->addWidget(titleBar);
    auto* middle = new QHBoxLayout();
    middle->setSpacing(0);
    middle->addWidget(video, 1);
    layout->addLayout(middle, 1);
    layout->addWidget(bar);
    tips = new PlayerTips(this);
    buildBookmarks();
    if (panel) {
        middle->addWidget(panel);
    }

    controls = new FullScreenControls(video, {titleBar, bar}, this);
    overlay = new NextLessonOverlay(video);
    flow = new LessonEndFlow(
        playback, bar, overlay,
        [] {
            return !App::exists() ||
                   App::instance()->setting(SettingKeys::autoPlayNext) != QLatin1String("0");
        },
        this);

    btnBigStart = PlayerControlBar::bigStartButton(video);
    btnBigStart->move((width() - 90) / 2, (height() / 5) * 2);

    loader = new LessonLoader(mpv, this);
    timeline = new PlayerTimeline(mpv, playback, bar, tips, positionSaveMs, this);
}

void FormPlayer::connectParts()
{
    connect(video, &MpvWidget::rendererFailed, this, [this](const QString& reason) {
        rendererMissing(reason);
        QTimer::singleShot(0, this, &QWidget::close);
    });
    connect(mpv, &MpvController::started, this, &FormPlayer::onPlayerStart);
    connect(mpv, &MpvController::pausedChanged, this, &FormPlayer::updatePauseButtons);
    connect(mpv, &MpvController::endReached, this, [this] { flow->lessonEnded(mpv->duration()); });
    connect(flow, &LessonEndFlow::playIndex, this, &FormPlayer::playIndex);
    connect(flow, &LessonEndFlow::replay, mpv, &MpvController::restart);
    connect(mpv, &MpvController::error, this, [this](const QString& reason) {
        qDebug() << "playback failed:" << reason;
        tips->showLoad(QStringLiteral("加载失败"));
    });
    for (QPushButton* button : {bar->btnPlay, bar->btnPause, btnBigStart}) {
        connect(button, &QPushButton::clicked, this, &FormPlayer::playPause);
    }
    connect(bar->btnScreen, &QPushButton::clicked, this, &FormPlayer::normalFullScreen);
    connect(bar->btnRecovery, &QPushButton::clicked, this, &FormPlayer::normalFullScreen);
    connect(bar->btnDown, &QPushButton::clicked, this, [this] {
        bar->btnDown->setEnabled(false);
        tips->showTip(playback->queueForDownload());
    });
    connect(bar->btnStudy, &QPushButton::clicked, this, [this] {
        if (playback->lesson()) {
            playback->reportStudied();
            bar->btnStudy->setEnabled(false);
        }
    });
    connect(playback, &PlaybackSession::tip, tips, &PlayerTips::showTip);
    // Told and led to the login by the main window, as for the pages and the downloads.
    connect(playback, &PlaybackSession::sessionLost, this, [] {
        if (App::exists()) {
            App::instance()->reportSessionLost();
        }
    });
    connect(loader, &LessonLoader::failed, this,
            [this] { tips->showLoad(QStringLiteral("加载失败")); });
    connect(loader, &LessonLoader::loading, this, [this] {
        timeline->loading();
        tips->showLoad(QStringLiteral("正在加载课程"));
        video->expectFirstFrame();
    });
    connect(loader, &LessonLoader::onlineLoaded, this,
            [this](const QString& cid, const QString& lid) {
                bar->btnStudy->show();
                bar->btnDown->show();
                bar->btnStudy->setEnabled(true);
                playback->playsOnline(cid, lid);
            });
    connect(playback, &PlaybackSession::courseInfoReady, this, [this] {
        // The web page names the lesson without its number; the record has it, as a lesson
        // opened from the store shows it.
        showLesson();
        bar->btnDown->setEnabled(true);
    });
    connect(bar->speedBox, QOverload<int>::of(&QComboBox::activated), this,
            [this](int index) { setSpeed(bar->speedBox->itemData(index).toDouble()); });
    keys.insert(Qt::Key_Left, [this] { timeline->step(-2); });
    keys.insert(Qt::Key_Right, [this] { timeline->step(2); });
    keys.insert(Qt::Key_Up, [this] { sound->stepVolume(1); });
    keys.insert(Qt::Key_Down, [this] { sound->stepVolume(-1); });
    keys.insert(Qt::Key_Space, [this] { playPause(); });
    keys.insert(Qt::Key_B, [this] { addBookmark(); });
    keys.insert(Qt::Key_PageUp, [this] { playPrevious(); });
    keys.insert(Qt::Key_PageDown, [this] { playNext(); });
    keys.insert(Qt::Key_BracketLeft, [this] { stepSpeed(-1); });
    keys.insert(Qt::Key_BracketRight, [this] { stepSpeed(1); });
    // The countdown first: a student in full screen may only want the next lesson held.
    keys.insert(Qt::Key_Escape, [this] {
        if (!flow->cancel() && fullScreen) {
            normalFullScreen();
        }
    });
}

const std::optional<CourseRecord>& FormPlayer::currentCourse() const
{
    static const std::optional<CourseRecord> none;
    return playback ? playback->course() : none;
}

const LessonRecord* FormPlayer::currentLesson() const
{
    return playback ? playback->lesson() : nullptr;
}

const QString& FormPlayer::lesson() const
{
    static const QString none;
    return playback ? playback->loadedLesson() : none;
}

QString FormPlayer::endText() const
{
    return overlay ? overlay->text() : QString();
}

void FormPlayer::playLesson(const QString& cid, const QString& lid, const QString& c_type)
{
    App* app = App::instance();
    if (!built || !app) {
        return;
    }
    flow->cancel();
    const QString dir = playback->chooseLesson(cid, lid, c_type);
    showLesson();
    if (!dir.isEmpty()) {
        playLocal(dir);
        return;
    }
    bar->btnDown->setEnabled(false);
    loader->loadOnline(app->urlManager()->getKeysAndUrlByLidUrl(cid, lid, c_type), cid, lid);
}

void FormPlayer::buildBookmarks()
{
    App* app = App::instance();
    if (!app) {
        return;
    }
    bookmarkStore = new BookmarkStore(app->appDir(), app->library()->username(), this);
    panel = new BookmarkPanel(bookmarkStore, this);
    panel->hide();
    connect(bookmarkStore, &BookmarkStore::damaged, tips, &PlayerTips::showTip);
    bookmarkStore->load();
    connect(panel, &BookmarkPanel::jumpTo, this, &FormPlayer::seek);
    connect(panel, &BookmarkPanel::marksChanged, bar->progress, &Slider::setMarks);
    connect(panel, &BookmarkPanel::tip, tips, &PlayerTips::showTip);
    connect(bar->btnMark, &QPushButton::clicked, this, &FormPlayer::addBookmark);
    connect(bar->btnMarks, &QPushButton::toggled, panel, &QWidget::setVisible);
}

void FormPlayer::addBookmark()
{
    if (panel && mpv->isLoaded()) {
        bar->btnMarks->setChecked(true);
        panel->addAt(mpv->position() / 1000);
    }
}

void FormPlayer::showLesson()
{
    const LessonRecord* lesson = playback->lesson();
    if (lesson) {
        showLessonTitle(lesson->title);
    }
    if (panel) {
        panel->setLesson(playback->course(), lesson ? lesson->id : QString());
    }
    flow->updateButtons();
}

void FormPlayer::showLessonTitle(const QString& title)
{
    if (title.isEmpty()) {
        return;
    }
    setWindowTitle(title);
    titleBar->setTitle(title);
}

void FormPlayer::playLocal(const QString& dir)
{
    App* app = App::instance();
    if (!built || !app) {
        return;
    }
    flow->cancel();
    // Opened from a lesson tile the window knows only the folder: its course and lesson are
    // found, so the place in the lecture is remembered and restored as for playLesson.
    playback->chooseFolder(dir);
    showLesson();
    bar->btnStudy->hide();
    bar->btnDown->hide();
    loader->loadStored(dir, app->cipher());
}

bool FormPlayer::playIndex(int index)
{
    const std::optional<CourseRecord>& course = playback->course();
    if (!course || index < 0 || index >= course->list.size()) {
        return false;
    }
    // The position of the lesson left behind is kept before another takes its place.
    timeline->savePosition();
    const LessonRecord next = course->list.at(index);
    playLesson(course->id, next.id, next.c_type);
    return true;
}

bool FormPlayer::playPrevious()
{
    return built && playIndex(playback->previousIndex());
}

bool FormPlayer::playNext()
{
    return built && playIndex(playback->nextIndex());
}

void FormPlayer::onPlayerStart()
{
    tips->hideLoad();
    overlay->hide();
    bar->volume->setEnabled(true);
    tips->startClock();
    updatePauseButtons();
    timeline->started();
}

void FormPlayer::seek(int value)
{
    timeline->seek(value);
}

void FormPlayer::playPause()
{
    if (mpv->isPlaying()) {
        mpv->setPaused(!mpv->isPaused());
    } else {
        flow->cancel();
        mpv->restart();
    }
    updatePauseButtons();
}

void FormPlayer::updatePauseButtons()
{
    const bool paused = mpv->isPaused();
    bar->btnPlay->setVisible(paused);
    // At the end the overlay speaks, not the big button.
    btnBigStart->setVisible(paused && !flow->isShowing());
    bar->btnPause->setVisible(!paused);
}

void FormPlayer::normalFullScreen()
{
    if (fullScreen) {
        showNormal();
    } else {
        showFullScreen();
    }
    fullScreen = !fullScreen;
    bar->btnScreen->setVisible(!fullScreen);
    bar->btnRecovery->setVisible(fullScreen);
    controls->setFullScreen(fullScreen);
}

void FormPlayer::onMax()
{
    placement->maximise();
}

void FormPlayer::onNormal()
{
    placement->restore();
}

void FormPlayer::setSpeed(double factor)
{
    if (sound->setSpeed(factor)) {
        tips->showTip(QStringLiteral("播放速度 ") + PlayerControlBar::speedText(factor));
    }
}

double FormPlayer::speed() const
{
    return sound->speed();
}

int FormPlayer::volumeLevel() const
{
    return sound->volume();
}

bool FormPlayer::isMuted() const
{
    return sound->isMuted();
}

void FormPlayer::stepSpeed(int step)
{
    const int index = bar->speedBox->currentIndex() + step;
    if (index >= 0 && index < speeds.size()) {
        setSpeed(speeds.at(index));
    }
}

void FormPlayer::keyPressEvent(QKeyEvent* event)
{
    const auto action = keys.constFind(event->key());
    if (built && action != keys.constEnd()) {
        (*action)();
    } else {
        QWidget::keyPressEvent(event);
    }
}

void FormPlayer::mouseDoubleClickEvent(QMouseEvent*)
{
    if (built) {
        normalFullScreen();
    }
}

void FormPlayer::resizeEvent(QResizeEvent* event)
{
    QWidget::resizeEvent(event);
    if (!built) {
        return;
    }
    const int w = width();
    const int h = height();
    tips->place();
    btnBigStart->move((w - btnBigStart->width()) / 2, (h / 5) * 2);
    overlay->move((video->width() - overlay->width()) / 2,
                  (video->height() - overlay->height()) / 2);
}

void FormPlayer::httpGetMyCourseInfoDone(const QString& result)
{
    if (playback) {
        playback->applyCourseInfo(result);
    }
}

void FormPlayer::closeEvent(QCloseEvent* event)
{
    if (built) {
        titleBar->setEnabled(false);
        timeline->stop();
        flow->cancel();
        loader->abort();
        if (mpv->isLoaded()) {
            mpv->stop();
        }
        placement->remember(fullScreen);
    }
    QWidget::closeEvent(event);
    if (App::exists() && App::instance()->player() == this) {
        App::instance()->closePlayer();
    }
}
