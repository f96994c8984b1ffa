#include "FormThumbnail.h"

#include "App.h"
#include "CourseInfo.h"
#include "CourseStore.h"
#include "Downloader.h"
#include "FormMaskBtn.h"
#include "FormPlayer.h"
#include "MainForm.h"
#include "ThumbnailCache.h"

#include <QCheckBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QMouseEvent>
#include <QVBoxLayout>

FormThumbnail::FormThumbnail(const CourseRecord* course, QWidget* parent, ThumbnailCache* cache)
    : QWidget(parent), mode(AddMore), course(course)
{
    build(cache);
}

FormThumbnail::FormThumbnail(const CourseRecord& course, QWidget* parent, ThumbnailCache* cache)
    : QWidget(parent), dir(course.dir), mode(DownloadedCourse), courseId(course.id),
      thumbPath(course.dir + QLatin1Char('/') + CourseStore::thumbName), title(course.title)
{
    for (const LessonRecord& lesson : course.list) {
        doneCount += lesson.state == Complete ? 1 : 0;
    }
    build(cache);
}

FormThumbnail::FormThumbnail(const LessonRecord& lesson, int mode, QWidget* parent,
                             ThumbnailCache* cache)
    : QWidget(parent), dir(lesson.dir), mode(mode), lessonId(lesson.id),
      thumbPath(lesson.dir.left(lesson.dir.lastIndexOf(QLatin1Char('/'))) + QLatin1Char('/') +
                CourseStore::thumbName),
      title(lesson.title)
{
    build(cache);
}

void FormThumbnail::build(ThumbnailCache* cache)
{
    setObjectName(QStringLiteral("NavigatWidget"));
    setAttribute(Qt::WA_StyledBackground);
    setFixedSize(230, 210);
    setCursor(Qt::PointingHandCursor);

    image = new QLabel(this);
    image->setFixedSize(ThumbnailCache::tileSize);
    if (mode == AddMore) {
        image->setObjectName(QStringLiteral("addmore"));
    } else {
        ThumbnailCache own;
        refreshPicture(cache ? *cache : own);
    }
    auto* caption = new QLabel(title, this);
    caption->setObjectName(QStringLiteral("lblClass"));
    caption->setWordWrap(true);
    caption->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    caption->setFixedWidth(220);

    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addSpacing(13);
    layout->addWidget(image);
    layout->addWidget(caption);
    image->installEventFilter(this);

    if (mode >= LessonProgress) {
        mask = new FormMaskBtn(this);
        mask->move(0, 13);
        mask->installEventFilter(this);
    }
    if (mode == DownloadedCourse) {
        auto* box = new QWidget(this);
        box->setObjectName(QStringLiteral("CountBox"));
        box->setAttribute(Qt::WA_StyledBackground);
        box->setGeometry(120, 13, 100, 20);
        badge = new QLabel(QStringLiteral("已缓存%1个视频").arg(doneCount), box);
        badge->setObjectName(QStringLiteral("lblCount"));
        auto* boxLayout = new QHBoxLayout(box);
        boxLayout->setContentsMargins(0, 0, 0, 0);
        boxLayout->addWidget(badge, 0, Qt::AlignCenter);
    }
}

// The check mark is made when a tile is first checked: most tiles never are.
QCheckBox* FormThumbnail::checkMark()
{
    if (!ckDel) {
        ckDel = new QCheckBox(this);
        ckDel->setObjectName(QStringLiteral("ckDel"));
        ckDel->setGeometry(208, 0, 24, 24);
        ckDel->hide();
        connect(ckDel, &QCheckBox::toggled, this, &FormThumbnail::checkChange);
        connect(ckDel, &QCheckBox::toggled, this, &FormThumbnail::onCkChooseChecked);
    }
    return ckDel;
}

void FormThumbnail::refreshPicture(ThumbnailCache& pictures)
{
    if (mode == AddMore || !image->pixmap(Qt::ReturnByValue).isNull()) {
        return;
    }
    const QPixmap pixmap = pictures.picture(thumbPath);
    if (!pixmap.isNull()) {
        image->setPixmap(pixmap);
    }
}

QString FormThumbnail::badgeText() const
{
    return badge ? badge->text() : QString();
}

bool FormThumbnail::isChecked() const
{
    return ckDel && ckDel->isChecked();
}

void FormThumbnail::setChecked(bool value)
{
    if (value || ckDel) {
        checkMark()->setChecked(value);
    }
}

void FormThumbnail::setEditMode(bool value)
{
    editMode = value;
}

void FormThumbnail::onCkChooseChecked(bool value)
{
    checkMark()->setVisible(value);
}

void FormThumbnail::onRefreshProgress(QString path, float size, float totalSize, float speed)
{
    if (path != dir || !mask) {
        return;
    }
    mode = LessonProgress;
    mask->setState(FormMaskBtn::Progress, totalSize > 0 ? size / (totalSize * 10) : 0);
    mask->speed = speed;
    mask->size = size;
    mask->totalSize = totalSize;
    // Reports come several times a second for the lesson in flight; one paint per pass of the
    // event loop is enough.
    mask->update();
}

void FormThumbnail::onError(QString path)
{
    if (path != dir || !mask) {
        return;
    }
    mode = LessonFailed;
    mask->setState(FormMaskBtn::Failed, 0);
    mask->repaint();
}

void FormThumbnail::onWaiting(QString path, bool waiting)
{
    if (path != dir || !mask || mode == LessonFailed) {
        return;
    }
    // A stalled lesson has not failed; its next progress report shows the progress again.
    if (waiting) {
        mask->setState(FormMaskBtn::Waiting, 0);
        mask->repaint();
    }
}

bool FormThumbnail::eventFilter(QObject* watched, QEvent* event)
{
    if ((watched != image && watched != mask) || event->type() != QEvent::MouseButtonPress ||
        static_cast<QMouseEvent*>(event)->button() != Qt::LeftButton) {
        return QWidget::eventFilter(watched, event);
    }
    if (editMode) {
        // The add-more tile takes no part in a selection.
        if (mode != AddMore) {
            checkMark()->toggle();
        }
    } else if (watched == image && App::exists()) {
        App* app = App::instance();
        switch (mode) {
        case DownloadedLesson:
            app->openPlayer(title)->playLocal(dir);
            break;
        case DownloadedCourse:
            if (app->mainForm()) {
                app->mainForm()->showCourseware(courseId);
            }
            break;
        case AddMore:
            if (course && !dialog) {
                // One use; the stored record goes in, so the states show.
                const std::optional<CourseRecord> stored =
                    app->downloader()->findCourse(course->id);
                dialog = new CourseInfo(stored ? *stored : *course);
                dialog->setAttribute(Qt::WA_DeleteOnClose);
                dialog->run();
            }
            break;
        default:
            break;
        }
    }
    return QWidget::eventFilter(watched, event);
}
