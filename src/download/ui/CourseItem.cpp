#include "CourseItem.h"

#include "CourseInfo.h"
#include "LessonRecord.h"

#include <QCheckBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QMouseEvent>

CourseItem::CourseItem(const LessonRecord& lesson, int index, CourseInfo* dialog)
    : StyledWidget(dialog), index(index)
{
    auto* layout = new QHBoxLayout(this);
    layout->setContentsMargins(20, 0, 20, 0);

    if (lesson.level != 3) {
        setObjectName(QStringLiteral("NavigatWidget"));
        setFixedSize(620, 45);
        lblTitle = new QLabel(lesson.title, this);
        lblTitle->setTextFormat(Qt::PlainText); // the school's text
        lblTitle->setObjectName(lesson.level == 1 ? QStringLiteral("lblCourseZhang")
                                                  : QStringLiteral("lblCourseJie"));
        layout->addWidget(lblTitle);
        return;
    }

    setObjectName(QStringLiteral("CourseItem"));
    setFixedSize(620, 70);
    ckCourse = new QCheckBox(this);
    ckCourse->setObjectName(QStringLiteral("ckCourse"));
    ckCourse->setFixedWidth(30);
    ckCourse->setCursor(Qt::PointingHandCursor);
    lblTitle = new QLabel(lesson.title, this);
    lblTitle->setTextFormat(Qt::PlainText);
    lblTitle->setObjectName(QStringLiteral("lblCourseJie"));
    lblTitle->setFixedWidth(330);
    lblTitle->setWordWrap(true);
    lblTitle->setCursor(Qt::PointingHandCursor);
    lblTitle->installEventFilter(this);
    auto* icon = new QLabel(this);
    // A failed lesson may be chosen again, so it looks like one never chosen.
    if (lesson.state == NotChosen || lesson.state == Failed) {
        icon->hide();
    } else {
        icon->setObjectName(lesson.state == Complete ? QStringLiteral("lblDoneIcon")
                                                     : QStringLiteral("lblDownIcon"));
        ckCourse->setEnabled(false);
    }
    auto* time = new QLabel(lesson.c_time, this);
    time->setObjectName(QStringLiteral("lblCourseTime"));

    layout->addWidget(ckCourse);
    layout->addWidget(lblTitle);
    layout->addStretch();
    layout->addWidget(icon);
    layout->addWidget(time);
    connect(ckCourse, &QCheckBox::clicked, dialog, &CourseInfo::onCkChecked);
}

bool CourseItem::eventFilter(QObject* watched, QEvent* event)
{
    // Pressing on the title counts as a click on the box, so the dialog's "全选" follows it;
    // a disabled box ignores the click.
    if (watched == lblTitle && event->type() == QEvent::MouseButtonPress &&
        static_cast<QMouseEvent*>(event)->button() == Qt::LeftButton) {
        ckCourse->click();
        return true;
    }
    return StyledWidget::eventFilter(watched, event);
}
