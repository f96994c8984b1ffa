#include "NextLessonOverlay.h"

#include "PlayerControlBar.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QVBoxLayout>

NextLessonOverlay::NextLessonOverlay(QWidget* parent) : StyledWidget(parent)
{
    setObjectName(QStringLiteral("nextOverlay"));
    setMinimumWidth(380);
    label = new QLabel(this);
    label->setObjectName(QStringLiteral("labelload"));
    label->setAlignment(Qt::AlignCenter);
    auto button = [this](const QString& text) {
        return PlayerControlBar::makeButton(QStringLiteral("btnStudy"), this, text);
    };
    btnNow = button(QStringLiteral("立即播放"));
    btnCancel = button(QStringLiteral("取消"));
    btnReplay = button(QStringLiteral("重新播放"));
    auto* buttons = new QHBoxLayout();
    buttons->addStretch();
    buttons->addWidget(btnNow);
    buttons->addWidget(btnCancel);
    buttons->addWidget(btnReplay);
    buttons->addStretch();
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(24, 18, 24, 18);
    layout->setSpacing(14);
    layout->addWidget(label);
    layout->addLayout(buttons);
    connect(btnNow, &QPushButton::clicked, this, &NextLessonOverlay::playNowClicked);
    connect(btnCancel, &QPushButton::clicked, this, &NextLessonOverlay::cancelClicked);
    connect(btnReplay, &QPushButton::clicked, this, &NextLessonOverlay::replayClicked);
    hide();
}

void NextLessonOverlay::showCountdown(int seconds, const QString& title)
{
    label->setText(QStringLiteral("%1 秒后播放下一讲：%2").arg(seconds).arg(title));
    btnNow->show();
    btnCancel->show();
    btnReplay->hide();
    place();
}

void NextLessonOverlay::showCourseDone()
{
    label->setText(QStringLiteral("本课程已学完"));
    btnNow->hide();
    btnCancel->hide();
    btnReplay->show();
    place();
}

QString NextLessonOverlay::text() const
{
    return isVisible() ? label->text() : QString();
}

void NextLessonOverlay::place()
{
    adjustSize();
    if (QWidget* over = parentWidget()) {
        move((over->width() - width()) / 2, (over->height() - height()) / 2);
    }
    show();
    raise();
}
