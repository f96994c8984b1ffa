#pragma once

#include "BaseDialog.h"

#include <functional>

class QCheckBox;
class QComboBox;
class QLineEdit;
class QPushButton;
class QRadioButton;
class QSpinBox;

// "基本设置": the settings of "tamix.ini" as controls; every change is written at once.
class FormBaseSet : public BaseDialog
{
    Q_OBJECT
public:
    FormBaseSet(const QString& title, QWidget* parent = nullptr);

    // Test seam: answers the folder chooser instead of a person (an empty text cancels);
    // it is given the folder the chooser would open in.
    using FolderChooser = std::function<QString(const QString& start)>;
    static void setFolderChooser(FolderChooser chooser);

    QCheckBox* autoRunBox() const { return ckAutoRun; }
    QRadioButton* minTaskbar() const { return rdMinTaskbar; }
    QRadioButton* minTray() const { return rdMinTray; }
    QRadioButton* closeQuit() const { return rdCloseQuit; }
    QRadioButton* closeTray() const { return rdCloseTray; }
    QLineEdit* pathEdit() const { return txtPath; }
    QPushButton* changeDirButton() const { return btnChangeDir; }
    QComboBox* taskCountBox() const { return cmbTasks; }
    QCheckBox* autoTaskBox() const { return ckAutoTask; }
    QCheckBox* tipBox() const { return ckTip; }
    QCheckBox* shutdownBox() const { return ckShutdown; }
    // "下载限速": the choices, the last of which ("自定义…") takes the number in the spin box.
    QComboBox* rateLimitBox() const { return cmbRateLimit; }
    QSpinBox* rateLimitEdit() const { return spinRateLimit; }
    QCheckBox* keepAwakeBox() const { return ckKeepAwake; }
    QCheckBox* lastPositionBox() const { return ckLastPosition; }
    QCheckBox* autoNextBox() const { return ckAutoNext; }

private slots:
    void onAutoRunCheck(bool check);
    void onMinCheck();
    void onCloseCheck();
    void onBtnPathClick();
    void onCkAutotaskCheck(bool value);
    void onCkShutdownCheck(bool value);
    void onCkTipCheck(bool value);
    void onCkLastPositionCheck(bool value);
    void onRateLimitChoose(int index);
    void onRateLimitEdit(int kbPerSecond);
    void onCkKeepAwakeCheck(bool value);

private:
    QString chooseFolder(const QString& current);
    QRadioButton* rdMinTaskbar = nullptr;
    QRadioButton* rdMinTray = nullptr;
    QRadioButton* rdCloseQuit = nullptr;
    QRadioButton* rdCloseTray = nullptr;
    QLineEdit* txtPath = nullptr;

    QCheckBox* ckAutoRun = nullptr;
    QPushButton* btnChangeDir = nullptr;
    QComboBox* cmbTasks = nullptr;
    QCheckBox* ckAutoTask = nullptr;
    QCheckBox* ckTip = nullptr;
    QCheckBox* ckShutdown = nullptr;
    QCheckBox* ckLastPosition = nullptr;
    QCheckBox* ckAutoNext = nullptr;
    QComboBox* cmbRateLimit = nullptr;
    QSpinBox* spinRateLimit = nullptr;
    QCheckBox* ckKeepAwake = nullptr;
};
