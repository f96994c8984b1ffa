#include "App.h"
#include "DiskBudget.h"
#include "FormBaseSet.h"
#include "FormUpgrade.h"
#include "InstallerDownload.h"
#include "InstallerSignature.h"
#include "MainForm.h"
#include "SchoolProcess.h"
#include "SettingKeys.h"
#include "SmallDisk.h"
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
#include <QSpinBox>
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
    void manualCheckHasItsOwnAnswer();
    void installerMustBeWhole_data();
    void installerMustBeWhole();
    void uncheckedOfferDownloadsNothing_data();
    void uncheckedOfferDownloadsNothing();
    void startsOnlyOnConsent_data();
    void startsOnlyOnConsent();
    void otherSystemsAreSentToTheSite();
    void longNotesGrowThePanel();
    void settingsWriteTheirKeys_data();
    void settingsWriteTheirKeys();
    void rateLimitChoices();
    void folderChooser_data();
    void folderChooser();

private:
    QString iniValue(const QString& key);
    QString installerUrl();
    int installerRequests();

    SchoolProcess school;
    std::unique_ptr<QTemporaryDir> docs;
    QStringList messages;
    QStringList cutMessages; // shown with a part of their text cut off
    QStringList offered;
    QList<QStringList> launched;
};

void TestUpgrade::initTestCase()
{
    QStandardPaths::setTestModeEnabled(true);
    FormUpgrade::setDownloadsForTests(true);
    InstallerDownload::setFloorWindowForTests(500);
    QVERIFY2(school.start(), qPrintable(school.errorString()));
    school.pointClientHere();
    SystemServices::setLauncher([this](const QString& program, const QStringList& args) {
        launched.append(QStringList{program} + args);
        return true;
    });
    XMessageBox::setResponder([this](XMessageBox& box) {
        messages.append(box.text());
        // The whole text is on the screen when its label is as tall as its lines need.
        for (const QLabel* label : box.findChildren<QLabel*>()) {
            if (label->text() == box.text() &&
                label->height() < label->heightForWidth(label->width())) {
                cutMessages.append(box.text());
            }
        }
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
    QVERIFY(school.resetStats());
    messages.clear();
    cutMessages.clear();
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

int TestUpgrade::installerRequests()
{
    return school.stats().value("routes").toObject().value("installer").toInt();
}

namespace {

// The stand-in school's 65536-byte installer, rebuilt by a script from the pattern the school
// serves: `sha256sum`, and `openssl pkeyutl -sign -rawin` of those 32 digest bytes with the
// school's test key.
const QString installerSha256 = "3e36de4447a569167216d90922902f2755771039261aa1325845d36725bb3ca7";
const QString installerSignature =
    "ccrFpAaVXIA/JWapzZxoOlSCqTf9Ixeqx4Fyw7URKUG6PZszBfQBo9JDHzkHu3Ss"
    "MrBnKlfPYX9zeFHQRvFbDg==";
const qint64 installerSize = 65536;

FormUpgrade::Offer wholeOffer(const QString& url)
{
    return FormUpgrade::Offer{"1.1.5",      "说明", url, installerSha256, installerSignature,
                              installerSize};
}

} // namespace

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
        // The school's answer (checksum, signature, size) lets the installer through.
        QTRY_VERIFY_WITH_TIMEOUT(window.upgradeDialog()->installButton()->isVisible(), 10000);
        QVERIFY(launched.isEmpty());
    } else {
        QCOMPARE(messages,
                 QStringList{version == "1.1.x" ? "获取版本信息失败" : "当前已经是最新版本"});
    }
}

// The start-up check still waits for the school when the student asks from the menu.
void TestUpgrade::manualCheckHasItsOwnAnswer()
{
    QVERIFY(school.addFault({{"route", "*getPcUpdate*"}, {"stall", 3000}, {"times", 1}}));
    MainForm window;
    QTRY_COMPARE_WITH_TIMEOUT(school.stats()["routes"].toObject()["getPcUpdate"].toInt(), 1, 10000);
    QMetaObject::invokeMethod(&window, "showUpgrade");
    QTRY_COMPARE_WITH_TIMEOUT(messages, QStringList{"当前已经是最新版本"}, 10000);
    // The start-up answer comes after it and says nothing more.
    QTest::qWait(4000);
    QCOMPARE(messages, QStringList{"当前已经是最新版本"});
    QCOMPARE(school.stats()["routes"].toObject()["getPcUpdate"].toInt(), 2);
}

void TestUpgrade::installerMustBeWhole_data()
{
    QString flipped = installerSignature;
    flipped[0] = flipped[0] == 'c' ? 'd' : 'c';
    QTest::addColumn<QJsonObject>("fault");
    QTest::addColumn<QString>("sha256");
    QTest::addColumn<QString>("signature");
    QTest::addColumn<qint64>("size");
    QTest::addColumn<bool>("whole");
    QTest::addColumn<int>("roomMb"); // free space above the disk's margin, -1: the real one
    const QString sum = installerSha256, sig = installerSignature;
    const qint64 size = installerSize;
    QTest::newRow("whole") << QJsonObject() << sum << sig << size << true << -1;
    QTest::newRow("signed, no checksum") << QJsonObject() << QString() << sig << size << true << -1;
    QTest::newRow("cut short") << QJsonObject{{"cut", 1000}} << sum << sig << size << false << -1;
    QTest::newRow("nothing but headers")
        << QJsonObject{{"cut", 0}} << sum << sig << size << false << -1;
    QTest::newRow("error page 500")
        << QJsonObject{{"status", 500}} << sum << sig << size << false << -1;
    QTest::newRow("slower than the floor")
        << QJsonObject{{"trickle", 50}} << sum << sig << size << false << -1;
    QTest::newRow("wrong SHA-256")
        << QJsonObject() << QString(64, '0') << sig << size << false << -1;
    QTest::newRow("wrong signature") << QJsonObject() << sum << flipped << size << false << -1;
    // No size announced: the disk's room (and a ceiling) bounds it, not the whole disk.
    QTest::newRow("endless, no size, nearly full disk")
        << QJsonObject{{"endless", true}} << sum << sig << qint64(-1) << false << 8;
    QTest::newRow("longer than announced")
        << QJsonObject() << sum << sig << qint64(1000) << false << -1;
}

void TestUpgrade::installerMustBeWhole()
{
    QFETCH(QJsonObject, fault);
    QFETCH(QString, sha256);
    QFETCH(QString, signature);
    QFETCH(qint64, size);
    QFETCH(bool, whole);
    QFETCH(int, roomMb);
    if (roomMb >= 0) {
        DiskBudget::setFreeSpaceForTests(smallDisk(roomMb));
    }
    const auto restore = qScopeGuard([] { DiskBudget::setFreeSpaceForTests({}); });
    if (!InstallerSignature::isRequired() &&
        (sha256.isEmpty() || signature != installerSignature)) {
        QSKIP("built without an update-signing key (scripts/test passes the school's test key)");
    }
    if (!fault.isEmpty()) {
        fault.insert("route", "/download/*");
        QVERIFY(school.addFault(fault));
    }
    FormUpgrade dialog(
        FormUpgrade::Offer{"1.1.5", "说明", installerUrl(), sha256, signature, size});
    dialog.show();
    QTRY_VERIFY_WITH_TIMEOUT(!dialog.isDownloading(), 10000);
    // Qt's HTTP layer may itself ask once more when a connection closes before the first byte
    // of the body; the download never asks again on its own.
    const int requests = installerRequests();
    QVERIFY2(requests == 1 || (requests == 2 && fault.value("cut").toInt(-1) == 0),
             qPrintable(QString::number(requests) + " requests"));
    const QString path = FormUpgrade::installerPath();
    QVERIFY(launched.isEmpty());
    QVERIFY(dialog.statusLabel()->isVisible());
    QCOMPARE(dialog.installButton()->isVisible(), whole);
    if (whole) {
        QFile file(path);
        QVERIFY(file.open(QIODevice::ReadOnly));
        QCOMPARE(QCryptographicHash::hash(file.readAll(), QCryptographicHash::Sha256).toHex(),
                 installerSha256.toLatin1());
    } else {
        QVERIFY(!QFileInfo::exists(path));
        QCOMPARE(dialog.statusLabel()->text(), QString("下载失败，请稍后重试"));
    }
}

// An offer whose installer could not be checked, or could not fit, is not even fetched.
void TestUpgrade::uncheckedOfferDownloadsNothing_data()
{
    QTest::addColumn<QString>("url");
    QTest::addColumn<QString>("sha256");
    QTest::addColumn<QString>("signature");
    QTest::addColumn<qint64>("size");
    const QString sig = installerSignature;
    QTest::newRow("no checksum, no signature") << "" << QString() << QString() << installerSize;
    QTest::newRow("checksum \"unknown\"") << ""
                                          << "unknown" << sig << installerSize;
    QTest::newRow("63 digits") << "" << installerSha256.left(63) << sig << installerSize;
    QTest::newRow("file address") << "file:///etc/passwd" << installerSha256 << sig
                                  << installerSize;
    QTest::newRow("larger than the free space")
        << "" << installerSha256 << sig << (qint64(1) << 60);
}

void TestUpgrade::uncheckedOfferDownloadsNothing()
{
    QFETCH(QString, url);
    QFETCH(QString, sha256);
    QFETCH(QString, signature);
    QFETCH(qint64, size);
    FormUpgrade dialog(FormUpgrade::Offer{"1.1.5", "说明", url.isEmpty() ? installerUrl() : url,
                                          sha256, signature, size});
    dialog.show();
    QTest::qWait(300);
    QVERIFY(!dialog.isDownloading());
    QCOMPARE(installerRequests(), 0);
    QVERIFY(!QFileInfo::exists(FormUpgrade::installerPath()));
    QVERIFY(dialog.statusLabel()->isVisible());
    QVERIFY(!dialog.installButton()->isVisible());
}

// The whole installer waits for "立即安装", also after "关闭" during the download.
void TestUpgrade::startsOnlyOnConsent_data()
{
    QTest::addColumn<bool>("closeFirst");
    QTest::addColumn<bool>("install");
    QTest::newRow("关闭 during the download") << true << false;
    QTest::newRow("立即安装") << false << true;
}

void TestUpgrade::startsOnlyOnConsent()
{
    QFETCH(bool, closeFirst);
    QFETCH(bool, install);
    QVERIFY(school.addFault({{"route", "/download/*"}, {"latency", 300}}));
    FormUpgrade dialog(wholeOffer(installerUrl()));
    dialog.show();
    if (closeFirst) {
        for (QPushButton* button : dialog.findChildren<QPushButton*>()) {
            if (button->text() == "关闭") {
                button->click();
            }
        }
        QVERIFY(!dialog.isVisible());
        QVERIFY(dialog.isDownloading());
    }
    QTRY_VERIFY_WITH_TIMEOUT(dialog.installButton()->isVisible(), 10000);
    QVERIFY(dialog.isVisible());
    QTest::qWait(200);
    QVERIFY(launched.isEmpty());
    if (install) {
        dialog.installButton()->click();
        dialog.installButton()->click();
#ifdef Q_OS_WIN
        const QList<QStringList> once{{QDir::toNativeSeparators(FormUpgrade::installerPath())}};
#else
        const QList<QStringList> once{{"xdg-open", FormUpgrade::installerPath()}};
#endif
        QCOMPARE(launched, once);
        QVERIFY(!dialog.isVisible());
    }
}

void TestUpgrade::otherSystemsAreSentToTheSite()
{
#ifdef Q_OS_WIN
    QSKIP("Windows downloads the installer");
#endif
    FormUpgrade::setDownloadsForTests(false);
    FormUpgrade dialog(wholeOffer(installerUrl()));
    FormUpgrade::setDownloadsForTests(true);
    dialog.show();
    QTest::qWait(300);
    QCOMPARE(installerRequests(), 0);
    QVERIFY(!dialog.isDownloading());
    QCOMPARE(dialog.statusLabel()->text(), "请前往官网下载新版本：" + school.apiUrl());
    QVERIFY(!dialog.installButton()->isVisible());
}

void TestUpgrade::longNotesGrowThePanel()
{
    QStringList lines;
    for (int i = 1; i <= 40; ++i) {
        lines << QString("%1. 修复若干已知问题").arg(i);
    }
    FormUpgrade::Offer offer = wholeOffer(installerUrl());
    offer.content = lines.first();
    FormUpgrade shortNotes(offer);
    offer.content = lines.join('\n');
    FormUpgrade longNotes(offer);
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
    QTest::newRow("keep awake, on when missing") << "keepAwake" << SettingKeys::keepAwake << "0";
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
                                                   {"lastPosition", dialog.lastPositionBox()},
                                                   {"keepAwake", dialog.keepAwakeBox()}};
    QAbstractButton* button = controls.value(control);
    // Radio buttons of a pair: the other one first, so that the click is a change.
    if (control == "minTray") {
        dialog.minTaskbar()->click();
    }
    button->click();
    QCOMPARE(iniValue(key), written);
    QVERIFY(!dialog.taskCountBox()->isEnabled());
}

// "下载限速" stores KB/s, as the scheduler reads them: a choice, a typed number, none.
void TestUpgrade::rateLimitChoices()
{
    App::instance()->setSetting(SettingKeys::rateLimit, "300");
    FormBaseSet dialog("基本设置");
    QComboBox* choices = dialog.rateLimitBox();
    QSpinBox* typed = dialog.rateLimitEdit();
    QCOMPARE(choices->currentText(), QString("自定义…"));
    QCOMPARE(typed->value(), 300);
    choices->setCurrentIndex(choices->findText("512 KB/s"));
    QCOMPARE(iniValue(SettingKeys::rateLimit), QString("512"));
    QVERIFY(!typed->isEnabled());
    // A letter is refused; the number counts once it is entered.
    choices->setCurrentIndex(choices->findText("自定义…"));
    typed->selectAll();
    QTest::keyClicks(typed, "x1000");
    QCOMPARE(iniValue(SettingKeys::rateLimit), QString("512"));
    QTest::keyClick(typed, Qt::Key_Return);
    QCOMPARE(iniValue(SettingKeys::rateLimit), QString("1000"));
    choices->setCurrentIndex(choices->findText("不限速"));
    QCOMPARE(iniValue(SettingKeys::rateLimit), QString("0"));
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
    QString start;
    FormBaseSet::setFolderChooser([&](const QString& folder) {
        start = folder;
        return answer == "cancel" ? QString() : answer == "writable" ? chosen.path() : blocked;
    });
    // With the client's look, whose fonts decide how the message wraps.
    qApp->setStyleSheet(App::instance()->styleSheet());
    FormBaseSet dialog("基本设置");
    dialog.changeDirButton()->click();
    FormBaseSet::setFolderChooser(nullptr);
    qApp->setStyleSheet(QString());
    const QString expected = answer == "writable" ? chosen.path() : before;
    QCOMPARE(App::instance()->setting(SettingKeys::videoPath), expected);
    QCOMPARE(dialog.pathEdit()->text(), expected);
    QCOMPARE(messages.size(), answer == "unwritable" ? 1 : 0);
    QVERIFY2(cutMessages.isEmpty(), qPrintable(cutMessages.join('\n')));
    // It opens on the folder in use.
    QCOMPARE(start, before);
}

QTEST_MAIN(TestUpgrade)
#include "tst_upgrade.moc"
