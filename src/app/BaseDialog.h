#pragma once

#include "SheetDialog.h"

#include <functional>

class QPushButton;
class QVBoxLayout;

// The frame of every dialog: a frameless sheet exactly as large as the main window's body,
// darkened as a whole, with a fixed-size panel in its middle that carries a title strip, a
// close button and the content. Subclasses build their content on body().
class BaseDialog : public SheetDialog
{
    Q_OBJECT
public:
    BaseDialog(const QString& title, int panelWidth, int panelHeight, QWidget* parent = nullptr);

    QWidget* body() const { return bodyWidget; }
    QWidget* panel() const { return panelWidget; }
    QPushButton* closeButton() const { return closeBtn; }

    // Runs the dialog modally and returns its result. A test installs a hook that receives the
    // shown dialog instead of a person and returns the result; no modal loop runs then.
    int run();
    using RunHook = std::function<int(BaseDialog&)>;
    static void setRunHook(RunHook hook);

private:
    QVBoxLayout* dialogLayout = nullptr;
    QPushButton* closeBtn = nullptr;
    QWidget* panelWidget = nullptr;
    QWidget* titleBar = nullptr;
    QWidget* bodyWidget = nullptr;
    int titleHeight = 45;
};
