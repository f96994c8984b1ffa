#include "SheetDialog.h"

#include "App.h"
#include "MainForm.h"

#include <QGuiApplication>
#include <QMouseEvent>
#include <QPainter>
#include <QScreen>

#if defined(Q_OS_LINUX) || defined(Q_OS_FREEBSD)
#include <QX11Info>
#endif

namespace {

int& composesAnswer()
{
    static int answer = 0;
    return answer;
}

QWidget* mainWindow()
{
    return App::exists() ? App::instance()->mainForm() : nullptr;
}

} // namespace

bool SheetDialog::screenComposes()
{
    if (composesAnswer() != 0) {
        return composesAnswer() > 0;
    }
#if defined(Q_OS_LINUX) || defined(Q_OS_FREEBSD)
    if (QX11Info::isPlatformX11()) {
        return QX11Info::isCompositingManagerRunning();
    }
#endif
    return true;
}

void SheetDialog::setScreenComposes(int answer)
{
    composesAnswer() = answer;
}

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
    : QDialog(parent ? parent : mainWindow()), fallbackSize(fallback), seeThrough(screenComposes())
{
    // A plain dialog: a window manager keeps it above the main window, and its own modal
    // children (a folder chooser) above it. A tool window that bypasses the window manager
    // would stay above them all.
    setWindowFlags(Qt::Dialog | Qt::FramelessWindowHint);
    setWindowModality(Qt::WindowModal);
    if (seeThrough) {
        setAttribute(Qt::WA_TranslucentBackground);
    }
    placeOverMainWindow();
    setMouseTracking(true);
}

void SheetDialog::placeOverMainWindow()
{
    const QRect sheet = sheetGeometry(fallbackSize);
    QRect placed = sheet;
    if (!seeThrough) {
        placed.setSize(fallbackSize.boundedTo(sheet.size()));
        placed.moveCenter(sheet.center());
    }
    setFixedSize(placed.size());
    move(placed.topLeft());
}

void SheetDialog::showEvent(QShowEvent* event)
{
    placeOverMainWindow();
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
    if (seeThrough) {
        painter.fillRect(rect(), QColor(0, 0, 0, 60));
        return;
    }
    // Opaque: the grey of the darkened window around the panel, with a frame.
    painter.fillRect(rect(), QColor(0xc4, 0xc4, 0xc4));
    painter.setPen(QColor(0x8c, 0x8c, 0x8c));
    painter.drawRect(rect().adjusted(0, 0, -1, -1));
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
