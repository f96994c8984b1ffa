#include "TileGrid.h"

#include <QResizeEvent>
#include <algorithm>

TileGrid::TileGrid(int lead, QWidget* parent) : StyledWidget(parent), lead(lead)
{
    setObjectName(QStringLiteral("NavigatWidget"));
    // Down to the bottom of the page, so the white area does not end with the last row.
    setSizePolicy(QSizePolicy::Preferred, QSizePolicy::MinimumExpanding);
}

TileGrid::~TileGrid()
{
    for (const QPointer<QWidget>& tile : qAsConst(placed)) {
        if (tile) {
            disconnect(tile, &QObject::destroyed, this, &TileGrid::onTileDestroyed);
        }
    }
}

QSize TileGrid::sizeHint() const
{
    const int count = std::max(
        roomFor, int(std::count_if(placed.begin(), placed.end(),
                                   [](const QPointer<QWidget>& p) { return !p.isNull(); })));
    const int rows = (count + perRow - 1) / perRow;
    return QSize(rowWidth, lead + rows * tileHeight);
}

void TileGrid::setTiles(const QList<QWidget*>& tiles, int count)
{
    roomFor = count;
    for (const QPointer<QWidget>& tile : qAsConst(placed)) {
        if (tile) {
            disconnect(tile, &QObject::destroyed, this, &TileGrid::onTileDestroyed);
        }
    }
    placed.clear();
    for (QWidget* tile : tiles) {
        placed.append(tile);
        connect(tile, &QObject::destroyed, this, &TileGrid::onTileDestroyed);
    }
    place();
    updateGeometry();
}

QList<QWidget*> TileGrid::tileWidgets() const
{
    QList<QWidget*> tiles;
    for (const QPointer<QWidget>& tile : placed) {
        if (tile) {
            tiles.append(tile);
        }
    }
    return tiles;
}

void TileGrid::onTileDestroyed(QObject* tile)
{
    // The pointer may not have been cleared yet while the tile's destructor runs.
    placed.erase(std::remove_if(placed.begin(), placed.end(),
                                [tile](const QPointer<QWidget>& p) {
                                    return p.isNull() || static_cast<QObject*>(p.data()) == tile;
                                }),
                 placed.end());
    place();
    updateGeometry();
}

void TileGrid::resizeEvent(QResizeEvent* event)
{
    StyledWidget::resizeEvent(event);
    if (event->size().width() != event->oldSize().width()) {
        place();
    }
}

void TileGrid::place()
{
    const int left = std::max(0, (width() - rowWidth) / 2);
    int i = 0;
    for (const QPointer<QWidget>& tile : qAsConst(placed)) {
        if (!tile) {
            continue;
        }
        const int column = i % perRow;
        tile->move(left + column * (tileWidth + tileSpacing), lead + rowOf(i) * tileHeight);
        if (tile->isHidden()) {
            tile->show();
        }
        ++i;
    }
}
