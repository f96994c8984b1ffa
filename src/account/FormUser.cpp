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
    pageLayout = new QVBoxLayout(this);
    pageLayout->setContentsMargins(0, 0, 0, 0);
    pageLayout->addWidget(formLogin, 0, Qt::AlignHCenter);
    formLogin->hide();

    connect(formLogin, &FormLoginin::registerRequested, this, &FormUser::showRegist);
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

FormRegist* FormUser::registerPage()
{
    // Built when first asked for: its fields and pictures are no part of the first screen.
    if (!formRegist) {
        formRegist = new FormRegist(this);
        formRegist->hide();
        pageLayout->addWidget(formRegist, 0, Qt::AlignHCenter);
        connect(formRegist, &FormRegist::loginRequested, this, &FormUser::showLoginin);
    }
    return formRegist;
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
    if (formRegist) {
        formRegist->hide();
    }
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
    registerPage()->show();
}

void FormUser::showLoginin()
{
    if (formRegist) {
        formRegist->hide();
    }
    formLogin->show();
}
