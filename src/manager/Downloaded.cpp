#include "Downloaded.h"

#include "App.h"
#include "Downloader.h"
#include "FormThumbnail.h"

#include <QLabel>

Downloaded::Downloaded(QWidget* parent) : TileList(parent)
{
    lblNoCourse = new QLabel(this);
    lblNoCourse->setObjectName(QStringLiteral("lblnocourse"));
    lblNoCourse->setFixedSize(177, 88);
    setEmptyLabel(lblNoCourse);
    onRefreshUI();
}

int Downloaded::fill(TileGrid& grid, ThumbnailCache& pictures)
{
    int count = 0;
    for (const CourseRecord& course : App::instance()->downloader()->courses()) {
        const bool any = std::any_of(course.list.begin(), course.list.end(),
                                     [](const LessonRecord& l) { return l.state == Complete; });
        if (any) {
            addTile(grid, new FormThumbnail(course, this, &pictures));
            ++count;
        }
    }
    return count;
}
