// One lesson over a slow line: the stand-in school holds all segment requests of the lesson
// together to 4 KB/s (its "rate" fault), the fetcher keeps its product settings (four segments
// at once, a floor of 1 KB/s over 30 s). Prints whether the lesson completed, its time, the
// segment requests for its segments (and how many of them asked for the rest of a cut one with
// a Range), and the bytes fetched twice (those of segments given up, seen as drops of the
// fetcher's count, sampled every 10 ms) as a share of the lesson.
// Target: complete, bytes fetched twice under 10 % of the lesson. Exit code 1 when missed.
//
//     bench_slowline [LESSON C_TYPE]   (default 1032 2: six segments, 204 KB)
#include "FileCipher.h"
#include "M3u8Loader.h"
#include "SchoolProcess.h"
#include "URLManager.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QJsonArray>
#include <QJsonObject>
#include <QTemporaryDir>
#include <QTimer>

#include <cstdio>

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    const QString lesson = app.arguments().value(1, "1032");
    const QString cType = app.arguments().value(2, "2"); // the lesson's c_type in the school
    const QString course = lesson.left(3);
    const QString media = "m" + lesson;
    SchoolProcess school;
    if (!school.start()) {
        std::fprintf(stderr, "school: %s\n", qPrintable(school.errorString()));
        return 2;
    }
    qputenv("TAMIX_API_URL", school.apiUrl().toUtf8());
    qputenv("TAMIX_KEY_URL", school.keyUrl().toUtf8());
    const QString sid = "bench-slowline";
    school.bindSession(sid, "13800000001");
    school.addFault(QJsonObject{{"route", QString("/stream/" + media + "/seg*")}, {"rate", 4096}});
    URLManager urls([sid] { return sid; });
    QTemporaryDir temp;
    const QString dir = temp.path() + "/lesson";

    const FileCipher cipher = FileCipher::programCipher();
    M3u8Loader loader(cipher);
    QEventLoop loop;
    M3u8Loader::Result result = M3u8Loader::Result::Stopped;
    QObject::connect(&loader, &M3u8Loader::finished, &loop, [&](M3u8Loader::Result r) {
        result = r;
        loop.quit();
    });
    qint64 last = 0;
    qint64 twice = 0;
    QTimer sampler;
    QObject::connect(&sampler, &QTimer::timeout, [&] {
        const qint64 now = loader.progressBytes();
        twice += qMax<qint64>(0, last - now);
        last = now;
    });
    sampler.start(10);
    QElapsedTimer clock;
    clock.start();
    loader.downloadLesson(urls.getKeysAndUrlByLidUrl(course, lesson, cType), dir);
    if (loader.result() == M3u8Loader::Result::Stopped) {
        loop.exec();
    }
    const double seconds = clock.nsecsElapsed() / 1e9;
    int requests = 0;
    int segments = 0;
    const QJsonObject paths = school.stats().value("paths").toObject();
    for (auto it = paths.begin(); it != paths.end(); ++it) {
        if (it.key().startsWith("/stream/" + media + "/seg")) {
            requests += it.value().toInt();
            ++segments;
        }
    }
    int ranged = 0;
    const QJsonArray ranges = school.stats().value("ranges").toArray();
    for (const QJsonValue& range : ranges) {
        ranged += range.toObject().value("path").toString().startsWith("/stream/" + media + "/seg")
                      ? 1
                      : 0;
    }
    const qint64 stored = loader.storedBytes();
    const double share = stored > 0 ? 100.0 * double(twice) / double(stored) : 100.0;
    std::printf("lesson %s over 4 KB/s: %s in %.1f s, %d segment requests for %d segments "
                "(%d of them ranges), %lld bytes stored, %lld bytes fetched twice (%.1f %%)\n",
                qPrintable(lesson),
                result == M3u8Loader::Result::Complete ? "complete" : "NOT complete", seconds,
                requests, segments, ranged, stored, twice, share);
    school.stop();
    return result == M3u8Loader::Result::Complete && share < 10.0 ? 0 : 1;
}
