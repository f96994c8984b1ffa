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
    formUserInfo = new FormUserInfo(this);
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(formLogin, 0, Qt::AlignHCenter);
    layout->addWidget(formRegist, 0, Qt::AlignHCenter);
    layout->addWidget(formUserInfo, 0, Qt::AlignTop);
    formLogin->hide();
    formRegist->hide();
    formUserInfo->hide();

    connect(formLogin, &FormLoginin::registerRequested, this, &FormUser::showRegist);
    connect(formRegist, &FormRegist::loginRequested, this, &FormUser::showLoginin);
    App* app = App::instance();
    connect(app, &App::Login, this, &FormUser::login);
    login(app->isLogin());
}

void FormUser::login(bool value)
{
    // Hidden first, shown second: both at once would count towards the window's minimum size,
    // and a window grown to it never shrinks back.
    formRegist->hide();
    (value ? static_cast<QWidget*>(formLogin) : formUserInfo)->hide();
    (value ? static_cast<QWidget*>(formUserInfo) : formLogin)->show();
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
