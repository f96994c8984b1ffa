#include "FormThumbnail.h"

#include "App.h"
#include "CourseInfo.h"
#include "CourseStore.h"
#include "Downloader.h"
#include "FormMaskBtn.h"
#include "FormPlayer.h"
#include "LessonProgress.h"
#include "MainForm.h"
#include "ThumbnailCache.h"
#include "WatchProgress.h"

#include <QCheckBox>
#include <QContextMenuEvent>
#include <QHBoxLayout>
#include <QLabel>
#include <QMenu>
#include <QMouseEvent>

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
    watchedText = WatchProgress::courseText(course);
    build(cache);
}

FormThumbnail::FormThumbnail(const LessonRecord& lesson, int mode, QWidget* parent,
                             ThumbnailCache* cache)
    : QWidget(parent), dir(lesson.dir), mode(mode), lessonId(lesson.id),
      thumbPath(lesson.dir.left(lesson.dir.lastIndexOf(QLatin1Char('/'))) + QLatin1Char('/') +
                CourseStore::thumbName),
      title(lesson.title), held(lesson.paused), failReason(lesson.failReason)
{
    if (mode == DownloadedLesson) {
        watchedText = WatchProgress::lessonText(lesson);
    }
    build(cache);
    if (mask) {
        showLessonState();
    }
}

void FormThumbnail::showLessonState()
{
    Downloader* downloader = App::exists() ? App::instance()->downloader() : nullptr;
    if (mode == LessonFailed) {
        mask->setState(FormMaskBtn::Failed, 0);
        setToolTip(QStringLiteral("缓存失败：") +
                   (failReason.isEmpty() ? QStringLiteral("原因未知") : failReason));
        return;
    }
    setToolTip(QString());
    if (!downloader) {
        return;
    }
    const ::LessonProgress figures = downloader->progressOf(dir);
    mask->hasFigures = figures.hasFigures();
    mask->size = figures.sizeKB();
    mask->totalSize = figures.totalMB();
    mask->speed = figures.speedKB();
    mask->remaining = figures.remainingSeconds();
    const float percent = figures.totalMB() > 0 ? figures.sizeKB() / (figures.totalMB() * 10) : 0;
    if (held) {
        mask->setState(FormMaskBtn::Held, percent);
    } else if (downloader->isWaiting(dir)) {
        mask->retryAt = downloader->retryAt(dir);
        mask->setState(FormMaskBtn::Stalled, percent);
    } else if (figures.hasFigures() && downloader->currentLesson() == dir) {
        mode = LessonProgress;
        mask->setState(FormMaskBtn::Progress, percent);
    } else {
        // Not in flight (another went first, or it is yet to be taken): it waits with the
        // bytes it keeps, not with figures that no longer move.
        mode = LessonQueued;
        mask->setState(FormMaskBtn::Waiting, percent);
    }
}

void FormThumbnail::refreshLessonState()
{
    if (!mask || mode == LessonFailed) {
        return;
    }
    showLessonState();
    mask->update();
}

void FormThumbnail::build(ThumbnailCache* cache)
{
    setObjectName(QStringLiteral("NavigatWidget"));
    setAttribute(Qt::WA_StyledBackground);
    setFixedSize(230, 210);
    setCursor(Qt::PointingHandCursor);

    // Placed, not laid out: a list makes a thousand of them at once. A queued lesson's overlay
    // shows the picture itself, so its tile has no picture label beneath.
    if (mode >= LessonProgress) {
        mask = new FormMaskBtn(this);
        mask->move(0, 13);
        mask->installEventFilter(this);
        connect(mask, &FormMaskBtn::retryClicked, this, [this] {
            if (App::exists()) {
                App::instance()->downloader()->retryLesson(dir);
            }
        });
    } else {
        image = new QLabel(this);
        image->setGeometry(QRect(QPoint(0, 13), ThumbnailCache::tileSize));
        image->installEventFilter(this);
    }
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
    caption->setGeometry(0, 143, 220, 210 - 143);

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
    if (!watchedText.isEmpty()) {
        auto* box = new QWidget(this);
        box->setObjectName(QStringLiteral("CountBox"));
        box->setAttribute(Qt::WA_StyledBackground);
        box->setGeometry(0, 13, 100, 20);
        auto* watched = new QLabel(watchedText, box);
        watched->setObjectName(QStringLiteral("lblWatched"));
        auto* boxLayout = new QHBoxLayout(box);
        boxLayout->setContentsMargins(0, 0, 0, 0);
        boxLayout->addWidget(watched, 0, Qt::AlignCenter);
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
    if (mode == AddMore || (image && !image->pixmap(Qt::ReturnByValue).isNull()) ||
        (mask && mask->hasPicture())) {
        return;
    }
    const QPixmap pixmap = pictures.picture(thumbPath);
    if (!pixmap.isNull()) {
        if (mask) {
            mask->setPicture(pixmap);
        } else {
            image->setPixmap(pixmap);
        }
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
    if (path != dir || !mask || mode == LessonFailed) {
        return;
    }
    const float percent = totalSize > 0 ? size / (totalSize * 10) : 0;
    const int state = mask->currentState();
    const int before = state;
    if (state == FormMaskBtn::Held || state == FormMaskBtn::Stalled) {
        mask->setState(state, percent); // the figures move on beneath the hold or the wait
    } else {
        mode = LessonProgress;
        mask->setState(FormMaskBtn::Progress, percent);
    }
    mask->speed = speed;
    mask->size = size;
    mask->totalSize = totalSize;
    mask->hasFigures = size > 0 || totalSize > 0;
    mask->remaining =
        App::exists() ? App::instance()->downloader()->progressOf(dir).remainingSeconds() : -1;
    // One paint per pass of the event loop is enough; while the state stays, only the figures
    // and the pie change.
    if (mask->currentState() == before) {
        mask->update(FormMaskBtn::figuresArea);
    } else {
        mask->update();
    }
}

void FormThumbnail::onError(QString path)
{
    if (path != dir || !mask) {
        return;
    }
    mode = LessonFailed;
    if (App::exists()) {
        for (const LessonRecord& lesson : App::instance()->downloader()->failedLessons()) {
            if (lesson.dir == dir) {
                failReason = lesson.failReason;
            }
        }
    }
    showLessonState();
    mask->update();
}

void FormThumbnail::onWaiting(QString path, bool waiting)
{
    if (path != dir || !mask || mode == LessonFailed) {
        return;
    }
    // A stalled lesson has not failed: it keeps its figures and says when it is tried again.
    Q_UNUSED(waiting)
    showLessonState();
    mask->update();
}

QMenu* FormThumbnail::makeMenu(QWidget* parent)
{
    if (!mask || !App::exists()) {
        return nullptr;
    }
    Downloader* downloader = App::instance()->downloader();
    auto* menu = new QMenu(parent);
    const QString lesson = dir;
    if (mode == LessonFailed) {
        connect(menu->addAction(QStringLiteral("重试")), &QAction::triggered, downloader,
                [downloader, lesson] { downloader->retryLesson(lesson); });
        return menu;
    }
    const bool resume = held;
    connect(menu->addAction(resume ? QStringLiteral("继续") : QStringLiteral("暂停")),
            &QAction::triggered, downloader,
            [downloader, lesson, resume] { downloader->setLessonPaused(lesson, !resume); });
    connect(menu->addAction(QStringLiteral("优先下载")), &QAction::triggered, downloader,
            [downloader, lesson] { downloader->prioritize(lesson); });
    return menu;
}

void FormThumbnail::contextMenuEvent(QContextMenuEvent* event)
{
    if (editMode) {
        return;
    }
    if (QMenu* menu = makeMenu(nullptr)) {
        // The tile may be rebuilt by what the menu does; the menu is not its child.
        menu->setAttribute(Qt::WA_DeleteOnClose);
        menu->popup(event->globalPos());
    }
}

bool FormThumbnail::eventFilter(QObject* watched, QEvent* event)
{
    if (!watched || (watched != image && watched != mask) ||
        event->type() != QEvent::MouseButtonPress ||
        static_cast<QMouseEvent*>(event)->button() != Qt::LeftButton) {
        return QWidget::eventFilter(watched, event);
    }
    if (editMode) {
        // The add-more tile takes no part in a selection.
        if (mode != AddMore) {
            checkMark()->toggle();
        }
    } else if (isQueuedLesson() && App::exists()) {
        // One lesson held or let go; the scheduler skips a held one.
        App::instance()->downloader()->setLessonPaused(dir, !held);
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
