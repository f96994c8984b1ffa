#pragma once

#include "StyledWidget.h"

class HttpHelper;
class QLabel;
class QLineEdit;
class QPushButton;

// The registration page: account name, password and its repetition, checked here and sent
// with the registration call; a registered user is treated as logged in.
class FormRegist : public StyledWidget
{
    Q_OBJECT
public:
    explicit FormRegist(QWidget* parent = nullptr);

    QString nameHint() const { return nameHintText; }
    QString pwdHint() const { return pwdHintText; }
    QLineEdit* nameBox() const { return txtUser; }
    QLineEdit* passwordBox() const { return txtPwd; }
    QLineEdit* confirmationBox() const { return txtRepwd; }
    QPushButton* registerButton() const { return btnRegist; }
    QLabel* loginLabel() const { return lblReg; }

signals:
    // The bottom label was clicked: the container shows the login page.
    void loginRequested();

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private slots:
    void onRegistClick();
    void httpRegistDone(QString result);

private:
    void setRequesting(bool requesting);

    const QString nameHintText;
    const QString pwdHintText;
    QLineEdit* txtUser = nullptr;
    QLineEdit* txtPwd = nullptr;
    QLineEdit* txtRepwd = nullptr;
    QPushButton* btnRegist = nullptr;
    QLabel* lblReg = nullptr;
    HttpHelper* http = nullptr;
};
