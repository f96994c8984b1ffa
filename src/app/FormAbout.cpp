#include "FormAbout.h"

#include "LogFile.h"

#include <QDir>
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
    // Where support finds what happened; empty when the program logs nowhere (tests).
    QLabel* logLine = nullptr;
    if (!LogFile::path().isEmpty()) {
        logLine = new QLabel(
            QStringLiteral("运行日志：") + QDir::toNativeSeparators(LogFile::path()), body());
        logLine->setObjectName(QStringLiteral("lblLogPath"));
        logLine->setAlignment(Qt::AlignCenter);
        logLine->setWordWrap(true);
        logLine->setTextInteractionFlags(Qt::TextSelectableByMouse);
        panel()->setFixedHeight(220);
    }

    auto* btnOK = new QPushButton(QStringLiteral("确定"), body());
    btnOK->setObjectName(QStringLiteral("btnOK"));
    btnOK->setCursor(Qt::PointingHandCursor);
    connect(btnOK, &QPushButton::clicked, this, &QDialog::close);

    auto* row = new QHBoxLayout();
    row->addStretch();
    row->addWidget(btnOK);
    auto* layout = new QVBoxLayout(body());
    layout->setContentsMargins(20, 10, 20, 15);
    layout->addWidget(notice);
    if (logLine) {
        layout->addWidget(logLine);
    }
    layout->addLayout(row);
}
