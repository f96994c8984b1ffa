#include "Downloading.h"

#include "App.h"
#include "Downloader.h"
#include "FormMaskBtn.h"
#include "FormThumbnail.h"

Downloading::Downloading(QWidget* parent) : TileList(parent)
{
    onRefreshUI();
}

int Downloading::fill(TileGrid& grid, ThumbnailCache& pictures)
{
    Downloader* downloader = App::instance()->downloader();
    const QList<LessonRecord> queue = downloader->queue();
    for (const LessonRecord& lesson : queue) {
        auto* tile = new FormThumbnail(lesson, FormThumbnail::LessonQueued, this, &pictures);
        addTile(grid, tile);
    }
    return queue.size();
}
