#pragma once

#include "StyledWidget.h"

class HttpHelper;
class QComboBox;
class QLabel;
class QLineEdit;
class QNetworkAccessManager;
class QNetworkReply;
class QPushButton;

// The login page: a user name (with the names used on this computer to choose from) and a
// password, sent with the login call. A successful answer fills the session record, saves the
// user's store, remembers the name for the next start, fetches the avatar once and switches
// the application into the logged-in state.
class FormLoginin : public StyledWidget
{
    Q_OBJECT
public:
    explicit FormLoginin(QWidget* parent = nullptr);

    QString nameHint() const { return nameHintText; }
    QString pwdHint() const { return pwdHintText; }
    QComboBox* nameBox() const { return cmbName; }
    QLineEdit* passwordBox() const { return txtName; }
    QPushButton* loginButton() const { return btnLogin; }
    QLabel* registerLabel() const { return lblReg; }
    QString userDir() const { return userDirPath; }

public slots:
    void onBtnloginClick();

signals:
    // The bottom label was clicked: the container shows the registration page.
    void registerRequested();

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private slots:
    void httpLoginDone(QString result);
    void httpSidDone(QString result);
    void imgFinished(QNetworkReply* reply);

private:
    void setRequesting(bool requesting);
    void fetchAvatar(const QString& address, const QString& path);

    const QString nameHintText;
    const QString pwdHintText;
    QLabel* lblName = nullptr;
    QComboBox* cmbName = nullptr;
    QLabel* lblPwdTip = nullptr;
    QLineEdit* txtName = nullptr;
    QPushButton* btnLogin = nullptr;
    QLabel* lblReg = nullptr;
    HttpHelper* http = nullptr;
    HttpHelper* sidHttp = nullptr;
    // The login waiting for a session id.
    QString pendingName;
    QString pendingPassword;
    QNetworkAccessManager* imgManager = nullptr;
    QString userDirPath;
    QString avatarPath;
};
