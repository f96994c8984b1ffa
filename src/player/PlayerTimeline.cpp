#include "PlayerTimeline.h"

#include "MpvController.h"
#include "PlaybackSession.h"
#include "PlayerControlBar.h"
#include "PlayerTime.h"
#include "PlayerTips.h"
#include "Slider.h"

#include <QTimer>

PlayerTimeline::PlayerTimeline(MpvController* mpv, PlaybackSession* playback, PlayerControlBar* bar,
                               PlayerTips* tips, int saveMs, QObject* parent)
    : QObject(parent), mpv(mpv), playback(playback), bar(bar), tips(tips),
      saveTimer(new QTimer(this))
{
    saveTimer->setInterval(saveMs);
    connect(saveTimer, &QTimer::timeout, this, [this] {
        if (this->mpv->isPlaying() && !this->mpv->isPaused()) {
            savePosition();
        }
    });
    connect(mpv, &MpvController::positionChanged, this, &PlayerTimeline::updateSlider);
    connect(mpv, &MpvController::durationChanged, this, [this] {
        if (this->playback->hasStarted()) {
            showDuration();
        }
    });
    connect(bar->progress, &Slider::sliderMoved, this, &PlayerTimeline::seek);
    connect(bar->progress, &Slider::mousePress, this, &PlayerTimeline::seek);
}

void PlayerTimeline::loading()
{
    jumpTipPending = false;
}

void PlayerTimeline::started()
{
    showDuration();
    bar->progress->setEnabled(true);
    saveTimer->start();
    const int jump = playback->started();
    if (jump >= 0) {
        jumpTipPending = true;
        seek(jump);
    }
}

void PlayerTimeline::seek(int seconds)
{
    if (!mpv->isLoaded()) {
        return;
    }
    mpv->seek(qint64(seconds) * 1000);
    tips->showLoad(QStringLiteral("正在跳转"));
}

void PlayerTimeline::step(int seconds)
{
    const Slider* progress = bar->progress;
    const int to = progress->value() + seconds;
    if ((seconds < 0 && progress->value() > 0) ||
        (seconds > 0 && progress->value() < progress->maximum())) {
        seek(to);
    }
}

void PlayerTimeline::savePosition()
{
    playback->savePosition(mpv->position(), mpv->duration(), mpv->isSeeking());
}

void PlayerTimeline::stop()
{
    savePosition();
    saveTimer->stop();
}

void PlayerTimeline::showDuration()
{
    bar->setDuration(mpv->duration() / 1000);
    updateSlider();
}

void PlayerTimeline::updateSlider()
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
