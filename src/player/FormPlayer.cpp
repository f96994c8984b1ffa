#include "FormPlayer.h"

#include "App.h"
#include "BookmarkPanel.h"
#include "BookmarkStore.h"
#include "CourseLibrary.h"
#include "Downloader.h"
#include "FullScreenControls.h"
#include "LessonEndFlow.h"
#include "LessonLoader.h"
#include "MainForm.h"
#include "MpvController.h"
#include "MpvWidget.h"
#include "NextLessonOverlay.h"
#include "PlaybackSession.h"
#include "PlayerControlBar.h"
#include "PlayerSound.h"
#include "PlayerTime.h"
#include "PlayerTips.h"
#include "PlayerTitleBar.h"
#include "SettingKeys.h"
#include "Slider.h"
#include "SystemServices.h"
#include "URLManager.h"
#include "WindowPlacement.h"
#include "XMessageBox.h"

#include <QComboBox>
#include <QCoreApplication>
#include <QDebug>
#include <QGuiApplication>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QPushButton>
#include <QScreen>
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
    placeWindow();
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
    saveTimer = new QTimer(this);
    saveTimer->setInterval(positionSaveMs);
}

void FormPlayer::connectParts()
{
    connect(video, &MpvWidget::rendererFailed, this, [this](const QString& reason) {
        rendererMissing(reason);
        QTimer::singleShot(0, this, &QWidget::close);
    });
    connect(mpv, &MpvController::positionChanged, this, &FormPlayer::updateSlider);
    connect(mpv, &MpvController::started, this, &FormPlayer::onPlayerStart);
    connect(mpv, &MpvController::durationChanged, this, [this] {
        if (playback->hasStarted()) {
            showDuration();
        }
    });
    connect(mpv, &MpvController::pausedChanged, this, &FormPlayer::updatePauseButtons);
    connect(mpv, &MpvController::endReached, this, [this] { flow->lessonEnded(mpv->duration()); });
    connect(flow, &LessonEndFlow::playIndex, this, &FormPlayer::playIndex);
    connect(flow, &LessonEndFlow::replay, mpv, &MpvController::restart);
    connect(mpv, &MpvController::error, this, &FormPlayer::onError);
    connect(bar->progress, &Slider::sliderMoved, this, &FormPlayer::seek);
    connect(bar->progress, &Slider::mousePress, this, &FormPlayer::seek);
    for (QPushButton* button : {bar->btnPlay, bar->btnPause, btnBigStart}) {
        connect(button, &QPushButton::clicked, this, &FormPlayer::playPause);
    }
    connect(bar->btnScreen, &QPushButton::clicked, this, &FormPlayer::normalFullScreen);
    connect(bar->btnRecovery, &QPushButton::clicked, this, &FormPlayer::normalFullScreen);
    connect(bar->btnDown, &QPushButton::clicked, this, &FormPlayer::onBtnDownClick);
    connect(bar->btnStudy, &QPushButton::clicked, this, &FormPlayer::onBtnStudyClick);
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
        jumpTipPending = false;
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
    connect(saveTimer, &QTimer::timeout, this, [this] {
        if (mpv->isPlaying() && !mpv->isPaused()) {
            savePosition();
        }
    });
    connect(bar->speedBox, QOverload<int>::of(&QComboBox::activated), this,
            [this](int index) { setSpeed(bar->speedBox->itemData(index).toDouble()); });
}

void FormPlayer::placeWindow()
{
    const App* app = App::instance();
    const QRect remembered =
        app ? WindowPlacement::fromText(app->setting(SettingKeys::playerPlace)) : QRect();
    QList<QRect> screens;
    for (const QScreen* screen : QGuiApplication::screens()) {
        screens.append(screen->availableGeometry());
    }
    const QWidget* main = app ? app->mainForm() : nullptr;
    const QRect mainRect = main && main->isVisible() ? main->frameGeometry() : QRect();
    if (remembered.isValid()) {
        resize(remembered.size());
    }
    move(WindowPlacement::topLeft(size(), remembered, mainRect, screens));
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
    savePosition();
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

void FormPlayer::showDuration()
{
    bar->setDuration(mpv->duration() / 1000);
    updateSlider();
}

void FormPlayer::onPlayerStart()
{
    showDuration();
    tips->hideLoad();
    overlay->hide();
    bar->progress->setEnabled(true);
    bar->volume->setEnabled(true);
    tips->startClock();
    saveTimer->start();
    updatePauseButtons();
    const int jump = playback->started();
    if (jump >= 0) {
        jumpTipPending = true;
        seek(jump);
    }
}

void FormPlayer::updateSlider()
{
    const bool atEnd = mpv->isLoaded() && !mpv->isPlaying();
    const qint64 seconds =
        (atEnd ? qMax(mpv->position(), mpv->duration()) : mpv->position()) / 1000;
    bar->showTime(seconds);
    const QString now = playerTimeText(seconds);
    tips->hideLoad();
    if (jumpTipPending && !now.endsWith(QLatin1String(":00"))) {
        tips->showTip(QStringLiteral("已跳转至上次播放时间") + now);
        jumpTipPending = false;
    }
}

void FormPlayer::seek(int value)
{
    if (!mpv->isLoaded()) {
        return;
    }
    mpv->seek(qint64(value) * 1000);
    tips->showLoad(QStringLiteral("正在跳转"));
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
    const App* app = App::instance();
    if (!app) {
        return;
    }
    normalSize = size();
    normalPos = pos();
    const QRect screen = app->screenRect();
    resize(screen.right() - screen.left() + 1, screen.bottom() - screen.top() + 1);
    move(0, 0);
}

void FormPlayer::onNormal()
{
    resize(normalSize);
    move(normalPos);
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
    if (!built) {
        QWidget::keyPressEvent(event);
        return;
    }
    const Slider* progress = bar->progress;
    switch (event->key()) {
    case Qt::Key_Left:
        if (progress->value() > 0) {
            seek(progress->value() - 2);
        }
        break;
    case Qt::Key_Right:
        if (progress->value() < progress->maximum()) {
            seek(progress->value() + 2);
        }
        break;
    case Qt::Key_Up:
        sound->stepVolume(1);
        break;
    case Qt::Key_Down:
        sound->stepVolume(-1);
        break;
    case Qt::Key_Space:
        playPause();
        break;
    case Qt::Key_Escape:
        // The countdown first: a student in full screen may only want the next lesson held.
        if (!flow->cancel() && fullScreen) {
            normalFullScreen();
        }
        break;
    case Qt::Key_B:
        addBookmark();
        break;
    case Qt::Key_PageUp:
        playPrevious();
        break;
    case Qt::Key_PageDown:
        playNext();
        break;
    case Qt::Key_BracketLeft:
        stepSpeed(-1);
        break;
    case Qt::Key_BracketRight:
        stepSpeed(1);
        break;
    default:
        QWidget::keyPressEvent(event);
        break;
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

void FormPlayer::onBtnStudyClick()
{
    if (!playback->lesson()) {
        return;
    }
    playback->reportStudied();
    bar->btnStudy->setEnabled(false);
}

void FormPlayer::onBtnDownClick()
{
    bar->btnDown->setEnabled(false);
    tips->showTip(playback->queueForDownload());
}

void FormPlayer::onError(const QString& reason)
{
    qDebug() << "playback failed:" << reason;
    tips->showLoad(QStringLiteral("加载失败"));
}

void FormPlayer::savePosition()
{
    playback->savePosition(mpv->position(), mpv->duration(), mpv->isSeeking());
}

void FormPlayer::closeEvent(QCloseEvent* event)
{
    if (built) {
        titleBar->setEnabled(false);
        savePosition();
        saveTimer->stop();
        flow->cancel();
        loader->abort();
        if (mpv->isLoaded()) {
            mpv->stop();
        }
        if (App* app = App::instance(); app && !fullScreen && !isMinimized()) {
            const bool maximised = normalSize.isValid() && size() != normalSize;
            app->setSetting(
                SettingKeys::playerPlace,
                WindowPlacement::toText(maximised ? QRect(normalPos, normalSize) : geometry()));
        }
    }
    QWidget::closeEvent(event);
    if (App::exists() && App::instance()->player() == this) {
        App::instance()->closePlayer();
    }
}
