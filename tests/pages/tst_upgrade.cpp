#include "App.h"
#include "FormBaseSet.h"
#include "FormUpgrade.h"
#include "MainForm.h"
#include "SchoolProcess.h"
#include "SettingKeys.h"
#include "SystemServices.h"
#include "XMessageBox.h"

#include <QCheckBox>
#include <QComboBox>
#include <QCryptographicHash>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QSettings>
#include <QTemporaryDir>
#include <QtTest>

// The version check through the main window's menu, the installer download against the
// stand-in school, and the settings dialog. The launcher never starts anything here.
class TestUpgrade : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void cleanup();
    void offeredByNumber_data();
    void offeredByNumber();
    void installerMustBeWhole_data();
    void installerMustBeWhole();
    void longNotesGrowThePanel();
    void settingsWriteTheirKeys_data();
    void settingsWriteTheirKeys();
    void folderChooser_data();
    void folderChooser();

private:
    QString iniValue(const QString& key);
    QString installerUrl();

    SchoolProcess school;
    std::unique_ptr<QTemporaryDir> docs;
    QStringList messages;
    QStringList offered;
    QList<QStringList> launched;
};

void TestUpgrade::initTestCase()
{
    QStandardPaths::setTestModeEnabled(true);
    QVERIFY2(school.start(), qPrintable(school.errorString()));
    school.pointClientHere();
    SystemServices::setLauncher([this](const QString& program, const QStringList& args) {
        launched.append(QStringList{program} + args);
        return true;
    });
    XMessageBox::setResponder([this](XMessageBox& box) {
        messages.append(box.text());
        return true;
    });
    SheetDialog::setRunHook([this](SheetDialog& dialog) {
        if (auto* upgrade = qobject_cast<FormUpgrade*>(&dialog)) {
            offered.append(upgrade->versionLabel()->text());
        }
        return 0;
    });
}

void TestUpgrade::init()
{
    docs = std::make_unique<QTemporaryDir>();
    qputenv("TAMIX_DOCUMENTS_DIR", docs->path().toUtf8());
    qputenv("TAMIX_VIDEOS_DIR", docs->path().toUtf8());
    App::allowNewRun();
    messages.clear();
    offered.clear();
    launched.clear();
}

void TestUpgrade::cleanup()
{
    QVERIFY(school.clearFaults());
    QVERIFY(school.setDesktopVersion(App::version));
    if (App::exists()) {
        delete App::instance();
    }
}

QString TestUpgrade::iniValue(const QString& key)
{
    QSettings ini(App::instance()->appDir() + "/tamix.ini", QSettings::IniFormat);
    return ini.value(key).toString();
}

QString TestUpgrade::installerUrl()
{
    return school.apiUrl() + "/download/tamix-setup.exe";
}

void TestUpgrade::offeredByNumber_data()
{
    QTest::addColumn<QString>("version");
    QTest::addColumn<bool>("offers");
    QTest::newRow("1.1.5") << "1.1.5" << true;
    QTest::newRow("1.2") << "1.2" << true;
    QTest::newRow("2") << "2" << true;
    QTest::newRow("1.1.10 (newer by number)") << "1.1.10" << true;
    QTest::newRow("1.1.4 (the client's)") << "1.1.4" << false;
    QTest::newRow("1.1.4.0") << "1.1.4.0" << false;
    QTest::newRow("1.1.3") << "1.1.3" << false;
    QTest::newRow("not a version") << "1.1.x" << false;
}

void TestUpgrade::offeredByNumber()
{
    QFETCH(QString, version);
    QFETCH(bool, offers);
    MainForm window;
    // The start-up check sees the client's own version and says nothing.
    QTest::qWait(300);
    QVERIFY(messages.isEmpty() && offered.isEmpty());
    QVERIFY(school.setDesktopVersion(version));
    QMetaObject::invokeMethod(&window, "showUpgrade");
    QTRY_VERIFY_WITH_TIMEOUT(!messages.isEmpty() || !offered.isEmpty(), 10000);
    if (offers) {
        QCOMPARE(offered, QStringList{"最新版本：" + version});
        QVERIFY(messages.isEmpty());
    } else {
        QCOMPARE(messages,
                 QStringList{version == "1.1.x" ? "获取版本信息失败" : "当前已经是最新版本"});
    }
}

void TestUpgrade::installerMustBeWhole_data()
{
    QTest::addColumn<QJsonObject>("fault");
    QTest::addColumn<bool>("wrongSum");
    QTest::addColumn<bool>("starts");
    QTest::newRow("whole") << QJsonObject() << false << true;
    QTest::newRow("cut short") << QJsonObject{{"cut", 1000}} << false << false;
    QTest::newRow("nothing but headers") << QJsonObject{{"cut", 0}} << false << false;
    QTest::newRow("error page 500") << QJsonObject{{"status", 500}} << false << false;
    QTest::newRow("wrong SHA-256") << QJsonObject() << true << false;
}

void TestUpgrade::installerMustBeWhole()
{
    QFETCH(QJsonObject, fault);
    QFETCH(bool, wrongSum);
    QFETCH(bool, starts);
    if (!fault.isEmpty()) {
        fault.insert("route", "/download/*");
        QVERIFY(school.addFault(fault));
    }
    const QString sum = wrongSum ? QString(64, '0') : QString();
    FormUpgrade dialog("1.1.5", "说明", installerUrl(), sum);
    dialog.show();
    QTRY_VERIFY_WITH_TIMEOUT(!dialog.isDownloading(), 10000);
    QTest::qWait(50);
    const QString path = FormUpgrade::installerPath(installerUrl());
    if (starts) {
#ifdef Q_OS_WIN
        const QList<QStringList> once{{QDir::toNativeSeparators(path)}};
#else
        const QList<QStringList> once{{"xdg-open", path}};
#endif
        QCOMPARE(launched, once);
        QFile file(path);
        QVERIFY(file.open(QIODevice::ReadOnly));
        QCOMPARE(file.size(), qint64(65536));
        QVERIFY(file.readAll().startsWith("MZ"));
    } else {
        QVERIFY(launched.isEmpty());
        QVERIFY(!QFileInfo::exists(path));
        QVERIFY(dialog.statusLabel()->isVisible());
        QCOMPARE(dialog.statusLabel()->text(), QString("下载失败，请稍后重试"));
    }
}

void TestUpgrade::longNotesGrowThePanel()
{
    QStringList lines;
    for (int i = 1; i <= 40; ++i) {
        lines << QString("%1. 修复若干已知问题").arg(i);
    }
    FormUpgrade shortNotes("1.1.5", lines.first(), installerUrl(), QString());
    FormUpgrade longNotes("1.1.5", lines.join('\n'), installerUrl(), QString());
    const int line = QFontMetrics(longNotes.contentLabel()->font()).lineSpacing();
    QVERIFY(longNotes.panel()->height() - shortNotes.panel()->height() >= 39 * line);
}

// Each control, changed once, writes its key; building the dialog writes nothing.
void TestUpgrade::settingsWriteTheirKeys_data()
{
    QTest::addColumn<QString>("control");
    QTest::addColumn<QString>("key");
    QTest::addColumn<QString>("written");
    QTest::newRow("tray on minimise") << "minTray" << SettingKeys::minToTray << "1";
    QTest::newRow("taskbar on minimise") << "minTaskbar" << SettingKeys::minToTray << "2";
    QTest::newRow("tray on close") << "closeTray" << SettingKeys::closeToTray << "1";
    QTest::newRow("auto start unchecked stores 2")
        << "autoTask" << SettingKeys::autoDownload << "2";
    QTest::newRow("tip") << "tip" << SettingKeys::tipAfter << "0";
    QTest::newRow("shutdown") << "shutdown" << SettingKeys::shutdownAfter << "1";
    QTest::newRow("last position") << "lastPosition" << SettingKeys::resumePlayback << "0";
}

void TestUpgrade::settingsWriteTheirKeys()
{
    QFETCH(QString, control);
    QFETCH(QString, key);
    QFETCH(QString, written);
    App* app = App::instance();
    app->setSetting(SettingKeys::minToTray, "1");
    app->setSetting(SettingKeys::autoDownload, "1");
    app->setSetting(SettingKeys::tipAfter, "1");
    app->setSetting(SettingKeys::resumePlayback, "1");
    QSettings ini(app->appDir() + "/tamix.ini", QSettings::IniFormat);
    const QStringList before = ini.allKeys();

    FormBaseSet dialog("基本设置");
    QCOMPARE(ini.allKeys(), before);
    const QMap<QString, QAbstractButton*> controls{{"minTray", dialog.minTray()},
                                                   {"minTaskbar", dialog.minTaskbar()},
                                                   {"closeTray", dialog.closeTray()},
                                                   {"autoTask", dialog.autoTaskBox()},
                                                   {"tip", dialog.tipBox()},
                                                   {"shutdown", dialog.shutdownBox()},
                                                   {"lastPosition", dialog.lastPositionBox()}};
    QAbstractButton* button = controls.value(control);
    // Radio buttons of a pair: the other one first, so that the click is a change.
    if (control == "minTray") {
        dialog.minTaskbar()->click();
    }
    button->click();
    QCOMPARE(iniValue(key), written);
    QVERIFY(!dialog.taskCountBox()->isEnabled());
}

void TestUpgrade::folderChooser_data()
{
    QTest::addColumn<QString>("answer"); // "cancel", "writable", "unwritable"
    QTest::newRow("cancelled") << "cancel";
    QTest::newRow("a writable folder") << "writable";
    QTest::newRow("not writable") << "unwritable";
}

void TestUpgrade::folderChooser()
{
    QFETCH(QString, answer);
    QTemporaryDir chosen;
    // A regular file stands for a folder nothing can be written in, root or not.
    const QString blocked = chosen.path() + "/file";
    QFile(blocked).open(QIODevice::WriteOnly);
    const QString before = App::instance()->setting(SettingKeys::videoPath);
    FormBaseSet::setFolderChooser([&] {
        return answer == "cancel" ? QString() : answer == "writable" ? chosen.path() : blocked;
    });
    FormBaseSet dialog("基本设置");
    dialog.changeDirButton()->click();
    FormBaseSet::setFolderChooser(nullptr);
    const QString expected = answer == "writable" ? chosen.path() : before;
    QCOMPARE(App::instance()->setting(SettingKeys::videoPath), expected);
    QCOMPARE(dialog.pathEdit()->text(), expected);
    QCOMPARE(messages.size(), answer == "unwritable" ? 1 : 0);
}

QTEST_MAIN(TestUpgrade)
#include "tst_upgrade.moc"
