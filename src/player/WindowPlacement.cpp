#include "WindowPlacement.h"

#include <QStringList>

namespace {

// The part a student grabs to move the window back: the middle of its title bar.
QPoint handle(const QRect& rect)
{
    return rect.topLeft() + QPoint(rect.width() / 2, 10);
}

const QRect* screenAt(const QList<QRect>& screens, const QPoint& point)
{
    for (const QRect& screen : screens) {
        if (screen.contains(point)) {
            return &screen;
        }
    }
    return nullptr;
}

} // namespace

QPoint WindowPlacement::topLeft(const QSize& size, const QRect& remembered, const QRect& mainWindow,
                                const QList<QRect>& screens)
{
    if (remembered.isValid() && screenAt(screens, handle(remembered))) {
        return remembered.topLeft();
    }
    const QRect* screen = nullptr;
    QPoint centre;
    if (mainWindow.isValid()) {
        centre = mainWindow.center();
        screen = screenAt(screens, centre);
    }
    if (!screen) {
        if (screens.isEmpty()) {
            return {0, 0};
        }
        screen = &screens.first();
        if (!mainWindow.isValid()) {
            centre = screen->center();
        }
    }
    QPoint at = centre - QPoint(size.width() / 2, size.height() / 2);
    // Kept on the screen, its top-left corner first when it is larger.
    at.setX(qMax(screen->left(), qMin(at.x(), screen->right() + 1 - size.width())));
    at.setY(qMax(screen->top(), qMin(at.y(), screen->bottom() + 1 - size.height())));
    return at;
}

QString WindowPlacement::toText(const QRect& rect)
{
    return QStringLiteral("%1,%2,%3,%4")
        .arg(rect.x())
        .arg(rect.y())
        .arg(rect.width())
        .arg(rect.height());
}

QRect WindowPlacement::fromText(const QString& text)
{
    const QStringList parts = text.split(QLatin1Char(','));
    if (parts.size() != 4) {
        return {};
    }
    int values[4] = {};
    for (int i = 0; i < 4; ++i) {
        bool ok = false;
        values[i] = parts.at(i).trimmed().toInt(&ok);
        if (!ok) {
            return {};
        }
    }
    const QRect rect(values[0], values[1], values[2], values[3]);
    return rect.width() > 0 && rect.height() > 0 ? rect : QRect();
}
