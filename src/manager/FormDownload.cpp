#include "FormDownload.h"

#include "App.h"
#include "CourseLibrary.h"
#include "Downloaded.h"
#include "Downloader.h"
#include "Downloading.h"
#include "FormPlayer.h"
#include "FormThumbnail.h"
#include "StyledWidget.h"
#include "XMessageBox.h"

#include <QCheckBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QPainter>
#include <QPushButton>
#include <QStyleOption>
#include <QVBoxLayout>

FormDownload::FormDownload(QWidget* parent) : QWidget(parent)
{
    setObjectName(QStringLiteral("ContentWidget"));
    auto button = [this](const char* text, const char* name) {
        auto* b = new QPushButton(QString::fromUtf8(text), this);
        b->setObjectName(QLatin1String(name));
        b->setCursor(Qt::PointingHandCursor);
        return b;
    };
    auto line = [this](const char* name, int height) {
        auto* w = new StyledWidget(this);
        w->setObjectName(QLatin1String(name));
        w->setFixedHeight(height);
        return w;
    };

    lblSpace = new QLabel(QStringLiteral("总空间：- / 可用空间：-"), this);
    lblSpace->setObjectName(QStringLiteral("label14999"));
    lblSpace->setFixedHeight(25);
    downloaded = new Downloaded(this);
    downloading = new Downloading(this);
    btnDownloaded = button("已缓存", "btnDownTitle");
    btnDownloading = button("缓存中", "btnDownTitle");
    btnDownloadedSel = button("已缓存", "btnDownTitleClick");
    btnDownloadingSel = button("缓存中", "btnDownTitleClick");
    btnStart = button("全部开始", "btnPauseAll");
    btnContinue = button("继续学习", "btnPauseAll");
    btnPause = button("全部暂停", "btnPauseAll");
    btnEdit = button("编辑", "btnEdit");
    btnDelete = button("删除所选", "btnDelete");
    btnCancel = button("取消", "btnCourseCancel");
    ckAll = new QCheckBox(QStringLiteral("全选"), this);
    ckAll->setObjectName(QStringLiteral("ckAll"));
    ckAll->setCursor(Qt::PointingHandCursor);
    lineDownloaded = line("line", 2);
    lineDownloading = line("line", 2);

    auto* spaceRow = new QHBoxLayout();
    spaceRow->setContentsMargins(20, 15, 20, 5);
    spaceRow->addWidget(lblSpace);
    auto tab = [](QPushButton* plain, QPushButton* selected, QWidget* underline) {
        auto* box = new QVBoxLayout();
        box->setContentsMargins(0, 0, 0, 0);
        box->setSpacing(0);
        box->addWidget(plain, 0, Qt::AlignTop);
        box->addWidget(selected, 0, Qt::AlignTop);
        box->addSpacing(15);
        box->addWidget(underline);
        return box;
    };
    auto* tabRow = new QHBoxLayout();
    tabRow->setSpacing(20);
    tabRow->setContentsMargins(20, 20, 20, 0);
    tabRow->addLayout(tab(btnDownloaded, btnDownloadedSel, lineDownloaded));
    tabRow->addLayout(tab(btnDownloading, btnDownloadingSel, lineDownloading));
    tabRow->addStretch();
    for (QWidget* w : std::initializer_list<QWidget*>{btnContinue, btnStart, btnPause, ckAll,
                                                      btnEdit, btnDelete, btnCancel}) {
        tabRow->addWidget(w);
    }
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);
    layout->addLayout(spaceRow);
    layout->addWidget(line("MainBorder", 1));
    layout->addLayout(tabRow);
    layout->addWidget(line("MainBorder", 1));
    layout->addWidget(downloaded, 1);
    layout->addWidget(downloading, 1);

    for (QWidget* w : std::initializer_list<QWidget*>{btnStart, btnPause, btnDelete, btnCancel,
                                                      ckAll, btnDownloadedSel, btnDownloadingSel,
                                                      lineDownloaded, lineDownloading}) {
        w->hide();
    }

    connect(downloaded, &TileList::listCountChange, this, &FormDownload::setText1);
    connect(downloading, &TileList::listCountChange, this, &FormDownload::setText2);
    connect(downloaded, &TileList::tileChecked, this, &FormDownload::onThumbCheck);
    connect(downloading, &TileList::tileChecked, this, &FormDownload::onThumbCheck);
    connect(btnDownloaded, &QPushButton::clicked, this, &FormDownload::onBtnDownloadedClick);
    connect(btnDownloading, &QPushButton::clicked, this, &FormDownload::onBtnDownloadingClick);
    connect(btnEdit, &QPushButton::clicked, this, &FormDownload::onEditClick);
    connect(btnCancel, &QPushButton::clicked, this, &FormDownload::onCancelClick);
    connect(btnStart, &QPushButton::clicked, this, &FormDownload::onStartClick);
    connect(btnContinue, &QPushButton::clicked, this, &FormDownload::continueStudy);
    connect(btnPause, &QPushButton::clicked, this, &FormDownload::onPauseClick);
    connect(ckAll, &QCheckBox::toggled, this, &FormDownload::onCkAllChecked);
    connect(btnDelete, &QPushButton::clicked, this, &FormDownload::onBtnDeleteClick);
    connect(App::instance()->downloader(), &Downloader::startPause, this,
            &FormDownload::updateStartPause);
    connect(App::instance()->downloader(), &Downloader::refreshUI, this,
            &FormDownload::updateStartPause);

    // The lists were filled before they were connected.
    setText1(downloaded->count());
    setText2(downloading->count());
    onBtnDownloadedClick();
}

void FormDownload::paintEvent(QPaintEvent* event)
{
    QStyleOption option;
    option.initFrom(this);
    QPainter painter(this);
    style()->drawPrimitive(QStyle::PE_Widget, &option, &painter, this);
    QWidget::paintEvent(event);
}

TileList* FormDownload::visibleList() const
{
    if (downloaded->isVisibleTo(const_cast<FormDownload*>(this))) {
        return downloaded;
    }
    return downloading;
}

void FormDownload::onBtnDownloadedClick()
{
    downloaded->show();
    downloading->hide();
    lineDownloaded->show();
    lineDownloading->hide();
    btnDownloadedSel->show();
    btnDownloaded->hide();
    btnDownloading->show();
    btnDownloadingSel->hide();
    updateStartPause();
    updateCheckAll();
}

void FormDownload::onBtnDownloadingClick()
{
    downloaded->hide();
    downloading->show();
    lineDownloaded->hide();
    lineDownloading->show();
    btnDownloadedSel->hide();
    btnDownloaded->show();
    btnDownloading->hide();
    btnDownloadingSel->show();
    updateStartPause();
    updateCheckAll();
}

void FormDownload::updateStartPause()
{
    App* app = App::instance();
    // Failed lessons are listed too, but nothing starts or pauses them: only the queue counts.
    const bool shown =
        downloading->isVisibleTo(this) && app && !app->downloader()->queue().isEmpty();
    const bool started = app && app->downloader()->isStart();
    btnPause->setVisible(shown && started);
    btnStart->setVisible(shown && !started);
    btnContinue->setVisible(downloaded->isVisibleTo(this));
}

bool FormDownload::continueStudy()
{
    App* app = App::instance();
    if (!app) {
        return false;
    }
    const UserRecord user = app->library()->record();
    const CourseRecord* course = nullptr;
    for (const CourseRecord& stored : user.courses) {
        course = stored.id == user.lastCourse ? &stored : course;
    }
    for (int i = 0; course && i < course->list.size(); ++i) {
        const LessonRecord& lesson = course->list.at(i);
        if (lesson.id == user.lastLesson && lesson.state == Complete) {
            FormPlayer* player = app->openPlayer(lesson.title);
            player->playLesson(course->id, lesson.id, lesson.c_type);
            return player->isBuilt();
        }
    }
    XMessageBox::inform(QStringLiteral("还没有可继续学习的课件"), window());
    return false;
}

void FormDownload::onStartClick()
{
    // The buttons follow the scheduler's startPause().
    if (App* app = App::instance()) {
        app->downloader()->setStart(true);
    }
}

void FormDownload::onPauseClick()
{
    if (App* app = App::instance()) {
        app->downloader()->setStart(false);
    }
}

void FormDownload::setText1(int count)
{
    countDownloaded = count;
    updateCaptions();
    updateSpace();
}

void FormDownload::setText2(int count)
{
    countDownloading = count;
    updateCaptions();
    updateStartPause();
    updateCheckAll();
}

void FormDownload::updateCaptions()
{
    auto caption = [](const QString& base, int count, const QString& what) {
        return count > 0 ? base + QStringLiteral("（%1个%2）").arg(count).arg(what) : base;
    };
    const QString done = caption(QStringLiteral("已缓存"), countDownloaded, QStringLiteral("课程"));
    btnDownloaded->setText(done);
    btnDownloadedSel->setText(done);
    const QString coming =
        caption(QStringLiteral("缓存中"), countDownloading, QStringLiteral("课件"));
    btnDownloading->setText(coming);
    btnDownloadingSel->setText(coming);
}

QString FormDownload::spaceText(const QString& answer)
{
    const QStringList parts = answer.split(QLatin1Char('-'));
    if (answer.isEmpty() || parts.size() != 2) {
        return QString();
    }
    return QStringLiteral("总空间：") + parts.at(0) + QStringLiteral("GB / 可用空间：") +
           parts.at(1) + QStringLiteral("GB");
}

void FormDownload::updateSpace()
{
    App* app = App::instance();
    if (!app) {
        return;
    }
#ifdef Q_OS_WIN
    // The drive root of the download folder, such as "D:/".
    const QString where = app->videoPath().left(3);
#else
    // No drive letters here: the folder itself names its file system.
    const QString where = app->videoPath();
#endif
    const QString text = spaceText(app->diskSpace(where));
    if (!text.isEmpty()) {
        lblSpace->setText(text);
    }
}

void FormDownload::onEditClick()
{
    btnEdit->hide();
    ckAll->show();
    btnDelete->show();
    btnCancel->show();
    downloaded->setEditMode(true);
    downloading->setEditMode(true);
}

void FormDownload::onCancelClick()
{
    btnEdit->show();
    ckAll->hide();
    btnDelete->hide();
    btnCancel->hide();
    const QSignalBlocker blocker(ckAll);
    ckAll->setChecked(false);
    downloaded->setEditMode(false);
    downloading->setEditMode(false);
}

void FormDownload::onCkAllChecked(bool value)
{
    TileList* list = visibleList();
    // Unchecked by the student only when every entry was checked; unchecking one tile
    // unchecks "全选" without the handler.
    if (value || (list->count() > 0 && list->checkedCount() == list->count())) {
        list->setAllChecked(value);
    }
}

void FormDownload::onThumbCheck(bool)
{
    updateCheckAll();
}

void FormDownload::updateCheckAll()
{
    const TileList* list = visibleList();
    // Set without the toggled handler: unchecking one tile leaves the others checked.
    const QSignalBlocker blocker(ckAll);
    ckAll->setChecked(list->count() > 0 && list->checkedCount() == list->count());
}

QString FormDownload::deleteQuestion(int courses, int lessons)
{
    QString what;
    if (courses > 0) {
        what = QStringLiteral("%1 个课程").arg(courses);
    }
    if (lessons > 0) {
        what += (what.isEmpty() ? QString() : QStringLiteral("和 ")) +
                QStringLiteral("%1 个课件").arg(lessons);
    }
    if (what.isEmpty()) {
        return QString();
    }
    // Broken where the sentence breaks: wrapped by width, "件？" stood alone on a line.
    return QStringLiteral("确定删除所选的 ") + what + QStringLiteral("\n及其已下载的文件？");
}

void FormDownload::onBtnDeleteClick()
{
    // The marks of both tabs: edit mode is the page's.
    const QStringList courses = downloaded->checkedDirs();
    const QStringList lessons = downloading->checkedDirs();
    App* app = App::instance();
    if ((courses.isEmpty() && lessons.isEmpty()) || !app) {
        onCancelClick();
        return;
    }
    if (!XMessageBox::ask(deleteQuestion(courses.size(), lessons.size()), window())) {
        return; // still in edit mode, the marks kept
    }
    for (TileList* list :
         {static_cast<TileList*>(downloaded), static_cast<TileList*>(downloading)}) {
        list->removeChecked();
    }
    onCancelClick();
    if (!courses.isEmpty()) {
        app->downloader()->deleteDownloaded(courses);
    }
    if (!lessons.isEmpty()) {
        app->downloader()->deleteDownloading(lessons);
    }
}
