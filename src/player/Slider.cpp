#include "Slider.h"

#include "PlayerTime.h"

#include <QMouseEvent>
#include <QPainter>
#include <QToolTip>

Slider::Slider(QWidget* parent, bool horizontal)
    : QSlider(horizontal ? Qt::Horizontal : Qt::Vertical, parent)
{
    setMouseTracking(true);
}

int Slider::valueAt(int x) const
{
    if (width() <= 0) {
        return minimum();
    }
    const double ratio = double(x) / double(width());
    return minimum() + int(double(maximum() - minimum()) * ratio);
}

int Slider::xOf(int value) const
{
    const int span = maximum() - minimum();
    return span > 0 ? int(double(value - minimum()) * width() / span) : 0;
}

void Slider::setMarks(const QList<int>& values)
{
    markValues = values;
    update();
}

QString Slider::timeTipAt(int x) const
{
    return playerTimeText(qBound(minimum(), valueAt(x), maximum()));
}

void Slider::mousePressEvent(QMouseEvent* event)
{
    QSlider::mousePressEvent(event);
    emit mousePress(valueAt(event->pos().x()));
}

void Slider::mouseMoveEvent(QMouseEvent* event)
{
    QSlider::mouseMoveEvent(event);
    if (timeTips && isEnabled() && maximum() > minimum()) {
        QToolTip::showText(event->globalPos(), timeTipAt(event->pos().x()), this);
    }
}

void Slider::paintEvent(QPaintEvent* event)
{
    QSlider::paintEvent(event);
    if (markValues.isEmpty() || maximum() <= minimum()) {
        return;
    }
    QPainter painter(this);
    painter.setPen(Qt::NoPen);
    painter.setBrush(QColor(0xff, 0xb4, 0x00));
    const int top = height() / 2 - 5;
    for (int value : markValues) {
        painter.drawRect(QRect(xOf(value) - 1, top, 3, 10));
    }
}
