#include "SheetDialog.h"

#include "App.h"
#include "MainForm.h"

#include <QGuiApplication>
#include <QMouseEvent>
#include <QPainter>
#include <QScreen>

QRect SheetDialog::sheetGeometry(const QSize& fallback)
{
    if (App::exists()) {
        if (MainForm* main = App::instance()->mainForm()) {
            return QRect(main->contentPos(), main->contentSize());
        }
    }
    const QScreen* screen = QGuiApplication::primaryScreen();
    QRect rect(QPoint(), fallback);
    rect.moveCenter(screen ? screen->availableGeometry().center() : QPoint(512, 384));
    return rect;
}

static SheetDialog::RunHook& runHook()
{
    static SheetDialog::RunHook hook;
    return hook;
}

void SheetDialog::setRunHook(RunHook hook)
{
    runHook() = std::move(hook);
}

SheetDialog::SheetDialog(const QSize& fallback, QWidget* parent)
    : QDialog(parent), fallbackSize(fallback)
{
    setWindowFlags(Qt::Tool | Qt::X11BypassWindowManagerHint | Qt::FramelessWindowHint);
    setAttribute(Qt::WA_TranslucentBackground);
    const QRect sheet = sheetGeometry(fallback);
    setFixedSize(sheet.size());
    move(sheet.topLeft());
    setMouseTracking(true);
}

void SheetDialog::showEvent(QShowEvent* event)
{
    const QRect sheet = sheetGeometry(fallbackSize);
    setFixedSize(sheet.size());
    move(sheet.topLeft());
    QDialog::showEvent(event);
}

int SheetDialog::run()
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

void SheetDialog::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    painter.fillRect(rect(), QColor(0, 0, 0, 60));
}

void SheetDialog::mousePressEvent(QMouseEvent* event)
{
    // A maximised window stays where it is, and the sheet over it.
    const MainForm* main = App::exists() ? App::instance()->mainForm() : nullptr;
    dragging = event->button() == Qt::LeftButton && !(main && main->isMaximisedToScreen());
    pressPos = event->pos();
    QDialog::mousePressEvent(event);
}

void SheetDialog::mouseMoveEvent(QMouseEvent* event)
{
    if (dragging && (event->buttons() & Qt::LeftButton)) {
        const QPoint topLeft = event->globalPos() - pressPos;
        move(topLeft);
        if (App::exists()) {
            if (MainForm* main = App::instance()->mainForm()) {
                main->moveTo(topLeft.x(), topLeft.y());
            }
        }
    }
    QDialog::mouseMoveEvent(event);
}

void SheetDialog::mouseReleaseEvent(QMouseEvent* event)
{
    dragging = false;
    QDialog::mouseReleaseEvent(event);
}
