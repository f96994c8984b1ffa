#include "MainMenus.h"

#include "App.h"
#include "URLManager.h"
#include "UserRecord.h"

#include <QAction>
#include <QCursor>
#include <QDesktopServices>
#include <QMenu>
#include <QUrl>

MainMenus::MainMenus(App* app, QWidget* owner)
    : QObject(owner), app(app), settings(new QAction(QStringLiteral("设置"), this)),
      settingsMenu(new QMenu(owner)), userMenu(new QMenu(owner))
{
    auto* helpMenu = new QMenu(owner);
    QAction* website = helpMenu->addAction(QStringLiteral("官方网站"));
    helpMenu->addSeparator();
    QAction* feedback = helpMenu->addAction(QStringLiteral("意见反馈"));
    helpMenu->addSeparator();
    QAction* about = helpMenu->addAction(QStringLiteral("关于"));
    helpMenu->addSeparator();
    QAction* upgrade = helpMenu->addAction(QStringLiteral("检查新版本"));
    helpMenu->addSeparator();
    QAction* help = helpMenu->addAction(QStringLiteral("使用帮助"));

    settingsMenu->addAction(settings);
    settingsMenu->addSeparator();
    settingsMenu->addAction(QStringLiteral("帮助"))->setMenu(helpMenu);

    QAction* userCentre = userMenu->addAction(QStringLiteral("个人中心"));
    userMenu->addSeparator();
    QAction* logout = userMenu->addAction(QStringLiteral("退出"));

    auto open = [](const QString& address) {
        QDesktopServices::openUrl(QUrl(address));
    };
    connect(website, &QAction::triggered, this,
            [this, open] { open(this->app->urlManager()->siteUrl()); });
    connect(feedback, &QAction::triggered, this,
            [this, open] { open(this->app->urlManager()->feedbackUrl(this->app->session().uid)); });
    connect(help, &QAction::triggered, this,
            [this, open] { open(this->app->urlManager()->helpUrl()); });
    connect(settings, &QAction::triggered, this, &MainMenus::settingsWanted);
    connect(about, &QAction::triggered, this, &MainMenus::aboutWanted);
    connect(upgrade, &QAction::triggered, this, &MainMenus::versionCheckWanted);
    connect(userCentre, &QAction::triggered, this, &MainMenus::userCentreWanted);
    connect(logout, &QAction::triggered, this, &MainMenus::logoutWanted);
}

void MainMenus::popUpSettings()
{
    settingsMenu->popup(QCursor::pos() + QPoint(0, 10));
}

void MainMenus::popUpUser()
{
    userMenu->popup(QCursor::pos() + QPoint(0, 10));
}
