#include "FormUpgrade.h"

#include "App.h"
#include "InstallerDownload.h"
#include "StyledWidget.h"
#include "SystemServices.h"

#include <QDebug>
#include <QDir>
#include <QFileInfo>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QUrl>
#include <QVBoxLayout>

FormUpgrade::FormUpgrade(const QString& version, const QString& content, const QString& url,
                         const QString& sha256, QWidget* parent)
    : BaseDialog(QStringLiteral("升级"), 500, 150, parent)
{
    lblVersion = new QLabel(QStringLiteral("最新版本：") + version, body());
    lblContent = new QLabel(content, body());
    lblContent->setWordWrap(true);
    lblStatus = new QLabel(body());
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
    auto* btnClose = new QPushButton(QStringLiteral("关闭"), body());
    btnClose->setObjectName(QStringLiteral("btnOK3"));
    btnClose->setCursor(Qt::PointingHandCursor);
    connect(btnClose, &QPushButton::clicked, this, &QDialog::close);

    auto* row = new QHBoxLayout();
    row->addStretch();
    row->addWidget(btnClose);
    auto* layout = new QVBoxLayout(body());
    layout->addWidget(lblVersion);
    layout->addWidget(lblContent);
    layout->addWidget(lblStatus);
    layout->addWidget(contentWidget);
    layout->addLayout(row);

    // Long release notes grow the panel.
    lblContent->setFixedWidth(460);
    const int notes = std::max(0, lblContent->heightForWidth(460));
    panel()->setFixedHeight(150 + notes);

    filePath = installerPath(url);
    download = new InstallerDownload(this);
    connect(download, &InstallerDownload::progress, this, &FormUpgrade::onProgress);
    connect(download, &InstallerDownload::finished, this,
            [this](bool ok, const QString& path, const QString&) { onFinish(ok, path); });
    download->start(url, filePath, sha256);
}

QString FormUpgrade::installerPath(const QString& url)
{
    const App* app = App::instance();
    const QString dir = (app ? app->appDir() : QDir::tempPath()) + QLatin1Char('/');
#ifdef Q_OS_WIN
    Q_UNUSED(url)
    return dir + App::appName + QStringLiteral(".exe");
#else
    // The desktop picks the handler by the file's type, so it keeps the server's suffix.
    const QString suffix = QFileInfo(QUrl(url).path()).suffix();
    return dir + App::appName + QLatin1Char('.') +
           (suffix.isEmpty() ? QStringLiteral("exe") : suffix);
#endif
}

bool FormUpgrade::isDownloading() const
{
    return download->isRunning();
}

void FormUpgrade::onProgress(qlonglong bytesSent, qlonglong bytesTotal)
{
    if (bytesTotal <= 0) {
        return;
    }
    const int width = static_cast<int>(double(contentWidget->width()) * bytesSent / bytesTotal);
    if (width >= 0) {
        countBox->setFixedWidth(width);
    }
}

void FormUpgrade::onFinish(bool ok, const QString& path)
{
    if (!ok) {
        lblStatus->setText(QStringLiteral("下载失败，请稍后重试"));
        lblStatus->show();
        countBox->setFixedWidth(0);
        return;
    }
    if (!SystemServices::openFile(path)) {
        qWarning().noquote() << "could not start the installer" << path;
        lblStatus->setText(QStringLiteral("无法启动安装程序，请手动运行：") + path);
        lblStatus->show();
        return;
    }
    close();
}
