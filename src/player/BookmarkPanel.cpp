#include "BookmarkPanel.h"

#include "BookmarkStore.h"
#include "PlayerControlBar.h"

#include <QDebug>
#include <QDir>
#include <QFileDialog>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QRegularExpression>
#include <QStandardPaths>
#include <QVBoxLayout>

namespace {

BookmarkPanel::FileChooser& chooser()
{
    static BookmarkPanel::FileChooser current;
    return current;
}

QString chooseFile(QWidget* parent, const QString& suggested)
{
    if (chooser()) {
        return chooser()(parent, suggested);
    }
    // The toolkit's own chooser: in Chinese wherever the program runs.
    return QFileDialog::getSaveFileName(parent, QStringLiteral("导出笔记"), suggested,
                                        QStringLiteral("文本文件 (*.txt)"), nullptr,
                                        QFileDialog::DontUseNativeDialog);
}

} // namespace

void BookmarkPanel::setFileChooser(FileChooser value)
{
    chooser() = std::move(value);
}

BookmarkPanel::BookmarkPanel(BookmarkStore* store, QWidget* parent)
    : StyledWidget(parent), store(store), rows(new QListWidget(this)), noteEdit(new QLineEdit(this))
{
    setObjectName(QStringLiteral("bookmarkPanel"));
    setFixedWidth(260);
    rows->setObjectName(QStringLiteral("bookmarkList"));
    rows->setFocusPolicy(Qt::NoFocus);
    noteEdit->setObjectName(QStringLiteral("bookmarkNote"));
    noteEdit->setPlaceholderText(QStringLiteral("书签备注，回车保存"));
    noteEdit->setMaxLength(BookmarkStore::maxNoteLength);
    noteEdit->installEventFilter(this);
    noteEdit->hide();
    auto button = [this](const QString& text) {
        return PlayerControlBar::makeButton(QStringLiteral("btnStudy"), this, text);
    };
    btnEdit = button(QStringLiteral("编辑"));
    btnDelete = button(QStringLiteral("删除"));
    btnExport = button(QStringLiteral("导出笔记"));
    auto* buttons = new QHBoxLayout();
    buttons->addWidget(btnEdit);
    buttons->addWidget(btnDelete);
    buttons->addStretch();
    buttons->addWidget(btnExport);
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(8, 8, 8, 8);
    layout->addWidget(noteEdit);
    layout->addWidget(rows, 1);
    layout->addLayout(buttons);

    connect(rows, &QListWidget::itemClicked, this,
            [this](QListWidgetItem* item) { emit jumpTo(item->data(Qt::UserRole + 1).toInt()); });
    connect(rows, &QListWidget::itemDoubleClicked, this,
            [this](QListWidgetItem* item) { edit(item->data(Qt::UserRole).toInt()); });
    connect(btnEdit, &QPushButton::clicked, this, [this] { edit(currentId()); });
    connect(btnDelete, &QPushButton::clicked, this, [this] {
        if (const int id = currentId()) {
            this->store->remove(course ? course->id : QString(), lessonId, id);
        }
    });
    connect(btnExport, &QPushButton::clicked, this, &BookmarkPanel::exportNotes);
    connect(noteEdit, &QLineEdit::returnPressed, this, [this] { finishEdit(true); });
    connect(noteEdit, &QLineEdit::textEdited, this, [this](const QString& text) {
        if (text.size() >= BookmarkStore::maxNoteLength) {
            emit tip(QStringLiteral("书签备注最多 %1 字").arg(BookmarkStore::maxNoteLength));
        }
    });
    connect(store, &BookmarkStore::changed, this, &BookmarkPanel::refresh);
}

void BookmarkPanel::setLesson(const std::optional<CourseRecord>& lessonCourse,
                              const QString& lesson)
{
    course = lessonCourse;
    lessonId = lesson;
    noteEdit->hide();
    editedId = 0;
    refresh();
}

void BookmarkPanel::addAt(qint64 seconds)
{
    if (!course || lessonId.isEmpty()) {
        emit tip(QStringLiteral("课程信息未就绪，暂不能添加书签"));
        return;
    }
    show();
    const int id = store->add(course->id, lessonId, seconds);
    emit tip(QStringLiteral("已添加书签 ") + BookmarkStore::timeText(seconds));
    edit(id);
}

bool BookmarkPanel::isEditing() const
{
    return noteEdit->isVisible();
}

int BookmarkPanel::currentId() const
{
    const QListWidgetItem* item = rows->currentItem();
    return item ? item->data(Qt::UserRole).toInt() : 0;
}

void BookmarkPanel::edit(int id)
{
    if (!id || !course) {
        return;
    }
    for (const Bookmark& bookmark : store->bookmarks(course->id, lessonId)) {
        if (bookmark.id == id) {
            editedId = id;
            noteEdit->setText(bookmark.note);
            noteEdit->show();
            noteEdit->setFocus();
            return;
        }
    }
}

void BookmarkPanel::finishEdit(bool keep)
{
    if (keep && editedId && course) {
        store->setNote(course->id, lessonId, editedId, noteEdit->text());
    }
    editedId = 0;
    noteEdit->hide();
    noteEdit->clear();
    // Keys go back to the player.
    if (QWidget* top = window()) {
        top->setFocus();
    }
}

bool BookmarkPanel::eventFilter(QObject* watched, QEvent* event)
{
    if (watched == noteEdit && event->type() == QEvent::KeyPress &&
        static_cast<QKeyEvent*>(event)->key() == Qt::Key_Escape) {
        finishEdit(false);
        return true;
    }
    return StyledWidget::eventFilter(watched, event);
}

void BookmarkPanel::refresh()
{
    rows->clear();
    QList<int> seconds;
    if (course) {
        for (const Bookmark& bookmark : store->bookmarks(course->id, lessonId)) {
            auto* item = new QListWidgetItem(
                BookmarkStore::timeText(bookmark.seconds) + QLatin1Char(' ') + bookmark.note, rows);
            item->setData(Qt::UserRole, bookmark.id);
            item->setData(Qt::UserRole + 1, int(bookmark.seconds));
            item->setToolTip(bookmark.note);
            seconds.append(int(bookmark.seconds));
        }
    }
    emit marksChanged(seconds);
}

void BookmarkPanel::exportNotes()
{
    if (!course) {
        return;
    }
    const QString documents = QStandardPaths::writableLocation(QStandardPaths::DocumentsLocation);
    QString name = course->title;
    name.replace(QRegularExpression(QStringLiteral("[\\\\/:*?\"<>|]")), QStringLiteral("_"));
    const QString target =
        chooseFile(window(), QDir(documents).filePath(name + QStringLiteral("-笔记.txt")));
    if (target.isEmpty()) {
        return;
    }
    QString error;
    if (store->exportTo(*course, target, &error)) {
        emit tip(QStringLiteral("笔记已导出"));
    } else {
        qDebug() << "notes not exported to" << target << error;
        emit tip(QStringLiteral("笔记导出失败"));
    }
}
