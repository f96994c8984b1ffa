#include "BaseDialog.h"

#include "App.h"
#include "DialogSheet.h"
#include "MainForm.h"
#include "StyledWidget.h"

#include <QGuiApplication>
#include <QHBoxLayout>
#include <QLabel>
#include <QMouseEvent>
#include <QPushButton>
#include <QScreen>
#include <QVBoxLayout>

static BaseDialog::RunHook& runHook()
{
    static BaseDialog::RunHook hook;
    return hook;
}

void BaseDialog::setRunHook(RunHook hook)
{
    runHook() = std::move(hook);
}

QRect BaseDialog::sheetGeometry(const QSize& fallback)
{
    if (App::exists()) {
        if (MainForm* main = App::instance()->mainForm()) {
            return QRect(main->contentPos(), main->contentSize());
        }
    }
    QRect screen = QGuiApplication::primaryScreen()
                       ? QGuiApplication::primaryScreen()->availableGeometry()
                       : QRect(0, 0, 1024, 768);
    QRect rect(QPoint(), fallback);
    rect.moveCenter(screen.center());
    return rect;
}

BaseDialog::BaseDialog(const QString& title, int panelWidth, int panelHeight, QWidget* parent)
    : QDialog(parent)
{
    setWindowFlags(Qt::Tool | Qt::X11BypassWindowManagerHint | Qt::FramelessWindowHint);
    setAttribute(Qt::WA_TranslucentBackground);
    setWindowTitle(title);
    const QRect sheet = sheetGeometry(QSize(panelWidth + 40, panelHeight + 40));
    setFixedSize(sheet.size());
    move(sheet.topLeft());
    setMouseTracking(true);

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

int BaseDialog::run()
{
    if (runHook()) {
        show();
        const int code = runHook()(*this);
        if (isVisible()) {
            done(code);
        }
        return code;
    }
    return exec();
}

void BaseDialog::paintEvent(QPaintEvent* event)
{
    DialogSheet::darken(this, event);
}

void BaseDialog::mousePressEvent(QMouseEvent* event)
{
    dragging = DialogSheet::press(this, event, pressPos);
}

void BaseDialog::mouseMoveEvent(QMouseEvent* event)
{
    DialogSheet::drag(this, event, dragging, pressPos);
}

void BaseDialog::mouseReleaseEvent(QMouseEvent* event)
{
    dragging = false;
    QDialog::mouseReleaseEvent(event);
}
