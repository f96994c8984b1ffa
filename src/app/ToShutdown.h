#pragma once

#include "BaseDialog.h"

#include <QTimer>

class QLabel;

// The 30-second countdown before the computer is switched off after the last download.
// Closing the dialog in any way stops the countdown for good.
class ToShutdown : public BaseDialog
{
    Q_OBJECT
public:
    explicit ToShutdown(QWidget* parent = nullptr);

    int remaining() const { return countdown; }
    QString labelText() const;
    QPushButton* cancelButton() const { return btnCancel; }

protected:
    void done(int result) override;
    void closeEvent(QCloseEvent* event) override;

private slots:
    void tick();

private:
    QLabel* countdownLabel = nullptr;
    QPushButton* btnCancel = nullptr;
    int countdown = 30;
    QTimer timer;
};
