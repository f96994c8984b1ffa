#include "TileList.h"

#include "App.h"
#include "Downloader.h"
#include "FormThumbnail.h"
#include "StyledWidget.h"
#include "ThumbnailCache.h"
#include "TileGrid.h"

#include <QGridLayout>
#include <QLabel>
#include <QScrollArea>
#include <QVBoxLayout>

TileList::TileList(QWidget* parent) : QWidget(parent)
{
    container = new StyledWidget(this);
    container->setObjectName(QStringLiteral("MainBorder"));
    container->setMinimumWidth(App::instance()->width());
    auto* containerLayout = new QVBoxLayout(container);
    containerLayout->setContentsMargins(0, 0, 0, 1);
    grid = new TileGrid(12, container);
    containerLayout->addWidget(grid);

    scroll = new QScrollArea(this);
    scroll->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    scroll->setFrameShape(QFrame::NoFrame);
    scroll->setWidgetResizable(true);
    scroll->setWidget(container);
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

void TileList::onRefreshUI()
{
    QHash<QString, FormThumbnail*> kept;
    for (FormThumbnail* tile : qAsConst(tiles)) {
        kept.insert(tile->dir + QLatin1Char('\n') + looks.value(tile), tile);
    }
    QList<FormThumbnail*> next;
    QHash<FormThumbnail*, QString> nextLooks;
    ThumbnailCache pictures;
    for (const Entry& entry : entries()) {
        FormThumbnail* tile = kept.take(entry.dir + QLatin1Char('\n') + entry.look);
        if (!tile) {
            tile = entry.make(grid, pictures);
            connect(tile, &FormThumbnail::checkChange, this, &TileList::tileChecked);
        } else {
            tile->refreshPicture(pictures);
        }
        next.append(tile);
        nextLooks.insert(tile, entry.look);
    }
    qDeleteAll(kept);
    tiles = next;
    looks = nextLooks;
    byDir.clear();
    for (FormThumbnail* tile : qAsConst(tiles)) {
        byDir.insert(tile->dir, tile);
    }
    place();
    emit listCountChange(tiles.size());
}

void TileList::place()
{
    grid->setTiles(QList<QWidget*>(tiles.begin(), tiles.end()));
    const bool empty = tiles.isEmpty();
    if (emptyLabel) {
        emptyLabel->setVisible(empty);
        scroll->setVisible(!empty);
    }
    container->setVisible(!empty);
}

void TileList::removeTile(FormThumbnail* tile)
{
    tiles.removeOne(tile);
    looks.remove(tile);
    if (byDir.value(tile->dir) == tile) {
        byDir.remove(tile->dir);
    }
    delete tile;
    place();
}

void TileList::onSizeChange(int w, int)
{
    container->setMinimumWidth(w);
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
