#include "FormAlterPwd.h"

#include "AccountRules.h"
#include "App.h"
#include "HintBox.h"
#include "HttpHelper.h"
#include "JsonHelper.h"
#include "ReLogin.h"
#include "URLManager.h"
#include "UserRecord.h"
#include "XMessageBox.h"

#include <QDebug>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QVBoxLayout>

FormAlterPwd::FormAlterPwd(const QString& title, QWidget* parent)
    : BaseDialog(title, 470, 340, parent), pwdHintText(QStringLiteral("请输入6-20个字符"))
{
    setWindowTitle(QStringLiteral("修改密码"));
    QWidget* content = body();

    auto row = [this, content](const QString& text, QLineEdit*& edit) {
        auto* label = new QLabel(text, content);
        label->setObjectName(QStringLiteral("lblUserInfo"));
        edit = new QLineEdit(pwdHintText, content);
        edit->setObjectName(QStringLiteral("txtName"));
        edit->setFixedWidth(200);
        edit->installEventFilter(this);
        auto* line = new QHBoxLayout();
        line->addWidget(label, 18, Qt::AlignRight);
        line->addWidget(edit, 30, Qt::AlignLeft);
        return line;
    };
    auto lineLabel = [content] {
        // A thin rule drawn by the style sheet, as on the user panel.
        auto* line = new QLabel(content);
        line->setObjectName(QStringLiteral("lblLine"));
        line->setFixedSize(360, line->fontMetrics().height());
        return line;
    };

    btnSave = new QPushButton(QStringLiteral("保存"), content);
    btnSave->setObjectName(QStringLiteral("btnEsc2"));
    btnSave->setFixedWidth(300);
    btnSave->setCursor(Qt::PointingHandCursor);

    auto* layout = new QVBoxLayout(content);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addSpacing(30);
    layout->addLayout(row(QStringLiteral("原始密码："), txtOld));
    layout->addWidget(lineLabel(), 0, Qt::AlignHCenter);
    layout->addLayout(row(QStringLiteral("新密码："), txtNew));
    layout->addWidget(lineLabel(), 0, Qt::AlignHCenter);
    layout->addLayout(row(QStringLiteral("确认密码："), txtRepeat));
    layout->addWidget(btnSave, 0, Qt::AlignHCenter);
    layout->addSpacing(30);

    connect(btnSave, &QPushButton::clicked, this, &FormAlterPwd::onBtnClick);
    http = new HttpHelper(this);
    connect(http, &HttpHelper::done, this, &FormAlterPwd::httpPwdDone);
    connect(App::instance(), &App::Login, this, [this](bool value) {
        if (!value) {
            resetBoxes();
        }
    });
}

void FormAlterPwd::resetBoxes()
{
    for (QLineEdit* box : {txtOld, txtNew, txtRepeat}) {
        box->setEchoMode(QLineEdit::Normal);
        box->setText(pwdHintText);
    }
}

bool FormAlterPwd::eventFilter(QObject* watched, QEvent* event)
{
    if (watched == txtOld || watched == txtNew || watched == txtRepeat) {
        HintBox::filter(static_cast<QLineEdit*>(watched), pwdHintText, true, event);
    }
    return BaseDialog::eventFilter(watched, event);
}

void FormAlterPwd::onBtnClick()
{
    const QString problem = AccountRules::passwordChangeProblem(txtOld->text(), txtNew->text(),
                                                                txtRepeat->text(), pwdHintText);
    if (!problem.isEmpty()) {
        XMessageBox::inform(problem);
        return;
    }
    App* app = App::instance();
    if (!app) {
        return;
    }
    const QString username = app->session().username;
    btnSave->setText(QStringLiteral("正在请求..."));
    btnSave->setEnabled(false);
    http->get(app->urlManager()->getForgetUrl(
        username, txtOld->text().trimmed(), txtNew->text().trimmed(), txtRepeat->text().trimmed()));
}

void FormAlterPwd::httpPwdDone(QString result)
{
    // The save button comes back first: the re-login dialog below runs its own loop.
    btnSave->setText(QStringLiteral("保存"));
    btnSave->setEnabled(true);
    if (result.isEmpty()) {
        qDebug() << "password change: the school did not answer";
        return;
    }
    const JsonNode answer = JsonHelper::parse(result);
    if (answer.getString(QStringLiteral("flag")) == QLatin1String("1")) {
        hide();
        ReLogin relogin;
        relogin.run();
        resetBoxes();
        close();
        return;
    }
    const QString infos = answer.getString(QStringLiteral("infos"));
    if (infos.isEmpty()) {
        qDebug() << "password change refused without a reason";
    }
    XMessageBox::inform(infos.isEmpty() ? QStringLiteral("修改密码失败") : infos);
}
