#include "FormLoginin.h"

#include "AccountRules.h"
#include "App.h"
#include "CourseLibrary.h"
#include "HintBox.h"
#include "HttpHelper.h"
#include "JsonHelper.h"
#include "PictureReader.h"
#include "SettingKeys.h"
#include "TransferGuard.h"
#include "URLManager.h"
#include "UrlPolicy.h"
#include "UserRecord.h"
#include "XMessageBox.h"

#include <QComboBox>
#include <QDateTime>
#include <QDebug>
#include <QDir>
#include <QFileInfo>
#include <QHBoxLayout>
#include <QImage>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QPushButton>
#include <QSaveFile>
#include <QUrl>
#include <QVBoxLayout>

// Where a reply of the avatar download is to be written.
static const char* const avatarTarget = "avatarTarget";

FormLoginin::FormLoginin(QWidget* parent)
    : StyledWidget(parent), nameHintText(QStringLiteral("请输入您的手机号")),
      pwdHintText(QStringLiteral("请输入密码"))
{
    setObjectName(QStringLiteral("ContentWidget"));
    setAutoFillBackground(true);
    setFixedWidth(400);

    lblName = new QLabel(this);
    lblName->setObjectName(QStringLiteral("lblName"));
    lblName->setFixedWidth(52);
    lblName->setAlignment(Qt::AlignCenter);
    cmbName = new QComboBox(this);
    // The style sheet matches the name; it must be in place before the combo box builds its
    // line edit.
    cmbName->setObjectName(QStringLiteral("cmbName"));
    cmbName->setEditable(true);
    cmbName->setInsertPolicy(QComboBox::NoInsert);

    lblPwdTip = new QLabel(this);
    lblPwdTip->setObjectName(QStringLiteral("lblPwdTip"));
    lblPwdTip->setFixedWidth(52);
    lblPwdTip->setAlignment(Qt::AlignCenter);
    txtName = new QLineEdit(pwdHintText, this);
    txtName->setObjectName(QStringLiteral("txtName"));

    btnLogin = new QPushButton(QStringLiteral("登录"), this);
    btnLogin->setObjectName(QStringLiteral("btnLogin"));
    btnLogin->setCursor(Qt::PointingHandCursor);

    lblReg = new QLabel(QStringLiteral("没有账号，请注册"), this);
    lblReg->setObjectName(QStringLiteral("lblReg"));
    lblReg->setCursor(Qt::PointingHandCursor);

    auto* nameRow = new QHBoxLayout();
    nameRow->addWidget(lblName);
    nameRow->addWidget(cmbName);
    auto* pwdRow = new QHBoxLayout();
    pwdRow->addWidget(lblPwdTip);
    pwdRow->addWidget(txtName);
    auto* layout = new QVBoxLayout(this);
    layout->setSpacing(0);
    layout->addStretch(2);
    layout->addLayout(nameRow);
    layout->addSpacing(2);
    layout->addLayout(pwdRow);
    layout->addSpacing(20);
    layout->addWidget(btnLogin);
    layout->addSpacing(20);
    layout->addWidget(lblReg, 0, Qt::AlignHCenter);
    layout->addStretch(3);

    connect(btnLogin, &QPushButton::clicked, this, &FormLoginin::onBtnloginClick);
    http = new HttpHelper(this);
    connect(http, &HttpHelper::done, this, &FormLoginin::httpLoginDone);
    sidHttp = new HttpHelper(this);
    connect(sidHttp, &HttpHelper::done, this, &FormLoginin::httpSidDone);
    lblReg->installEventFilter(this);
    cmbName->installEventFilter(this);
    txtName->installEventFilter(this);

    App* app = App::instance();
    // After a logout the next person at this computer must not find the password typed in.
    connect(app, &App::Login, this, [this](bool value) {
        if (!value) {
            txtName->setEchoMode(QLineEdit::Normal);
            txtName->setText(pwdHintText);
        }
    });
    userDirPath = app->userRoot();
    const QDir dir(userDirPath);
    if (dir.exists()) {
        cmbName->addItems(dir.entryList(QDir::AllEntries | QDir::NoDotAndDotDot, QDir::Name));
    }
    // Filling the list selects its first entry; the box starts with the hint or the last user.
    cmbName->setEditText(nameHintText);
    HintBox::markHint(cmbName, nameHintText);
    HintBox::markHint(txtName, pwdHintText);
    const QString lastUser = app->setting(SettingKeys::lastUser);
    if (!lastUser.isEmpty()) {
        cmbName->setEditText(lastUser);
    }
}

bool FormLoginin::eventFilter(QObject* watched, QEvent* event)
{
    if (watched == lblReg) {
        if (event->type() == QEvent::MouseButtonPress) {
            hide();
            emit registerRequested();
            return true;
        }
    } else if (watched == cmbName) {
        if (event->type() == QEvent::FocusIn && cmbName->currentText() == nameHintText) {
            cmbName->setEditText(QString());
        } else if (event->type() == QEvent::FocusOut && cmbName->currentText().isEmpty()) {
            cmbName->setEditText(nameHintText);
        }
    } else if (watched == txtName) {
        HintBox::filter(txtName, pwdHintText, true, event);
        if (event->type() == QEvent::KeyPress) {
            const auto* key = static_cast<QKeyEvent*>(event);
            // Only the main keyboard's Return logs in, not the keypad's Enter.
            if (key->key() == Qt::Key_Return && !(key->modifiers() & Qt::KeypadModifier)) {
                onBtnloginClick();
            }
        }
    }
    return StyledWidget::eventFilter(watched, event);
}

void FormLoginin::setRequesting(bool requesting)
{
    btnLogin->setText(requesting ? QStringLiteral("正在登录...") : QStringLiteral("登录"));
    for (QWidget* input : {static_cast<QWidget*>(btnLogin), static_cast<QWidget*>(cmbName),
                           static_cast<QWidget*>(txtName), static_cast<QWidget*>(lblReg)}) {
        input->setEnabled(!requesting);
    }
}

void FormLoginin::onBtnloginClick()
{
    if (!btnLogin->isEnabled()) {
        return; // a request is on its way
    }
    const QString name = cmbName->currentText().trimmed();
    const QString password = txtName->text().trimmed();
    if (name.isEmpty() || name == nameHintText) {
        XMessageBox::inform(QStringLiteral("请输入用户名！"));
        return;
    }
    if (password.isEmpty() || password == pwdHintText) {
        XMessageBox::inform(QStringLiteral("请输入密码！"));
        return;
    }
    App* app = App::instance();
    if (!app) {
        return;
    }
    setRequesting(true);
    // Without a session id the school ignores the login; the first ask may have been lost.
    if (app->library()->sid().isEmpty()) {
        pendingName = name;
        pendingPassword = password;
        sidHttp->get(app->urlManager()->getSessionIdUrl());
        return;
    }
    http->get(app->urlManager()->getLoginUrl(name, password));
}

void FormLoginin::httpSidDone(QString result)
{
    App* app = App::instance();
    const QString name = pendingName;
    const QString password = pendingPassword;
    pendingName.clear();
    pendingPassword.clear();
    if (!app) {
        return;
    }
    const QString sid = JsonHelper::parse(result)
                            .getObject(QStringLiteral("data"))
                            .getString(QStringLiteral("sid"));
    if (sid.isEmpty()) {
        qDebug() << "no session id: the school did not answer";
        XMessageBox::inform(QStringLiteral("请检查网络连接"));
        setRequesting(false);
        return;
    }
    app->library()->setSid(sid);
    http->get(app->urlManager()->getLoginUrl(name, password));
}

void FormLoginin::httpLoginDone(QString result)
{
    App* app = App::instance();
    if (!app) {
        return;
    }
    if (result.isEmpty()) {
        XMessageBox::inform(QStringLiteral("请检查网络连接"));
        setRequesting(false);
        return;
    }
    const JsonNode answer = JsonHelper::parse(result);
    const QString flag = answer.getString(QStringLiteral("flag"));
    // The answer names the student (uid, e-mail): only its flag goes to the log.
    qDebug() << "login answer, flag" << flag;
    const JsonNode data = answer.getObject(QStringLiteral("data"));
    const QString username = data.getString(QStringLiteral("username"));
    if (flag != QLatin1String("1")) {
        // Every refusal is told: the school's own words when it gives some ("-2", "0" for a
        // signature it could not check), else what kind of failure it was.
        const QString infos = answer.getString(QStringLiteral("infos")).trimmed();
        qDebug() << "login refused with flag" << flag;
        XMessageBox::inform(!infos.isEmpty() ? infos
                            : flag.isEmpty() ? QStringLiteral("服务器应答有误，请稍后重试")
                                             : QStringLiteral("登录失败"));
        setRequesting(false);
        return;
    }
    if (!AccountRules::isPlainName(username)) {
        qDebug() << "login answer without a usable user name";
        XMessageBox::inform(QStringLiteral("登录失败"));
        setRequesting(false);
        return;
    }

    // Another user name switches the whole record through the scheduler: the previous user's
    // lesson in flight stops and their courses stay filed under their own name.
    UserRecord session = app->session();
    session.uid = data.getString(QStringLiteral("uid"));
    session.username = username;
    session.nickname = data.getString(QStringLiteral("nickname"));
    session.email = data.getString(QStringLiteral("email"));
    session.is_img = data.getString(QStringLiteral("is_img"));
    session.loginTime = UserRecord::now();
    const QString avatarAddress = session.is_img;
    app->takeSession(session);
    app->setSetting(SettingKeys::lastUser, username);
    if (cmbName->findText(username) < 0) {
        cmbName->addItem(username);
    }
    cmbName->setEditText(username);

    avatarPath = userDirPath + QLatin1Char('/') + username + QLatin1Char('/') + username +
                 QStringLiteral(".jpg");
    if (QFileInfo::exists(avatarPath)) {
        app->addUserImg(avatarPath);
    } else {
        fetchAvatar(avatarAddress, avatarPath);
    }
    app->setLogin(true);
    setRequesting(false);
}

void FormLoginin::fetchAvatar(const QString& address, const QString& path)
{
    const QUrl url(address, QUrl::StrictMode);
    if (!UrlPolicy::isAllowed(url)) {
        qDebug() << "no avatar address in the login answer";
        // The panel still shows the nickname and the welcome, with an empty picture.
        if (App* app = App::instance()) {
            app->addUserImg(path);
        }
        return;
    }
    // One manager serves every download of the page; each reply knows its own target, so a
    // slow answer for an earlier login cannot land in another user's file.
    if (!imgManager) {
        imgManager = new QNetworkAccessManager(this);
        connect(imgManager, &QNetworkAccessManager::finished, this, &FormLoginin::imgFinished);
    }
    QNetworkRequest request(url);
    UrlPolicy::prepare(request);
    QNetworkReply* reply = imgManager->get(request);
    UrlPolicy::watch(reply);
    TransferGuard::Limits limits;
    limits.maxBytes = HttpHelper::maxBytes; // a picture, not a film
    TransferGuard::attach(reply, limits);
    reply->setProperty(avatarTarget, path);
}

void FormLoginin::imgFinished(QNetworkReply* reply)
{
    if (!App::exists()) {
        reply->deleteLater();
        return; // the program has ended meanwhile
    }
    const QByteArray bytes = reply->readAll();
    const QString path = reply->property(avatarTarget).toString();
    const int status = reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt();
    const bool fetched = reply->error() == QNetworkReply::NoError &&
                         !TransferGuard::isOversized(reply) && status >= 200 && status < 300;
    reply->deleteLater();

    // Only a real picture is kept: a failed download leaves no file, so the next login tries
    // again instead of showing a broken avatar for ever.
    if (!fetched) {
        qDebug() << "avatar download failed:" << status << reply->error();
    } else if (PictureReader::fromData(bytes).isNull()) {
        qDebug() << "avatar download is not a picture," << bytes.size() << "bytes";
    } else {
        QSaveFile file(path);
        const bool saved =
            file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size() && file.commit();
        if (!saved) {
            qDebug() << "save pic failed" << path;
        }
    }
    // The panel shows the nickname with the avatar; a missing file gives an empty picture.
    App::instance()->addUserImg(path);
}
