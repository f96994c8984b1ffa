#include "NavigatWidget.h"

#include "MainForm.h"

#include <QHBoxLayout>
#include <QPushButton>

NavigatWidget::NavigatWidget(MainForm* parent) : StyledWidget(parent)
{
    setObjectName(QStringLiteral("NavigatWidget"));
    setAutoFillBackground(true);

    auto make = [this](const QString& name) {
        auto* button = new QPushButton(this);
        button->setObjectName(name);
        button->setFixedSize(60, 60);
        button->setCursor(Qt::PointingHandCursor);
        return button;
    };
    btnMyClass = make(QStringLiteral("btnMyClass"));
    btnDownload = make(QStringLiteral("btnDownload"));
    btnQA = make(QStringLiteral("btnQA"));
    btnUser = make(QStringLiteral("btnUser"));
    // The question page has no way in from the bar.
    btnQA->hide();

    auto* layout = new QHBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addStretch(2);
    layout->addWidget(btnMyClass);
    layout->addStretch(1);
    layout->addWidget(btnDownload);
    layout->addStretch(1);
    layout->addWidget(btnUser);
    layout->addStretch(2);

    connect(btnMyClass, &QPushButton::clicked, parent, &MainForm::showMyClassForm);
    connect(btnDownload, &QPushButton::clicked, parent, &MainForm::showDownloadForm);
    connect(btnUser, &QPushButton::clicked, parent, &MainForm::showUserForm);
}

QPushButton* NavigatWidget::button(int index) const
{
    switch (index) {
    case 1:
        return btnMyClass;
    case 2:
        return btnDownload;
    case 3:
        return btnQA;
    case 4:
        return btnUser;
    default:
        return nullptr;
    }
}

void NavigatWidget::select(int index)
{
    btnMyClass->setEnabled(true);
    btnDownload->setEnabled(true);
    btnUser->setEnabled(true);
    if (QPushButton* current = button(index)) {
        current->setEnabled(false);
    }
}
