#pragma once

#include "CourseRecord.h"
#include "SheetDialog.h"

class CourseItem;
class QCheckBox;
class QPushButton;

// The download selection dialog of one course: its lessons as rows, courseware rows with a
// check box; "下载选中" marks the checked lessons as chosen and hands the course to the
// download scheduler.
class CourseInfo : public SheetDialog
{
    Q_OBJECT
public:
    // Works on its own copy of `course`: the stored record when the course is in the store,
    // so that its download states show and go back to the scheduler with it.
    explicit CourseInfo(const CourseRecord& course, QWidget* parent = nullptr);

    const CourseRecord& record() const { return course; }
    const QList<CourseItem*>& rows() const { return items; }
    QCheckBox* checkAllBox() const { return ckAll; }
    QPushButton* downloadButton() const { return btnCourseDown; }
    QPushButton* cancelButton() const { return btnCourseCancel; }
    QPushButton* closeButton() const { return btnCloseM; }

public slots:
    void onCkChecked();
    void checkAll();
    void onBtnDownClick();

private:
    int checkedCount() const;

    CourseRecord course;
    QList<CourseItem*> items; // the courseware rows
    QCheckBox* ckAll = nullptr;
    QPushButton* btnCourseDown = nullptr;
    QPushButton* btnCourseCancel = nullptr;
    QPushButton* btnCloseM = nullptr;
};
