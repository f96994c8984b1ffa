#pragma once

#include "CourseRecord.h"

#include <QWidget>
#include <optional>

class FormThumbnail;
class QCheckBox;
class QLabel;
class QPushButton;
class QScrollArea;

// The page of one downloaded course: its downloaded lessons as tiles that open the player on
// the stored lesson, an add-more tile that opens the selection dialog when the last row has
// room, and an edit mode that deletes checked lessons from the store.
class FormCourseware : public QWidget
{
    Q_OBJECT
public:
    explicit FormCourseware(QWidget* parent = nullptr);

    // (Re)builds the page for course `cid`.
    void showCourse(QString cid);

    const QList<FormThumbnail*>& tileList() const { return tiles; }
    QPushButton* editButton() const { return btnEdit; }
    QPushButton* deleteButton() const { return btnDelete; }
    QPushButton* cancelButton() const { return btnCancel; }
    QCheckBox* checkAllBox() const { return ckAll; }
    QPushButton* backButton() const { return btnBack; }
    QString courseTitle() const;

public slots:
    void onSizeChange(int w, int h);
    void onBtnBackClick();
    void onBtnEditClick();
    void onBtnCancelClick();
    void onCkAllChecked(bool value);
    void onThumbCheck(bool);
    void onBtnDeleteClick();

private:
    QList<FormThumbnail*> lessonTiles() const;
    // The store changed: lessons that finished (or went) while the page is open show up (or
    // go), with edit mode and the marks of those still there kept.
    void onStoreChanged();

    QWidget* container = nullptr;
    QPushButton* btnEdit = nullptr;
    QPushButton* btnDelete = nullptr;
    QPushButton* btnCancel = nullptr;
    QCheckBox* ckAll = nullptr;
    QList<FormThumbnail*> tiles;
    QPushButton* btnBack = nullptr;
    QLabel* lblTitle = nullptr;
    QScrollArea* scroll = nullptr;
    // The add-more tile's course; it outlives the tiles of one build.
    std::optional<CourseRecord> course;
    QString shownId;
};
