#pragma once

#include <QWidget>

class Downloaded;
class Downloading;
class QCheckBox;
class QLabel;
class QPushButton;
class TileList;

// The download manager page: the tabs "已缓存" and "缓存中" with their counts, the disk-space
// line, start and pause of all downloads (following the scheduler, wherever it was paused), and
// an edit mode of the page: it holds on both tabs and across rebuilds, and deletes the checked
// tiles of both after asking.
class FormDownload : public QWidget
{
    Q_OBJECT
public:
    explicit FormDownload(QWidget* parent = nullptr);

    Downloaded* downloadedList() const { return downloaded; }
    Downloading* downloadingList() const { return downloading; }
    QLabel* spaceLabel() const { return lblSpace; }
    QPushButton* downloadedTab() const { return btnDownloaded; }
    QPushButton* downloadingTab() const { return btnDownloading; }
    QPushButton* downloadedTabSelected() const { return btnDownloadedSel; }
    QPushButton* downloadingTabSelected() const { return btnDownloadingSel; }
    QPushButton* startButton() const { return btnStart; }
    QPushButton* continueButton() const { return btnContinue; }
    // "继续学习": the lesson played last, at its place; false when there is none to play.
    bool continueStudy();
    QPushButton* pauseButton() const { return btnPause; }
    QPushButton* editButton() const { return btnEdit; }
    QPushButton* deleteButton() const { return btnDelete; }
    QPushButton* cancelButton() const { return btnCancel; }
    QCheckBox* checkAllBox() const { return ckAll; }

    // "总空间：931GB / 可用空间：120GB" from a drive answer "931-120"; empty for an empty answer.
    static QString spaceText(const QString& answer);
    // The question before a delete, naming what goes; empty when nothing does.
    static QString deleteQuestion(int courses, int lessons);

public slots:
    void setText1(int count);
    void setText2(int count);
    void onBtnDownloadedClick();
    void onBtnDownloadingClick();
    void onEditClick();
    void onCancelClick();
    void onStartClick();
    void onPauseClick();
    void onCkAllChecked(bool value);
    void onThumbCheck(bool);
    void onBtnDeleteClick();

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    TileList* visibleList() const;
    void updateCaptions();
    // "全部开始" or "全部暂停" as the scheduler stands, on a downloading tab with tiles.
    void updateStartPause();
    void updateCheckAll();
    void updateSpace();

    QLabel* lblSpace = nullptr;
    Downloaded* downloaded = nullptr;
    Downloading* downloading = nullptr;
    QPushButton* btnDownloaded = nullptr;
    QPushButton* btnDownloading = nullptr;
    QPushButton* btnDownloadedSel = nullptr;
    QPushButton* btnDownloadingSel = nullptr;
    QPushButton* btnStart = nullptr;
    QPushButton* btnContinue = nullptr;
    QPushButton* btnPause = nullptr;
    QPushButton* btnEdit = nullptr;
    QPushButton* btnDelete = nullptr;
    QPushButton* btnCancel = nullptr;
    QCheckBox* ckAll = nullptr;
    QWidget* lineDownloaded = nullptr;
    QWidget* lineDownloading = nullptr;
    int countDownloaded = 0;
    int countDownloading = 0;
};
