#include "PlayerTips.h"

#include <QLabel>
#include <QTimerEvent>
#include <QWidget>

PlayerTips::PlayerTips(QWidget* window)
    : QObject(window), window(window),
      labelLoad(new QLabel(QStringLiteral("正在加载课程"), window)), labelTip(new QLabel(window))
{
    labelLoad->setObjectName(QStringLiteral("labelload"));
    labelTip->setObjectName(QStringLiteral("labelload"));
    labelLoad->adjustSize();
    labelTip->adjustSize();
    labelTip->hide();
    place();
}

void PlayerTips::place()
{
    const int w = window->width();
    const int h = window->height();
    labelLoad->move((w - labelLoad->width()) / 2, h / 2);
    labelTip->move((w - labelTip->width()) / 2, h - 80);
}

void PlayerTips::showLoad(const QString& text)
{
    labelLoad->setText(text);
    labelLoad->adjustSize();
    place();
    labelLoad->show();
    labelLoad->raise();
}

void PlayerTips::hideLoad()
{
    labelLoad->hide();
}

void PlayerTips::showTip(const QString& text)
{
    if (text.isEmpty()) {
        return;
    }
    labelTip->setText(text);
    labelTip->adjustSize();
    place();
    labelTip->show();
    labelTip->raise();
    tipTicks = 30;
}

void PlayerTips::startClock()
{
    if (!tipTimer) {
        tipTimer = startTimer(100);
    }
}

void PlayerTips::timerEvent(QTimerEvent* event)
{
    if (event->timerId() == tipTimer && tipTicks > 0 && --tipTicks == 0) {
        labelTip->hide();
    }
}
