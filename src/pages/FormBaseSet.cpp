#include "FormBaseSet.h"

#include "App.h"
#include "SettingKeys.h"
#include "TokenBucket.h"
#include "XMessageBox.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDebug>
#include <QFileDialog>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QSpinBox>
#include <QTemporaryFile>

static FormBaseSet::FolderChooser& folderChooser()
{
    static FormBaseSet::FolderChooser chooser;
    return chooser;
}

void FormBaseSet::setFolderChooser(FolderChooser chooser)
{
    folderChooser() = std::move(chooser);
}

// A click that comes after the program's stop finds no settings to write: it changes nothing.
static void saveSetting(const QString& key, const QString& value)
{
    if (App* app = App::instance()) {
        app->setSetting(key, value);
    }
}

// A folder counts as usable when a file can really be made in it (permissions, read-only
// media and full or vanished drives all show up here).
static bool canWriteIn(const QString& dir)
{
    QTemporaryFile probe(dir + QStringLiteral("/.tamix-probe-XXXXXX"));
    return probe.open();
}

FormBaseSet::FormBaseSet(const QString& title, QWidget* parent)
    : BaseDialog(title, 570, 468, parent)
{
    App* app = App::instance();
    auto fixed = [](QWidget* w) {
        w->setFixedHeight(25);
        return w;
    };
    auto label = [this, &fixed](const char* text) {
        return fixed(new QLabel(QString::fromUtf8(text), body()));
    };
    auto check = [this, &fixed](const char* text) {
        return static_cast<QCheckBox*>(fixed(new QCheckBox(QString::fromUtf8(text), body())));
    };
    // Each radio pair in a container of its own, so the pairs are exclusive only within.
    auto pair = [this, &fixed](const char* first, const char* second, QRadioButton** a,
                               QRadioButton** b) {
        auto* box = fixed(new QWidget(body()));
        *a = new QRadioButton(QString::fromUtf8(first), box);
        *b = new QRadioButton(QString::fromUtf8(second), box);
        auto* row = new QHBoxLayout(box);
        row->setContentsMargins(0, 0, 0, 0);
        row->addWidget(*a);
        row->addWidget(*b);
        row->addStretch();
        return box;
    };

    ckAutoRun = check("开机时自动启动");
    QWidget* minPair = pair("任务栏", "托盘", &rdMinTaskbar, &rdMinTray);
    txtPath = static_cast<QLineEdit*>(fixed(new QLineEdit(body())));
    txtPath->setObjectName(QStringLiteral("txtPath"));
    btnChangeDir =
        static_cast<QPushButton*>(fixed(new QPushButton(QStringLiteral("更改目录"), body())));
    btnChangeDir->setObjectName(QStringLiteral("btnChangeDir"));
    btnChangeDir->setCursor(Qt::PointingHandCursor);
    // The scheduler downloads one lesson at a time; the box only says so.
    cmbTasks = static_cast<QComboBox*>(fixed(new QComboBox(body())));
    cmbTasks->addItems({QStringLiteral("1"), QStringLiteral("2"), QStringLiteral("3")});
    cmbTasks->setFixedWidth(50);
    cmbTasks->setCurrentIndex(0);
    cmbTasks->setEnabled(false);
    ckAutoTask = check("自动开始未完成的任务");
    ckTip = check("下载完成后提示");
    ckShutdown = check("下载完成后关机");
    ckKeepAwake = check("下载时阻止电脑休眠");
    // KB/s per choice; the last one, "自定义…", takes the number typed beside it.
    cmbRateLimit = static_cast<QComboBox*>(fixed(new QComboBox(body())));
    cmbRateLimit->setObjectName(QStringLiteral("cmbRateLimit"));
    cmbRateLimit->addItem(QStringLiteral("不限速"), 0);
    cmbRateLimit->addItem(QStringLiteral("256 KB/s"), 256);
    cmbRateLimit->addItem(QStringLiteral("512 KB/s"), 512);
    cmbRateLimit->addItem(QStringLiteral("1 MB/s"), 1024);
    cmbRateLimit->addItem(QStringLiteral("2 MB/s"), 2048);
    cmbRateLimit->addItem(QStringLiteral("自定义…"), -1);
    cmbRateLimit->setFixedWidth(100);
    // Takes digits only, within the bounds the fetcher accepts; a number out of them goes back
    // to the last good one when the box loses the focus. Stored when the typing is done.
    spinRateLimit = static_cast<QSpinBox*>(fixed(new QSpinBox(body())));
    spinRateLimit->setObjectName(QStringLiteral("txtRateLimit"));
    spinRateLimit->setRange(int(TokenBucket::minKBps), int(TokenBucket::maxKBps));
    spinRateLimit->setSuffix(QStringLiteral(" KB/s"));
    spinRateLimit->setKeyboardTracking(false);
    spinRateLimit->setFixedWidth(120);
    QWidget* closePair = pair("退出", "托盘", &rdCloseQuit, &rdCloseTray);
    ckLastPosition = check("记忆上次文件播放的位置");
    ckAutoNext = check("自动播放下一讲");

    auto* pathRow = new QHBoxLayout();
    pathRow->addWidget(txtPath);
    pathRow->addWidget(btnChangeDir);
    auto* tasksRow = new QHBoxLayout();
    tasksRow->addWidget(label("最多同时开始"));
    tasksRow->addWidget(cmbTasks);
    tasksRow->addWidget(label("个下载任务"));
    tasksRow->addStretch();
    auto* rateRow = new QHBoxLayout();
    rateRow->addWidget(label("下载限速"));
    rateRow->addWidget(cmbRateLimit);
    rateRow->addWidget(spinRateLimit);
    rateRow->addStretch();

    auto* grid = new QGridLayout(body());
    grid->setContentsMargins(30, 15, 40, 15);
    grid->setVerticalSpacing(4);
    auto caption = [&](int row, const char* text) {
        grid->addWidget(label(text), row, 0, Qt::AlignRight);
    };
    caption(0, "启动：");
    grid->addWidget(ckAutoRun, 0, 1);
    caption(1, "最小化设置：");
    grid->addWidget(label("当程序最小化后显示在"), 1, 1);
    grid->addWidget(minPair, 2, 1);
    caption(3, "下载管理：");
    grid->addWidget(label("将下载的课程储存在此文件夹中"), 3, 1);
    grid->addLayout(pathRow, 4, 1);
    grid->addLayout(tasksRow, 5, 1);
    grid->addLayout(rateRow, 6, 1);
    grid->addWidget(ckAutoTask, 7, 1);
    grid->addWidget(ckTip, 8, 1);
    grid->addWidget(ckShutdown, 9, 1);
    grid->addWidget(ckKeepAwake, 10, 1);
    caption(11, "关闭设置：");
    grid->addWidget(label("当点击关闭按钮后"), 11, 1);
    grid->addWidget(closePair, 12, 1);
    grid->addWidget(ckLastPosition, 13, 1);
    grid->addWidget(ckAutoNext, 14, 1);
    grid->setColumnStretch(1, 1);

    // The file's state first; only then the connections, so that nothing is written now.
    ckAutoRun->setChecked(app->isOn(SettingKeys::autoRun));
    (app->isOn(SettingKeys::minToTray) ? rdMinTray : rdMinTaskbar)->setChecked(true);
    (app->isOn(SettingKeys::closeToTray) ? rdCloseTray : rdCloseQuit)->setChecked(true);
    txtPath->setText(app->setting(SettingKeys::videoPath));
    ckAutoTask->setChecked(app->isOn(SettingKeys::autoDownload));
    ckShutdown->setChecked(app->isOn(SettingKeys::shutdownAfter));
    ckTip->setChecked(app->isOn(SettingKeys::tipAfter));
    ckLastPosition->setChecked(app->isOn(SettingKeys::resumePlayback));
    // On unless "0": a student who never opened the settings expects the downloads to finish.
    ckKeepAwake->setChecked(app->setting(SettingKeys::keepAwake) != QLatin1String("0"));
    ckAutoNext->setChecked(app->setting(SettingKeys::autoPlayNext) != QLatin1String("0"));
    // A stored number out of bounds shows as the limit really in force.
    const int limit = int(TokenBucket::bytesPerSecond(app->setting(SettingKeys::rateLimit)) / 1024);
    const int choice = cmbRateLimit->findData(limit);
    cmbRateLimit->setCurrentIndex(choice >= 0 ? choice : cmbRateLimit->count() - 1);
    spinRateLimit->setValue(limit > 0 ? limit : 256);
    spinRateLimit->setEnabled(choice < 0);

    connect(ckAutoRun, &QCheckBox::toggled, this, &FormBaseSet::onAutoRunCheck);
    connect(rdMinTaskbar, &QRadioButton::toggled, this, &FormBaseSet::onMinCheck);
    connect(rdMinTray, &QRadioButton::toggled, this, &FormBaseSet::onMinCheck);
    connect(rdCloseQuit, &QRadioButton::toggled, this, &FormBaseSet::onCloseCheck);
    connect(rdCloseTray, &QRadioButton::toggled, this, &FormBaseSet::onCloseCheck);
    connect(btnChangeDir, &QPushButton::clicked, this, &FormBaseSet::onBtnPathClick);
    connect(ckAutoTask, &QCheckBox::toggled, this, &FormBaseSet::onCkAutotaskCheck);
    connect(ckShutdown, &QCheckBox::toggled, this, &FormBaseSet::onCkShutdownCheck);
    connect(ckTip, &QCheckBox::toggled, this, &FormBaseSet::onCkTipCheck);
    connect(ckLastPosition, &QCheckBox::toggled, this, &FormBaseSet::onCkLastPositionCheck);
    connect(ckKeepAwake, &QCheckBox::toggled, this, &FormBaseSet::onCkKeepAwakeCheck);
    connect(ckAutoNext, &QCheckBox::toggled, this, [](bool value) {
        saveSetting(SettingKeys::autoPlayNext, value ? QStringLiteral("1") : QStringLiteral("0"));
    });
    connect(cmbRateLimit, QOverload<int>::of(&QComboBox::currentIndexChanged), this,
            &FormBaseSet::onRateLimitChoose);
    connect(spinRateLimit, QOverload<int>::of(&QSpinBox::valueChanged), this,
            &FormBaseSet::onRateLimitEdit);
}

void FormBaseSet::onAutoRunCheck(bool check)
{
    if (App* app = App::instance()) {
        app->setAutoRun(check);
    }
}

void FormBaseSet::onMinCheck()
{
    if (rdMinTray->isChecked()) {
        saveSetting(SettingKeys::minToTray, QStringLiteral("1"));
    } else if (rdMinTaskbar->isChecked()) {
        saveSetting(SettingKeys::minToTray, QStringLiteral("2"));
    }
}

void FormBaseSet::onCloseCheck()
{
    if (rdCloseTray->isChecked()) {
        saveSetting(SettingKeys::closeToTray, QStringLiteral("1"));
    } else if (rdCloseQuit->isChecked()) {
        saveSetting(SettingKeys::closeToTray, QStringLiteral("2"));
    }
}

QString FormBaseSet::chooseFolder(const QString& current)
{
    QFileDialog chooser(this, QStringLiteral("请选择目录"), current);
    chooser.setFileMode(QFileDialog::Directory);
    chooser.setOption(QFileDialog::ShowDirsOnly);
    // Centred over this dialog at the size it will have: the toolkit centres it before its
    // layout has grown it, and it came up off centre.
    chooser.adjustSize();
    QRect placed(QPoint(), chooser.size());
    placed.moveCenter(frameGeometry().center());
    chooser.move(placed.topLeft());
    if (chooser.exec() != QDialog::Accepted || chooser.selectedFiles().isEmpty()) {
        return QString();
    }
    return chooser.selectedFiles().constFirst();
}

void FormBaseSet::onBtnPathClick()
{
    // The chooser opens on the folder now in use, not wherever the program was started from.
    const App* app = App::instance();
    const QString current = app ? app->setting(SettingKeys::videoPath) : QString();
    const QString dir = folderChooser() ? folderChooser()(current) : chooseFolder(current);
    if (dir.isEmpty()) {
        return;
    }
    if (!canWriteIn(dir)) {
        qDebug().noquote() << "download folder refused, cannot write in" << dir;
        XMessageBox::inform(QStringLiteral("无法在此文件夹中保存课程，请选择其他文件夹。"), this);
        return;
    }
    saveSetting(SettingKeys::videoPath, dir);
    txtPath->setText(dir);
}

void FormBaseSet::onCkAutotaskCheck(bool value)
{
    saveSetting(SettingKeys::autoDownload, value ? QStringLiteral("1") : QStringLiteral("2"));
}

void FormBaseSet::onCkShutdownCheck(bool value)
{
    saveSetting(SettingKeys::shutdownAfter, value ? QStringLiteral("1") : QStringLiteral("0"));
}

void FormBaseSet::onCkTipCheck(bool value)
{
    saveSetting(SettingKeys::tipAfter, value ? QStringLiteral("1") : QStringLiteral("0"));
}

void FormBaseSet::onCkLastPositionCheck(bool value)
{
    saveSetting(SettingKeys::resumePlayback, value ? QStringLiteral("1") : QStringLiteral("0"));
}

void FormBaseSet::onCkKeepAwakeCheck(bool value)
{
    saveSetting(SettingKeys::keepAwake, value ? QStringLiteral("1") : QStringLiteral("0"));
}

void FormBaseSet::onRateLimitChoose(int index)
{
    const int kb = cmbRateLimit->itemData(index).toInt();
    const bool custom = kb < 0;
    spinRateLimit->setEnabled(custom);
    if (custom) {
        spinRateLimit->setFocus();
        spinRateLimit->selectAll();
        saveSetting(SettingKeys::rateLimit, QString::number(spinRateLimit->value()));
        return;
    }
    if (kb > 0) {
        // The box offers the chosen figure as the start of a typed one.
        const QSignalBlocker quiet(spinRateLimit);
        spinRateLimit->setValue(kb);
    }
    saveSetting(SettingKeys::rateLimit, QString::number(kb));
}

void FormBaseSet::onRateLimitEdit(int kbPerSecond)
{
    if (spinRateLimit->isEnabled()) {
        saveSetting(SettingKeys::rateLimit, QString::number(kbPerSecond));
    }
}
