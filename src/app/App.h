#pragma once

#include "CourseStore.h"
#include "FileCipher.h"

#include <QMutex>
#include <QObject>
#include <QPointer>
#include <QRect>
#include <memory>

class AwakeLock;
class Downloader;
class FormPlayer;
class MainForm;
class QSettings;
class CourseLibrary;
class URLManager;
class UserRecord;

// The application context: one per process, reached through instance(). It owns the settings
// file, the data directory, the session of the logged-in user, the URL catalogue, the cipher
// and the store, and broadcasts the global state changes.
class App : public QObject
{
    Q_OBJECT
public:
    static const QString appName; // "岚禾会计网校"
    static const QString version; // "1.1.4"

    static App* instance();
    // True once instance() has built the context and until it is destroyed.
    static bool exists();
    // After the program's orderly stop nothing builds a second context (instance() is null
    // then): a late answer or timer must find none. A new main window starts a new run.
    static void endForGood();
    static void allowNewRun();
    ~App() override;

    bool isLogin() const { return login; }
    // Broadcasts Login(value). Logging out also expires the stored session and saves it, so
    // that the next start does not restore it.
    void setLogin(bool value);
    void setSize(int w, int h);
    void addUserImg(const QString& path);
    void requestShutdown();
    // Start-up, run once by the main window after it has connected to the signals: restores a
    // session younger than a day, then emits initDone().
    void init();

    // Operating-system services.
    void setAutoRun(bool on);
    QString diskSpace(const QString& path) const;
    void shutdown();

    // Lowercase hexadecimal MD5 of the Latin-1 bytes (signatures).
    static QString md5(const QString& text);

    // Settings, safe from any thread. Readers compare with "1" through isOn().
    QString setting(const QString& key) const;
    bool isOn(const QString& key) const;
    void setSetting(const QString& key, const QString& value);

    QString styleSheet() const { return sheet; }
    QString appDir() const { return dataDir; }
    QString userRoot() const { return dataDir + QStringLiteral("/user"); }
    // The log for support, in the data folder beside the settings.
    QString logPath() const { return dataDir + QStringLiteral("/tamix.log"); }
    QString videoPath() const { return videoDir; }
    QRect screenRect() const { return screen; }
    void setScreenRect(const QRect& rect) { screen = rect; }
    MainForm* mainForm() const { return mainWindow; }
    void setMainForm(MainForm* form) { mainWindow = form; }
    // The one player window, or null. The player and the two operations below live with the
    // player's sources, in the widget library.
    FormPlayer* player() const;
    // Closes the player window if one is open (its position is saved) and opens a new one;
    // the caller starts it with playLesson or playLocal.
    FormPlayer* openPlayer(const QString& title);
    // Called by the player window while it closes: it is deleted once that has returned.
    void closePlayer();
    // Whether a player window is open (it covers the course page, which then sleeps).
    bool isPlayerOpen() const { return playerShown; }
    // The download scheduler. The main window shows its completion tip on allDone() and a tray
    // message on storageFailed(QString); its shutdown request arrives as toShutdown().
    Downloader* downloader() const { return scheduler; }
    const FileCipher& cipher() const { return fileCipher; }
    URLManager* urlManager() const { return urls; }
    // The one owner of the session, the courses and the queue; callers get copies.
    CourseLibrary* library() const { return courses.get(); }
    // The session fields of the logged-in user (lists empty).
    UserRecord session() const;
    // A login or registration: another user name goes through the scheduler's user switch.
    void takeSession(const UserRecord& session);
    CourseStore* store() const { return courseStore.get(); }
    int width() const { return lastWidth; }
    int height() const { return lastHeight; }

    // Writes the user record to its file.
    void saveStore();
    // Every download folder the store has used, the current one included.
    QStringList downloadRoots() const;

    // The school no longer knows the session, wherever that was noticed (the course page, a
    // download, the player): the main window tells it once and shows the login.
    void reportSessionLost();

signals:
    void Login(bool login);
    // See reportSessionLost(); the scheduler's sessionLost() comes here too.
    void sessionLost();
    void sizeChange(int w, int h);
    void userImgAdd(QString path);
    void toShutdown();
    void toQuit();
    void initDone();
    // A player window opened or went (not when one replaces another).
    void playerOpen(bool open);

private:
    App();
    void settleVideoPath();
    void restoreLastSession();
    // Held while lessons download and the setting allows it.
    void updateSleepLock();
    // Open: a player window is there; playing: its lesson is not paused (the screen stays on).
    void setPlayerState(bool open, bool playing);

    QPointer<QObject> playerWindow; // a FormPlayer
    bool playerShown = false;
    bool replacingPlayer = false; // the old player closes for a new one
    AwakeLock* awake = nullptr;
    bool login = false;
    QString sheet;
    QSettings* settings = nullptr;
    mutable QMutex settingsLock;
    QRect screen;
    MainForm* mainWindow = nullptr;
    Downloader* scheduler = nullptr;
    int lastWidth = 0;
    int lastHeight = 0;
    FileCipher fileCipher;
    URLManager* urls = nullptr;
    std::unique_ptr<CourseLibrary> courses;
    std::unique_ptr<CourseStore> courseStore;
    QString dataDir;
    QString videoDir;
};
