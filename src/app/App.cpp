#include "App.h"

#include "AwakeLock.h"
#include "CourseLibrary.h"
#include "Downloader.h"
#include "LessonRecord.h"
#include "Md5.h"
#include "QuitNotifier.h"
#include "SettingKeys.h"
#include "SystemServices.h"
#include "TokenBucket.h"
#include "URLManager.h"
#include "UserRecord.h"

#include <QCoreApplication>
#include <QDebug>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSettings>
#include <QStandardPaths>

const QString App::appName = QStringLiteral("岚禾会计网校");
const QString App::version = QStringLiteral("1.1.4");

static App* self = nullptr;

static bool ended = false;

App* App::instance()
{
    if (!self) {
        if (ended) {
            qWarning("the program has ended: no new application context");
            return nullptr;
        }
        self = new App();
    }
    return self;
}

void App::endForGood()
{
    ended = true;
}

void App::allowNewRun()
{
    ended = false;
}

bool App::exists()
{
    return self != nullptr;
}

// The documents folder; TAMIX_DOCUMENTS_DIR replaces it for tests and the demo.
static QString documentsDir()
{
    const QString overridden = qEnvironmentVariable("TAMIX_DOCUMENTS_DIR");
    if (!overridden.isEmpty()) {
        return overridden;
    }
    const QString located = QStandardPaths::locate(QStandardPaths::DocumentsLocation, QString(),
                                                   QStandardPaths::LocateDirectory);
    return located.isEmpty() ? QStandardPaths::writableLocation(QStandardPaths::DocumentsLocation)
                             : located;
}

// Where downloads go when the settings name no folder.
static QString defaultVideoPath()
{
#ifdef Q_OS_WIN
    return QDir(QStringLiteral("D:/")).exists() ? QStringLiteral("D:/tamixVideo")
                                                : QStringLiteral("C:/tamixVideo");
#else
    QString videos = qEnvironmentVariable("TAMIX_VIDEOS_DIR");
    if (videos.isEmpty()) {
        videos = QStandardPaths::writableLocation(QStandardPaths::MoviesLocation);
    }
    return QDir::cleanPath(videos) + QStringLiteral("/tamixVideo");
#endif
}

App::App() : fileCipher(FileCipher::programCipher())
{
    QuitNotifier::instance()->reset();

    QFile css(QStringLiteral(":/vospen/vospen/vospen.css"));
    if (css.open(QIODevice::ReadOnly)) {
        sheet = QString::fromUtf8(css.readAll());
    }

    dataDir = QDir::cleanPath(documentsDir() + QLatin1Char('/') + appName);
    QDir().mkpath(dataDir);

    settings = new QSettings(dataDir + QStringLiteral("/tamix.ini"), QSettings::IniFormat, this);
    settings->setIniCodec("UTF-8");

    courseStore = std::make_unique<CourseStore>(userRoot(), fileCipher);
    courses = std::make_unique<CourseLibrary>(courseStore.get());
    urls = new URLManager([this] { return courses->sid(); }, this);
    settleVideoPath();

    Downloader::Context context;
    context.library = courses.get();
    context.store = courseStore.get();
    context.cipher = &fileCipher;
    context.setting = [this](const QString& key) {
        return setting(key);
    };
    context.videoPath = videoDir;
    context.downloadRoots = downloadRoots();
    context.userRoot = userRoot();
    context.autoStart = isOn(SettingKeys::autoDownload);
    context.requestShutdown = [this] {
        requestShutdown();
    };
    // Signed when the worker takes the lesson: a queue restored under a later session must not
    // ask with the session of the day it was chosen.
    context.keyUrl = [urls = urls](const LessonRecord& lesson) {
        return urls->getKeysAndUrlByLidUrl(lesson.courseId, lesson.id, lesson.c_type);
    };
    scheduler = new Downloader(std::move(context), this);
    scheduler->setRateLimit(TokenBucket::bytesPerSecond(setting(SettingKeys::rateLimit)));

    awake = new AwakeLock(appName, this);
    connect(scheduler, &Downloader::refreshUI, this, &App::updateSleepLock);
    connect(scheduler, &Downloader::sessionLost, this, &App::sessionLost);
    connect(scheduler, &Downloader::startPause, this, &App::updateSleepLock);
}

App::~App()
{
    // The player goes first and saves its position on the way. Its close handling clears
    // `playerWindow` and only schedules the deletion, which would then come after the context.
    if (QPointer<QObject> window = playerWindow) {
        QMetaObject::invokeMethod(window, "close", Qt::DirectConnection);
        delete window.data();
    }
    emit toQuit();
    // The scheduler's last signals must not take the lock again.
    disconnect(scheduler, nullptr, this, nullptr);
    awake->setHeld(AwakeLock::Kind::Sleep, false);
    QuitNotifier::instance()->requestQuit();
    // The worker lets go of the record before it goes; the last states are saved.
    scheduler->stop();
    saveStore();
    delete scheduler;
    scheduler = nullptr;
    courses.reset();
    self = nullptr;
}

void App::settleVideoPath()
{
    videoDir = setting(SettingKeys::videoPath);
    if (videoDir.trimmed().isEmpty()) {
        videoDir = defaultVideoPath();
        setSetting(SettingKeys::videoPath, videoDir);
    }
    if (!QDir().mkpath(videoDir)) {
        qDebug() << "cannot create the video folder" << videoDir;
    }
    // Courses stored under an earlier download folder stay there; their folders may still be
    // deleted, and nothing else.
    QStringList used = downloadRoots();
    if (!used.contains(videoDir)) {
        used << videoDir;
        QMutexLocker locker(&settingsLock);
        settings->setValue(SettingKeys::usedVideoPaths, used);
        settings->sync();
    }
}

QStringList App::downloadRoots() const
{
    QMutexLocker locker(&settingsLock);
    QStringList roots = settings->value(SettingKeys::usedVideoPaths).toStringList();
    if (!videoDir.isEmpty() && !roots.contains(videoDir)) {
        roots << videoDir;
    }
    return roots;
}

UserRecord App::session() const
{
    return courses->session();
}

void App::takeSession(const UserRecord& session)
{
    scheduler->switchUser(session);
}

QString App::setting(const QString& key) const
{
    QMutexLocker locker(&settingsLock);
    return settings->value(key).toString();
}

bool App::isOn(const QString& key) const
{
    return setting(key) == QLatin1String("1");
}

void App::setSetting(const QString& key, const QString& value)
{
    {
        QMutexLocker locker(&settingsLock);
        settings->setValue(key, value);
        settings->sync();
    }
    // A new speed limit holds for the lesson in flight too, not only from the next start.
    if (key == SettingKeys::rateLimit && scheduler) {
        scheduler->setRateLimit(TokenBucket::bytesPerSecond(value));
    }
    if (key == SettingKeys::keepAwake) {
        updateSleepLock();
    }
}

void App::updateSleepLock()
{
    if (!scheduler || !awake) {
        return; // still being built
    }
    // On unless switched off: downloads left overnight are to be there in the morning.
    const bool wanted =
        scheduler->isDownloading() && setting(SettingKeys::keepAwake) != QLatin1String("0");
    awake->setHeld(AwakeLock::Kind::Sleep, wanted, QStringLiteral("正在下载课程"));
}

void App::setPlayerState(bool open, bool playing)
{
    awake->setHeld(AwakeLock::Kind::Screen, open && playing, QStringLiteral("正在播放课程"));
    if (open != playerShown) {
        playerShown = open;
        emit playerOpen(open);
    }
}

QString App::md5(const QString& text)
{
    return Md5::latin1Hex(text);
}

void App::setLogin(bool value)
{
    login = value;
    if (!value) {
        courses->expireSession();
        saveStore();
    }
    emit Login(value);
}

void App::reportSessionLost()
{
    emit sessionLost();
}

void App::saveStore()
{
    scheduler->saveStore();
}

void App::setSize(int w, int h)
{
    lastWidth = w;
    lastHeight = h;
    emit sizeChange(w, h);
}

void App::addUserImg(const QString& path)
{
    emit userImgAdd(path);
}

void App::closePlayer()
{
    if (playerWindow) {
        playerWindow->deleteLater();
        playerWindow = nullptr;
        if (!replacingPlayer) {
            setPlayerState(false, false);
        }
    }
}

void App::requestShutdown()
{
    emit toShutdown();
}

void App::restoreLastSession()
{
    if (!scheduler->loadStore()) {
        return;
    }
    setLogin(true);
    const QString name = setting(SettingKeys::lastUser);
    const QString avatar =
        courseStore->userDir(name) + QLatin1Char('/') + name + QStringLiteral(".jpg");
    if (QFileInfo::exists(avatar)) {
        addUserImg(avatar);
    }
}

void App::init()
{
    restoreLastSession();
    scheduler->start();
    updateSleepLock();
    emit initDone();
}

void App::setAutoRun(bool on)
{
    SystemServices::setAutoRun(on, QCoreApplication::applicationName(),
                               QCoreApplication::applicationFilePath());
    setSetting(SettingKeys::autoRun, on ? QStringLiteral("1") : QStringLiteral("0"));
}

QString App::diskSpace(const QString& path) const
{
    return SystemServices::diskSpace(path);
}

void App::shutdown()
{
    SystemServices::shutdown();
}
