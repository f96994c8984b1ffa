#include "DialogSheet.h"

#include "App.h"
#include "MainForm.h"

#include <QMouseEvent>
#include <QPainter>
#include <QWidget>

namespace DialogSheet {

void darken(QWidget* sheet, QPaintEvent*)
{
    QPainter painter(sheet);
    painter.fillRect(sheet->rect(), QColor(0, 0, 0, 60));
}

bool press(QWidget*, QMouseEvent* event, QPoint& pressPos)
{
    if (event->button() != Qt::LeftButton) {
        return false;
    }
    pressPos = event->pos();
    return true;
}

void drag(QWidget* sheet, QMouseEvent* event, bool dragging, const QPoint& pressPos)
{
    if (!dragging || !(event->buttons() & Qt::LeftButton)) {
        return;
    }
    const QPoint topLeft = event->globalPos() - pressPos;
    sheet->move(topLeft);
    if (App::exists()) {
        if (MainForm* main = App::instance()->mainForm()) {
            main->moveTo(topLeft.x(), topLeft.y());
        }
    }
}

} // namespace DialogSheet
