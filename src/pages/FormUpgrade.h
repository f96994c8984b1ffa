#pragma once

#include "BaseDialog.h"

class InstallerDownload;
class QLabel;
class QPushButton;

// "升级": the new version and its release notes. On Windows the installer downloads with a
// progress fill and, once it has arrived whole and checked, the dialog comes back with
// "立即安装"; only that press starts it, even when the dialog was closed meanwhile. An offer
// that cannot be checked downloads nothing. Other systems are sent to the web site.
class FormUpgrade : public BaseDialog
{
    Q_OBJECT
public:
    // The version answer's offer.
    struct Offer
    {
        QString version;
        QString content;
        QString url;
        QString sha256;    // hexadecimal, or empty
        QString signature; // base64, or empty
        qint64 size = -1;  // bytes, or -1
    };

    explicit FormUpgrade(const Offer& offer, QWidget* parent = nullptr);
    FormUpgrade(const QString& version, const QString& content, const QString& url,
                const QString& sha256, QWidget* parent = nullptr);

    // Where the installer is saved: the data folder, under the program's name.
    static QString installerPath();
    // Lets a build for another system than Windows download as Windows does, so that the
    // download and its checks can be tested there.
    static void setDownloadsForTests(bool on);

    QLabel* versionLabel() const { return lblVersion; }
    QLabel* contentLabel() const { return lblContent; }
    QLabel* statusLabel() const { return lblStatus; }
    QWidget* progressFill() const { return countBox; }
    QPushButton* installButton() const { return btnInstall; }
    bool isDownloading() const;

private slots:
    void onProgress(qlonglong bytesSent, qlonglong bytesTotal);
    void onFinish(bool ok, const QString& path);
    void onInstall();

private:
    static bool downloadsHere();
    static QString siteUrl();
    static bool startInstaller(const QString& path);
    void showStatus(const QString& text);

    QLabel* lblVersion = nullptr;
    QLabel* lblContent = nullptr;
    QLabel* lblStatus = nullptr;
    QWidget* countBox = nullptr;
    QWidget* contentWidget = nullptr;
    QPushButton* btnInstall = nullptr;
    InstallerDownload* download = nullptr;
    QString filePath;
};
