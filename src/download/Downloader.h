#pragma once

#include "DownloadOptions.h"
#include "LessonProgress.h"

#include <QDateTime>
#include <QHash>

#include <QElapsedTimer>
#include <QObject>
#include <QSet>
#include <QStringList>
#include <QThread>
#include <atomic>
#include <functional>
#include <optional>

class CourseLibrary;
class CourseRecord;
class CourseStore;
class DownloadWorker;
class FileCipher;
class LessonRecord;
class QNetworkAccessManager;
class QNetworkReply;
class UserRecord;

// The download scheduler: the operations of the pages on the queue and the course list (add,
// pause, delete, cancel, a user switch), course thumbnails, and the worker on its own thread
// that fetches the queue one lesson at a time. Everything it needs comes in through Context,
// so that it runs without the application context.
//
// The object and its operations belong to the thread that created it, and so do its signals:
// receivers get them there. Callers get copies of records; nothing outside holds a lock.
class Downloader : public QObject
{
    Q_OBJECT
public:
    // The course picture is small; anything longer is not one.
    static constexpr qint64 thumbnailMaxBytes = 4 * 1024 * 1024;

    struct Context
    {
        CourseLibrary* library = nullptr;
        CourseStore* store = nullptr;
        const FileCipher* cipher = nullptr;
        std::function<QString(const QString&)> setting; // reads "tamix.ini", any thread
        QString videoPath;
        // Every download folder the store has used; only folders of the store below them are
        // ever deleted. The current one is added.
        QStringList downloadRoots;
        QString userRoot;
        bool autoStart = false;
        // Called once per worked-off queue when "DOWNLOAD/SHUTDOWN" is "1" and no lesson is
        // left failed: the student could still retry one.
        std::function<void()> requestShutdown;
        // The signed key-and-address call of a lesson with the session of the moment, any
        // thread; when unset or empty the address stored with the lesson is used.
        std::function<QString(const LessonRecord&)> keyUrl;
        DownloadOptions options;
    };

    explicit Downloader(Context context, QObject* parent = nullptr);
    // Stops the worker (see stop()).
    ~Downloader() override;

    // Starts the worker thread.
    void start();
    // Orderly end: the lesson in flight let go, the thread ended and waited for.
    void stop();
    bool isRunning() const;

    // Files the course, creates its folders, queues its chosen lessons, fetches its thumbnail,
    // stores it and starts downloading.
    void addCourse(const CourseRecord& course);
    void setStart(bool value);
    bool isStart() const { return running.load(); }
    // The download speed limit in bytes per second over all segment transfers (0: none); it
    // applies at once to the lesson in flight. The player's online playback is not limited.
    void setRateLimit(qint64 bytesPerSecond);
    // Downloads run and the queue holds a lesson not held by the student: what keeps the
    // computer awake. Changes come with refreshUI() or startPause().
    bool isDownloading() const;

    // Downloaded courses: every lesson back to 0, media removed, "thumb.jpg" kept; their
    // queued lessons leave the queue.
    void deleteDownloaded(const QStringList& courseDirs);
    // Lessons back to 0, out of the queue, and their media removed. A lesson in flight is let
    // go first, so nothing is written after its removal.
    void deleteLessons(const QStringList& lessonDirs);
    void deleteDownloading(const QStringList& lessonDirs);

    // Another user logs in: the lesson in flight is let go, the previous user's record saved,
    // then the new user's stored courses and queue (if any) come in with `session`.
    void switchUser(const UserRecord& session);

    std::optional<CourseRecord> findCourse(const QString& courseId) const;
    QList<CourseRecord> courses() const;
    QList<LessonRecord> queue() const;
    // Writes the remembered position of a lesson and saves the record.
    void setWatchTime(const QString& courseId, const QString& lessonId, const QString& seconds,
                      qint32 lengthSeconds = 0);
    // Played to its end (position back at the start, watched for good); saved at once.
    void markWatched(const QString& courseId, const QString& lessonId, qint32 lengthSeconds);
    void setLastPlayed(const QString& courseId, const QString& lessonId);
    // Whether the lesson waits for its server or network ("网络中断，等待重试").
    bool isWaiting(const QString& lessonDir) const { return waiting.contains(lessonDir); }
    // When a waiting lesson is tried next; null while it waits for a login.
    QDateTime retryAt(const QString& lessonDir) const { return waiting.value(lessonDir); }

    // One lesson held by the student: the worker skips it (and lets go of it when it is in
    // flight, keeping its stored segments); resuming puts it back in its place in the queue.
    void setLessonPaused(const QString& lessonDir, bool paused);
    bool isLessonPaused(const QString& lessonDir) const;
    // The lesson goes to the head of the queue and is fetched next, now if need be.
    void prioritize(const QString& lessonDir);
    // A failed lesson back in the queue.
    void retryLesson(const QString& lessonDir);
    QList<LessonRecord> failedLessons() const;
    // The figures last reported for a lesson, kept across pauses, waits and list rebuilds.
    LessonProgress progressOf(const QString& lessonDir) const { return figures.value(lessonDir); }

    // Reads the record of the user named by "APP/LASTUSER"; true when it holds a session less
    // than a day old, which then stays. An older one is dropped from memory.
    bool loadStore();
    bool saveStore();
    void removeDirs(const QStringList& dirs) const;

    QString videoPath() const { return ctx.videoPath; }
    QString userRoot() const { return ctx.userRoot; }
    QStringList downloadRoots() const { return ctx.downloadRoots; }
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
    // The queue has been worked off, at least one lesson was downloaded, none is failed, and
    // "DOWNLOAD/TIP" is "1": time for "全部下载已完成".
    void allDone();
    // The queue has been worked off with lessons failed (which the student may retry), and
    // "DOWNLOAD/TIP" is "1": `complete` lessons were downloaded since the queue was last empty.
    void endedWithFailures(int complete, int failed);
    // The school no longer knows the session; the lessons wait for the next login.
    void sessionLost();
    // A write failed: downloads are paused, or the record could not be saved. The text is for
    // a tray message.
    void storageFailed(QString message);
    void lessonWaiting(QString path, bool waiting);

private slots:
    void imgFinished(QNetworkReply* reply);

private:
    void fetchThumbnail(const CourseRecord& course);
    void onWorkedOff(int complete, int failed);
    void onWriteFailed(const QString& why);
    void onWaitingChanged(const QString& path, bool isWaiting, qint64 retryInMs);
    void onProgress(const QString& path, float size, float totalSize, float speed);
    // The lists are rebuilt and the worker told: a lesson's hold or place changed.
    void queueChanged();
    // Figures of lessons no longer queued go: a lesson queued again starts afresh.
    void pruneFigures();
    // Has the worker let go of the lesson in flight if it lies in `dirs` (any when empty), and
    // waits until it has, within a bound; false when it has not by then.
    bool release(const QStringList& dirs);
    // Removes the media of `dirs` now, or on the worker's thread after it has let go.
    void removeReleased(const QStringList& dirs, bool released);

    Context ctx;
    CourseLibrary& library;
    QNetworkAccessManager* manager = nullptr;
    QThread thread;
    DownloadWorker* worker;
    std::atomic_bool running;
    QHash<QString, QDateTime> waiting;
    QHash<QString, LessonProgress> figures;
    QElapsedTimer clock;

public:
    // Files a course whose lessons were found whole on disk (StoredLesson::recover) without
    // fetching them: those at state 2 come back to the course list, then the record is saved
    // and the lists refreshed. A course already in the list stays as it is.
    void fileRecovered(const CourseRecord& course);

signals:
    // The record file could not be read and was kept aside, or was lost, and what was found
    // again in the download folders; the text is for the student.
    void recordDamaged(QString message);

private:
    void reportDamage(const QString& keptCopy, int recovered = 0);
    // A record that could not be loaded: the courses of `user` noted in the download folders
    // with their whole lessons (StoredCourse); returns how many lessons came back.
    int rebuild(UserRecord& user) const;
    // Tells a failed record save once per reason (storageFailed); a successful save makes the
    // next failure news again.
    void reportSave();
    QString toldSaveError;
};
