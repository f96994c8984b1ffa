#pragma once

#include "StyledWidget.h"

class MainForm;
class QPushButton;

// The strip at the bottom of the main window with the big page buttons. The current page's
// button is disabled; the style sheet gives it its "current" picture.
class NavigatWidget : public StyledWidget
{
    Q_OBJECT
public:
    explicit NavigatWidget(MainForm* parent);

    // 1 my classes, 2 downloads, 3 questions, 4 user; any other index marks none.
    void select(int index);

    QPushButton* button(int index) const;

private:
    QPushButton* btnMyClass = nullptr;
    QPushButton* btnDownload = nullptr;
    QPushButton* btnQA = nullptr;
    QPushButton* btnUser = nullptr;
};
