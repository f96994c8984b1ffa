#pragma once

#include "CourseRecord.h"
#include "StyledWidget.h"

#include <functional>
#include <optional>

class BookmarkStore;
class QLineEdit;
class QListWidget;
class QPushButton;

// Beside the video: the lesson's bookmarks by time ("hh:mm:ss  note"), a click jumps there;
// the one-line note editor of a new or edited bookmark ("Enter" keeps the note, "Esc" drops
// the note, never the mark); "编辑", "删除" and "导出笔记".
class BookmarkPanel : public StyledWidget
{
    Q_OBJECT
public:
    // The file chooser for the export; tests replace the dialog. Returns the chosen file or an
    // empty text.
    using FileChooser = std::function<QString(QWidget* parent, const QString& suggested)>;
    static void setFileChooser(FileChooser chooser);

    BookmarkPanel(BookmarkStore* store, QWidget* parent);

    // The lesson shown; its course for the export.
    void setLesson(const std::optional<CourseRecord>& course, const QString& lessonId);
    // Marks `seconds` and opens the note editor on it.
    void addAt(qint64 seconds);
    bool isEditing() const;
    QListWidget* list() const { return rows; }
    QLineEdit* editor() const { return noteEdit; }

signals:
    void jumpTo(int seconds);
    // The lesson's bookmark times, for the slider.
    void marksChanged(const QList<int>& seconds);
    void tip(const QString& text);

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void refresh();
    void edit(int id);
    void finishEdit(bool keep);
    void exportNotes();
    int currentId() const;

    BookmarkStore* store;
    std::optional<CourseRecord> course;
    QString lessonId;
    QListWidget* rows;
    QLineEdit* noteEdit;
    QPushButton* btnEdit;
    QPushButton* btnDelete;
    QPushButton* btnExport;
    int editedId = 0;
};
