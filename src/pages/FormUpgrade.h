#pragma once

#include "BaseDialog.h"

class InstallerDownload;
class QLabel;

// "升级": the new version and its release notes, the installer's download with a progress
// fill, and the installer started once it has arrived whole. A failed download says so and
// starts nothing.
class FormUpgrade : public BaseDialog
{
    Q_OBJECT
public:
    // `sha256` is the installer's checksum from the version answer, or empty.
    FormUpgrade(const QString& version, const QString& content, const QString& url,
                const QString& sha256, QWidget* parent = nullptr);

    // Where the installer is saved: the data folder, under the program's name.
    static QString installerPath(const QString& url);

    QLabel* versionLabel() const { return lblVersion; }
    QLabel* contentLabel() const { return lblContent; }
    QLabel* statusLabel() const { return lblStatus; }
    QWidget* progressFill() const { return countBox; }
    bool isDownloading() const;

private slots:
    void onProgress(qlonglong bytesSent, qlonglong bytesTotal);
    void onFinish(bool ok, const QString& path);

private:
    QLabel* lblVersion = nullptr;
    QLabel* lblContent = nullptr;
    QLabel* lblStatus = nullptr;
    QWidget* countBox = nullptr;
    QWidget* contentWidget = nullptr;
    InstallerDownload* download = nullptr;
    QString filePath;
};
