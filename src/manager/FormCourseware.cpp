#include "FormCourseware.h"

#include "App.h"
#include "Downloader.h"
#include "FormThumbnail.h"
#include "MainForm.h"
#include "StyledWidget.h"
#include "ThumbnailCache.h"
#include "TileGrid.h"
#include "XMessageBox.h"

#include <QCheckBox>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QScrollArea>
#include <QVBoxLayout>

FormCourseware::FormCourseware(QWidget* parent) : QWidget(parent)
{
    scroll = new QScrollArea(this);
    scroll->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    scroll->setFrameShape(QFrame::NoFrame);
    scroll->setWidgetResizable(true);
    auto* layout = new QGridLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(scroll, 0, 0);
    connect(App::instance(), &App::sizeChange, this, &FormCourseware::onSizeChange);
    connect(App::instance()->downloader(), &Downloader::refreshUI, this,
            &FormCourseware::onStoreChanged);
}

void FormCourseware::onStoreChanged()
{
    App* app = App::instance();
    if (shownId.isEmpty() || !app) {
        return;
    }
    QStringList shown;
    QStringList checked;
    for (const FormThumbnail* tile : lessonTiles()) {
        shown << tile->dir;
        if (tile->isChecked()) {
            checked << tile->dir;
        }
    }
    QStringList stored;
    const std::optional<CourseRecord> now = app->downloader()->findCourse(shownId);
    for (const LessonRecord& lesson : now ? now->list : QList<LessonRecord>()) {
        if (lesson.state == Complete) {
            stored << lesson.dir;
        }
    }
    if (stored == shown) {
        return;
    }
    const bool editing = btnEdit && btnEdit->isHidden();
    showCourse(shownId);
    if (editing) {
        onBtnEditClick();
        for (FormThumbnail* tile : lessonTiles()) {
            tile->setChecked(checked.contains(tile->dir));
        }
    }
}

QString FormCourseware::courseTitle() const
{
    return lblTitle ? lblTitle->text() : QString();
}

void FormCourseware::showCourse(QString cid)
{
    App* app = App::instance();
    if (!app) {
        return;
    }
    tiles.clear();
    shownId = cid;
    course = app->downloader()->findCourse(cid);

    auto* box = new StyledWidget;
    box->setObjectName(QStringLiteral("MainBorder"));
    box->setMinimumWidth(app->width());
    auto* boxLayout = new QVBoxLayout(box);
    boxLayout->setContentsMargins(0, 0, 0, 1);
    auto* inner = new StyledWidget(box);
    inner->setObjectName(QStringLiteral("NavigatWidget"));
    boxLayout->addWidget(inner);
    auto* innerLayout = new QVBoxLayout(inner);
    innerLayout->setContentsMargins(20, 20, 20, 0);
    innerLayout->setSpacing(0);

    btnBack = new QPushButton(inner);
    btnBack->setObjectName(QStringLiteral("btnBack2"));
    btnBack->setFixedSize(30, 20);
    lblTitle = new QLabel(inner);
    lblTitle->setTextFormat(Qt::PlainText); // the school's text
    lblTitle->setObjectName(QStringLiteral("lblUserInfo"));
    ckAll = new QCheckBox(QStringLiteral("全选"), inner);
    ckAll->setObjectName(QStringLiteral("ckAll"));
    auto button = [inner](const char* text, const char* name) {
        auto* b = new QPushButton(QString::fromUtf8(text), inner);
        b->setObjectName(QLatin1String(name));
        return b;
    };
    btnDelete = button("删除所选", "btnDelete");
    btnCancel = button("取消", "btnCourseCancel");
    btnEdit = button("编辑", "btnEdit");
    auto* header = new QHBoxLayout();
    header->setContentsMargins(0, 0, 0, 0);
    header->setSpacing(20);
    header->addWidget(btnBack);
    header->addWidget(lblTitle);
    header->addStretch();
    for (QWidget* w : std::initializer_list<QWidget*>{ckAll, btnDelete, btnCancel, btnEdit}) {
        header->addWidget(w);
    }
    for (QWidget* w :
         std::initializer_list<QWidget*>{btnBack, ckAll, btnDelete, btnCancel, btnEdit}) {
        w->setCursor(Qt::PointingHandCursor);
    }
    ckAll->hide();
    btnDelete->hide();
    btnCancel->hide();
    auto* separator = new StyledWidget(inner);
    separator->setObjectName(QStringLiteral("MainBorder"));
    separator->setFixedHeight(1);
    innerLayout->addLayout(header);
    innerLayout->addSpacing(7);
    innerLayout->addWidget(separator);
    innerLayout->addSpacing(25);
    auto* grid = new TileGrid(0, inner);
    innerLayout->addWidget(grid);
    innerLayout->addStretch();

    if (course) {
        lblTitle->setText(course->title);
        ThumbnailCache pictures;
        for (const LessonRecord& lesson : course->list) {
            if (lesson.state != Complete) {
                continue;
            }
            auto* tile =
                new FormThumbnail(lesson, FormThumbnail::DownloadedLesson, grid, &pictures);
            tiles.append(tile);
            connect(tile, &FormThumbnail::checkChange, this, &FormCourseware::onThumbCheck);
        }
        if (tiles.size() % TileGrid::perRow != 0) {
            tiles.append(new FormThumbnail(&*course, grid));
        }
    }
    grid->setTiles(QList<QWidget*>(tiles.begin(), tiles.end()));
    container = box;
    // The previous build goes once control is back in the event loop: a rebuild may come from
    // one of its own buttons.
    if (QWidget* previous = scroll->takeWidget()) {
        previous->hide();
        previous->deleteLater();
    }
    scroll->setWidget(container);

    connect(btnBack, &QPushButton::clicked, this, &FormCourseware::onBtnBackClick);
    connect(btnEdit, &QPushButton::clicked, this, &FormCourseware::onBtnEditClick);
    connect(btnCancel, &QPushButton::clicked, this, &FormCourseware::onBtnCancelClick);
    connect(ckAll, &QCheckBox::toggled, this, &FormCourseware::onCkAllChecked);
    connect(btnDelete, &QPushButton::clicked, this, &FormCourseware::onBtnDeleteClick);
}

void FormCourseware::onSizeChange(int w, int)
{
    if (container) {
        container->setMinimumWidth(w);
    }
}

void FormCourseware::onBtnBackClick()
{
    if (MainForm* main = App::exists() ? App::instance()->mainForm() : nullptr) {
        main->showDownloadForm();
    }
}

// The add-more tile takes no part in a selection.
QList<FormThumbnail*> FormCourseware::lessonTiles() const
{
    QList<FormThumbnail*> lessons;
    for (FormThumbnail* tile : tiles) {
        if (tile->mode != FormThumbnail::AddMore) {
            lessons.append(tile);
        }
    }
    return lessons;
}

void FormCourseware::onBtnEditClick()
{
    btnEdit->hide();
    ckAll->show();
    btnDelete->show();
    btnCancel->show();
    for (FormThumbnail* tile : tiles) {
        tile->setEditMode(true);
    }
}

void FormCourseware::onBtnCancelClick()
{
    btnEdit->show();
    ckAll->hide();
    btnDelete->hide();
    btnCancel->hide();
    ckAll->setChecked(false);
    for (FormThumbnail* tile : tiles) {
        tile->setEditMode(false);
        tile->setChecked(false);
    }
}

void FormCourseware::onCkAllChecked(bool value)
{
    const QList<FormThumbnail*> lessons = lessonTiles();
    const bool allChecked =
        !lessons.isEmpty() && std::all_of(lessons.begin(), lessons.end(),
                                          [](const FormThumbnail* t) { return t->isChecked(); });
    if (value || allChecked) {
        for (FormThumbnail* tile : lessons) {
            tile->setChecked(value);
        }
    }
}

void FormCourseware::onThumbCheck(bool)
{
    const QList<FormThumbnail*> lessons = lessonTiles();
    const int checked = std::count_if(lessons.begin(), lessons.end(),
                                      [](const FormThumbnail* t) { return t->isChecked(); });
    const QSignalBlocker blocker(ckAll);
    ckAll->setChecked(!lessons.isEmpty() && checked == lessons.size());
}

void FormCourseware::onBtnDeleteClick()
{
    QStringList dirs;
    for (const FormThumbnail* tile : lessonTiles()) {
        if (tile->isChecked()) {
            dirs.append(tile->dir);
        }
    }
    App* app = App::instance();
    if (dirs.isEmpty() || !app) {
        onBtnCancelClick();
        return;
    }
    if (!XMessageBox::ask(
            QStringLiteral("确定删除所选的 %1 个课件\n及其已下载的文件？").arg(dirs.size()),
            window())) {
        return;
    }
    app->downloader()->deleteLessons(dirs);
    // Built again from the store: the remaining lessons close up, the add-more tile included.
    showCourse(shownId);
}
