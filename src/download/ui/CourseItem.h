#pragma once

#include "StyledWidget.h"

class CourseInfo;
class LessonRecord;
class QCheckBox;
class QLabel;

// One row of the selection dialog: a chapter or section heading, or a courseware lesson with
// its check box, download state icon and duration.
class CourseItem : public StyledWidget
{
    Q_OBJECT
public:
    // `index` is the lesson's place in the course list; courseware rows connect their check
    // box to `dialog`'s onCkChecked().
    CourseItem(const LessonRecord& lesson, int index, CourseInfo* dialog);

    int lessonIndex() const { return index; }
    // Null for heading rows.
    QCheckBox* checkBox() const { return ckCourse; }
    QLabel* titleLabel() const { return lblTitle; }

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    int index;
    QCheckBox* ckCourse = nullptr;
    QLabel* lblTitle = nullptr;
};
