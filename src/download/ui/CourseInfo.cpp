#include "CourseInfo.h"

#include "App.h"
#include "CourseItem.h"
#include "Downloader.h"
#include "StyledWidget.h"
#include "XMessageBox.h"

#include <QCheckBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QScrollArea>
#include <QVBoxLayout>
#include <algorithm>

CourseInfo::CourseInfo(const CourseRecord& record, QWidget* parent)
    : SheetDialog(QSize(660, 680), parent), course(record)
{
    setWindowTitle(course.title);

    auto* box = new StyledWidget(this);
    box->setObjectName(QStringLiteral("MessageBox"));
    box->setFixedSize(620, 640);
    auto* dialogLayout = new QVBoxLayout(this);
    dialogLayout->setContentsMargins(0, 0, 0, 0);
    dialogLayout->addWidget(box, 0, Qt::AlignCenter);

    auto* titleBar = new StyledWidget(box);
    titleBar->setObjectName(QStringLiteral("MessageBoxTitle"));
    titleBar->setFixedHeight(55);
    auto* title = new QLabel(course.title, titleBar);
    title->setTextFormat(Qt::PlainText); // the school's text
    title->setObjectName(QStringLiteral("lblUserInfo"));
    btnCloseM = new QPushButton(titleBar);
    btnCloseM->setObjectName(QStringLiteral("btnCloseM"));
    btnCloseM->setFixedSize(12, 12);
    btnCloseM->setCursor(Qt::PointingHandCursor);
    auto* titleLayout = new QHBoxLayout(titleBar);
    titleLayout->setContentsMargins(0, 0, 0, 0);
    titleLayout->addSpacing(20);
    titleLayout->addWidget(title);
    titleLayout->addStretch();
    titleLayout->addWidget(btnCloseM);
    titleLayout->addSpacing(20);

    auto* scroll = new QScrollArea(box);
    scroll->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    scroll->setFrameShape(QFrame::NoFrame);
    auto* content = new StyledWidget(scroll);
    content->setObjectName(QStringLiteral("NavigatWidget"));
    content->setFixedWidth(620);
    auto* rowsLayout = new QVBoxLayout(content);
    rowsLayout->setContentsMargins(0, 0, 0, 0);
    rowsLayout->setSpacing(0);
    for (int i = 0; i < course.list.size(); ++i) {
        auto* row = new CourseItem(course.list.at(i), i, this);
        rowsLayout->addWidget(row);
        if (course.list.at(i).level == 3) {
            items.append(row);
        }
        if (i + 1 < course.list.size()) {
            auto* separator = new StyledWidget(content);
            separator->setObjectName(QStringLiteral("ContentWidget"));
            separator->setFixedSize(590, 1);
            rowsLayout->addWidget(separator, 0, Qt::AlignHCenter);
        }
    }
    rowsLayout->addStretch();
    scroll->setWidget(content);

    auto* bottom = new StyledWidget(box);
    bottom->setObjectName(QStringLiteral("MessageBoxBottom"));
    bottom->setFixedHeight(45);
    ckAll = new QCheckBox(QStringLiteral("全选"), bottom);
    ckAll->setObjectName(QStringLiteral("ckAll"));
    ckAll->setCursor(Qt::PointingHandCursor);
    // With every lesson already chosen or downloaded there is nothing for it to select.
    ckAll->setEnabled(std::any_of(items.cbegin(), items.cend(), [](const CourseItem* row) {
        return row->checkBox()->isEnabled();
    }));
    btnCourseDown = new QPushButton(QStringLiteral("下载选中"), bottom);
    btnCourseDown->setObjectName(QStringLiteral("btnCourseDown"));
    btnCourseDown->setCursor(Qt::PointingHandCursor);
    btnCourseCancel = new QPushButton(QStringLiteral("取消"), bottom);
    btnCourseCancel->setObjectName(QStringLiteral("btnCourseCancel"));
    btnCourseCancel->setCursor(Qt::PointingHandCursor);
    auto* bottomLayout = new QHBoxLayout(bottom);
    bottomLayout->setContentsMargins(0, 0, 0, 0);
    bottomLayout->addStretch();
    bottomLayout->addWidget(ckAll);
    bottomLayout->addSpacing(20);
    bottomLayout->addWidget(btnCourseDown);
    bottomLayout->addSpacing(20);
    bottomLayout->addWidget(btnCourseCancel);
    bottomLayout->addSpacing(20);

    auto* boxLayout = new QVBoxLayout(box);
    boxLayout->setContentsMargins(0, 0, 0, 0);
    boxLayout->setSpacing(0);
    boxLayout->addWidget(titleBar);
    boxLayout->addWidget(scroll, 1);
    boxLayout->addWidget(bottom);

    connect(btnCloseM, &QPushButton::clicked, this, &QDialog::close);
    connect(btnCourseCancel, &QPushButton::clicked, this, &QDialog::close);
    connect(ckAll, &QCheckBox::clicked, this, &CourseInfo::checkAll);
    connect(btnCourseDown, &QPushButton::clicked, this, &CourseInfo::onBtnDownClick);
}

int CourseInfo::checkedCount() const
{
    int checked = 0;
    for (const CourseItem* row : items) {
        checked += row->checkBox()->isChecked() ? 1 : 0;
    }
    return checked;
}

void CourseInfo::onCkChecked()
{
    // A disabled row keeps its box unchecked, so with one present "全选" stays unchecked.
    ckAll->setChecked(!items.isEmpty() && checkedCount() == items.size());
}

void CourseInfo::checkAll()
{
    const bool check = ckAll->isChecked() && checkedCount() < items.size();
    for (CourseItem* row : items) {
        if (row->checkBox()->isEnabled()) {
            row->checkBox()->setChecked(check);
        }
    }
}

void CourseInfo::onBtnDownClick()
{
    const bool anyChecked = std::any_of(items.cbegin(), items.cend(), [](const CourseItem* row) {
        return row->checkBox()->isChecked();
    });
    if (!anyChecked) {
        XMessageBox::inform(QStringLiteral("请选择要下载的课件"), this);
        return;
    }
    bool changed = false;
    for (const CourseItem* row : items) {
        LessonRecord& lesson = course.list[row->lessonIndex()];
        if (row->checkBox()->isChecked() && (lesson.state == NotChosen || lesson.state == Failed)) {
            lesson.state = Chosen;
            changed = true;
        }
    }
    App* app = App::instance();
    if (!changed || !app) {
        return;
    }
    app->downloader()->addCourse(course);
    btnCourseDown->setEnabled(false);
    btnCourseCancel->setEnabled(false);
    close();
}
