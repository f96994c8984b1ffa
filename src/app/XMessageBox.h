#pragma once

#include "SheetDialog.h"

#include <functional>

class QLabel;
class QPushButton;

// The program's message box: a sheet over the main window with a text, OK ("确认") and,
// unless okOnly, Cancel ("取消").
class XMessageBox : public SheetDialog
{
    Q_OBJECT
public:
    XMessageBox(const QString& text, bool okOnly, QWidget* parent = nullptr);

    // Runs the box modally. Returns false only after OK; Cancel, the close button or any other
    // way of closing it count as cancel.
    bool showAndWait();

    // One-use helpers: ask() is true when the user confirmed; inform() shows an OK-only box.
    static bool ask(const QString& text, QWidget* parent = nullptr);
    static void inform(const QString& text, QWidget* parent = nullptr);

    // Test seam: with a responder installed, showAndWait() shows the box, hands it to the
    // responder (which may click its buttons) and returns without a modal loop. The responder
    // returns true to answer OK when it has not closed the box itself.
    using Responder = std::function<bool(XMessageBox&)>;
    static void setResponder(Responder responder);

    QString text() const;
    // A question whose figures change while it stands (lessons finishing) is worded anew.
    void setText(const QString& text);
    bool isOkOnly() const { return okOnly; }
    QPushButton* okButton() const { return btnOK; }
    QPushButton* cancelButton() const { return btnCancel; }
    QPushButton* closeButton() const { return btnClose; }

public slots:
    void ok();
    void cancel();

private:
    bool cancelled = true;
    bool okOnly;
    QLabel* label = nullptr;
    QPushButton* btnOK = nullptr;
    QPushButton* btnCancel = nullptr;
    QPushButton* btnClose = nullptr;
};
