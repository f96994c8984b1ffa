// Time to the first rendered frame of the player window, for a downloaded lesson and for the
// same lesson online, next to the mpv command-line player (--vo=null --ao=null --frames=1, from
// process start) on the same playlists, and the time a 60-s seek takes to land. Run it as
//   xvfb-run -a -s "-screen 0 1920x1080x24" build/bench/player/bench_player 11
#include "App.h"
#include "BenchSupport.h"
#include "CourseLibrary.h"
#include "Downloader.h"
#include "FormPlayer.h"
#include "HttpHelper.h"
#include "JsonHelper.h"
#include "LessonCountdown.h"
#include "LessonEndFlow.h"
#include "MpvController.h"
#include "MpvWidget.h"
#include "OnlinePlaylist.h"
#include "SchoolProcess.h"
#include "SystemServices.h"
#include "URLManager.h"
#include "UserRecord.h"

#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTemporaryFile>
#include <QTimer>
#include <algorithm>
#include <cstdio>
#include <functional>
#include <iterator>
#include <vector>

static void useSession(const QString& sid, const QString& user)
{
    UserRecord session;
    session.sid = sid;
    session.username = user;
    App::instance()->library()->setSession(session);
}

// Opens a player, starts it with `start` and waits for its first frame.
static double firstFrame(const std::function<void(FormPlayer*)>& start)
{
    FormPlayer* player = App::instance()->openPlayer(QStringLiteral("基准"));
    bool seen = false;
    QObject::connect(player->videoWidget(), &MpvWidget::firstFrame, [&seen] { seen = true; });
    QElapsedTimer clock;
    clock.start();
    start(player);
    const bool ok = waitFor([&seen] { return seen; }) >= 0;
    const double ms = clock.nsecsElapsed() / 1e6;
    player->close();
    QCoreApplication::processEvents();
    return ok ? ms : -1;
}

static double mpvCli(const QString& playlist)
{
    QProcess mpv;
    QElapsedTimer clock;
    clock.start();
    mpv.start(QStringLiteral("mpv"),
              {QStringLiteral("--no-config"), QStringLiteral("--vo=null"),
               QStringLiteral("--ao=null"), QStringLiteral("--frames=1"),
               QStringLiteral("--demuxer-lavf-format=hls"),
               QStringLiteral("--demuxer-lavf-o=protocol_whitelist=[file,http,https,tcp,tls,"
                              "crypto,data]"),
               playlist});
    if (!mpv.waitForFinished(20000) || mpv.exitCode() != 0) {
        return -1;
    }
    return clock.nsecsElapsed() / 1e6;
}

static QString writePlaylist(QTemporaryDir& dir, const QString& name, const QByteArray& bytes)
{
    QFile file(dir.filePath(name));
    file.open(QIODevice::WriteOnly);
    file.write(bytes);
    return file.fileName();
}

static void report(const char* what, const std::vector<double>& values)
{
    std::printf("%-34s median %7.1f ms  (min %.1f, max %.1f, n=%zu)\n", what, median(values),
                values.empty() ? 0 : *std::min_element(values.begin(), values.end()),
                values.empty() ? 0 : *std::max_element(values.begin(), values.end()),
                values.size());
}

int main(int argc, char* argv[])
{
    // As the client's own main starts.
    SystemServices::setUpHeap();
    QApplication application(argc, argv);
    const int runs = argc > 1 ? std::max(1, QString::fromLocal8Bit(argv[1]).toInt()) : 11;
    QStandardPaths::setTestModeEnabled(true);
    if (qEnvironmentVariableIsEmpty("TAMIX_MPV_OPTIONS")) {
        qputenv("TAMIX_MPV_OPTIONS", "ao=null"); // as the mpv command line below
    }
    QTemporaryDir docs;
    QTemporaryDir scratch;
    SchoolProcess school;
    if (!school.start() ||
        !school.bindSession(QStringLiteral("bench-a"), QStringLiteral("13800000001")) ||
        !school.bindSession(QStringLiteral("bench-b"), QStringLiteral("13900000000"))) {
        std::fprintf(stderr, "the school did not start: %s\n", qPrintable(school.errorString()));
        return 1;
    }
    qputenv("TAMIX_API_URL", school.apiUrl().toUtf8());
    qputenv("TAMIX_KEY_URL", school.keyUrl().toUtf8());
    qputenv("TAMIX_DOCUMENTS_DIR", docs.path().toUtf8());
    qputenv("TAMIX_VIDEOS_DIR", docs.filePath(QStringLiteral("videos")).toUtf8());
    application.setStyleSheet(App::instance()->styleSheet());
    useSession(QStringLiteral("bench-a"), QStringLiteral("13800000001"));
    URLManager* urls = App::instance()->urlManager();
    const QString cid = QStringLiteral("103");
    const QString lid = QStringLiteral("1034");

    // Online first, while the lesson is not in the store.
    OnlinePlaylist online;
    QString onlineText;
    QObject::connect(&online, &OnlinePlaylist::finished,
                     [&onlineText](const QString& text) { onlineText = text; });
    online.start(urls->getKeysAndUrlByLidUrl(cid, lid, QStringLiteral("2")));
    waitFor([&onlineText] { return !onlineText.isEmpty(); });
    const QString onlineFile =
        writePlaylist(scratch, QStringLiteral("online.m3u8"), onlineText.toUtf8());
    std::vector<double> clientOnline, cliOnline, clientLocal, cliLocal, seeks;
    for (int i = 0; i < runs; ++i) {
        clientOnline.push_back(firstFrame(
            [&](FormPlayer* player) { player->playLesson(cid, lid, QStringLiteral("2")); }));
        cliOnline.push_back(mpvCli(onlineFile));
    }

    HttpHelper http(nullptr, true);
    CourseRecord course(JsonHelper::parse(http.getSync(urls->getMyCourseInfoForPcDownLoadUrl(cid)))
                            .getObject(QStringLiteral("data")),
                        *urls);
    for (LessonRecord& lesson : course.list) {
        // 1033 comes before 1034 in the course: the next lesson of the store.
        lesson.state = lesson.id == lid || lesson.id == QLatin1String("1033") ? Chosen : NotChosen;
    }
    Downloader* downloader = App::instance()->downloader();
    downloader->start();
    downloader->addCourse(course);
    waitFor([downloader] { return downloader->queue().isEmpty(); }, 60000);
    QString dir;
    const CourseRecord stored = downloader->findCourse(cid).value_or(CourseRecord());
    for (const LessonRecord& lesson : stored.list) {
        if (lesson.id == lid && lesson.state == Complete) {
            dir = lesson.dir;
        }
    }
    if (dir.isEmpty()) {
        std::fprintf(stderr, "the lesson did not download\n");
        return 1;
    }
    const QString localFile = writePlaylist(
        scratch, QStringLiteral("local.m3u8"),
        App::instance()->cipher().decryptFileToBytes(dir + QStringLiteral("/00000.ls")));
    for (int i = 0; i < runs; ++i) {
        clientLocal.push_back(firstFrame([&dir](FormPlayer* player) { player->playLocal(dir); }));
        cliLocal.push_back(mpvCli(localFile));
    }

    // The next lesson, from "立即播放" (the countdown's end) to its first frame.
    std::vector<double> nextLesson;
    for (int i = 0; i < runs; ++i) {
        FormPlayer* player = App::instance()->openPlayer(QStringLiteral("基准"));
        bool seen = false;
        QObject::connect(player->videoWidget(), &MpvWidget::firstFrame, [&seen] { seen = true; });
        player->playLesson(cid, QStringLiteral("1033"), QStringLiteral("2"));
        MpvController* first = player->controller();
        waitFor([first] { return first->isPlaying() && first->duration() > 0; });
        first->seek(first->duration() - 300);
        LessonCountdown* countdown = player->endFlow()->countdown();
        const bool ended = waitFor([countdown] { return countdown->isRunning(); }) >= 0;
        seen = false;
        QElapsedTimer clock;
        clock.start();
        countdown->playNow();
        const bool ok = ended && waitFor([&seen] { return seen; }) >= 0 &&
                        player->currentLesson() && player->currentLesson()->id == lid;
        nextLesson.push_back(ok ? clock.nsecsElapsed() / 1e6 : -1);
        player->close();
        QCoreApplication::processEvents();
    }

    // Seeks of 60 s back and forth in the long lesson, online.
    useSession(QStringLiteral("bench-b"), QStringLiteral("13900000000"));
    FormPlayer* player = App::instance()->openPlayer(QStringLiteral("基准"));
    player->playLesson(QStringLiteral("109"), QStringLiteral("1091"), QStringLiteral("1"));
    MpvController* mpv = player->controller();
    waitFor([mpv] { return mpv->isPlaying() && mpv->position() > 0; });
    for (int i = 0; i < runs; ++i) {
        const qint64 target = (i % 2 ? 60 : 120) * 1000;
        QElapsedTimer clock;
        clock.start();
        mpv->seek(target);
        const bool landed = waitFor([mpv, target] {
                                return mpv->position() >= target && mpv->position() < target + 1000;
                            }) >= 0;
        seeks.push_back(landed ? clock.nsecsElapsed() / 1e6 : -1);
    }
    player->close();
    QCoreApplication::processEvents();

    report("player, local, to first frame", clientLocal);
    report("mpv --vo=null, local", cliLocal);
    report("player, online, to first frame", clientOnline);
    report("mpv --vo=null, online", cliOnline);
    report("seek of 60 s, position reported", seeks);
    // From "立即播放" to the next lesson's first frame, the stored lesson after 1033.
    std::vector<double> landed;
    std::copy_if(nextLesson.begin(), nextLesson.end(), std::back_inserter(landed),
                 [](double ms) { return ms >= 0; });
    std::printf("next lesson: first frame %.0f ms", median(landed));
    if (landed.size() < nextLesson.size()) {
        std::printf(" (%zu of %zu runs did not reach it)", nextLesson.size() - landed.size(),
                    nextLesson.size());
    }
    std::printf("\n");
    delete App::instance();
    return 0;
}
