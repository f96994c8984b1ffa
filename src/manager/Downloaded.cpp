#include "Downloaded.h"

#include "App.h"
#include "Downloader.h"
#include "FormThumbnail.h"

#include <QLabel>

Downloaded::Downloaded(QWidget* parent) : TileList(parent)
{
    lblNoCourse = new QLabel(this);
    lblNoCourse->setObjectName(QStringLiteral("lblnocourse"));
    lblNoCourse->setFixedSize(177, 64);
    setEmptyLabel(lblNoCourse, QStringLiteral("还没有缓存的课程"));
    onRefreshUI();
}

QList<TileList::Entry> Downloaded::entries() const
{
    QList<Entry> list;
    App* app = App::instance();
    if (!app) {
        return list;
    }
    for (const CourseRecord& course : app->downloader()->courses()) {
        const int done = std::count_if(course.list.begin(), course.list.end(),
                                       [](const LessonRecord& l) { return l.state == Complete; });
        if (done == 0) {
            continue;
        }
        list.append({course.dir, course.title + QLatin1Char('\n') + QString::number(done),
                     [course](QWidget* parent, ThumbnailCache& pictures) {
                         return new FormThumbnail(course, parent, &pictures);
                     }});
    }
    return list;
}
