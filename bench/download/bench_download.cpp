// Download speed of the lesson fetcher against aria2c and ffmpeg, recovery from an outage, and
// the idle scheduler's CPU.
//
// Starts the stand-in school and fetches the benchmark lesson (at least 200 segments) three
// ways: with M3u8Loader, with `aria2c -j 4` (the same segment addresses and the cookie), and
// with `ffmpeg -i PLAYLIST -c copy`, first with 40 ms of latency per segment request, then with
// 40 ms and a 100 Mbit/s cap shared by all segment requests. Then the fetcher alone over
// loopback; then the scheduler with the school unreachable for a while in the middle of the
// lesson; then the cost of checking stored segments against flushing each to the disk; then
// the small benchmark lesson (210 segments of about 32 KB, so that a run stays well under a
// minute) under a speed limit of 1 MB/s and of 256 KB/s; last, the process CPU while an idle
// scheduler waits.
// Targets: at 40 ms at most 0.9 x aria2c's wall time and at least 4 x faster than ffmpeg;
// under the cap within 3 % of the floor (bytes / cap); at least 800 MB/s over loopback; the
// lesson done within 10 s after the school is back, no stored segment fetched twice; under a
// limit the lesson's time at most 1.03 x bytes / limit and no one-second window above 1.10 x
// the limit; idle CPU below 1 %. Exit code 1 when a target is missed.
//
//     bench_download [--skip-tools] [--outage SECONDS]   (default 90)   [--tls]
// --tls: the school speaks HTTPS only; the fetcher and the tools trust its test CA.
#include "CourseLibrary.h"
#include "CourseRecord.h"
#include "CourseStore.h"
#include "Downloader.h"
#include "FileCipher.h"
#include "HlsPlaylist.h"
#include "HttpHelper.h"
#include "JsonHelper.h"
#include "M3u8Loader.h"
#include "MediaCheck.h"
#include "OnlinePlaylist.h"
#include "SchoolProcess.h"
#include "TlsTrust.h"
#include "URLManager.h"
#include "UserRecord.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFile>
#include <QJsonArray>
#include <QProcess>
#include <QTemporaryDir>
#include <QTimer>

#include <cstdio>
#include <sys/resource.h>
#include <unistd.h>

namespace {

const QString sid = "bench-download-session";

double cpuSeconds()
{
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return double(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
           double(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

qint64 bytesIn(const QString& dir, const QString& suffix)
{
    qint64 total = 0;
    const QFileInfoList files = QDir(dir).entryInfoList(QDir::Files);
    for (const QFileInfo& file : files) {
        if (file.fileName().endsWith(suffix)) {
            total += file.size();
        }
    }
    return total;
}

// Wall seconds of one lesson fetch into `dir`; negative when it did not complete. Under a
// limit (bytes per second) with `samples`: the fetcher's count every 10 ms, as (ms, bytes).
double fetchWithLoader(const QString& keyUrl, const QString& dir, qint64 limit = 0,
                       QList<QPair<qint64, qint64>>* samples = nullptr)
{
    const FileCipher cipher = FileCipher::programCipher();
    M3u8Loader loader(cipher);
    loader.setRateLimit(limit);
    QEventLoop loop;
    M3u8Loader::Result result = M3u8Loader::Result::Stopped;
    QObject::connect(&loader, &M3u8Loader::finished, &loop, [&](M3u8Loader::Result r) {
        result = r;
        loop.quit();
    });
    QElapsedTimer clock;
    QTimer sampler;
    sampler.setTimerType(Qt::PreciseTimer);
    QObject::connect(&sampler, &QTimer::timeout, [&] {
        samples->append({clock.elapsed(), loader.progressBytes()});
    });
    clock.start();
    if (samples) {
        sampler.start(10);
    }
    loader.downloadLesson(keyUrl, dir);
    if (loader.result() == M3u8Loader::Result::Stopped) {
        loop.exec();
    }
    const double seconds = clock.nsecsElapsed() / 1e9;
    if (samples) {
        samples->append({clock.elapsed(), loader.progressBytes()});
    }
    return result == M3u8Loader::Result::Complete ? seconds : -1.0;
}

// The lesson fetched under a speed limit of `limit` bytes per second; prints
// "limit RATE: T s = R x bytes/limit, worst second W x limit", where W is the most the fetcher
// took in in any one second.
bool underLimit(const QString& keyUrl, const QString& dir, qint64 limit, const char* rate)
{
    QList<QPair<qint64, qint64>> samples;
    const double seconds = fetchWithLoader(keyUrl, dir, limit, &samples);
    qint64 worst = 0;
    for (int i = 0, j = 0; i < samples.size(); ++i) {
        j = qMax(i, j);
        while (j + 1 < samples.size() && samples[j + 1].first - samples[i].first <= 1000) {
            ++j;
        }
        worst = qMax(worst, samples[j].second - samples[i].second);
    }
    const qint64 bytes = bytesIn(dir, ".ts");
    const double ratio = seconds / (double(bytes) / double(limit));
    const double window = double(worst) / double(limit);
    std::printf("limit %s: %.2f s = %.3f x bytes/limit, worst second %.3f x limit\n", rate, seconds,
                ratio, window);
    QDir(dir).removeRecursively();
    return seconds > 0 && ratio <= 1.03 && window <= 1.10;
}

double runTool(const QString& program, const QStringList& arguments)
{
    QProcess process;
    process.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    QElapsedTimer clock;
    clock.start();
    process.start(program, arguments);
    if (!process.waitForStarted(10000) || !process.waitForFinished(600000) ||
        process.exitStatus() != QProcess::NormalExit || process.exitCode() != 0) {
        std::fprintf(stderr, "%s failed: %s\n", qPrintable(program),
                     process.readAllStandardOutput().constData());
        return -1.0;
    }
    return clock.nsecsElapsed() / 1e9;
}

void waitMs(int ms)
{
    QEventLoop loop;
    QTimer::singleShot(ms, &loop, &QEventLoop::quit);
    loop.exec();
}

// The scheduler fetches the lesson; once part of it is stored the school goes away for
// `outageSeconds` and comes back on the same ports. Prints the time from its return to the
// lesson's completion and whether a stored segment was asked for again.
bool outage(SchoolProcess& school, const CourseRecord& course, int outageSeconds,
            const QString& root)
{
    const FileCipher cipher = FileCipher::programCipher();
    CourseStore store(root + "/user", cipher);
    CourseLibrary library(&store);
    UserRecord user;
    user.username = "13900000000";
    library.replace(user);
    Downloader::Context context;
    context.library = &library;
    context.store = &store;
    context.cipher = &cipher;
    context.setting = [](const QString&) {
        return QString();
    };
    context.videoPath = root + "/video";
    context.autoStart = true;
    Downloader downloader(std::move(context));
    downloader.start();
    school.setFaults(QJsonArray{QJsonObject{{"route", "/stream/bench/seg*"}, {"latency", 40}}});
    downloader.addCourse(course);
    const QString dir = library.queue().value(0).dir;
    QElapsedTimer clock;
    clock.start();
    while (bytesIn(dir, ".ts") < 20 * 1000 * 1000 && clock.elapsed() < 60000) {
        waitMs(20);
    }
    QStringList before = QDir(dir).entryList({"*.ts"}, QDir::Files);
    school.resetStats();
    std::printf("outage: %d segments stored, school away for %d s\n", int(before.size()),
                outageSeconds);
    if (!school.restart(outageSeconds * 1000)) {
        std::fprintf(stderr, "school did not come back: %s\n", qPrintable(school.errorString()));
        return false;
    }
    clock.restart();
    const auto state = [&] {
        const QList<CourseRecord> courses = library.courses();
        return courses.isEmpty() ? -1 : courses.first().list.value(0).state;
    };
    while (state() != Complete && clock.elapsed() < 120000) {
        waitMs(20);
    }
    const double seconds = clock.nsecsElapsed() / 1e9;
    const QJsonObject paths = school.stats().value("paths").toObject();
    int again = 0;
    for (const QString& name : qAsConst(before)) {
        again += paths.value("/stream/bench/" + name).toInt();
    }
    const bool done = state() == Complete;
    std::printf("outage: lesson %s %.2f s after the school is back (target <= 10), "
                "%d stored segments fetched again (target 0)\n",
                done ? "done" : "NOT done", seconds, again);
    downloader.stop();
    return done && seconds <= 10.0 && again == 0;
}

// Reading back the start and end of every stored segment against making each durable with
// fsync as it is written: the two ways to keep a power cut from leaving a broken file that
// counts as stored.
void checkAgainstFlush(const QString& dir, const QByteArray& key, const QByteArray& iv)
{
    const QStringList names = QDir(dir).entryList({"*.ts"}, QDir::Files);
    QElapsedTimer clock;
    clock.start();
    int whole = 0;
    for (const QString& name : names) {
        whole += MediaCheck::isWhole(dir + "/" + name, MediaCheck::Kind::Segment, key, iv) ? 1 : 0;
    }
    const double checkMs = clock.nsecsElapsed() / 1e6;
    double syncMs = 0;
    for (const QString& name : names) {
        QFile in(dir + "/" + name);
        QFile out(dir + "/" + name + ".copy");
        if (!in.open(QIODevice::ReadOnly) || !out.open(QIODevice::WriteOnly)) {
            continue;
        }
        out.write(in.readAll());
        out.flush();
        clock.restart();
        ::fsync(out.handle());
        syncMs += clock.nsecsElapsed() / 1e6;
        out.close();
        out.remove();
    }
    std::printf(
        "resume check of %d segments: %.1f ms (%d whole); fsync of each as written: %.1f ms\n",
        int(names.size()), checkMs, whole, syncMs);
}

double idleCpuPercent(double seconds)
{
    CourseLibrary library;
    const FileCipher cipher = FileCipher::programCipher();
    Downloader::Context context;
    context.library = &library;
    context.cipher = &cipher;
    context.setting = [](const QString&) {
        return QString();
    };
    context.autoStart = true;
    Downloader downloader(std::move(context));
    downloader.start();
    QEventLoop settle;
    QTimer::singleShot(200, &settle, &QEventLoop::quit);
    settle.exec();

    const double cpuBefore = cpuSeconds();
    QElapsedTimer clock;
    clock.start();
    QEventLoop loop;
    QTimer::singleShot(int(seconds * 1000), &loop, &QEventLoop::quit);
    loop.exec();
    const double cpu = cpuSeconds() - cpuBefore;
    const double wall = clock.nsecsElapsed() / 1e9;
    downloader.stop();
    return cpu / wall * 100.0;
}

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    const bool skipTools = app.arguments().contains("--skip-tools");
    const int outageAt = app.arguments().indexOf("--outage");
    const int outageSeconds = outageAt > 0 ? app.arguments().value(outageAt + 1).toInt() : 90;
    const bool tls = app.arguments().contains("--tls");

    SchoolProcess school;
    school.setTls(tls ? SchoolProcess::Tls::Trusted : SchoolProcess::Tls::None);
    if (!school.start() || (tls && !TlsTrust::addCaForTests(school.caFile()))) {
        std::fprintf(stderr, "school: %s\n", qPrintable(school.errorString()));
        return 2;
    }
    std::printf("school over %s\n", tls ? "HTTPS" : "HTTP");
    qputenv("TAMIX_API_URL", school.apiUrl().toUtf8());
    qputenv("TAMIX_KEY_URL", school.keyUrl().toUtf8());
    school.bindSession(sid, "13900000000");
    URLManager urls([] { return sid; });
    const QString keyUrl = urls.getKeysAndUrlByLidUrl("109", "1091", "1");
    QTemporaryDir temp;

    // The playable form of the playlist (segments at the school, key at the key-file server)
    // for ffmpeg, its segment addresses for aria2c, and the cookie. Segments and key file need
    // no cookie, so ffmpeg reads the local playlist without one; aria2c gets it anyway.
    OnlinePlaylist online;
    QString playlist;
    {
        QEventLoop loop;
        QObject::connect(&online, &OnlinePlaylist::finished, &loop, [&](const QString& text) {
            playlist = text;
            loop.quit();
        });
        online.start(keyUrl);
        loop.exec();
    }
    QStringList segmentUrls;
    for (const QString& line : playlist.split('\n')) {
        if (!line.isEmpty() && !line.startsWith('#')) {
            segmentUrls << line;
        }
    }
    HttpHelper http(nullptr, true);
    QString keys = JsonHelper::parse(http.getSync(keyUrl)).getObject("data").getString("keys");
    const QString cookie = "Cookie: keys=" + keys.replace("+", "%2B");
    QFile playlistFile(temp.filePath("online.m3u8"));
    QFile inputFile(temp.filePath("aria2.txt"));
    if (segmentUrls.size() < 200 || !playlistFile.open(QIODevice::WriteOnly) ||
        !inputFile.open(QIODevice::WriteOnly)) {
        std::fprintf(stderr, "benchmark lesson not available (%d segments)\n",
                     int(segmentUrls.size()));
        return 2;
    }
    playlistFile.write(playlist.toUtf8());
    playlistFile.close();
    inputFile.write((segmentUrls.join('\n') + '\n').toUtf8());
    inputFile.close();
    std::printf("benchmark lesson: %d segments\n", int(segmentUrls.size()));

    // 40 ms per request, then 40 ms and 100 Mbit/s shared by all segment requests: under the
    // cap every tool is bound by it, so there the target is the floor, bytes / cap.
    bool met = true;
    const double cap = 12500000;
    const QList<QPair<QString, QJsonObject>> shapes{
        {"40 ms only", QJsonObject{{"route", "/stream/bench/seg*"}, {"latency", 40}}},
        {"40 ms + 100 Mbit/s",
         QJsonObject{{"route", "/stream/bench/seg*"}, {"latency", 40}, {"rate", cap}}}};
    for (int shape = 0; shape < shapes.size(); ++shape) {
        const bool capped = shape == 1;
        school.setFaults(QJsonArray{shapes[shape].second});
        std::printf("-- %s\n", qPrintable(shapes[shape].first));
        const QString oursDir = temp.filePath(QString("ours%1").arg(shape));
        const double ours = fetchWithLoader(keyUrl, oursDir);
        const qint64 bytes = bytesIn(oursDir, ".ts");
        std::printf("M3u8Loader      %7.2f s  %6.1f MB  %6.1f MB/s\n", ours, bytes / 1e6,
                    bytes / 1e6 / ours);
        if (shape == 0) {
            HlsPlaylist parsed;
            QString why;
            QFile keyFile(SchoolProcess::mediaDir() + "/lessons/bench/key.bin");
            if (parsed.parse(playlist, QUrl(school.apiUrl()), &why) &&
                keyFile.open(QIODevice::ReadOnly)) {
                checkAgainstFlush(oursDir, keyFile.readAll(), parsed.media().value(0).iv);
            }
        }
        QDir(oursDir).removeRecursively();
        met = met && ours > 0;
        if (capped) {
            const double floor = bytes / cap;
            std::printf("floor %.2f s, M3u8Loader / floor = %.3f (target <= 1.03)\n", floor,
                        ours / floor);
            met = met && ours / floor <= 1.03;
        }
        if (skipTools) {
            continue;
        }
        const QString ariaDir = temp.filePath(QString("aria%1").arg(shape));
        // Over HTTPS aria2c verifies the school as the fetcher does. ffmpeg's command line
        // cannot: its TLS options are refused for a local playlist and not handed on to the
        // segments of a remote one, so it reads them without verifying.
        const QStringList ariaTls =
            tls ? QStringList{"--ca-certificate=" + school.caFile()} : QStringList();
        const double aria =
            runTool("aria2c",
                    ariaTls + QStringList{"-j", "4", "-x", "1", "-s", "1", "--header=" + cookie,
                                          "-i", inputFile.fileName(), "-d", ariaDir,
                                          "--allow-overwrite=true", "--auto-file-renaming=false",
                                          "--file-allocation=none", "--console-log-level=warn",
                                          "--summary-interval=0", "--download-result=hide", "-q"});
        std::printf("aria2c -j 4     %7.2f s  %6.1f MB\n", aria, bytesIn(ariaDir, ".ts") / 1e6);
        QDir(ariaDir).removeRecursively();
        const double ffmpeg =
            runTool("ffmpeg", QStringList{"-v", "error", "-y", "-protocol_whitelist",
                                          "file,http,https,tcp,tls,crypto"} +
                                  QStringList{"-i", playlistFile.fileName(), "-c", "copy",
                                              temp.filePath("ffmpeg.ts")});
        std::printf("ffmpeg -c copy  %7.2f s\n", ffmpeg);
        const double ariaRatio = ours / aria;
        const double ffmpegRatio = ffmpeg / ours;
        std::printf("M3u8Loader / aria2c = %.3f%s\n", ariaRatio, capped ? "" : " (target <= 0.9)");
        std::printf("ffmpeg / M3u8Loader = %.3f%s\n", ffmpegRatio, capped ? "" : " (target >= 4)");
        if (!capped) {
            met = met && aria > 0 && ffmpeg > 0 && ariaRatio <= 0.9 && ffmpegRatio >= 4.0;
        }
    }

    // Unshaped, over loopback: the best of three.
    school.clearFaults();
    double best = 0;
    for (int round = 0; round < 3; ++round) {
        const QString dir = temp.filePath(QString("plain%1").arg(round));
        const double seconds = fetchWithLoader(keyUrl, dir);
        const double rate = seconds > 0 ? bytesIn(dir, ".ts") / 1e6 / seconds : 0;
        best = std::max(best, rate);
        QDir(dir).removeRecursively();
    }
    std::printf("loopback M3u8Loader     %7.1f MB/s (target >= 800)\n", best);
    met = met && best >= 800;

    // The small lesson: 210 segments of about 32 KB.
    const QString smallKeyUrl = urls.getKeysAndUrlByLidUrl("109", "1092", "1");
    const QString smallDir = SchoolProcess::mediaDir() + "/lessons/benchsmall";
    std::printf("limited lesson: %d segments, %.1f MB\n",
                int(QDir(smallDir).entryList({"*.ts"}, QDir::Files).size()),
                bytesIn(smallDir, ".ts") / 1e6);
    met = underLimit(smallKeyUrl, temp.filePath("limit1m"), 1024 * 1024, "1 MB/s") && met;
    met = underLimit(smallKeyUrl, temp.filePath("limit256k"), 256 * 1024, "256 KB/s") && met;

    if (outageSeconds > 0) {
        CourseRecord course;
        course.id = "109";
        course.title = "outage";
        LessonRecord lesson;
        lesson.courseId = "109";
        lesson.id = "1091";
        lesson.title = "bench";
        lesson.state = Chosen;
        lesson.keyUrl = keyUrl;
        course.list << lesson;
        met = outage(school, course, outageSeconds, temp.filePath("outage")) && met;
    }

    const double idle = idleCpuPercent(3.0);
    std::printf("idle Downloader thread  %7.3f %% CPU of the process over 3 s (target < 1)\n",
                idle);
    met = met && idle < 1.0;

    std::printf("%s\n", met ? "all targets met" : "a target was missed");
    return met ? 0 : 1;
}
