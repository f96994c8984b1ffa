#pragma once

#include <QString>

class QEvent;
class QLineEdit;

// A hint shown as the text of an empty box: it goes when the box gets the focus and comes back
// when the box is left empty. Password boxes show the hint in clear and their input as dots.
class HintBox
{
public:
    // Handles focus events of `box`; other events are ignored. Never consumes the event.
    static void filter(QLineEdit* box, const QString& hint, bool password, QEvent* event);
};
