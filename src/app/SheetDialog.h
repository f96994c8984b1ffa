#pragma once

#include <QDialog>

#include <functional>

// What every dialog of the program shares: a frameless dialog of the main window laid exactly
// over the window's body, darkened as a whole, that drags the main window along when it is
// dragged, so the sheet always stays over the window. Where the desktop does not compose, a
// plain framed box of its own size, centred over the body. Modal to the main window only,
// so that the tray's menu still works while a dialog is open.
class SheetDialog : public QDialog
{
    Q_OBJECT
public:
    // The sheet takes the main window's body; without a main window, `fallback` centred on the
    // primary screen. Without a parent the main window is the parent.
    SheetDialog(const QSize& fallback, QWidget* parent);

    static QRect sheetGeometry(const QSize& fallback);

    // True when the desktop composes windows, so that a see-through sheet shows the window
    // beneath it; without a compositor the see-through parts would be black. Windows and
    // Wayland always compose; an X11 desktop when a compositing manager runs.
    static bool screenComposes();
    // Test seam: the answer of screenComposes() for the dialogs built after it; 0 = ask the
    // desktop again, 1 = composes, -1 = does not.
    static void setScreenComposes(int answer);
    bool isSeeThrough() const { return seeThrough; }

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
    void placeOverMainWindow();

    QSize fallbackSize;
    bool seeThrough = true;
    QPoint pressPos;
    bool dragging = false;
};
