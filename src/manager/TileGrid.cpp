#include "TileGrid.h"

#include <QResizeEvent>

TileGrid::TileGrid(int lead, QWidget* parent) : StyledWidget(parent), lead(lead)
{
    setObjectName(QStringLiteral("NavigatWidget"));
    // Down to the bottom of the page, so the white area does not end with the last row.
    setSizePolicy(QSizePolicy::Preferred, QSizePolicy::MinimumExpanding);
}

QSize TileGrid::sizeHint() const
{
    const int rows = (placed.size() + perRow - 1) / perRow;
    return QSize(rowWidth, lead + rows * tileHeight);
}

void TileGrid::setTiles(const QList<QWidget*>& tiles)
{
    placed = tiles;
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
    for (int i = 0; i < placed.size(); ++i) {
        const int column = i % perRow;
        placed.at(i)->move(left + column * (tileWidth + tileSpacing), lead + rowOf(i) * tileHeight);
        if (placed.at(i)->isHidden()) {
            placed.at(i)->show();
        }
    }
}
