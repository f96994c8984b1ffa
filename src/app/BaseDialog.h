#pragma once

#include "SheetDialog.h"

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

private:
    QVBoxLayout* dialogLayout = nullptr;
    QPushButton* closeBtn = nullptr;
    QWidget* panelWidget = nullptr;
    QWidget* titleBar = nullptr;
    QWidget* bodyWidget = nullptr;
    int titleHeight = 45;
};
