#include "BaseDialog.h"

#include "StyledWidget.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QVBoxLayout>

BaseDialog::BaseDialog(const QString& title, int panelWidth, int panelHeight, QWidget* parent)
    : SheetDialog(QSize(panelWidth + 40, panelHeight + 40), parent)
{
    setWindowTitle(title);

    panelWidget = new StyledWidget(this);
    panelWidget->setObjectName(QStringLiteral("MessageBox"));
    panelWidget->setFixedSize(panelWidth, panelHeight);
    panelWidget->setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Fixed);

    dialogLayout = new QVBoxLayout(this);
    dialogLayout->setContentsMargins(0, 0, 0, 0);
    dialogLayout->addWidget(panelWidget, 0, Qt::AlignCenter);

    titleBar = new StyledWidget(panelWidget);
    titleBar->setObjectName(QStringLiteral("MessageBoxTitle"));
    titleBar->setFixedHeight(titleHeight);
    bodyWidget = new StyledWidget(panelWidget);
    bodyWidget->setObjectName(QStringLiteral("MessageBox"));

    auto* panelLayout = new QVBoxLayout(panelWidget);
    panelLayout->setContentsMargins(0, 0, 0, 0);
    panelLayout->setSpacing(0);
    panelLayout->addWidget(titleBar);
    panelLayout->addWidget(bodyWidget);

    auto* titleLabel = new QLabel(title, titleBar);
    titleLabel->setObjectName(QStringLiteral("lblUserInfo"));
    closeBtn = new QPushButton(titleBar);
    closeBtn->setObjectName(QStringLiteral("btnControlClose"));
    closeBtn->setCursor(Qt::PointingHandCursor);
    closeBtn->setFixedSize(12, 12);
    auto* titleLayout = new QHBoxLayout(titleBar);
    titleLayout->setContentsMargins(15, 0, 15, 0);
    titleLayout->addWidget(titleLabel);
    titleLayout->addStretch();
    titleLayout->addWidget(closeBtn);
    connect(closeBtn, &QPushButton::clicked, this, &QDialog::close);
}
