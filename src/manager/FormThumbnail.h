#pragma once

#include "CourseRecord.h"

#include <QPointer>
#include <QWidget>

class CourseInfo;
class FormMaskBtn;
class QMenu;
class QCheckBox;
class QLabel;
class ThumbnailCache;

// A tile of the download manager: a downloaded course, a downloaded lesson, a queued lesson
// with its progress overlay, or the add-more tile of the courseware page.
class FormThumbnail : public QWidget
{
    Q_OBJECT
public:
    enum TileMode {
        AddMore = 0,
        DownloadedCourse = 1,
        DownloadedLesson = 2,
        LessonProgress = 3,
        LessonQueued = 4,
        LessonFailed = 5,
    };

    // The pictures come from `cache` when one is given (a list rebuild shares one).
    FormThumbnail(const CourseRecord* course, QWidget* parent, ThumbnailCache* cache = nullptr);
    FormThumbnail(const CourseRecord& course, QWidget* parent, ThumbnailCache* cache = nullptr);
    FormThumbnail(const LessonRecord& lesson, int mode, QWidget* parent,
                  ThumbnailCache* cache = nullptr);

    bool isChecked() const;
    void setChecked(bool value);
    void setEditMode(bool value);
    bool isEditMode() const { return editMode; }

    QString dir;
    int mode = AddMore;
    QString courseId;
    QString lessonId;
    QString thumbPath;
    QString title;
    int doneCount = 0;
    // A queued lesson the student paused; a failed lesson's reason.
    bool held = false;
    QString failReason;
    // How far the student has got: "已学完", "已学 N%" or "已学 M/N 讲"; empty for none.
    QString watchedText;

    FormMaskBtn* overlay() const { return mask; }
    // The picture label; a queued lesson's tile has none (its overlay shows the picture).
    QLabel* picture() const { return image; }
    // Shows the course picture if the tile has none yet (it is fetched after the course was
    // added).
    void refreshPicture(ThumbnailCache& pictures);
    // The badge text of a course tile ("已缓存3个视频"), empty for other tiles.
    QString badgeText() const;
    // The actions of a queued or failed lesson's context menu ("暂停"/"继续", "优先下载";
    // "重试"), on a new menu the caller owns; null for other tiles.
    QMenu* makeMenu(QWidget* parent);

signals:
    void checkChange(bool value);

public slots:
    void onRefreshProgress(QString path, float size, float totalSize, float speed);
    void onCkChooseChecked(bool value);
    void onError(QString path);
    // The scheduler reports the lesson stalled waiting for its server, or going on.
    void onWaiting(QString path, bool waiting);
    // A queued lesson's overlay shown again as the scheduler knows it (after a list rebuild:
    // another lesson may have gone first).
    void refreshLessonState();

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;
    void contextMenuEvent(QContextMenuEvent* event) override;

private:
    void build(ThumbnailCache* cache);
    // The overlay as the scheduler knows the lesson: figures, waiting, held or failed.
    void showLessonState();
    bool isQueuedLesson() const { return mode == LessonProgress || mode == LessonQueued; }
    QCheckBox* checkMark();

    const CourseRecord* course = nullptr; // the add-more tile's, not owned
    QLabel* image = nullptr;
    FormMaskBtn* mask = nullptr;
    QCheckBox* ckDel = nullptr;
    QLabel* badge = nullptr;
    bool editMode = false;
    QPointer<CourseInfo> dialog;
};
