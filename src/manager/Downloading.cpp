#include "Downloading.h"

#include "App.h"
#include "Downloader.h"
#include "FormThumbnail.h"

Downloading::Downloading(QWidget* parent) : TileList(parent)
{
    onRefreshUI();
}

QList<TileList::Entry> Downloading::entries() const
{
    QList<Entry> list;
    App* app = App::instance();
    if (!app) {
        return list;
    }
    for (const LessonRecord& lesson : app->downloader()->queue()) {
        list.append({lesson.dir, lesson.title, [lesson](QWidget* parent, ThumbnailCache& pictures) {
                         return new FormThumbnail(lesson, FormThumbnail::LessonQueued, parent,
                                                  &pictures);
                     }});
    }
    return list;
}
