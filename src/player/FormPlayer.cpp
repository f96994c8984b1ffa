#include "FormPlayer.h"

#include "App.h"
#include "Downloader.h"
#include "LessonCountdown.h"
#include "MainForm.h"
#include "MpvController.h"
#include "MpvWidget.h"
#include "NextLessonOverlay.h"
#include "OnlinePlaylist.h"
#include "PlaybackSession.h"
#include "PlayerControlBar.h"
#include "PlayerTime.h"
#include "PlayerTitleBar.h"
#include "SettingKeys.h"
#include "Slider.h"
#include "SystemServices.h"
#include "URLManager.h"
#include "WindowPlacement.h"
#include "XMessageBox.h"

#include <QBitmap>
#include <QComboBox>
#include <QCoreApplication>
#include <QCursor>
#include <QDebug>
#include <QDir>
#include <QGuiApplication>
#include <QKeyEvent>
#include <QLabel>
#include <QMouseEvent>
#include <QPainter>
#include <QPushButton>
#include <QScreen>
#include <QTemporaryFile>
#include <QTimer>
#include <QVBoxLayout>

const QList<double>& FormPlayer::speeds = PlayerControlBar::speeds;

namespace {

// While playing, the remembered position is written this often, so that a crash or a power
// cut loses little of the place in a lecture.
int positionSaveMs = 30000;

// In full screen the bars and the cursor go this long after the mouse last moved.
int controlsHideMs = 3000;

bool isPlaylist(const QByteArray& bytes)
{
    QByteArray head = bytes.left(64);
    if (head.startsWith("\xEF\xBB\xBF")) {
        head.remove(0, 3);
    }
    return head.trimmed().startsWith("#EXTM3U");
}

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
    controlsHideMs = ms;
}

int FormPlayer::controlsHideDelay()
{
    return controlsHideMs;
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
    nextCountdown = new LessonCountdown(this);
    build();
    titleBar->setTitle(title);
    connectParts();
    restoreSettings();
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
    // The video covers the whole window in full screen: its mouse moves bring the bars back.
    video->setMouseTracking(true);
    video->installEventFilter(this);
    titleBar = new PlayerTitleBar(windowTitle(), this);
    bar = new PlayerControlBar(this);

    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);
    layout->addWidget(titleBar);
    layout->addWidget(video, 1);
    layout->addWidget(bar);

    labelLoad = new QLabel(QStringLiteral("正在加载课程"), this);
    labelLoad->setObjectName(QStringLiteral("labelload"));
    labelLoad->adjustSize();
    labelLoad->move((width() - labelLoad->width()) / 2, height() / 2);
    labelTip = new QLabel(this);
    labelTip->setObjectName(QStringLiteral("labelload"));
    labelTip->adjustSize();
    labelTip->move((width() - labelTip->width()) / 2, height() - 80);
    labelTip->hide();
    overlay = new NextLessonOverlay(video);

    btnBigStart = new QPushButton(video);
    btnBigStart->setObjectName(QStringLiteral("btnBigStart"));
    btnBigStart->setCursor(Qt::PointingHandCursor);
    btnBigStart->setFocusPolicy(Qt::NoFocus);
    btnBigStart->setFixedSize(90, 90);
    btnBigStart->hide();
    btnBigStart->move((width() - 90) / 2, (height() / 5) * 2);
    QBitmap mask(89, 89);
    mask.fill(Qt::color0);
    {
        QPainter painter(&mask);
        painter.setRenderHint(QPainter::Antialiasing);
        painter.setPen(Qt::color1);
        painter.setBrush(Qt::color1);
        painter.drawRoundedRect(mask.rect(), 99, 99);
    }
    btnBigStart->setMask(mask);

    onlinePlaylist = new OnlinePlaylist(this);
    saveTimer = new QTimer(this);
    saveTimer->setInterval(positionSaveMs);
    hideTimer = new QTimer(this);
    hideTimer->setSingleShot(true);
}

void FormPlayer::connectParts()
{
    connect(video, &MpvWidget::rendererFailed, this, [this](const QString& reason) {
        rendererMissing(reason);
        QTimer::singleShot(0, this, &QWidget::close);
    });
    connect(hideTimer, &QTimer::timeout, this, &FormPlayer::hideIdleControls);
    connect(mpv, &MpvController::positionChanged, this, &FormPlayer::updateSlider);
    connect(mpv, &MpvController::started, this, &FormPlayer::onPlayerStart);
    connect(mpv, &MpvController::durationChanged, this, [this] {
        if (playback->hasStarted()) {
            showDuration();
        }
    });
    connect(mpv, &MpvController::pausedChanged, this, &FormPlayer::updatePauseButtons);
    connect(mpv, &MpvController::endReached, this, &FormPlayer::onLessonEnd);
    connect(mpv, &MpvController::error, this, &FormPlayer::onError);
    connect(bar->progress, &Slider::sliderMoved, this, &FormPlayer::seek);
    connect(bar->progress, &Slider::mousePress, this, &FormPlayer::seek);
    for (QPushButton* button : {bar->btnPlay, bar->btnPause, btnBigStart}) {
        connect(button, &QPushButton::clicked, this, &FormPlayer::playPause);
    }
    connect(bar->btnVolumn, &QPushButton::clicked, this, &FormPlayer::onBtnVolumnClick);
    connect(bar->btnNoVolumn, &QPushButton::clicked, this, &FormPlayer::onBtnNoVolumClick);
    connect(bar->volume, &Slider::sliderMoved, this, &FormPlayer::onVolumnSlider);
    connect(bar->volume, &Slider::mousePress, this, &FormPlayer::onVolumnSlider);
    connect(bar->btnScreen, &QPushButton::clicked, this, &FormPlayer::normalFullScreen);
    connect(bar->btnRecovery, &QPushButton::clicked, this, &FormPlayer::normalFullScreen);
    connect(bar->btnDown, &QPushButton::clicked, this, &FormPlayer::onBtnDownClick);
    connect(bar->btnStudy, &QPushButton::clicked, this, &FormPlayer::onBtnStudyClick);
    connect(bar->btnPrev, &QPushButton::clicked, this, &FormPlayer::playPrevious);
    connect(bar->btnNext, &QPushButton::clicked, this, &FormPlayer::playNext);
    connect(playback, &PlaybackSession::tip, this, &FormPlayer::showTip);
    connect(playback, &PlaybackSession::courseInfoReady, this, [this] {
        if (const LessonRecord* lesson = playback->lesson()) {
            // The web page names the lesson without its number; the record has it, as a
            // lesson opened from the store shows it.
            showLessonTitle(lesson->title);
        }
        bar->btnDown->setEnabled(true);
        updateLessonButtons();
    });
    connect(saveTimer, &QTimer::timeout, this, [this] {
        if (mpv->isPlaying() && !mpv->isPaused()) {
            savePosition();
        }
    });
    connect(bar->speedBox, QOverload<int>::of(&QComboBox::activated), this,
            [this](int index) { setSpeed(bar->speedBox->itemData(index).toDouble()); });
    connect(nextCountdown, &LessonCountdown::ticked, this, [this](int left) {
        const std::optional<CourseRecord>& course = playback->course();
        if (course && countdownTarget >= 0 && countdownTarget < course->list.size()) {
            overlay->showCountdown(left, course->list.at(countdownTarget).title);
        }
    });
    connect(nextCountdown, &LessonCountdown::fired, this, [this] { playIndex(countdownTarget); });
    connect(overlay, &NextLessonOverlay::playNowClicked, nextCountdown, &LessonCountdown::playNow);
    connect(overlay, &NextLessonOverlay::cancelClicked, this, &FormPlayer::cancelCountdown);
    connect(overlay, &NextLessonOverlay::replayClicked, this, [this] {
        overlay->hide();
        mpv->restart();
    });
}

void FormPlayer::restoreSettings()
{
    const App* app = App::instance();
    const double remembered = app ? app->setting(SettingKeys::playerSpeed).toDouble() : 1.0;
    const int speedIndex = speeds.indexOf(remembered);
    bar->speedBox->setCurrentIndex(speedIndex >= 0 ? speedIndex : speeds.indexOf(1.0));
    mpv->setSpeed(speeds.value(bar->speedBox->currentIndex(), 1.0));

    bool ok = false;
    const int level = app ? app->setting(SettingKeys::playerVolume).toInt(&ok) : 0;
    savedVolume = ok ? qBound(0, level, 10) : 5;
    bar->volume->setValue(savedVolume);
    mpv->setVolume(savedVolume / 10.0);
    if (app && app->isOn(SettingKeys::playerMute)) {
        bar->btnVolumn->hide();
        bar->btnNoVolumn->show();
        mpv->setMuted(true);
        bar->volume->setValue(0);
    }
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

void FormPlayer::storeVolume()
{
    if (App* app = App::instance()) {
        app->setSetting(SettingKeys::playerVolume,
                        QString::number(mpv->isMuted() ? savedVolume : bar->volume->value()));
        app->setSetting(SettingKeys::playerMute,
                        mpv->isMuted() ? QStringLiteral("1") : QStringLiteral("0"));
    }
}

int FormPlayer::volumeLevel() const
{
    return bar->volume->value();
}

bool FormPlayer::isMuted() const
{
    return mpv->isMuted();
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
    cancelCountdown();
    const QString dir = playback->chooseLesson(cid, lid, c_type);
    if (const LessonRecord* lesson = playback->lesson()) {
        showLessonTitle(lesson->title);
    }
    updateLessonButtons();
    if (!dir.isEmpty()) {
        playLocal(dir);
        return;
    }
    bar->btnDown->setEnabled(false);
    disconnect(onlinePlaylist, &OnlinePlaylist::finished, this, nullptr);
    connect(onlinePlaylist, &OnlinePlaylist::finished, this,
            [this, cid, lid](const QString& text) { playOnline(text, cid, lid); });
    onlinePlaylist->start(app->urlManager()->getKeysAndUrlByLidUrl(cid, lid, c_type));
}

void FormPlayer::playOnline(const QString& playlist, const QString& cid, const QString& lid)
{
    if (playlist.isEmpty()) {
        qDebug() << "no online playlist for lesson" << lid << "of course" << cid;
        showLoadText(QStringLiteral("加载失败"));
        return;
    }
    playFile(playlist.toUtf8());
    bar->btnStudy->show();
    bar->btnDown->show();
    bar->btnStudy->setEnabled(true);
    playback->playsOnline(cid, lid);
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
    cancelCountdown();
    // Opened from a lesson tile the window knows only the folder: its course and lesson are
    // found, so the place in the lecture is remembered and restored as for playLesson.
    playback->chooseFolder(dir);
    if (const LessonRecord* lesson = playback->lesson()) {
        showLessonTitle(lesson->title);
    }
    bar->btnStudy->hide();
    bar->btnDown->hide();
    updateLessonButtons();
    QByteArray playlist;
    const QFileInfoList entries =
        QDir(dir).entryInfoList(QDir::Files, QDir::Name | QDir::IgnoreCase);
    for (const QFileInfo& entry : entries) {
        if (entry.suffix() != QLatin1String("ls")) {
            continue;
        }
        bool ok = false;
        const QByteArray bytes = app->cipher().decryptFileToBytes(entry.absoluteFilePath(), &ok);
        if (ok) {
            playlist = bytes;
        } else {
            qDebug() << "cannot decrypt" << entry.absoluteFilePath();
        }
    }
    // Only a real playlist goes to mpv: a missing or damaged file is a load failure here.
    if (!isPlaylist(playlist)) {
        qDebug() << "no playable playlist in" << dir;
        showLoadText(QStringLiteral("加载失败"));
        return;
    }
    playFile(playlist);
}

void FormPlayer::playFile(const QByteArray& playlist)
{
    delete playlistFile;
    playlistFile =
        new QTemporaryFile(QDir::tempPath() + QStringLiteral("/tamix-XXXXXX.m3u8"), this);
    if (!playlistFile->open() || playlistFile->write(playlist) != playlist.size() ||
        !playlistFile->flush()) {
        qDebug() << "cannot write the playlist for the player:" << playlistFile->errorString();
        showLoadText(QStringLiteral("加载失败"));
        return;
    }
    // Closed but kept: the file stays until the window goes, and mpv may open it on any
    // system.
    playlistFile->close();
    jumpTipPending = false;
    showLoadText(QStringLiteral("正在加载课程"));
    video->expectFirstFrame();
    mpv->load(playlistFile->fileName());
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

void FormPlayer::updateLessonButtons()
{
    const std::optional<CourseRecord>& course = playback->course();
    const auto show = [&course](QPushButton* button, int index) {
        button->setEnabled(index >= 0);
        button->setToolTip(index >= 0 ? course->list.at(index).title : QString());
    };
    show(bar->btnPrev, playback->previousIndex());
    show(bar->btnNext, playback->nextIndex());
}

void FormPlayer::onLessonEnd()
{
    playback->finish(mpv->duration());
    const int next = playback->nextIndex();
    const App* app = App::instance();
    const bool autoNext = app && app->setting(SettingKeys::autoPlayNext) != QLatin1String("0");
    switch (PlaybackSession::endAction(next >= 0, autoNext)) {
    case PlaybackSession::CountDown:
        countdownTarget = next;
        nextCountdown->start(countdownSeconds);
        break;
    case PlaybackSession::CourseDone:
        overlay->showCourseDone();
        break;
    case PlaybackSession::StayOnEnd:
        break;
    }
}

void FormPlayer::cancelCountdown()
{
    nextCountdown->cancel();
    overlay->hide();
}

void FormPlayer::showDuration()
{
    const qint64 seconds = mpv->duration() / 1000;
    bar->progress->setRange(0, int(seconds));
    durationText = playerTimeText(seconds);
    updateSlider();
}

void FormPlayer::onPlayerStart()
{
    showDuration();
    labelLoad->hide();
    overlay->hide();
    bar->progress->setEnabled(true);
    bar->volume->setEnabled(true);
    if (!tipTimer) {
        tipTimer = startTimer(100);
    }
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
    bar->progress->setValue(int(seconds));
    const QString now = playerTimeText(seconds);
    bar->lbltime1->setText(now);
    bar->lbltime2->setText(QLatin1Char('/') + durationText);
    labelLoad->hide();
    if (jumpTipPending && !now.endsWith(QLatin1String(":00"))) {
        showTip(QStringLiteral("已跳转至上次播放时间") + now);
        jumpTipPending = false;
    }
}

void FormPlayer::seek(int value)
{
    if (!mpv->isLoaded()) {
        return;
    }
    mpv->seek(qint64(value) * 1000);
    showLoadText(QStringLiteral("正在跳转"));
}

void FormPlayer::playPause()
{
    if (mpv->isPlaying()) {
        mpv->setPaused(!mpv->isPaused());
    } else {
        cancelCountdown();
        mpv->restart();
    }
    updatePauseButtons();
}

void FormPlayer::updatePauseButtons()
{
    const bool paused = mpv->isPaused();
    bar->btnPlay->setVisible(paused);
    // At the end the overlay speaks, not the big button.
    btnBigStart->setVisible(paused && !overlay->isVisible() && !nextCountdown->isRunning());
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
    titleBar->setVisible(!fullScreen);
    bar->setVisible(!fullScreen);
    video->unsetCursor();
    if (fullScreen) {
        lastMousePos = QCursor::pos();
        hideTimer->start(controlsHideMs);
    } else {
        hideTimer->stop();
    }
}

void FormPlayer::mouseMovedOverVideo(const QPoint& globalPos)
{
    // Relayouts and cursor changes may repeat the last position: only a real move counts.
    if (!fullScreen || globalPos == lastMousePos) {
        return;
    }
    lastMousePos = globalPos;
    showControls();
}

void FormPlayer::showControls()
{
    titleBar->show();
    bar->show();
    video->unsetCursor();
    hideTimer->start(controlsHideMs);
}

void FormPlayer::hideIdleControls()
{
    if (!fullScreen) {
        return;
    }
    // Not while the pointer rests on a bar: the student is about to use it.
    if (bar->underMouse() || titleBar->underMouse()) {
        hideTimer->start(controlsHideMs);
        return;
    }
    titleBar->hide();
    bar->hide();
    video->setCursor(Qt::BlankCursor);
}

bool FormPlayer::eventFilter(QObject* watched, QEvent* event)
{
    if (watched == video && event->type() == QEvent::MouseMove) {
        mouseMovedOverVideo(static_cast<QMouseEvent*>(event)->globalPos());
    }
    return StyledWidget::eventFilter(watched, event);
}

void FormPlayer::mouseMoveEvent(QMouseEvent* event)
{
    if (built) {
        mouseMovedOverVideo(event->globalPos());
    }
    StyledWidget::mouseMoveEvent(event);
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

void FormPlayer::onVolumnSlider(int value)
{
    if (mpv->isMuted()) {
        return;
    }
    bar->volume->setValue(value);
    mpv->setVolume(value / 10.0);
    storeVolume();
}

void FormPlayer::onBtnVolumnClick()
{
    bar->btnVolumn->hide();
    bar->btnNoVolumn->show();
    mpv->setMuted(true);
    savedVolume = bar->volume->value();
    bar->volume->setValue(0);
    storeVolume();
}

void FormPlayer::onBtnNoVolumClick()
{
    bar->btnVolumn->show();
    bar->btnNoVolumn->hide();
    mpv->setMuted(false);
    bar->volume->setValue(savedVolume);
    storeVolume();
}

void FormPlayer::setSpeed(double factor)
{
    const int index = speeds.indexOf(factor);
    if (index < 0) {
        return;
    }
    bar->speedBox->setCurrentIndex(index);
    mpv->setSpeed(factor);
    if (App* app = App::instance()) {
        app->setSetting(SettingKeys::playerSpeed, QString::number(factor));
    }
    showTip(QStringLiteral("播放速度 ") + PlayerControlBar::speedText(factor));
}

double FormPlayer::speed() const
{
    return bar->speedBox->currentData().toDouble();
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
    Slider* progress = built ? bar->progress : nullptr;
    Slider* volume = built ? bar->volume : nullptr;
    if (!built) {
        QWidget::keyPressEvent(event);
        return;
    }
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
        if (volume->value() < 10) {
            onVolumnSlider(volume->value() + 1);
        }
        break;
    case Qt::Key_Down:
        if (volume->value() > 0) {
            onVolumnSlider(volume->value() - 1);
        }
        break;
    case Qt::Key_Space:
        playPause();
        break;
    case Qt::Key_Escape:
        // The countdown first: a student in full screen may only want the next lesson held.
        if (nextCountdown->isRunning()) {
            cancelCountdown();
        } else if (fullScreen) {
            normalFullScreen();
        }
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
    if (labelLoad->isVisible()) {
        labelLoad->move((w - labelLoad->width()) / 2, h / 2);
    }
    btnBigStart->move((w - btnBigStart->width()) / 2, (h / 5) * 2);
    labelTip->move((w - labelTip->width()) / 2, h - 80);
    overlay->move((video->width() - overlay->width()) / 2,
                  (video->height() - overlay->height()) / 2);
}

void FormPlayer::showLoadText(const QString& text)
{
    labelLoad->setText(text);
    labelLoad->adjustSize();
    labelLoad->move((width() - labelLoad->width()) / 2, height() / 2);
    labelLoad->show();
    labelLoad->raise();
}

void FormPlayer::showTip(const QString& text)
{
    if (text.isEmpty()) {
        return;
    }
    labelTip->setText(text);
    labelTip->adjustSize();
    labelTip->move((width() - labelTip->width()) / 2, height() - 80);
    labelTip->show();
    labelTip->raise();
    tipTicks = 30;
}

void FormPlayer::timerEvent(QTimerEvent* event)
{
    if (event->timerId() != tipTimer) {
        QWidget::timerEvent(event);
        return;
    }
    if (tipTicks > 0 && --tipTicks == 0) {
        labelTip->hide();
    }
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
    showTip(playback->queueForDownload());
}

void FormPlayer::onError(const QString& reason)
{
    qDebug() << "playback failed:" << reason;
    showLoadText(QStringLiteral("加载失败"));
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
        nextCountdown->cancel();
        onlinePlaylist->abort();
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
