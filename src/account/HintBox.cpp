#include "HintBox.h"

#include <QEvent>
#include <QLineEdit>

void HintBox::filter(QLineEdit* box, const QString& hint, bool password, QEvent* event)
{
    if (event->type() == QEvent::FocusIn) {
        if (box->text() == hint) {
            box->clear();
            if (password) {
                box->setEchoMode(QLineEdit::Password);
            }
        }
    } else if (event->type() == QEvent::FocusOut) {
        if (box->text().isEmpty()) {
            box->setText(hint);
            if (password) {
                box->setEchoMode(QLineEdit::Normal);
            }
        }
    }
}
