#include "TileList.h"

#include "App.h"
#include "Downloader.h"
#include "FormMaskBtn.h"
#include "FormThumbnail.h"
#include "StyledWidget.h"
#include "ThumbnailCache.h"
#include "TileGrid.h"

#include <QGridLayout>
#include <QLabel>
#include <QScrollArea>
#include <QSet>
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
    // One connection for all the overlays, not one each.
    connect(downloader, &Downloader::startPause, this, &TileList::onStartPause);
}

void TileList::setEmptyLabel(QLabel* label, const QString& text)
{
    emptyBox = new QWidget(this);
    auto* box = new QVBoxLayout(emptyBox);
    box->setContentsMargins(0, 0, 0, 0);
    box->setSpacing(12);
    label->setParent(emptyBox);
    box->addWidget(label, 0, Qt::AlignHCenter);
    auto* caption = new QLabel(text, emptyBox);
    caption->setObjectName(QStringLiteral("lblClass"));
    box->addWidget(caption, 0, Qt::AlignHCenter);
    static_cast<QGridLayout*>(layout())->addWidget(emptyBox, 0, 0, Qt::AlignCenter);
}

void TileList::dispose(FormThumbnail* tile)
{
    tile->hide();
    tile->setParent(nullptr);
    tile->deleteLater();
}

void TileList::setEditMode(bool value)
{
    editMode = value;
    for (FormThumbnail* tile : qAsConst(tiles)) {
        tile->setEditMode(value);
        if (!value) {
            tile->setChecked(false);
        }
    }
}

QStringList TileList::checkedDirs() const
{
    QStringList dirs;
    for (const FormThumbnail* tile : tiles) {
        if (tile->isChecked()) {
            dirs.append(tile->dir);
        }
    }
    return dirs;
}

void TileList::onStartPause()
{
    for (FormThumbnail* tile : qAsConst(tiles)) {
        if (tile->overlay()) {
            tile->overlay()->update();
        }
    }
}

void TileList::onRefreshUI()
{
    QHash<QString, FormThumbnail*> kept;
    QSet<QString> checked;
    for (FormThumbnail* tile : qAsConst(tiles)) {
        kept.insert(tile->dir + QLatin1Char('\n') + looks.value(tile), tile);
        if (tile->isChecked()) {
            checked.insert(tile->dir);
        }
    }
    QList<FormThumbnail*> next;
    QHash<FormThumbnail*, QString> nextLooks;
    ThumbnailCache pictures;
    for (const Entry& entry : entries()) {
        FormThumbnail* tile = kept.take(entry.dir + QLatin1Char('\n') + entry.look);
        if (!tile) {
            tile = entry.make(grid, pictures);
            tile->setEditMode(editMode);
            // A tile made anew for the same folder (its state changed) keeps its mark.
            if (editMode && checked.contains(entry.dir)) {
                tile->setChecked(true);
            }
            connect(tile, &FormThumbnail::checkChange, this, &TileList::tileChecked);
        } else {
            tile->refreshPicture(pictures);
        }
        next.append(tile);
        nextLooks.insert(tile, entry.look);
    }
    for (FormThumbnail* gone : qAsConst(kept)) {
        dispose(gone);
    }
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
    if (emptyBox) {
        emptyBox->setVisible(empty);
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
    dispose(tile);
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
