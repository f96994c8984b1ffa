#include "TileList.h"

#include "App.h"
#include "Downloader.h"
#include "FormThumbnail.h"
#include "ThumbnailCache.h"
#include "TileGrid.h"

#include <QGridLayout>
#include <QLabel>
#include <QScrollArea>
#include <QScrollBar>

TileList::TileList(QWidget* parent) : QWidget(parent)
{
    scroll = new QScrollArea(this);
    scroll->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    scroll->setFrameShape(QFrame::NoFrame);
    scroll->setWidgetResizable(false);
    auto* layout = new QGridLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(scroll, 0, 0);

    Downloader* downloader = App::instance()->downloader();
    connect(App::instance(), &App::sizeChange, this, &TileList::onSizeChange);
    connect(downloader, &Downloader::refreshUI, this, &TileList::onRefreshUI);
    // Every tile would compare every report with its folder; one lookup does it for all.
    connect(downloader, &Downloader::refreshProgress, this, &TileList::onProgress);
    connect(downloader, &Downloader::downloadError, this, &TileList::onError);
    connect(downloader, &Downloader::lessonWaiting, this, &TileList::onWaiting);
}

void TileList::setEmptyLabel(QLabel* label)
{
    emptyLabel = label;
    static_cast<QGridLayout*>(layout())->addWidget(label, 0, 0, Qt::AlignCenter);
}

void TileList::addTile(TileGrid& grid, FormThumbnail* tile)
{
    grid.add(tile);
    tiles.append(tile);
    byDir.insert(tile->dir, tile);
    connect(tile, &FormThumbnail::checkChange, this, &TileList::tileChecked);
}

void TileList::removeTile(FormThumbnail* tile)
{
    tiles.removeOne(tile);
    if (byDir.value(tile->dir) == tile) {
        byDir.remove(tile->dir);
    }
    delete tile;
}

void TileList::onRefreshUI()
{
    tiles.clear();
    byDir.clear();
    ThumbnailCache pictures;
    TileGrid grid(nullptr, 12, QMargins());
    const int count = fill(grid, pictures);
    grid.finish();
    container = grid.container();
    const int scrolled = scroll->verticalScrollBar()->value();
    // The scroll area destroys the previous container with its tiles.
    scroll->setWidget(container);
    container->adjustSize();
    scroll->verticalScrollBar()->setValue(scrolled);
    if (emptyLabel) {
        emptyLabel->setVisible(count == 0);
        scroll->setVisible(count > 0);
    }
    container->setVisible(count > 0);
    emit listCountChange(count);
}

void TileList::onSizeChange(int w, int)
{
    if (container) {
        container->setFixedWidth(w);
    }
}

void TileList::onProgress(const QString& path, float size, float totalSize, float speed)
{
    if (FormThumbnail* tile = byDir.value(path)) {
        tile->onRefreshProgress(path, size, totalSize, speed);
    }
}

void TileList::onError(const QString& path)
{
    if (FormThumbnail* tile = byDir.value(path)) {
        tile->onError(path);
    }
}

void TileList::onWaiting(const QString& path, bool waiting)
{
    if (FormThumbnail* tile = byDir.value(path)) {
        tile->onWaiting(path, waiting);
    }
}
