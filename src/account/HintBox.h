#pragma once

#include <QString>

class QEvent;
class QLineEdit;
class QWidget;

// A hint shown as the text of an empty box: it goes when the box gets the focus and comes back
// when the box is left empty. Password boxes show the hint in clear and their input as dots.
class HintBox
{
public:
    // Handles focus events of `box`; other events are ignored. Never consumes the event.
    static void filter(QLineEdit* box, const QString& hint, bool password, QEvent* event);
    // Marks `box` (a line edit or an editable combo box) for the style sheet: its "hint"
    // property tells whether it shows `hint` or real text, now and whenever its text changes.
    static void markHint(QWidget* box, const QString& hint);
};
