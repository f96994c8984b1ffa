#include "ReLogin.h"

#include "App.h"

#include <QLabel>
#include <QPushButton>
#include <QVBoxLayout>

ReLogin::ReLogin(QWidget* parent) : BaseDialog(QStringLiteral("重新登陆"), 465, 340, parent)
{
    QWidget* content = body();
    auto* picture = new QLabel(content);
    picture->setObjectName(QStringLiteral("lblOK"));
    picture->setFixedSize(77, 75);
    auto* text = new QLabel(QStringLiteral("修改成功"), content);
    text->setObjectName(QStringLiteral("xgcg"));
    btnRelogin = new QPushButton(QStringLiteral("重新登录"), content);
    btnRelogin->setObjectName(QStringLiteral("btnRelogin"));
    btnRelogin->setCursor(Qt::PointingHandCursor);

    auto* layout = new QVBoxLayout(content);
    layout->addWidget(picture, 0, Qt::AlignHCenter);
    layout->addWidget(text, 0, Qt::AlignHCenter);
    layout->addWidget(btnRelogin, 0, Qt::AlignHCenter);

    connect(btnRelogin, &QPushButton::clicked, this, &ReLogin::onBtnClick);
}

void ReLogin::onBtnClick()
{
    if (App* app = App::instance()) {
        app->setLogin(false);
    }
    close();
}
