#include "HintBox.h"

#include <QComboBox>
#include <QEvent>
#include <QLineEdit>
#include <QStyle>

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

void HintBox::markHint(QWidget* box, const QString& hint)
{
    const auto mark = [box, hint](const QString& text) {
        const bool isHint = text == hint;
        if (box->property("hint").isValid() && box->property("hint").toBool() == isHint) {
            return;
        }
        box->setProperty("hint", isHint);
        box->style()->unpolish(box);
        box->style()->polish(box);
    };
    if (auto* combo = qobject_cast<QComboBox*>(box)) {
        QObject::connect(combo, &QComboBox::editTextChanged, box, mark);
        mark(combo->currentText());
    } else if (auto* line = qobject_cast<QLineEdit*>(box)) {
        QObject::connect(line, &QLineEdit::textChanged, box, mark);
        mark(line->text());
    }
}
