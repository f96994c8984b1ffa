#pragma once

#include "BaseDialog.h"

class QPushButton;

// Tells the user that the password was changed; its button logs out so that the user logs in
// again with the new password. Closing it through its frame leaves the user logged in.
class ReLogin : public BaseDialog
{
    Q_OBJECT
public:
    explicit ReLogin(QWidget* parent = nullptr);

    QPushButton* reloginButton() const { return btnRelogin; }

private slots:
    void onBtnClick();

private:
    QPushButton* btnRelogin = nullptr;
};
