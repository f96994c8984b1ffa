#include "Slider.h"

#include <QMouseEvent>

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

void Slider::mousePressEvent(QMouseEvent* event)
{
    QSlider::mousePressEvent(event);
    emit mousePress(valueAt(event->pos().x()));
}
