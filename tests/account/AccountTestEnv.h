#pragma once

// What the account tests share: the stand-in school for the whole test case, a fresh data
// folder (and so a fresh application context) for each test, and message boxes answered by
// the test with their texts kept.
#include "App.h"
#include "BaseDialog.h"
#include "SchoolProcess.h"
#include "XMessageBox.h"

#include <QLabel>
#include <QStandardPaths>
#include <QStringList>
#include <QTemporaryDir>
#include <QTextDocument>
#include <QtTest>
#include <memory>

class AccountTestEnv
{
public:
    // Call from initTestCase(): starts the school and points the client at it.
    bool startSchool()
    {
        QStandardPaths::setTestModeEnabled(true);
        if (!school.start()) {
            return false;
        }
        pointAt(school.apiUrl());
        qputenv("TAMIX_KEY_URL", school.keyUrl().toUtf8());
        XMessageBox::setResponder([this](XMessageBox& box) {
            messages.append(box.text());
            for (const QLabel* label : box.findChildren<QLabel*>()) {
                if (label->text() == box.text() && label->textFormat() != Qt::PlainText &&
                    Qt::mightBeRichText(box.text())) {
                    rendered.append(box.text());
                }
            }
            return true;
        });
        return true;
    }

    static void pointAt(const QString& apiUrl) { qputenv("TAMIX_API_URL", apiUrl.toUtf8()); }

    // Call from init(): a new documents and video folder, so App::instance() starts afresh.
    void freshFolders()
    {
        docs = std::make_unique<QTemporaryDir>();
        videos = std::make_unique<QTemporaryDir>();
        qputenv("TAMIX_DOCUMENTS_DIR", docs->path().toUtf8());
        qputenv("TAMIX_VIDEOS_DIR", videos->path().toUtf8());
        messages.clear();
        rendered.clear();
        BaseDialog::setRunHook(nullptr);
        App::allowNewRun(); // a test that quit ended the previous run
    }

    // Call from cleanup(), after the widgets are gone.
    void dropContext()
    {
        BaseDialog::setRunHook(nullptr);
        if (App::exists()) {
            delete App::instance();
        }
    }

    int route(const QString& name)
    {
        return school.stats().value("routes").toObject().value(name).toInt();
    }

    SchoolProcess school;
    std::unique_ptr<QTemporaryDir> docs;
    std::unique_ptr<QTemporaryDir> videos;
    QStringList messages;
    QStringList rendered; // messages whose markup a label would render
};
