#pragma once

#include "DownloadFlags.h"
#include "DownloadOptions.h"

#include <QMutex>
#include <QStringList>
#include <QThread>
#include <QWaitCondition>
#include <atomic>
#include <functional>

class CourseRecord;
class CourseStore;
class FileCipher;
class QNetworkAccessManager;
class QNetworkReply;
class UserRecord;

// The download scheduler: the queue and the course list of the user record, the operations of
// the pages on them (add, pause, delete, cancel), course thumbnails, and the worker thread that
// fetches the queue head one lesson at a time. Everything it needs comes in through Context,
// so that it runs without the application context.
//
// The object and its operations belong to the thread that created it; run() is the worker.
// The worker hands its signals to the creating thread, so receivers get them there.
class Downloader : public QThread
{
    Q_OBJECT
public:
    struct Context
    {
        UserRecord* user = nullptr; // its lock guards the queue and the course list
        CourseStore* store = nullptr;
        const FileCipher* cipher = nullptr;
        std::function<QString(const QString&)> setting; // reads "tamix.ini", any thread
        QString videoPath;
        QString userRoot;
        bool autoStart = false;
        // Called on the creating thread once per worked-off queue when "DOWNLOAD/SHUTDOWN" is
        // "1".
        std::function<void()> requestShutdown;
        DownloadOptions options;
    };

    explicit Downloader(Context context, QObject* parent = nullptr);
    // Stops the worker (see stop()).
    ~Downloader() override;

    // Creates the course's directories, queues its chosen lessons, fetches its thumbnail,
    // stores it and starts downloading. `course` may be the stored record itself.
    void addCourse(CourseRecord* course);
    void setStart(bool value);
    bool isStart() const { return flags.isStart(); }

    // Downloaded courses: every lesson back to 0, media removed, "thumb.jpg" kept; their
    // queued lessons leave the queue.
    void deleteDownloaded(const QStringList& courseDirs);
    // Lessons back to 0 and their media removed.
    void deleteLessons(const QStringList& lessonDirs);
    // Lessons leave the queue (the one in flight is abandoned), then as deleteLessons.
    void deleteDownloading(const QStringList& lessonDirs);

    // Reads the record of the user named by "APP/LASTUSER"; true when it holds a session less
    // than a day old, which then stays. An older one is dropped from memory.
    bool loadStore();
    bool saveStore();
    void removeDirs(const QStringList& dirs) const;

    // Orderly end: quit flag, the request in flight aborted, the worker woken and waited for.
    void stop();

    QString videoPath() const { return ctx.videoPath; }
    QString userRoot() const { return ctx.userRoot; }
    const DownloadFlags& downloadFlags() const { return flags; }
    // The lesson directory being fetched now, or an empty text.
    QString currentLesson() const;

    // Percentage of a lesson from the progress figures (KB stored, MB in all): 0 when the
    // size is unknown, never above 100.
    static int percent(float sizeKB, float totalMB);

signals:
    // Lesson states, the queue or the course list changed.
    void refreshUI();
    void refreshProgress(QString path, float size, float totalSize, float speed);
    // The lesson of this directory failed (state 3).
    void downloadError(QString path);
    // Downloads were paused or started.
    void startPause();
    // The queue has been worked off and "DOWNLOAD/TIP" is "1": time for "全部下载已完成".
    void allDone();
    // A write failed; downloads are paused. The text is for a tray message.
    void storageFailed(QString message);

protected:
    void run() override;

private slots:
    void imgFinished(QNetworkReply* reply);

private:
    void wake();
    void onOwnThread(std::function<void()> call);
    bool hasWork() const;
    void fetchThumbnail(const CourseRecord& course);
    void workedOff();
    // Abandons the lesson in flight if it lies in one of `dirs` (or below) and waits until the
    // worker has let go of it, so that no write follows the removal of its directory.
    void releaseLessons(const QStringList& dirs);

    Context ctx;
    DownloadFlags flags;
    QNetworkAccessManager* manager;
    std::atomic_bool hadWork{false};

    mutable QMutex waitLock; // with `wakeUp` and `released`; taken before the record's lock
    QWaitCondition wakeUp;
    QWaitCondition released;
    QString current; // under waitLock
};
