#include "FormPlayer.h"

#include "App.h"
#include "Downloader.h"
#include "HttpHelper.h"
#include "JsonHelper.h"
#include "MpvController.h"
#include "MpvWidget.h"
#include "OnlinePlaylist.h"
#include "PlayerTime.h"
#include "PlayerTitleBar.h"
#include "SettingKeys.h"
#include "Slider.h"
#include "SystemServices.h"
#include "URLManager.h"
#include "XMessageBox.h"

#include <QBitmap>
#include <QComboBox>
#include <QCoreApplication>
#include <QCursor>
#include <QDebug>
#include <QDir>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QMouseEvent>
#include <QPainter>
#include <QPushButton>
#include <QTemporaryFile>
#include <QTimer>
#include <QVBoxLayout>

const QList<double> FormPlayer::speeds{0.75, 1.0, 1.25, 1.5, 2.0};

namespace {

// While playing, the remembered position is written this often, so that a crash or a power
// cut loses little of the place in a lecture.
int positionSaveMs = 30000;

// In full screen the bars and the cursor go this long after the mouse last moved.
int controlsHideMs = 3000;

QPushButton* barButton(const QString& name, QWidget* parent)
{
    auto* button = new QPushButton(parent);
    button->setObjectName(name);
    button->setCursor(Qt::PointingHandCursor);
    button->setFocusPolicy(Qt::NoFocus);
    return button;
}

QString speedText(double factor)
{
    return QString::number(factor, 'f', factor == 0.75 || factor == 1.25 ? 2 : 1) +
           QLatin1Char('x');
}

bool isPlaylist(const QByteArray& bytes)
{
    QByteArray head = bytes.left(64);
    if (head.startsWith("\xEF\xBB\xBF")) {
        head.remove(0, 3);
    }
    return head.trimmed().startsWith("#EXTM3U");
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
        qDebug() << "no video renderer:"
                 << (mpv->isValid() ? QStringLiteral("no OpenGL context") : mpv->errorString());
        XMessageBox::inform(QStringLiteral("无法创建视频渲染器"));
        return;
    }
    build(title);
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

void FormPlayer::build(const QString& title)
{
    video = new MpvWidget(mpv, this);
    // The video covers the whole window in full screen: its mouse moves bring the bars back.
    video->setMouseTracking(true);
    video->installEventFilter(this);
    connect(video, &MpvWidget::rendererFailed, this, [this](const QString& reason) {
        qDebug() << "no video renderer:" << reason;
        XMessageBox::inform(QStringLiteral("无法创建视频渲染器"));
        QTimer::singleShot(0, this, &QWidget::close);
    });

    titleBar = new PlayerTitleBar(title, this);
    progress = new Slider(this, true);
    progress->setObjectName(QStringLiteral("progress"));
    volume = new Slider(this, true);
    volume->setObjectName(QStringLiteral("volumn"));
    lbltime1 = new QLabel(this);
    lbltime1->setObjectName(QStringLiteral("lbltime1"));
    lbltime2 = new QLabel(this);
    lbltime2->setObjectName(QStringLiteral("lbltime2"));
    btnPlay = barButton(QStringLiteral("btnPlay"), this);
    btnPause = barButton(QStringLiteral("btnPause"), this);
    btnVolumn = barButton(QStringLiteral("btnVolumn"), this);
    btnNoVolumn = barButton(QStringLiteral("btnNoVolumn"), this);
    btnScreen = barButton(QStringLiteral("btnScreen"), this);
    btnRecovery = barButton(QStringLiteral("btnRecovery"), this);
    btnStudy = barButton(QStringLiteral("btnStudy"), this);
    btnStudy->setText(QStringLiteral("已学完"));
    // The download button shares the study button's look.
    btnDown = barButton(QStringLiteral("btnStudy"), this);
    btnDown->setText(QStringLiteral("下载"));

    speedBox = new QComboBox(this);
    speedBox->setObjectName(QStringLiteral("speedBox"));
    speedBox->setFocusPolicy(Qt::NoFocus);
    speedBox->setCursor(Qt::PointingHandCursor);
    speedBox->setToolTip(QStringLiteral("播放速度"));
    for (double factor : speeds) {
        speedBox->addItem(speedText(factor), factor);
    }

    btnPlay->hide();
    btnNoVolumn->hide();
    btnRecovery->hide();
    btnStudy->hide();
    btnDown->hide();
    progress->setEnabled(false);
    volume->setEnabled(false);
    btnDown->setEnabled(false);
    btnStudy->setEnabled(false);
    progress->setFocusPolicy(Qt::NoFocus);
    volume->setFocusPolicy(Qt::NoFocus);
    volume->setFixedWidth(100);
    progress->setCursor(Qt::PointingHandCursor);
    volume->setCursor(Qt::PointingHandCursor);

    bar = new QWidget(this);
    bar->setObjectName(QStringLiteral("bar"));
    bar->setFixedHeight(barHeight);
    auto* barLayout = new QHBoxLayout(bar);
    barLayout->setContentsMargins(0, 0, 0, 0);
    barLayout->addSpacing(20);
    barLayout->addWidget(btnPlay);
    barLayout->addWidget(btnPause);
    barLayout->addSpacing(10);
    barLayout->addWidget(progress);
    barLayout->addSpacing(10);
    barLayout->addWidget(lbltime1);
    barLayout->addWidget(lbltime2);
    barLayout->addSpacing(10);
    barLayout->addWidget(btnStudy);
    barLayout->addSpacing(10);
    barLayout->addWidget(btnDown);
    barLayout->addSpacing(10);
    barLayout->addWidget(speedBox);
    barLayout->addSpacing(10);
    barLayout->addWidget(btnVolumn);
    barLayout->addWidget(btnNoVolumn);
    barLayout->addWidget(volume);
    barLayout->addSpacing(10);
    barLayout->addWidget(btnScreen);
    barLayout->addWidget(btnRecovery);
    barLayout->addSpacing(20);

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

    courseInfo = new HttpHelper(this);
    learnState = new HttpHelper(this);
    learnState->setTimeout(30000);
    onlinePlaylist = new OnlinePlaylist(this);
    saveTimer = new QTimer(this);
    saveTimer->setInterval(positionSaveMs);
    hideTimer = new QTimer(this);
    hideTimer->setSingleShot(true);
    connect(hideTimer, &QTimer::timeout, this, &FormPlayer::hideIdleControls);

    connect(mpv, &MpvController::positionChanged, this, &FormPlayer::updateSlider);
    connect(mpv, &MpvController::started, this, &FormPlayer::onPlayerStart);
    connect(mpv, &MpvController::durationChanged, this, [this] {
        if (hasStarted) {
            showDuration();
        }
    });
    connect(mpv, &MpvController::pausedChanged, this, &FormPlayer::updatePauseButtons);
    connect(mpv, &MpvController::seekFinished, this, [this] { jumpPending = false; });
    // The last position mpv reports lies within the last second: the end shows the length.
    connect(mpv, &MpvController::endReached, this, &FormPlayer::updateSlider);
    connect(mpv, &MpvController::error, this, &FormPlayer::onError);
    connect(progress, &Slider::sliderMoved, this, &FormPlayer::seek);
    connect(progress, &Slider::mousePress, this, &FormPlayer::seek);
    connect(btnPlay, &QPushButton::clicked, this, &FormPlayer::playPause);
    connect(btnPause, &QPushButton::clicked, this, &FormPlayer::playPause);
    connect(btnBigStart, &QPushButton::clicked, this, &FormPlayer::playPause);
    connect(btnVolumn, &QPushButton::clicked, this, &FormPlayer::onBtnVolumnClick);
    connect(btnNoVolumn, &QPushButton::clicked, this, &FormPlayer::onBtnNoVolumClick);
    connect(volume, &Slider::sliderMoved, this, &FormPlayer::onVolumnSlider);
    connect(volume, &Slider::mousePress, this, &FormPlayer::onVolumnSlider);
    connect(btnScreen, &QPushButton::clicked, this, &FormPlayer::normalFullScreen);
    connect(btnRecovery, &QPushButton::clicked, this, &FormPlayer::normalFullScreen);
    connect(btnDown, &QPushButton::clicked, this, &FormPlayer::onBtnDownClick);
    connect(btnStudy, &QPushButton::clicked, this, &FormPlayer::onBtnStudyClick);
    connect(courseInfo, &HttpHelper::done, this, &FormPlayer::httpGetMyCourseInfoDone);
    connect(learnState, &HttpHelper::done, this, &FormPlayer::httpPushLearnStateDone);
    connect(saveTimer, &QTimer::timeout, this, [this] {
        if (mpv->isPlaying() && !mpv->isPaused()) {
            savePosition();
        }
    });
    connect(speedBox, QOverload<int>::of(&QComboBox::activated), this,
            [this](int index) { setSpeed(speedBox->itemData(index).toDouble()); });

    const App* app = App::instance();
    const double remembered = app ? app->setting(SettingKeys::playerSpeed).toDouble() : 1.0;
    const int speedIndex = speeds.indexOf(remembered);
    speedBox->setCurrentIndex(speedIndex >= 0 ? speedIndex : speeds.indexOf(1.0));
    mpv->setSpeed(speeds.value(speedBox->currentIndex(), 1.0));
}

const LessonRecord* FormPlayer::currentLesson() const
{
    return course && lessonIndex >= 0 && lessonIndex < course->list.size()
               ? &course->list.at(lessonIndex)
               : nullptr;
}

LessonRecord* FormPlayer::lessonRecord()
{
    return course && lessonIndex >= 0 && lessonIndex < course->list.size()
               ? &course->list[lessonIndex]
               : nullptr;
}

void FormPlayer::playLesson(const QString& cid, const QString& lid, const QString& c_type)
{
    App* app = App::instance();
    if (!built || !app) {
        return;
    }
    course = app->downloader()->findCourse(cid);
    lessonIndex = -1;
    lessonType = c_type;
    if (course) {
        for (int i = 0; i < course->list.size(); ++i) {
            if (course->list.at(i).id == lid) {
                lessonIndex = i;
                showLessonTitle(course->list.at(i).title);
                if (course->list.at(i).state == Complete) {
                    playLocal(course->list.at(i).dir);
                    return;
                }
                break;
            }
        }
    }
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
    App* app = App::instance();
    if (!app) {
        return;
    }
    playFile(playlist.toUtf8());
    classId = cid;
    lessonId = lid;
    btnStudy->show();
    btnDown->show();
    btnStudy->setEnabled(true);
    courseInfo->get(app->urlManager()->getMyCourseInfoForPcDownLoadUrl(cid));
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
    // Opened from a lesson tile the window knows only the folder: find its course and lesson,
    // so the place in the lecture is remembered and restored as for playLesson.
    if (!currentLesson() || currentLesson()->dir != dir) {
        course.reset();
        lessonIndex = -1;
        for (const CourseRecord& stored : app->downloader()->courses()) {
            for (int i = 0; i < stored.list.size(); ++i) {
                if (stored.list.at(i).dir == dir) {
                    course = stored;
                    lessonIndex = i;
                    lessonType = stored.list.at(i).c_type;
                }
            }
        }
    }
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
    showLoadText(QStringLiteral("正在加载课程"));
    video->expectFirstFrame();
    mpv->load(playlistFile->fileName());
}

void FormPlayer::showDuration()
{
    const qint64 seconds = mpv->duration() / 1000;
    progress->setRange(0, int(seconds));
    durationText = playerTimeText(seconds);
    updateSlider();
}

void FormPlayer::onPlayerStart()
{
    showDuration();
    volume->setRange(0, 10);
    volume->setValue(5);
    labelLoad->hide();
    progress->setEnabled(true);
    volume->setEnabled(true);
    if (!tipTimer) {
        tipTimer = startTimer(100);
    }
    saveTimer->start();
    updatePauseButtons();

    const bool firstStart = !hasStarted;
    hasStarted = true;
    const LessonRecord* lesson = currentLesson();
    // An empty position means none was remembered: no jump and no tip.
    const App* app = App::instance();
    if (firstStart && lesson && app && app->isOn(SettingKeys::resumePlayback) &&
        !lesson->watchtimes.isEmpty() && lesson->watchtimes != QLatin1String("0")) {
        jumpTipPending = true;
        jumpPending = true;
        seek(int(lesson->watchtimes.toDouble()));
    }
}

void FormPlayer::updateSlider()
{
    const bool atEnd = mpv->isLoaded() && !mpv->isPlaying();
    const qint64 seconds =
        (atEnd ? qMax(mpv->position(), mpv->duration()) : mpv->position()) / 1000;
    progress->setValue(int(seconds));
    const QString now = playerTimeText(seconds);
    lbltime1->setText(now);
    lbltime2->setText(QLatin1Char('/') + durationText);
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
        mpv->restart();
    }
    updatePauseButtons();
}

void FormPlayer::updatePauseButtons()
{
    const bool paused = mpv->isPaused();
    btnPlay->setVisible(paused);
    btnBigStart->setVisible(paused);
    btnPause->setVisible(!paused);
}

void FormPlayer::normalFullScreen()
{
    if (fullScreen) {
        showNormal();
    } else {
        showFullScreen();
    }
    fullScreen = !fullScreen;
    btnScreen->setVisible(!fullScreen);
    btnRecovery->setVisible(fullScreen);
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
    volume->setValue(value);
    mpv->setVolume(value / 10.0);
}

void FormPlayer::onBtnVolumnClick()
{
    btnVolumn->hide();
    btnNoVolumn->show();
    mpv->setMuted(true);
    savedVolume = volume->value();
    volume->setValue(0);
}

void FormPlayer::onBtnNoVolumClick()
{
    btnVolumn->show();
    btnNoVolumn->hide();
    mpv->setMuted(false);
    volume->setValue(savedVolume);
}

void FormPlayer::setSpeed(double factor)
{
    const int index = speeds.indexOf(factor);
    if (index < 0) {
        return;
    }
    speedBox->setCurrentIndex(index);
    mpv->setSpeed(factor);
    if (App* app = App::instance()) {
        app->setSetting(SettingKeys::playerSpeed, QString::number(factor));
    }
    showTip(QStringLiteral("播放速度 ") + speedText(factor));
}

double FormPlayer::speed() const
{
    return speedBox->currentData().toDouble();
}

void FormPlayer::stepSpeed(int step)
{
    const int index = speedBox->currentIndex() + step;
    if (index >= 0 && index < speeds.size()) {
        setSpeed(speeds.at(index));
    }
}

void FormPlayer::keyPressEvent(QKeyEvent* event)
{
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
        if (fullScreen) {
            normalFullScreen();
        }
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
    App* app = App::instance();
    if (!app) {
        return;
    }
    const JsonNode answer = JsonHelper::parse(result);
    if (result.isEmpty() || answer.getString(QStringLiteral("flag")) != QLatin1String("1")) {
        showTip(QStringLiteral("获取视频信息失败"));
        return;
    }
    const CourseRecord fresh(answer.getObject(QStringLiteral("data")), *app->urlManager());
    if (!course) {
        course = fresh;
    }
    for (int i = 0; i < course->list.size(); ++i) {
        if (course->list.at(i).id == lessonId) {
            lessonIndex = i;
            break;
        }
    }
    if (LessonRecord* lesson = lessonRecord()) {
        // The server's remembered position wins over the stored one.
        for (const LessonRecord& served : fresh.list) {
            if (served.id == lessonId) {
                lesson->watchtimes = served.watchtimes;
                break;
            }
        }
        // The web page names the lesson without its number; the record has it, as a lesson
        // opened from the store shows it.
        showLessonTitle(lesson->title);
    }
    btnDown->setEnabled(true);
    if (const LessonRecord* lesson = currentLesson();
        lesson && lesson->stutas == QLatin1String("1")) {
        pushLearnStatus(QStringLiteral("1"));
    }
}

void FormPlayer::pushLearnStatus(const QString& status)
{
    const LessonRecord* lesson = currentLesson();
    App* app = App::instance();
    if (!app) {
        return;
    }
    learnState->get(app->urlManager()->pushLearnStatusUrl(classId, lessonId, status,
                                                          lesson ? lesson->c_type : lessonType));
}

void FormPlayer::onBtnStudyClick()
{
    const LessonRecord* lesson = currentLesson();
    if (!lesson) {
        return;
    }
    if (lesson->stutas != QLatin1String("3")) {
        pushLearnStatus(QStringLiteral("2"));
        studyPushed = true;
    } else {
        showTip(QStringLiteral("该课程已经是已学完状态"));
    }
    btnStudy->setEnabled(false);
}

void FormPlayer::httpPushLearnStateDone(const QString& result)
{
    if (!studyPushed) {
        return;
    }
    const JsonNode answer = JsonHelper::parse(result);
    if (answer.getString(QStringLiteral("flag")) == QLatin1String("3")) {
        showTip(QStringLiteral("已标注"));
    } else {
        showTip(answer.getString(QStringLiteral("infos")));
    }
}

void FormPlayer::onBtnDownClick()
{
    btnDown->setEnabled(false);
    LessonRecord* lesson = lessonRecord();
    App* app = App::instance();
    if (!lesson || !app) {
        return;
    }
    switch (lesson->state) {
    case NotChosen:
        lesson->state = Chosen;
        app->downloader()->addCourse(*course);
        showTip(QStringLiteral("已添加至下载列表"));
        break;
    case Chosen:
        showTip(QStringLiteral("该课件已经开始下载"));
        break;
    case Complete:
        showTip(QStringLiteral("该课件已下载"));
        break;
    default:
        break;
    }
}

void FormPlayer::onError(const QString& reason)
{
    qDebug() << "playback failed:" << reason;
    showLoadText(QStringLiteral("加载失败"));
}

void FormPlayer::savePosition()
{
    // Before the first start, and until the jump to the remembered place has landed, the
    // position is no place in the lecture: keep the old one.
    LessonRecord* lesson = lessonRecord();
    App* app = App::instance();
    if (!hasStarted || (jumpPending && mpv->isSeeking()) || !lesson || !app ||
        !app->isOn(SettingKeys::resumePlayback)) {
        return;
    }
    lesson->watchtimes = QString::number(mpv->position() / 1000);
    app->downloader()->setWatchTime(course->id, lesson->id, lesson->watchtimes);
}

void FormPlayer::closeEvent(QCloseEvent* event)
{
    if (built) {
        titleBar->setEnabled(false);
        savePosition();
        saveTimer->stop();
        onlinePlaylist->abort();
        if (mpv->isLoaded()) {
            mpv->stop();
        }
    }
    QWidget::closeEvent(event);
    if (App::exists() && App::instance()->player() == this) {
        App::instance()->closePlayer();
    }
}
