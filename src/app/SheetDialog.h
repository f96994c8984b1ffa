#pragma once

#include <QDialog>

#include <functional>

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

    // Runs the dialog modally and returns its result. A test installs a hook that receives the
    // shown dialog instead of a person and returns the result; no modal loop runs then.
    int run();
    using RunHook = std::function<int(SheetDialog&)>;
    static void setRunHook(RunHook hook);

protected:
    // The main window may have moved or changed size since the dialog was built.
    void showEvent(QShowEvent* event) override;
    void paintEvent(QPaintEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;

private:
    QSize fallbackSize;
    QPoint pressPos;
    bool dragging = false;
};
