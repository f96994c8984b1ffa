#include "Downloading.h"

#include "App.h"
#include "Downloader.h"
#include "FormThumbnail.h"

#include <QLabel>

Downloading::Downloading(QWidget* parent) : TileList(parent)
{
    lblNoLesson = new QLabel(this);
    lblNoLesson->setObjectName(QStringLiteral("lblnocourse"));
    lblNoLesson->setFixedSize(177, 64);
    setEmptyLabel(lblNoLesson, QStringLiteral("没有正在缓存的课件"));
    onRefreshUI();
}

QList<TileList::Entry> Downloading::entries() const
{
    QList<Entry> list;
    App* app = App::instance();
    if (!app) {
        return list;
    }
    // A tile is made again when the lesson's hold or failure changes.
    const auto add = [&list](const LessonRecord& lesson, int mode) {
        const QString look = lesson.title + QLatin1Char('\n') + QString::number(mode) +
                             (lesson.paused ? QStringLiteral("\nheld") : QString()) +
                             QLatin1Char('\n') + lesson.failReason;
        list.append({lesson.dir, look, [lesson, mode](QWidget* parent, ThumbnailCache& pictures) {
                         return new FormThumbnail(lesson, mode, parent, &pictures);
                     }});
    };
    for (const LessonRecord& lesson : app->downloader()->queue()) {
        add(lesson, FormThumbnail::LessonQueued);
    }
    for (const LessonRecord& lesson : app->downloader()->failedLessons()) {
        add(lesson, FormThumbnail::LessonFailed);
    }
    return list;
}
