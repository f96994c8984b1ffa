#pragma once

#include <QString>
#include <QUrl>
#include <QVariant>
#include <functional>

class QObject;
class QWidget;

// The school's pages in a web view, as the my-classes page sees them. The web engine behind it
// lives in a module of its own ("tamix_web"), loaded with the first page: the engine's libraries
// then cost the program's start nothing. The program and the module share only this header.
class WebPanel
{
public:
    struct Setup
    {
        QString storagePath; // cookies and local storage of the school's pages
        QUrl school;         // pages of its origin, and only those, may call the client
        // Receives the page's calls: skipToList, skipToVideo and getMyCourseInfo (slots).
        QObject* client = nullptr;
        // What the page reports; each must be set.
        std::function<void()> loadStarted;
        std::function<void(int)> loadProgress;
        std::function<void(bool)> loadFinished;
        // A load of the main frame was let in; loadFinished or loadRefused ends it.
        std::function<void()> loadBegun;
        // A load that was let in gave way to a refused address: the document shown before, if
        // any, is still there and running.
        std::function<void()> loadRefused;
        // A new window of the school's origin, to be shown in the view.
        std::function<void(const QUrl&)> openInView;
        // Optional: the page has let go of its renderer (see setOutOfSight).
        std::function<void()> discarded;
        // Optional: shows an alert (question false) or a confirm of the school's page and
        // returns the answer. Without it, and for pages in new windows, dialogs are suppressed.
        std::function<bool(const QString& text, bool question)> scriptDialog;
    };
    // How far the page sleeps: running; frozen (no scripts, timers or painting, memory kept);
    // discarded (its renderer gone, loaded again from its address when woken).
    enum class Lifecycle { Active, Frozen, Discarded };
    using Factory = WebPanel* (*)(const Setup& setup, QWidget* parent);

    // A panel owned by `parent`, or null with `error` set when the module cannot be loaded.
    static WebPanel* create(const Setup& setup, QWidget* parent, QString* error);
    // Programs that link the module themselves (tests, benchmarks) hand in its factory.
    static void setFactory(Factory factory);

    virtual ~WebPanel() = default;
    virtual QWidget* widget() = 0;
    virtual void load(const QUrl& url) = 0;
    // Stops the load under way; its end is not reported.
    virtual void stop() = 0;
    virtual void setHtml(const QString& html, const QUrl& baseUrl) = 0;
    virtual QUrl url() const = 0;
    virtual QUrl requestedUrl() const = 0;
    // `done`, when given, receives the script's result.
    virtual void runJavaScript(const QString& source,
                               const std::function<void(const QVariant&)>& done) = 0;
    // Out of sight (another page or the player in front, the window hidden or minimised): the
    // page is frozen at once and discarded after ten minutes. Back in sight it runs again at
    // the same address.
    virtual void setOutOfSight(bool outOfSight) = 0;
    virtual Lifecycle lifecycle() const = 0;
    // Test seam: the time out of sight before the page is discarded.
    virtual void setDiscardDelay(int ms) = 0;
};
