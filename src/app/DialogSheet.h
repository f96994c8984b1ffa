#pragma once

#include <QPoint>

class QMouseEvent;
class QPaintEvent;
class QWidget;

// What every dialog sheet does alike: darken the main window beneath, and drag the main
// window along when the sheet is dragged, so the sheet stays over the window's body.
namespace DialogSheet {
void darken(QWidget* sheet, QPaintEvent* event);
// Stores the press position; returns whether a drag starts.
bool press(QWidget* sheet, QMouseEvent* event, QPoint& pressPos);
void drag(QWidget* sheet, QMouseEvent* event, bool dragging, const QPoint& pressPos);
} // namespace DialogSheet
