#include "StyledWidget.h"

#include <QPainter>
#include <QStyleOption>

StyledWidget::StyledWidget(QWidget* parent) : QWidget(parent) {}

void StyledWidget::paintEvent(QPaintEvent* event)
{
    QStyleOption option;
    option.initFrom(this);
    QPainter painter(this);
    style()->drawPrimitive(QStyle::PE_Widget, &option, &painter, this);
    QWidget::paintEvent(event);
}
