#include "FormRegist.h"

#include "AccountRules.h"
#include "App.h"
#include "HintBox.h"
#include "HttpHelper.h"
#include "JsonHelper.h"
#include "URLManager.h"
#include "UserRecord.h"
#include "XMessageBox.h"

#include <QDebug>
#include <QEvent>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QVBoxLayout>

FormRegist::FormRegist(QWidget* parent)
    : StyledWidget(parent), nameHintText(QStringLiteral("请输入账号")),
      pwdHintText(QStringLiteral("（请输入6-20个字符）"))
{
    setObjectName(QStringLiteral("ContentWidget"));
    setAutoFillBackground(true);
    setFixedWidth(400);

    auto tip = [this](const QString& text) {
        auto* label = new QLabel(text, this);
        label->setObjectName(QStringLiteral("TipLabel"));
        label->setFixedWidth(100);
        label->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
        return label;
    };
    auto box = [this](const QString& text) {
        auto* edit = new QLineEdit(text, this);
        edit->setObjectName(QStringLiteral("txtName"));
        return edit;
    };
    auto row = [](QLabel* label, QLineEdit* edit) {
        auto* line = new QHBoxLayout();
        line->addWidget(label);
        line->addWidget(edit);
        return line;
    };
    txtUser = box(nameHintText);
    txtPwd = box(pwdHintText);
    txtRepwd = box(pwdHintText);

    btnRegist = new QPushButton(QStringLiteral("注册"), this);
    btnRegist->setObjectName(QStringLiteral("btnLogin"));
    btnRegist->setCursor(Qt::PointingHandCursor);
    lblReg = new QLabel(QStringLiteral("已有帐号，请登录"), this);
    lblReg->setObjectName(QStringLiteral("lblReg"));
    lblReg->setCursor(Qt::PointingHandCursor);

    auto* layout = new QVBoxLayout(this);
    layout->setSpacing(0);
    layout->addStretch(2);
    layout->addLayout(row(tip(QStringLiteral("账号：")), txtUser));
    layout->addSpacing(2);
    layout->addLayout(row(tip(QStringLiteral("密码：")), txtPwd));
    layout->addSpacing(2);
    layout->addLayout(row(tip(QStringLiteral("确认密码：")), txtRepwd));
    layout->addSpacing(20);
    layout->addWidget(btnRegist);
    layout->addSpacing(20);
    layout->addWidget(lblReg, 0, Qt::AlignHCenter);
    layout->addStretch(3);

    connect(btnRegist, &QPushButton::clicked, this, &FormRegist::onRegistClick);
    http = new HttpHelper(this);
    connect(http, &HttpHelper::done, this, &FormRegist::httpRegistDone);
    // The passwords of a registration do not outlive its session.
    connect(App::instance(), &App::Login, this, [this](bool value) {
        if (!value) {
            for (QLineEdit* box : {txtPwd, txtRepwd}) {
                box->setEchoMode(QLineEdit::Normal);
                box->setText(pwdHintText);
            }
        }
    });
    for (QObject* watched : {static_cast<QObject*>(lblReg), static_cast<QObject*>(txtUser),
                             static_cast<QObject*>(txtPwd), static_cast<QObject*>(txtRepwd)}) {
        watched->installEventFilter(this);
    }
}

bool FormRegist::eventFilter(QObject* watched, QEvent* event)
{
    if (watched == lblReg) {
        if (event->type() == QEvent::MouseButtonPress) {
            hide();
            emit loginRequested();
        }
    } else if (watched == txtUser) {
        HintBox::filter(txtUser, nameHintText, false, event);
    } else if (watched == txtPwd || watched == txtRepwd) {
        HintBox::filter(static_cast<QLineEdit*>(watched), pwdHintText, true, event);
    }
    return StyledWidget::eventFilter(watched, event);
}

void FormRegist::setRequesting(bool requesting)
{
    btnRegist->setText(requesting ? QStringLiteral("正在请求...") : QStringLiteral("注册"));
    btnRegist->setEnabled(!requesting);
    txtUser->setEnabled(!requesting);
}

void FormRegist::onRegistClick()
{
    const QString problem = AccountRules::registrationProblem(
        txtUser->text(), txtPwd->text(), txtRepwd->text(), nameHintText, pwdHintText);
    if (!problem.isEmpty()) {
        XMessageBox::inform(problem);
        return;
    }
    App* app = App::instance();
    if (!app) {
        return;
    }
    setRequesting(true);
    http->get(app->urlManager()->getRegisterUrl(txtUser->text().trimmed(), txtPwd->text().trimmed(),
                                                txtRepwd->text().trimmed()));
}

void FormRegist::httpRegistDone(QString result)
{
    App* app = App::instance();
    if (!app) {
        return;
    }
    if (result.isEmpty()) {
        qDebug() << "registration: the school did not answer";
    } else {
        const JsonNode answer = JsonHelper::parse(result);
        if (answer.getString(QStringLiteral("flag")) == QLatin1String("1")) {
            const QString name = txtUser->text().trimmed();
            // The courses and queue of whoever was here before are not the new user's: another
            // name switches the record.
            UserRecord session = app->session();
            if (session.username != name) {
                const QString sid = session.sid;
                session.clear();
                session.sid = sid;
            }
            session.username = name;
            app->takeSession(session);
            app->setLogin(true);
        } else {
            const QString infos = answer.getString(QStringLiteral("infos"));
            if (infos.isEmpty()) {
                qDebug() << "registration refused without a reason";
            }
            XMessageBox::inform(infos.isEmpty() ? QStringLiteral("注册失败") : infos);
        }
    }
    setRequesting(false);
}
