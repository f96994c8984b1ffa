#pragma once

#include "BaseDialog.h"

class HttpHelper;
class QLineEdit;
class QPushButton;

// The password change: old password, new password and its repetition, checked here and sent
// with the password call. A successful change ends in the re-login dialog.
class FormAlterPwd : public BaseDialog
{
    Q_OBJECT
public:
    explicit FormAlterPwd(const QString& title, QWidget* parent = nullptr);

    QString pwdHint() const { return pwdHintText; }
    QLineEdit* oldBox() const { return txtOld; }
    QLineEdit* newBox() const { return txtNew; }
    QLineEdit* confirmationBox() const { return txtRepeat; }
    QPushButton* saveButton() const { return btnSave; }

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private slots:
    void onBtnClick();
    void httpPwdDone(QString result);

private:
    // Back to the hints: typed passwords do not outlive the change or the session.
    void resetBoxes();

    const QString pwdHintText;
    QLineEdit* txtOld = nullptr;
    QLineEdit* txtNew = nullptr;
    QLineEdit* txtRepeat = nullptr;
    QPushButton* btnSave = nullptr;
    HttpHelper* http = nullptr;
};
