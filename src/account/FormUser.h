#pragma once

#include "StyledWidget.h"

class FormLoginin;
class FormRegist;
class FormUserInfo;

// The user page of the main window: the login page, the registration page or, while somebody
// is logged in, the user panel; exactly one of them is shown.
class FormUser : public StyledWidget
{
    Q_OBJECT
public:
    explicit FormUser(QWidget* parent = nullptr);

    FormLoginin* loginPage() const { return formLogin; }
    FormRegist* registerPage() const { return formRegist; }
    FormUserInfo* userPanel() const { return formUserInfo; }

private slots:
    void login(bool value);
    void showRegist();
    void showLoginin();

private:
    FormLoginin* formLogin = nullptr;
    FormRegist* formRegist = nullptr;
    FormUserInfo* formUserInfo = nullptr;
};
