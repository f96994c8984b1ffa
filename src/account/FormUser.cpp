#include "FormUser.h"

#include "App.h"
#include "FormLoginin.h"
#include "FormRegist.h"
#include "FormUserInfo.h"

#include <QVBoxLayout>

FormUser::FormUser(QWidget* parent) : StyledWidget(parent)
{
    setObjectName(QStringLiteral("MainWidget"));
    setAutoFillBackground(true);

    formLogin = new FormLoginin(this);
    formRegist = new FormRegist(this);
    pageLayout = new QVBoxLayout(this);
    pageLayout->setContentsMargins(0, 0, 0, 0);
    pageLayout->addWidget(formLogin, 0, Qt::AlignHCenter);
    pageLayout->addWidget(formRegist, 0, Qt::AlignHCenter);
    formLogin->hide();
    formRegist->hide();

    connect(formLogin, &FormLoginin::registerRequested, this, &FormUser::showRegist);
    connect(formRegist, &FormRegist::loginRequested, this, &FormUser::showLoginin);
    App* app = App::instance();
    connect(app, &App::Login, this, &FormUser::login);
    // A panel built by this very announcement did not hear it itself.
    connect(app, &App::userImgAdd, this, [this](const QString& path) {
        if (!formUserInfo) {
            userPanel()->onAddUserImg(path);
        }
    });
    login(app->isLogin());
}

FormUserInfo* FormUser::userPanel()
{
    if (!formUserInfo) {
        formUserInfo = new FormUserInfo(this);
        formUserInfo->hide();
        pageLayout->addWidget(formUserInfo, 0, Qt::AlignTop);
        if (App::exists()) {
            formUserInfo->onLogin(App::instance()->isLogin());
        }
    }
    return formUserInfo;
}

void FormUser::login(bool value)
{
    // Hidden first, shown second: both at once would count towards the window's minimum size,
    // and a window grown to it never shrinks back.
    formRegist->hide();
    if (value) {
        formLogin->hide();
        userPanel()->show();
    } else {
        if (formUserInfo) {
            formUserInfo->hide();
        }
        formLogin->show();
    }
}

void FormUser::showRegist()
{
    formLogin->hide();
    formRegist->show();
}

void FormUser::showLoginin()
{
    formRegist->hide();
    formLogin->show();
}
