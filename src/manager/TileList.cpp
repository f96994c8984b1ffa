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
#include <QScrollBar>
#include <QVBoxLayout>

// Space above the first row.
static constexpr int gridLead = 12;
// The least height taken for the view when tiles are made: a list not yet shown (the other
// tab) or not yet laid out still fills a tall screen at once.
static constexpr int leastViewHeight = 1200;

TileList::TileList(QWidget* parent) : QWidget(parent)
{
    container = new StyledWidget(this);
    container->setObjectName(QStringLiteral("MainBorder"));
    container->setMinimumWidth(App::instance()->width());
    auto* containerLayout = new QVBoxLayout(container);
    containerLayout->setContentsMargins(0, 0, 0, 1);
    grid = new TileGrid(gridLead, container);
    containerLayout->addWidget(grid);

    scroll = new QScrollArea(this);
    scroll->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    scroll->setFrameShape(QFrame::NoFrame);
    scroll->setWidgetResizable(true);
    scroll->setWidget(container);
    auto* layout = new QGridLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(scroll, 0, 0);
    connect(scroll->verticalScrollBar(), &QScrollBar::valueChanged, this,
            &TileList::makeTilesInView);

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
    if (!value) {
        marks.clear();
    }
}

QStringList TileList::checkedDirs() const
{
    QStringList dirs;
    for (const Entry& entry : all) {
        if (marks.contains(entry.dir)) {
            dirs.append(entry.dir);
        }
    }
    return dirs;
}

void TileList::setAllChecked(bool value)
{
    marks.clear();
    if (value) {
        for (const Entry& entry : qAsConst(all)) {
            marks.insert(entry.dir);
        }
    }
    for (FormThumbnail* tile : qAsConst(tiles)) {
        const QSignalBlocker blocker(tile);
        tile->setChecked(value);
    }
    emit tileChecked(value);
}

void TileList::onTileChecked(FormThumbnail* tile, bool value)
{
    if (value) {
        marks.insert(tile->dir);
    } else {
        marks.remove(tile->dir);
    }
    emit tileChecked(value);
}

void TileList::onStartPause()
{
    for (FormThumbnail* tile : qAsConst(tiles)) {
        if (tile->overlay()) {
            tile->overlay()->update();
        }
    }
}

FormThumbnail* TileList::makeTile(const Entry& entry, ThumbnailCache& pictures)
{
    FormThumbnail* tile = entry.make(grid, pictures);
    tile->setEditMode(editMode);
    if (editMode && marks.contains(entry.dir)) {
        const QSignalBlocker blocker(tile);
        tile->setChecked(true);
    }
    connect(tile, &FormThumbnail::checkChange, this,
            [this, tile](bool value) { onTileChecked(tile, value); });
    return tile;
}

int TileList::tilesWanted() const
{
    const int view = std::max(scroll->viewport()->height(), leastViewHeight);
    const int bottom = scroll->verticalScrollBar()->value() + view - gridLead;
    // The row cut by the view's bottom and one more, so a slow scroll never shows a gap.
    const int rows = bottom / TileGrid::tileHeight + 2;
    return std::min<int>(all.size(), rows * TileGrid::perRow);
}

void TileList::onRefreshUI()
{
    QHash<QString, FormThumbnail*> kept;
    for (FormThumbnail* tile : qAsConst(tiles)) {
        kept.insert(tile->dir + QLatin1Char('\n') + looks.value(tile), tile);
    }
    all = entries();
    // Marks of entries that have gone (a finished or deleted lesson) go with them.
    QSet<QString> present;
    for (const Entry& entry : qAsConst(all)) {
        present.insert(entry.dir);
    }
    marks.intersect(present);

    const int wanted = tilesWanted();
    QList<FormThumbnail*> next;
    QHash<FormThumbnail*, QString> nextLooks;
    ThumbnailCache pictures;
    for (int i = 0; i < wanted; ++i) {
        const Entry& entry = all.at(i);
        // A tile made anew for the same folder (its state changed) keeps its mark.
        FormThumbnail* tile = kept.take(entry.dir + QLatin1Char('\n') + entry.look);
        if (!tile) {
            tile = makeTile(entry, pictures);
        } else {
            tile->refreshPicture(pictures);
            tile->refreshLessonState();
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
    emit listCountChange(all.size());
}

void TileList::makeTilesInView()
{
    const int wanted = tilesWanted();
    if (tiles.size() >= wanted) {
        return;
    }
    ThumbnailCache pictures;
    for (int i = tiles.size(); i < wanted; ++i) {
        const Entry& entry = all.at(i);
        FormThumbnail* tile = makeTile(entry, pictures);
        tiles.append(tile);
        looks.insert(tile, entry.look);
        byDir.insert(tile->dir, tile);
    }
    place();
}

void TileList::resizeEvent(QResizeEvent* event)
{
    QWidget::resizeEvent(event);
    makeTilesInView();
}

void TileList::place()
{
    grid->setTiles(QList<QWidget*>(tiles.begin(), tiles.end()), all.size());
    const bool empty = all.isEmpty();
    if (emptyBox) {
        emptyBox->setVisible(empty);
        scroll->setVisible(!empty);
    }
    container->setVisible(!empty);
}

void TileList::removeChecked()
{
    const QSet<QString> going = marks;
    marks.clear();
    for (FormThumbnail* tile : QList<FormThumbnail*>(tiles)) {
        if (going.contains(tile->dir)) {
            tiles.removeOne(tile);
            looks.remove(tile);
            byDir.remove(tile->dir);
            dispose(tile);
        }
    }
    all.erase(std::remove_if(all.begin(), all.end(),
                             [&going](const Entry& entry) { return going.contains(entry.dir); }),
              all.end());
    makeTilesInView();
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
