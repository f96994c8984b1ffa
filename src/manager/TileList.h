#pragma once

#include <QHash>
#include <QList>
#include <QWidget>

class FormThumbnail;
class QLabel;
class QScrollArea;
class ThumbnailCache;
class TileGrid;

// What the two lists of the download manager share: tiles in rows of five rebuilt from the
// store on every refreshUI(), a container that follows the main window's width, and the
// progress, failure and waiting reports of the scheduler handed to the one tile they name.
class TileList : public QWidget
{
    Q_OBJECT
public:
    const QList<FormThumbnail*>& tileList() const { return tiles; }
    // Takes `tile` out of the list and destroys it (the page deletes checked tiles at once).
    void removeTile(FormThumbnail* tile);
    QWidget* containerWidget() const { return container; }

signals:
    void listCountChange(int count);
    // A tile was checked or unchecked.
    void tileChecked(bool value);

public slots:
    void onRefreshUI();
    void onSizeChange(int w, int h);

protected:
    explicit TileList(QWidget* parent);
    // Builds the tiles of this list into `grid`; the number of entries.
    virtual int fill(TileGrid& grid, ThumbnailCache& pictures) = 0;
    // Shown instead of the rows when the list is empty; none by default.
    void setEmptyLabel(QLabel* label);
    void addTile(TileGrid& grid, FormThumbnail* tile);

private:
    void onProgress(const QString& path, float size, float totalSize, float speed);
    void onError(const QString& path);
    void onWaiting(const QString& path, bool waiting);

    QList<FormThumbnail*> tiles;
    QHash<QString, FormThumbnail*> byDir;
    QWidget* container = nullptr;
    QScrollArea* scroll = nullptr;
    QLabel* emptyLabel = nullptr;
};
