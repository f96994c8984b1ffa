#include "PlayerTitleBar.h"

#include "FormPlayer.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QMouseEvent>
#include <QPushButton>

static QPushButton* titleButton(const QString& name, QWidget* parent)
{
    auto* button = new QPushButton(parent);
    button->setObjectName(name);
    button->setCursor(Qt::PointingHandCursor);
    button->setFocusPolicy(Qt::NoFocus);
    return button;
}

PlayerTitleBar::PlayerTitleBar(const QString& title, FormPlayer* parent)
    : QWidget(parent), lblTitle(new QLabel(title, this)),
      btnpMin(titleButton(QStringLiteral("btnpMin"), this)),
      btnpMax(titleButton(QStringLiteral("btnpMax"), this)),
      btnpNormal(titleButton(QStringLiteral("btnpNormal"), this)),
      btnpClose(titleButton(QStringLiteral("btnpClose"), this))
{
    setFixedHeight(33);
    lblTitle->setObjectName(QStringLiteral("playertitle"));
    btnpNormal->hide();

    auto* layout = new QHBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addSpacing(20);
    layout->addWidget(lblTitle);
    layout->addStretch();
    layout->addWidget(btnpMin);
    layout->addWidget(btnpNormal);
    layout->addWidget(btnpMax);
    layout->addWidget(btnpClose);
    layout->addSpacing(20);

    connect(btnpClose, &QPushButton::clicked, parent, &QWidget::close);
    connect(btnpMin, &QPushButton::clicked, parent, &QWidget::showMinimized);
    connect(btnpNormal, &QPushButton::clicked, parent, &FormPlayer::onNormal);
    connect(btnpMax, &QPushButton::clicked, parent, &FormPlayer::onMax);
    connect(btnpMax, &QPushButton::clicked, this, &PlayerTitleBar::onBtnMaxNormalClick);
    connect(btnpNormal, &QPushButton::clicked, this, &PlayerTitleBar::onBtnMaxNormalClick);
}

void PlayerTitleBar::setTitle(const QString& title)
{
    lblTitle->setText(title);
}

void PlayerTitleBar::onBtnMaxNormalClick()
{
    btnpNormal->setVisible(btnpNormal->isHidden());
    btnpMax->setVisible(btnpMax->isHidden());
}

void PlayerTitleBar::mousePressEvent(QMouseEvent* event)
{
    pressPos = event->pos();
}

void PlayerTitleBar::mouseMoveEvent(QMouseEvent* event)
{
    // A full-screen window stays where it is.
    if (event->buttons() != Qt::NoButton && !window()->isFullScreen()) {
        window()->move(event->globalPos() - pressPos);
    }
}
