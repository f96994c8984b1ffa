#pragma once

#include "FormUpgrade.h"

#include <QObject>

class HttpHelper;
class URLManager;

// Asks the school for the newest version: once at start, silent unless there is a newer one,
// and whenever the student asks from the menu, answered whatever comes. Each has its own
// request; while an asked check waits, the start-up one keeps quiet.
class VersionCheck : public QObject
{
    Q_OBJECT
public:
    VersionCheck(URLManager* urls, QObject* parent = nullptr);

    void checkAtStart();
    // Ignored while an asked check still waits.
    void checkAsked();

signals:
    void newerVersion(const FormUpgrade::Offer& offer);
    // For an asked check only: no newer version, or why there is no answer.
    void answered(const QString& message);

private:
    void answer(const QString& result, bool asked);

    URLManager* urls;
    HttpHelper* startHttp;
    HttpHelper* askedHttp;
    bool askedPending = false;
};
