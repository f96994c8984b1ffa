#pragma once

#include "StyledWidget.h"

class FormLoginin;
class FormRegist;
class FormUserInfo;
class QVBoxLayout;

// The user page of the main window: the login page, the registration page or, while somebody
// is logged in, the user panel; exactly one of them is shown.
class FormUser : public StyledWidget
{
    Q_OBJECT
public:
    explicit FormUser(QWidget* parent = nullptr);

    FormLoginin* loginPage() const { return formLogin; }
    FormRegist* registerPage();
    // Built when first needed (a login, a picture, a test): its banner is the largest picture
    // of the window and has no place on the login page the program starts with.
    FormUserInfo* userPanel();

private slots:
    void login(bool value);
    void showRegist();
    void showLoginin();

private:
    FormLoginin* formLogin = nullptr;
    FormRegist* formRegist = nullptr;
    FormUserInfo* formUserInfo = nullptr;
    QVBoxLayout* pageLayout = nullptr;
};
