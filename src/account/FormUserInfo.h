#pragma once

#include "StyledWidget.h"

#include <memory>

class FormAlterPwd;
class QLabel;
class QPixmap;
class QImage;
class QPushButton;

// The user panel: the account name, the round avatar with the nickname below it, and the two
// actions, password change and logout.
class FormUserInfo : public StyledWidget
{
    Q_OBJECT
public:
    explicit FormUserInfo(QWidget* parent = nullptr);
    ~FormUserInfo() override;

    static constexpr int avatarSize = 70;
    // The picture cut round: stretched to 70 × 70 whatever its proportions, outside the circle
    // transparent. A null image gives a null picture.
    static QPixmap roundAvatar(const QImage& image);

    QLabel* accountLabel() const { return lblAccount; }
    QLabel* avatarLabel() const { return avatar; }
    QLabel* nicknameLabel() const { return nickLabel; }
    QPushButton* alterPwdButton() const { return btnAlterPwd; }
    QPushButton* escButton() const { return btnEsc; }
    FormAlterPwd* passwordDialog() const { return pwdDialog.get(); }

protected:
    void resizeEvent(QResizeEvent* event) override;

public slots:
    void onLogin(bool value);
    void onAddUserImg(QString path);

private slots:
    void escLogin();
    void alterPwd();

private:
    void placeAvatar();

    QLabel* bar = nullptr;
    QLabel* lblAccount = nullptr;
    QPushButton* btnAlterPwd = nullptr;
    QPushButton* btnEsc = nullptr;
    QLabel* avatar = nullptr;
    QLabel* nickLabel = nullptr;
    // A window of its own, covering the main window's body; kept with its content.
    std::unique_ptr<FormAlterPwd> pwdDialog;
};
