#include "XMessageBox.h"

#include "StyledWidget.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QVBoxLayout>

static XMessageBox::Responder& responder()
{
    static XMessageBox::Responder hook;
    return hook;
}

void XMessageBox::setResponder(Responder hook)
{
    responder() = std::move(hook);
}

XMessageBox::XMessageBox(const QString& text, bool okOnly, QWidget* parent)
    : SheetDialog(QSize(420, 200), parent), okOnly(okOnly)
{
    setWindowTitle(QStringLiteral("确认"));

    auto* panel = new StyledWidget(this);
    panel->setObjectName(QStringLiteral("MessageBox"));
    panel->setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Fixed);
    panel->setMinimumWidth(360);
    auto* boxLayout = new QHBoxLayout(this);
    boxLayout->addWidget(panel, 0, Qt::AlignCenter);

    auto* titleStrip = new StyledWidget(panel);
    titleStrip->setObjectName(QStringLiteral("MessageBoxTitle"));
    titleStrip->setFixedHeight(30);
    btnClose = new QPushButton(titleStrip);
    btnClose->setObjectName(QStringLiteral("btnCloseM"));
    btnClose->setFixedSize(12, 12);
    btnClose->setCursor(Qt::PointingHandCursor);
    auto* titleLayout = new QHBoxLayout(titleStrip);
    titleLayout->setContentsMargins(0, 0, 0, 0);
    titleLayout->addStretch();
    titleLayout->addWidget(btnClose);
    titleLayout->addSpacing(15);

    label = new QLabel(text, panel);
    // Most messages carry the school's words: markup in them is shown, never rendered.
    label->setTextFormat(Qt::PlainText);
    label->setObjectName(QStringLiteral("lblUserInfo"));
    label->setAlignment(Qt::AlignCenter);
    label->setWordWrap(true);
    label->setContentsMargins(20, 0, 20, 0);

    btnOK = new QPushButton(QStringLiteral("确认"), panel);
    btnOK->setObjectName(QStringLiteral("btnOK"));
    btnOK->setFixedSize(105, 35);
    btnOK->setCursor(Qt::PointingHandCursor);
    btnCancel = new QPushButton(QStringLiteral("取消"), panel);
    btnCancel->setObjectName(QStringLiteral("btnCancel"));
    btnCancel->setFixedSize(105, 35);
    btnCancel->setCursor(Qt::PointingHandCursor);
    auto* buttonRow = new QHBoxLayout();
    buttonRow->setContentsMargins(40, 0, 40, 0);
    if (okOnly) {
        btnCancel->hide();
    } else {
        buttonRow->addWidget(btnCancel);
    }
    buttonRow->addWidget(btnOK);

    auto* panelLayout = new QVBoxLayout(panel);
    panelLayout->setContentsMargins(0, 0, 0, 0);
    panelLayout->setSpacing(20);
    panelLayout->addWidget(titleStrip);
    // The label takes the panel's whole width: the panel's height is measured for a wrapped
    // text of that width, and a label narrowed to its hint would lose its last line.
    panelLayout->addWidget(label);
    panelLayout->addLayout(buttonRow);
    panelLayout->setAlignment(buttonRow, Qt::AlignCenter);
    panelLayout->addSpacing(20);

    connect(btnOK, &QPushButton::clicked, this, &XMessageBox::ok);
    connect(btnCancel, &QPushButton::clicked, this, &XMessageBox::cancel);
    connect(btnClose, &QPushButton::clicked, this, &XMessageBox::cancel);
}

QString XMessageBox::text() const
{
    return label->text();
}

void XMessageBox::setText(const QString& text)
{
    label->setText(text);
}

void XMessageBox::ok()
{
    cancelled = false;
    close();
}

void XMessageBox::cancel()
{
    cancelled = true;
    close();
}

bool XMessageBox::showAndWait()
{
    cancelled = true;
    if (responder()) {
        show();
        const bool answer = responder()(*this);
        if (isVisible()) {
            answer ? ok() : cancel();
        }
        return cancelled;
    }
    exec();
    return cancelled;
}

bool XMessageBox::ask(const QString& text, QWidget* parent)
{
    XMessageBox box(text, false, parent);
    return !box.showAndWait();
}

void XMessageBox::inform(const QString& text, QWidget* parent)
{
    XMessageBox box(text, true, parent);
    box.showAndWait();
}
