#include "FormUpgrade.h"

#include "App.h"
#include "InstallerDownload.h"
#include "StyledWidget.h"
#include "SystemServices.h"
#include "URLManager.h"

#include <QDebug>
#include <QDesktopServices>
#include <QDir>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QStandardPaths>
#include <QUrl>
#include <QVBoxLayout>

namespace {

bool& downloadsForTests()
{
    static bool on = false;
    return on;
}

} // namespace

FormUpgrade::FormUpgrade(const QString& version, const QString& content, const QString& url,
                         const QString& sha256, QWidget* parent)
    : FormUpgrade(Offer{version, content, url, sha256, QString(), -1}, parent)
{
}

FormUpgrade::FormUpgrade(const Offer& offer, QWidget* parent)
    : BaseDialog(QStringLiteral("升级"), 500, 150, parent)
{
    lblVersion = new QLabel(QStringLiteral("最新版本：") + offer.version, body());
    lblVersion->setTextFormat(Qt::PlainText);
    // The school's release notes as text: markup in them could load a local picture.
    lblContent = new QLabel(offer.content, body());
    lblContent->setTextFormat(Qt::PlainText);
    lblContent->setWordWrap(true);
    lblStatus = new QLabel(body());
    lblStatus->setWordWrap(true);
    lblStatus->setTextInteractionFlags(Qt::TextSelectableByMouse);
    lblStatus->hide();
    contentWidget = new StyledWidget(body());
    contentWidget->setObjectName(QStringLiteral("ContentWidget"));
    contentWidget->setFixedHeight(5);
    countBox = new StyledWidget(contentWidget);
    countBox->setObjectName(QStringLiteral("CountBox"));
    countBox->setFixedWidth(20);
    auto* track = new QHBoxLayout(contentWidget);
    track->setContentsMargins(0, 0, 0, 0);
    track->addWidget(countBox, 0, Qt::AlignLeft);
    btnInstall = new QPushButton(QStringLiteral("立即安装"), body());
    btnInstall->setObjectName(QStringLiteral("btnOK"));
    btnInstall->setCursor(Qt::PointingHandCursor);
    btnInstall->hide();
    connect(btnInstall, &QPushButton::clicked, this, &FormUpgrade::onInstall);
    auto* btnClose = new QPushButton(QStringLiteral("关闭"), body());
    btnClose->setObjectName(QStringLiteral("btnCancel"));
    btnClose->setCursor(Qt::PointingHandCursor);
    connect(btnClose, &QPushButton::clicked, this, &QDialog::close);

    auto* row = new QHBoxLayout();
    row->addStretch();
    row->addWidget(btnInstall);
    row->addWidget(btnClose);
    auto* layout = new QVBoxLayout(body());
    layout->addWidget(lblVersion);
    layout->addWidget(lblContent);
    layout->addWidget(lblStatus);
    layout->addWidget(contentWidget);
    layout->addLayout(row);

    // Long release notes grow the panel, and so does the one line of status below them.
    lblContent->setFixedWidth(460);
    lblStatus->setFixedWidth(460);
    const int notes = std::max(0, lblContent->heightForWidth(460));
    panel()->setFixedHeight(150 + notes + fontMetrics().lineSpacing());

    filePath = installerPath();
    download = new InstallerDownload(this);
    if (!downloadsHere()) {
        showStatus(QStringLiteral("请前往官网下载新版本：") + siteUrl());
        // Nothing will be downloaded: no progress track that never moves.
        contentWidget->hide();
        return;
    }
    const InstallerDownload::Expected expected{offer.sha256, offer.signature, offer.size};
    switch (InstallerDownload::refusal(offer.url, filePath, expected)) {
    case InstallerDownload::Refusal::None:
        break;
    case InstallerDownload::Refusal::Space:
        showStatus(QStringLiteral("磁盘空间不足，无法下载新版本。"));
        contentWidget->hide();
        return;
    default:
        qWarning().noquote() << "upgrade refused: the offer cannot be checked";
        showStatus(QStringLiteral("无法校验新版本的安装程序，请前往官网下载新版本：") + siteUrl());
        contentWidget->hide();
        return;
    }
    connect(download, &InstallerDownload::progress, this, &FormUpgrade::onProgress);
    connect(download, &InstallerDownload::finished, this,
            [this](bool ok, const QString& path, const QString&) { onFinish(ok, path); });
    download->start(offer.url, filePath, expected);
}

QString FormUpgrade::installerPath()
{
    const App* app = App::instance();
    const QString dir = (app ? app->appDir() : QDir::tempPath()) + QLatin1Char('/');
    return dir + App::appName + QStringLiteral(".exe");
}

void FormUpgrade::setDownloadsForTests(bool on)
{
    downloadsForTests() = on;
}

bool FormUpgrade::downloadsHere()
{
#ifdef Q_OS_WIN
    return true;
#else
    // The school's installer is a Windows program.
    return downloadsForTests();
#endif
}

QString FormUpgrade::siteUrl()
{
    const App* app = App::instance();
    return app ? app->urlManager()->siteUrl() : QString();
}

bool FormUpgrade::isDownloading() const
{
    return download->isRunning();
}

void FormUpgrade::showStatus(const QString& text)
{
    lblStatus->setText(text);
    lblStatus->show();
}

void FormUpgrade::onProgress(qlonglong bytesSent, qlonglong bytesTotal)
{
    if (bytesTotal <= 0) {
        return;
    }
    const int width = static_cast<int>(double(contentWidget->width()) * bytesSent / bytesTotal);
    if (width >= 0) {
        countBox->setFixedWidth(std::min(width, contentWidget->width()));
    }
}

void FormUpgrade::onFinish(bool ok, const QString& path)
{
    if (!ok) {
        showStatus(QStringLiteral("下载失败，请稍后重试"));
        countBox->setFixedWidth(0);
        return;
    }
    filePath = path;
    showStatus(QStringLiteral("新版本已下载，点击“立即安装”开始安装。"));
    btnInstall->show();
    btnInstall->setEnabled(true);
    // The student decides: closed meanwhile or not, the dialog asks again.
    show();
    raise();
    activateWindow();
}

void FormUpgrade::onInstall()
{
    btnInstall->setEnabled(false);
    if (!startInstaller(filePath)) {
        qWarning().noquote() << "could not start the installer" << filePath;
        showStatus(QStringLiteral("无法启动安装程序，请手动运行：") +
                   QDir::toNativeSeparators(filePath));
        return;
    }
    close();
}

bool FormUpgrade::startInstaller(const QString& path)
{
#ifdef Q_OS_WIN
    // Tests only ever reach the launcher they put in place.
    if (QStandardPaths::isTestModeEnabled()) {
        return SystemServices::openFile(path);
    }
    // As the desktop opens a file: the shell asks for elevation when the installer needs it,
    // which a plainly started process cannot.
    return QDesktopServices::openUrl(QUrl::fromLocalFile(path));
#else
    // Only tests download here; their launcher records the call and runs nothing.
    return downloadsForTests() && SystemServices::openFile(path);
#endif
}
