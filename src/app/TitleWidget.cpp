#include "TitleWidget.h"

#include "App.h"
#include "MainForm.h"
#include "UserRecord.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QMouseEvent>
#include <QPushButton>

TitleWidget::TitleWidget(MainForm* parent) : StyledWidget(parent), mainForm(parent)
{
    setObjectName(QStringLiteral("TitleWidget"));
    setAutoFillBackground(true);

    btnMin = makeButton(QStringLiteral("btnMin"));
    btnMax = makeButton(QStringLiteral("btnMax"));
    btnNormal = makeButton(QStringLiteral("btnNormal"));
    btnClose = makeButton(QStringLiteral("btnClose"));
    for (QPushButton* button : {btnMin, btnMax, btnNormal, btnClose}) {
        button->setFixedSize(30, 30);
    }
    btnNormal->hide();
    btnBack = makeButton(QStringLiteral("btnBack"));
    btnBack->setFixedSize(30, 34);
    btnBack->hide();
    progress = new QLabel(this);
    progress->setObjectName(QStringLiteral("progress"));
    btnSignIn = makeButton(QStringLiteral("btnTitle"), QStringLiteral("登录"));
    btnMenu = makeButton(QStringLiteral("btnTitle"), QStringLiteral("菜单"));
    btnWelcome = makeButton(QStringLiteral("btnControl"), QStringLiteral("欢迎您"));
    btnWelcome->hide();

    auto* logo = new QLabel(this);
    logo->setObjectName(QStringLiteral("logo"));
    logo->setFixedSize(345, 34);

    auto* layout = new QHBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addSpacing(20);
    layout->addWidget(logo);
    layout->addWidget(btnBack);
    layout->addStretch();
    layout->addWidget(progress);
    layout->addSpacing(10);
    layout->addWidget(btnWelcome);
    layout->addWidget(btnSignIn);
    layout->addSpacing(15);
    layout->addWidget(btnMenu);
    layout->addSpacing(15);
    layout->addWidget(btnMin);
    layout->addWidget(btnNormal);
    layout->addWidget(btnMax);
    layout->addWidget(btnClose);
    layout->addSpacing(20);

    // The window's slot runs first, so the window has its new size before showMaxRestore().
    connect(btnBack, &QPushButton::clicked, mainForm, &MainForm::webBack);
    connect(btnClose, &QPushButton::clicked, mainForm, &MainForm::closeForm);
    connect(btnMin, &QPushButton::clicked, mainForm, &MainForm::onBtnMinClick);
    connect(btnMax, &QPushButton::clicked, mainForm, &MainForm::onBtnMaxClick);
    connect(btnMax, &QPushButton::clicked, this, &TitleWidget::showMaxRestore);
    connect(btnNormal, &QPushButton::clicked, mainForm, &MainForm::onBtnNormalClick);
    connect(btnNormal, &QPushButton::clicked, this, &TitleWidget::showMaxRestore);
    connect(btnMenu, &QPushButton::clicked, mainForm, &MainForm::showSetMenu);
    connect(btnSignIn, &QPushButton::clicked, mainForm, &MainForm::showLogin);
    connect(btnWelcome, &QPushButton::clicked, mainForm, &MainForm::showUserMenu);
    connect(App::instance(), &App::Login, this, &TitleWidget::Login);
}

QPushButton* TitleWidget::makeButton(const QString& objectName, const QString& text)
{
    auto* button = new QPushButton(text, this);
    button->setObjectName(objectName);
    button->setCursor(Qt::PointingHandCursor);
    return button;
}

void TitleWidget::showMaxRestore()
{
    btnNormal->setVisible(!maximised);
    btnMax->setVisible(maximised);
    maximised = !maximised;
    if (App* app = App::instance()) {
        app->setSize(mainForm->width(), mainForm->height());
    }
}

void TitleWidget::Login(bool value)
{
    // What goes is hidden before what comes is shown: for a moment both would count towards
    // the window's minimum size, and a window grown to it never shrinks back.
    (value ? btnSignIn : btnWelcome)->hide();
    (value ? btnWelcome : btnSignIn)->show();
    if (!value) {
        return;
    }
    App* app = App::instance();
    if (!app) {
        return;
    }
    const UserRecord user = app->session();
    const QString name = user.nickname.isEmpty() ? user.username : user.nickname;
    btnWelcome->setText(QStringLiteral("欢迎您，") + name);
}

void TitleWidget::mousePressEvent(QMouseEvent* event)
{
    pressPos = mapTo(mainForm, event->pos());
    StyledWidget::mousePressEvent(event);
}

void TitleWidget::mouseMoveEvent(QMouseEvent* event)
{
    if ((event->buttons() & Qt::LeftButton) && !maximised) {
        mainForm->move(event->globalPos() - pressPos);
    }
    StyledWidget::mouseMoveEvent(event);
}
