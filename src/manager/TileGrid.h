#pragma once

#include "StyledWidget.h"

#include <QList>
#include <QPointer>

// The tile area the download manager's lists and the courseware page share: rows of five
// tiles, 1160 pixels wide, centred and filled from the left, one under the other. Tiles are
// children of the grid and are placed, not laid out, so that a list can keep its tiles
// across rebuilds and only move them. A tile destroyed by anyone leaves the grid at once and
// the tiles after it move up: the grid never touches a tile that is gone.
class TileGrid : public StyledWidget
{
    Q_OBJECT
public:
    static constexpr int perRow = 5;
    static constexpr int rowWidth = 1160;
    static constexpr int tileWidth = 230;
    static constexpr int tileHeight = 210;
    static constexpr int tileSpacing = 2;

    // `lead` is the space above the first row.
    TileGrid(int lead, QWidget* parent = nullptr);
    // The tiles, children of the grid, go after the grid's own members.
    ~TileGrid() override;

    // The tiles in display order; each must be a child of the grid. `count` tiles are room kept
    // for (the tiles to come as the list is scrolled); the grid is at least as tall as that.
    void setTiles(const QList<QWidget*>& tiles, int count = 0);
    QList<QWidget*> tileWidgets() const;
    // The row and column of the tile at `index`.
    static int rowOf(int index) { return index / perRow; }

    QSize sizeHint() const override;
    QSize minimumSizeHint() const override { return sizeHint(); }

protected:
    void resizeEvent(QResizeEvent* event) override;

private:
    void place();
    void onTileDestroyed(QObject* tile);

    int lead;
    int roomFor = 0;
    QList<QPointer<QWidget>> placed;
};
