#pragma once

#include <QHash>
#include <QList>
#include <QSet>
#include <QWidget>
#include <functional>

class FormThumbnail;
class QLabel;
class QScrollArea;
class ThumbnailCache;
class TileGrid;

// What the two lists of the download manager share: tiles in rows of five rebuilt from the
// store on every refreshUI(), a container that follows the main window's width, and the
// progress, failure and waiting reports of the scheduler handed to the one tile they name.
//
// Tiles are made only down to a little below what has been scrolled into view: a queue of a
// thousand lessons costs the tiles of one screen, the rest come as the student scrolls. Marks
// of edit mode belong to the list's entries, so "全选" takes the tiles not yet made too.
//
// A rebuild keeps the tiles whose entry has not changed (same folder, same caption and
// count) and only makes the new ones: a finished lesson must not cost a thousand new tiles.
class TileList : public QWidget
{
    Q_OBJECT
public:
    // The tiles made so far, in display order: the first of the list's entries.
    const QList<FormThumbnail*>& tileList() const { return tiles; }
    // How many entries the list has, tiles made or not.
    int count() const { return all.size(); }
    // Takes every checked entry out of the list, its tile destroyed if it had one.
    void removeChecked();
    // Edit mode for every tile, those of later rebuilds too; leaving it clears every mark.
    void setEditMode(bool value);
    bool isEditMode() const { return editMode; }
    // The checked entries' folders, in display order.
    QStringList checkedDirs() const;
    int checkedCount() const { return marks.size(); }
    // Marks or clears every entry.
    void setAllChecked(bool value);
    QWidget* emptyView() const { return emptyBox; }
    QWidget* containerWidget() const { return container; }

signals:
    void listCountChange(int count);
    // A tile was checked or unchecked.
    void tileChecked(bool value);

public slots:
    void onRefreshUI();
    void onSizeChange(int w, int h);

protected:
    // One tile to be: its folder, what else decides whether an existing tile still fits, and
    // how to make a new one on the given parent.
    struct Entry
    {
        QString dir;
        QString look;
        std::function<FormThumbnail*(QWidget* parent, ThumbnailCache& pictures)> make;
    };

    explicit TileList(QWidget* parent);
    // The entries of this list, in display order.
    virtual QList<Entry> entries() const = 0;
    // Shown instead of the rows when the list is empty: the no-course picture (`label`) above
    // `text`.
    void setEmptyLabel(QLabel* label, const QString& text);

    void resizeEvent(QResizeEvent* event) override;

private:
    // Makes the tiles of the entries down to a row below the view's bottom, if not yet made.
    void makeTilesInView();
    int tilesWanted() const;
    FormThumbnail* makeTile(const Entry& entry, ThumbnailCache& pictures);
    void onTileChecked(FormThumbnail* tile, bool value);
    void onProgress(const QString& path, float size, float totalSize, float speed);
    void onError(const QString& path);
    void onWaiting(const QString& path, bool waiting);
    void onStartPause();
    void place();
    // Out of the grid at once, destroyed once control is back in the event loop: a rebuild may
    // come from one of the tile's own handlers.
    static void dispose(FormThumbnail* tile);

    QList<Entry> all;
    QSet<QString> marks;
    QList<FormThumbnail*> tiles;
    QHash<QString, FormThumbnail*> byDir;
    QHash<FormThumbnail*, QString> looks;
    QWidget* container = nullptr;
    TileGrid* grid = nullptr;
    QScrollArea* scroll = nullptr;
    QWidget* emptyBox = nullptr;
    bool editMode = false;
};
