#pragma once

#include <QDialog>

// What every dialog of the program shares: a frameless, translucent top-level dialog laid
// exactly over the main window's body, darkened as a whole, that drags the main window along
// when it is dragged, so the sheet always stays over the window.
class SheetDialog : public QDialog
{
    Q_OBJECT
public:
    // The sheet takes the main window's body; without a main window, `fallback` centred on the
    // primary screen.
    SheetDialog(const QSize& fallback, QWidget* parent);

    static QRect sheetGeometry(const QSize& fallback);

protected:
    void paintEvent(QPaintEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;

private:
    QPoint pressPos;
    bool dragging = false;
};
