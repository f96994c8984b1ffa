#include "FormAbout.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QVBoxLayout>

FormAbout::FormAbout(const QString& title, QWidget* parent) : BaseDialog(title, 500, 180, parent)
{
    auto* notice = new QLabel(QStringLiteral("版权所有 © 2016-2026 岚禾教育科技有限公司\n"
                                             "保留所有权利。本软件仅供本校学员学习使用。"),
                              body());
    notice->setObjectName(QStringLiteral("lblUserInfo"));
    notice->setAlignment(Qt::AlignCenter);

    auto* btnOK = new QPushButton(QStringLiteral("确定"), body());
    btnOK->setObjectName(QStringLiteral("btnOK3"));
    btnOK->setCursor(Qt::PointingHandCursor);
    connect(btnOK, &QPushButton::clicked, this, &QDialog::close);

    auto* row = new QHBoxLayout();
    row->addStretch();
    row->addWidget(btnOK);
    auto* layout = new QVBoxLayout(body());
    layout->setContentsMargins(20, 10, 20, 15);
    layout->addWidget(notice);
    layout->addLayout(row);
}
