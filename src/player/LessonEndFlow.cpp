#include "LessonEndFlow.h"

#include "LessonCountdown.h"
#include "NextLessonOverlay.h"
#include "PlaybackSession.h"
#include "PlayerControlBar.h"

#include <QPushButton>

LessonEndFlow::LessonEndFlow(PlaybackSession* session, PlayerControlBar* bar,
                             NextLessonOverlay* overlay, std::function<bool()> autoPlayNext,
                             QObject* parent)
    : QObject(parent), session(session), bar(bar), overlay(overlay),
      autoPlayNext(std::move(autoPlayNext)), timer(new LessonCountdown(this))
{
    connect(timer, &LessonCountdown::ticked, this, [this](int left) {
        const std::optional<CourseRecord>& course = this->session->course();
        if (course && target >= 0 && target < course->list.size()) {
            this->overlay->showCountdown(left, course->list.at(target).title);
        }
    });
    connect(timer, &LessonCountdown::fired, this, [this] {
        this->overlay->hide();
        emit playIndex(target);
    });
    connect(overlay, &NextLessonOverlay::playNowClicked, timer, &LessonCountdown::playNow);
    connect(overlay, &NextLessonOverlay::cancelClicked, this, &LessonEndFlow::cancel);
    connect(overlay, &NextLessonOverlay::replayClicked, this, [this] {
        this->overlay->hide();
        emit replay();
    });
    connect(bar->btnPrev, &QPushButton::clicked, this,
            [this] { emit playIndex(this->session->previousIndex()); });
    connect(bar->btnNext, &QPushButton::clicked, this,
            [this] { emit playIndex(this->session->nextIndex()); });
}

void LessonEndFlow::lessonEnded(qint64 durationMs)
{
    session->finish(durationMs);
    const int next = session->nextIndex();
    switch (PlaybackSession::endAction(next >= 0, autoPlayNext())) {
    case PlaybackSession::CountDown:
        target = next;
        timer->start(countdownSeconds);
        break;
    case PlaybackSession::CourseDone:
        overlay->showCourseDone();
        break;
    case PlaybackSession::StayOnEnd:
        break;
    }
}

bool LessonEndFlow::cancel()
{
    const bool running = timer->isRunning();
    timer->cancel();
    overlay->hide();
    return running;
}

bool LessonEndFlow::isShowing() const
{
    return timer->isRunning() || overlay->isVisible();
}

void LessonEndFlow::updateButtons()
{
    const std::optional<CourseRecord>& course = session->course();
    const auto show = [&course](QPushButton* button, int index) {
        button->setEnabled(index >= 0);
        button->setToolTip(index >= 0 ? course->list.at(index).title : QString());
    };
    show(bar->btnPrev, session->previousIndex());
    show(bar->btnNext, session->nextIndex());
}
