// The lesson fetcher against the stand-in school: the stored lesson, the rewritten playlist,
// the cookie, resuming, and what faults of the school do to a lesson.
#include "DiskBudget.h"
#include "FileCipher.h"
#include "HttpHelper.h"
#include "JsonHelper.h"
#include "LessonFixture.h"
#include "M3u8Loader.h"
#include "OnlinePlaylist.h"
#include "SmallDisk.h"
#include "TlsTrust.h"

#include <QDirIterator>
#include <QJsonArray>
#include <QJsonDocument>
#include <QProcess>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <QtTest>

using Result = M3u8Loader::Result;
Q_DECLARE_METATYPE(M3u8Loader::Result)

class TestM3u8Loader : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase();
    void init();

    void wholeLesson_data();
    void wholeLesson();
    void resumeFetchesOnlyMissingSegments_data();
    void resumeFetchesOnlyMissingSegments();
    void segmentFaults_data();
    void segmentFaults();
    void lessonCannotStart_data();
    void lessonCannotStart();
    void bodiesHaveABound_data();
    void bodiesHaveABound();
    void realWorldPlaylists_data();
    void realWorldPlaylists();
    void slowSharedLineFetchesFewerAtOnce();
    void cutSegmentGoesOnFromItsKeptBytes_data();
    void cutSegmentGoesOnFromItsKeptBytes();
    void keysCookieStaysWithTheStream_data();
    void keysCookieStaysWithTheStream();
    void httpsNeverFallsToHttp_data();
    void httpsNeverFallsToHttp();
    void unsafeNamesWriteNothingOutside();
    void writeFailureKeepsWhatIsStored();
    void onlinePlaylist();
    void plusIsSentEncoded_data();
    void plusIsSentEncoded();

private:
    DownloadOptions quickOptions() const
    {
        DownloadOptions options;
        options.requestTimeoutMs = 600;
        options.keyUrlTimeoutMs = 600;
        options.retryPausesMs = {20, 40};
        options.progressIntervalMs = 100;
        options.floorBytes = 1024;
        options.floorWindowMs = 300;
        return options;
    }
    // The lesson 1013 (media m1013, five segments) of course 101.
    QString keyUrl1013() const { return fx.urls->getKeysAndUrlByLidUrl("101", "1013", "1"); }
    QString expectedPlaylist(const QString& media, const QString& dir) const;
    // Runs the loader to its end in this thread's event loop.
    static Result run(M3u8Loader& loader, const QString& keyUrl, const QString& dir)
    {
        QSignalSpy finished(&loader, &M3u8Loader::finished);
        loader.downloadLesson(keyUrl, dir);
        if (finished.isEmpty() && !finished.wait(30000)) {
            return Result::Stopped;
        }
        return finished.first().first().value<Result>();
    }

    LessonFixture fx;
    FileCipher cipher = FileCipher::programCipher();
    std::unique_ptr<QTemporaryDir> temp;
    QString dir;
};

void TestM3u8Loader::initTestCase()
{
    QStandardPaths::setTestModeEnabled(true);
    qRegisterMetaType<M3u8Loader::Result>();
    QString error;
    QVERIFY2(fx.start(&error), qPrintable(error));
}

void TestM3u8Loader::init()
{
    QVERIFY(fx.school.clearFaults());
    QVERIFY(fx.school.resetStats());
    temp = std::make_unique<QTemporaryDir>();
    dir = temp->path() + "/course/lesson";
}

// The school's playlist file with segment lines pointing into `dir` and the key line pointing
// at the key-file server; the key-file name worked out by hand from the seed's key name.
QString TestM3u8Loader::expectedPlaylist(const QString& media, const QString& dir) const
{
    QByteArray name = fx.keyName(media).toLatin1().left(16);
    for (int i = 0; i < name.size(); ++i) {
        name[i] = char(uchar(name[i]) + i + 3);
    }
    const QString keyFile =
        fx.school.keyUrl() + "/keyfile/2016/" + QString::fromLatin1(name) + ".k";
    QString text;
    const QStringList lines =
        QString::fromUtf8(LessonFixture::read(LessonFixture::mediaFile(media, "index.m3u8")))
            .split('\n');
    for (QString line : lines) {
        if (!line.isEmpty() && !line.startsWith('#')) {
            line = dir + "/" + line;
        }
        line.replace("@KEY_URI@", keyFile);
        text += line + "\n";
    }
    return text;
}

void TestM3u8Loader::wholeLesson_data()
{
    QTest::addColumn<QString>("playlistFault");
    QTest::newRow("LF playlist") << "";
    QTest::newRow("CRLF playlist") << "crlf";
}

void TestM3u8Loader::wholeLesson()
{
    QFETCH(QString, playlistFault);
    if (!playlistFault.isEmpty()) {
        QVERIFY(
            fx.school.addFault({{"route", "/stream/*/index.m3u8"}, {"playlist", playlistFault}}));
    }
    M3u8Loader loader(cipher, quickOptions());
    QSignalSpy progress(&loader, &M3u8Loader::downloadingProgress);
    QSignalSpy error(&loader, &M3u8Loader::donwloadError);
    QCOMPARE(run(loader, keyUrl1013(), dir), Result::Complete);
    QCOMPARE(error.size(), 0);

    // Every segment as the school has it, nothing else but the playlist.
    const QStringList names = LessonFixture::segmentNames("m1013");
    QCOMPARE(names.size(), 5);
    QStringList expectedFiles = names;
    expectedFiles << "00000.ls";
    expectedFiles.sort();
    QCOMPARE(LessonFixture::entries(dir), expectedFiles);
    qint64 total = 0;
    for (const QString& name : names) {
        const QByteArray original = LessonFixture::read(LessonFixture::mediaFile("m1013", name));
        QVERIFY(!original.isEmpty());
        QCOMPARE(LessonFixture::read(dir + "/" + name), original);
        total += original.size();
    }
    QCOMPARE(loader.storedBytes(), total);

    // The stored playlist: the rewrite, encrypted, zero-filled to whole blocks.
    bool ok = false;
    QByteArray plain = cipher.decryptFileToBytes(dir + "/00000.ls", &ok);
    QVERIFY(ok);
    while (plain.endsWith('\0')) {
        plain.chop(1);
    }
    const QString text = QString::fromUtf8(plain);
    QVERIFY(!text.contains('\r'));
    QCOMPARE(text, expectedPlaylist("m1013", dir));

    // The key-file address in it gives the lesson's key.
    const QString keyLine = text.section('\n', 5, 5);
    const QString keyFile = keyLine.section('"', 1, 1);
    QVERIFY2(keyFile.startsWith(fx.school.keyUrl() + "/keyfile/2016/"), qPrintable(keyLine));
    QNetworkAccessManager manager;
    QNetworkReply* reply = manager.get(QNetworkRequest(QUrl(keyFile)));
    QVERIFY(SchoolProcess::waitForReply(reply, 5000));
    QCOMPARE(reply->readAll(), LessonFixture::read(LessonFixture::mediaFile("m1013", "key.bin")));
    delete reply;

    // The playlist and key requests carry the lesson's cookie (the school would refuse them).
    HttpHelper http(nullptr, true);
    const QJsonArray cookies = fx.school.stats().value("cookies").toArray();
    QStringList routes;
    for (const QJsonValue& cookie : cookies) {
        routes << cookie.toObject().value("route").toString();
    }
    routes.sort();
    QCOMPARE(routes, QStringList({"key", "playlist"}));

    // The size as the server states it ("0.4MB" or so) and at least one progress report.
    const QString size =
        JsonHelper::parse(http.getSync(keyUrl1013(), 5000)).getObject("data").getString("filesize");
    QVERIFY(size.endsWith("MB"));
    QCOMPARE(loader.totalSize(), size.chopped(2).toFloat());
    QVERIFY(!progress.isEmpty());
    QCOMPARE(progress.last().at(0).toString(), dir);
    QCOMPARE(progress.last().at(1).toFloat(), float(double(total) / 1024));
}

void TestM3u8Loader::resumeFetchesOnlyMissingSegments_data()
{
    QTest::addColumn<QString>("playlist");    // the school's playlist fault
    QTest::addColumn<QStringList>("endings"); // of the names it gives, in turn
    QTest::newRow("names the player reads") << "" << QStringList();
    // Earlier versions stored "seg00000" and "seg00001.jpg" as they were named, and MPEG-TS
    // named "seg00000.mp4" too; the player reads them as "media00000.ts" and so on.
    QTest::newRow("names of an earlier version") << "oddnames" << QStringList{"", ".jpg"};
    QTest::newRow("MPEG-TS under other media names of an earlier version")
        << "disguised" << QStringList{".mp4", ".aac", ".mp3", ".mkv", ".mov"};
}

void TestM3u8Loader::resumeFetchesOnlyMissingSegments()
{
    QFETCH(QString, playlist);
    QFETCH(QStringList, endings);
    const bool oddNames = !playlist.isEmpty();
    if (oddNames) {
        QVERIFY(fx.school.addFault({{"route", "/stream/*/index.m3u8"}, {"playlist", playlist}}));
    }
    const QStringList served = LessonFixture::segmentNames("m1013");
    QStringList names = served;   // as stored now
    QStringList earlier = served; // as the interrupted run stored them
    if (oddNames) {
        for (int i = 0; i < served.size(); ++i) {
            names[i] = QString("media%1.ts").arg(i, 5, 10, QLatin1Char('0'));
            earlier[i] = QString(served[i]).replace(".ts", endings.at(i % endings.size()));
        }
    }
    QVERIFY(QDir().mkpath(dir));
    qint64 total = 0;
    for (int i = 0; i < names.size(); ++i) {
        const QString original = LessonFixture::mediaFile("m1013", served[i]);
        total += QFileInfo(original).size();
        if (i < 3) {
            QVERIFY(QFile::copy(original, dir + "/" + earlier[i]));
        }
    }
    // A half-written leftover of the interrupted run.
    QFile partial(dir + "/" + names[3] + ".part");
    QVERIFY(partial.open(QIODevice::WriteOnly));
    partial.write("half");
    partial.close();

    M3u8Loader loader(cipher, quickOptions());
    QCOMPARE(run(loader, keyUrl1013(), dir), Result::Complete);
    const QHash<QString, int> requests = fx.segmentRequests("m1013");
    QCOMPARE(requests.size(), 2);
    QCOMPARE(requests.value(oddNames ? earlier[3] : names[3]), 1);
    QCOMPARE(requests.value(oddNames ? earlier[4] : names[4]), 1);
    QCOMPARE(loader.storedBytes(), total);
    QVERIFY(!QFileInfo::exists(partial.fileName()));
    for (int i = 0; i < names.size(); ++i) {
        QCOMPARE(LessonFixture::read(dir + "/" + names[i]),
                 LessonFixture::read(LessonFixture::mediaFile("m1013", served[i])));
    }
}

void TestM3u8Loader::segmentFaults_data()
{
    QTest::addColumn<QJsonObject>("fault");
    QTest::addColumn<Result>("result");
    QTest::addColumn<int>("requests"); // of the faulty segment seg00001.ts
    const QString route = "/stream/m1013/seg00001.ts";
    // Two retries are allowed (pauses 20 and 40 ms): three tries in all.
    QTest::newRow("500 twice, then 200")
        << QJsonObject{{"route", route}, {"status", 500}, {"times", 2}} << Result::Complete << 3;
    QTest::newRow("500 for ever: the lesson waits")
        << QJsonObject{{"route", route}, {"status", 500}} << Result::Stalled << 3;
    QTest::newRow("404 is not asked again")
        << QJsonObject{{"route", route}, {"status", 404}} << Result::Failed << 1;
    QTest::newRow("cut short once")
        << QJsonObject{{"route", route}, {"cut", 1000}, {"times", 1}} << Result::Complete << 2;
    QTest::newRow("cut short for ever")
        << QJsonObject{{"route", route}, {"cut", 1000}} << Result::Stalled << 3;
    // A body without a length that ends early may look finished to the network stack; the
    // media check catches it.
    QTest::newRow("body without a length, cut short")
        << QJsonObject{{"route", route}, {"chunked", true}, {"cut", 1000}} << Result::Failed << -1;
    QTest::newRow("HTML page with status 200 once")
        << QJsonObject{{"route", route}, {"html", true}, {"times", 1}} << Result::Complete << 2;
    QTest::newRow("HTML page with status 200 for ever")
        << QJsonObject{{"route", route}, {"html", true}} << Result::Stalled << 3;
    // The time-out is 600 ms of silence.
    QTest::newRow("stalled once") << QJsonObject{{"route", route}, {"stall", 3000}, {"times", 1}}
                                  << Result::Complete << 2;
    QTest::newRow("body without a length")
        << QJsonObject{{"route", route}, {"chunked", true}} << Result::Complete << 1;
    // A byte every 100 ms never falls silent, but stays under the floor of 1 KB per 300 ms.
    QTest::newRow("trickling for ever: the lesson waits")
        << QJsonObject{{"route", route}, {"trickle", 100}} << Result::Stalled << 3;
}

void TestM3u8Loader::segmentFaults()
{
    QFETCH(QJsonObject, fault);
    QFETCH(Result, result);
    QFETCH(int, requests);
    QVERIFY(fx.school.addFault(fault));
    M3u8Loader loader(cipher, quickOptions());
    QSignalSpy error(&loader, &M3u8Loader::donwloadError);
    const Result ended = run(loader, keyUrl1013(), dir);
    if (requests < 0) {
        QVERIFY2(ended == Result::Failed || ended == Result::Stalled,
                 qPrintable(QString::number(int(ended))));
    } else {
        QCOMPARE(ended, result);
        const int asked = fx.segmentRequests("m1013").value("seg00001.ts");
        if (fault.contains("cut") && !fault.contains("times")) {
            // Each try goes on from the bytes that came, with a range of its own; the network
            // stack sometimes sends such a range request, cut short again, once more on its
            // own, with the same range. The loader's tries are the first request and each
            // new range.
            QSet<QString> ranges;
            for (const QJsonValue& item : fx.school.stats().value("ranges").toArray()) {
                if (item.toObject().value("path").toString().endsWith("/seg00001.ts")) {
                    ranges.insert(item.toObject().value("range").toString());
                }
            }
            QCOMPARE(1 + ranges.size(), requests);
            QVERIFY2(asked <= 2 * requests - 1, qPrintable(QString::number(asked)));
        } else {
            QCOMPARE(asked, requests);
        }
    }

    const QString file = dir + "/seg00001.ts";
    if (ended == Result::Complete) {
        QCOMPARE(LessonFixture::read(file),
                 LessonFixture::read(LessonFixture::mediaFile("m1013", "seg00001.ts")));
    } else {
        // Neither the error body nor the part that arrived counts as the segment.
        QVERIFY(!QFileInfo::exists(file));
    }
    // Only a lesson that failed for good is reported as failed.
    QCOMPARE(error.size(), ended == Result::Failed ? 1 : 0);
    // Whatever is stored is whole; nothing half-written is left.
    const QStringList names = LessonFixture::entries(dir);
    for (const QString& name : names) {
        QVERIFY2(!name.endsWith(".part"), qPrintable(name));
        if (name.endsWith(".ts")) {
            QCOMPARE(LessonFixture::read(dir + "/" + name),
                     LessonFixture::read(LessonFixture::mediaFile("m1013", name)));
        }
    }
}

void TestM3u8Loader::lessonCannotStart_data()
{
    QTest::addColumn<QJsonObject>("fault");
    QTest::addColumn<Result>("result");
    QTest::newRow("short key name")
        << QJsonObject{{"route", "/stream/*/key"}, {"shortKey", true}} << Result::Failed;
    QTest::newRow("HTML page instead of the key name")
        << QJsonObject{{"route", "/stream/*/key"}, {"html", true}} << Result::Stalled;
    QTest::newRow("key request fails")
        << QJsonObject{{"route", "/stream/*/key"}, {"status", 500}} << Result::Stalled;
    QTest::newRow("playlist request fails")
        << QJsonObject{{"route", "/stream/*/index.m3u8"}, {"status", 503}} << Result::Stalled;
    QTest::newRow("HTML page instead of the playlist")
        << QJsonObject{{"route", "/stream/*/index.m3u8"}, {"html", true}} << Result::Stalled;
    QTest::newRow("playlist without its end")
        << QJsonObject{{"route", "/stream/*/index.m3u8"}, {"playlist", "noendlist"}}
        << Result::Failed;
    QTest::newRow("HTML page instead of the key-and-address answer")
        << QJsonObject{{"route", "/course_app/GetKeysAndUrlByLid*"}, {"html", true}}
        << Result::Stalled;
    QTest::newRow("key-and-address call stalls")
        << QJsonObject{{"route", "/course_app/GetKeysAndUrlByLid*"}, {"stall", 5000}}
        << Result::Stalled;
    QTest::newRow("key-and-address answer trickles")
        << QJsonObject{{"route", "/course_app/GetKeysAndUrlByLid*"}, {"trickle", 100}}
        << Result::Stalled;
    // Nothing local is opened, and nothing of it reaches the key-file server.
    QTest::newRow("key named as a local file")
        << QJsonObject{{"route", "/stream/*/index.m3u8"}, {"playlist", "filekey"}}
        << Result::Failed;
    QTest::newRow("segment named as a local file")
        << QJsonObject{{"route", "/stream/*/index.m3u8"}, {"playlist", "fileseg"}}
        << Result::Failed;
}

void TestM3u8Loader::lessonCannotStart()
{
    QFETCH(QJsonObject, fault);
    QFETCH(Result, result);
    QVERIFY(fx.school.addFault(fault));
    M3u8Loader loader(cipher, quickOptions());
    QSignalSpy error(&loader, &M3u8Loader::donwloadError);
    QElapsedTimer clock;
    clock.start();
    QCOMPARE(run(loader, keyUrl1013(), dir), result);
    // Three tries of 600 ms at most, with short pauses.
    QVERIFY2(clock.elapsed() < 4000, qPrintable(QString::number(clock.elapsed())));
    QCOMPARE(error.size(), result == Result::Failed ? 1 : 0);
    QVERIFY(!QFileInfo::exists(dir + "/00000.ls"));
    QCOMPARE(fx.routeCount("segment"), 0);
    QCOMPARE(fx.routeCount("keyfile"), 0);
}

void TestM3u8Loader::bodiesHaveABound_data()
{
    QTest::addColumn<QJsonObject>("fault");
    QTest::addColumn<qint64>("roomMb"); // free space above the margin, -1: the real disk's
    QTest::addColumn<Result>("result");
    QTest::addColumn<QString>("reason");
    const QString route = "/stream/m1013/seg00000.ts";
    // The lesson is announced as well under a megabyte.
    QTest::newRow("1 GB segment") << QJsonObject{{"route", route},
                                                 {"inflate", 1024.0 * 1024 * 1024}}
                                  << qint64(-1) << Result::Failed << "文件损坏";
    QTest::newRow("endless segment, nearly full disk")
        << QJsonObject{{"route", route}, {"endless", true}} << qint64(6) << Result::WriteFailed
        << "磁盘空间不足";
}

void TestM3u8Loader::bodiesHaveABound()
{
    QFETCH(QJsonObject, fault);
    QFETCH(qint64, roomMb);
    QFETCH(Result, result);
    QFETCH(QString, reason);
    QVERIFY(fx.school.addFault(fault));
    if (roomMb >= 0) {
        DiskBudget::setFreeSpaceForTests(smallDisk(roomMb));
    }
    const auto restore = qScopeGuard([] { DiskBudget::setFreeSpaceForTests({}); });
    DownloadOptions options = quickOptions();
    options.requestTimeoutMs = 5000;
    // Should the bound fail, the test's own disk is not filled: past 64 MB a write fails.
    options.writeGuard = [this](const QString& name) {
        return QFileInfo(dir + "/" + name + ".part").size() < 64 * 1024 * 1024;
    };
    M3u8Loader loader(cipher, options);
    QCOMPARE(run(loader, keyUrl1013(), dir), result);
    QVERIFY2(loader.failReason().startsWith(reason), qPrintable(loader.failReason()));
    QVERIFY(!QFileInfo::exists(dir + "/seg00000.ts"));
    // Asked once: a bound that holds will not hold less when asked again.
    QCOMPARE(fx.segmentRequests("m1013").value("seg00000.ts"), 1);
    // The body never piled up in memory.
    QFile status("/proc/self/status");
    QVERIFY(status.open(QIODevice::ReadOnly));
    const QRegularExpression peak("VmHWM:\\s+(\\d+) kB");
    const qint64 peakKb =
        peak.match(QString::fromLatin1(status.readAll())).captured(1).toLongLong();
    QVERIFY2(peakKb > 0 && peakKb < 400 * 1024, qPrintable(QString::number(peakKb)));
}

void TestM3u8Loader::keysCookieStaysWithTheStream_data()
{
    QTest::addColumn<QString>("route");
    QTest::addColumn<QString>("fault");          // a playlist mode, or the origin to redirect to
    QTest::addColumn<QStringList>("withCookie"); // the routes that got the cookie, in order
    // The key on another host name of the same server: asked for, but without the cookie.
    QTest::newRow("key under another host name") << "/stream/*/index.m3u8"
                                                 << "otherhost" << QStringList{"playlist"};
    // The toolkit would copy the cookie onto the redirected request.
    QTest::newRow("playlist redirected to another host name")
        << "/stream/*/index.m3u8"
        << "localhost" << QStringList{"playlist"};
    QTest::newRow("key redirected to another port")
        << "/stream/*/key"
        << "keyserver" << QStringList{"playlist", "key"};
}

// A line too slow for three segments at once, fast enough for one: the segments cut by the
// floor are fetched fewer at a time until one alone clears it, and the lesson completes.
void TestM3u8Loader::slowSharedLineFetchesFewerAtOnce()
{
    // 30 KB/s for all three segments together; the floor is 4 KB per 300 ms (13.3 KB/s).
    QVERIFY(fx.school.addFault({{"route", "/stream/m1022/seg*"}, {"rate", 30000}}));
    DownloadOptions options = quickOptions();
    options.requestTimeoutMs = 3000;
    options.floorBytes = 4096;
    M3u8Loader loader(cipher, options);
    QCOMPARE(run(loader, fx.urls->getKeysAndUrlByLidUrl("102", "1022", "1"), dir),
             Result::Complete);
    const QHash<QString, int> requests = fx.segmentRequests("m1022");
    QCOMPARE(requests.size(), 3);
    int total = 0;
    for (int count : requests) {
        total += count;
    }
    // Each cut once at most while they shared the line.
    QVERIFY2(total <= 6, qPrintable(QString::number(total)));
}

void TestM3u8Loader::cutSegmentGoesOnFromItsKeptBytes_data()
{
    QTest::addColumn<QJsonObject>("cut");
    QTest::addColumn<QString>("range"); // the school's answer to a range
    QTest::addColumn<int>("requests");  // of the segment
    const QString route = "/stream/m1013/seg00001.ts";
    // 6016 bytes are 32 packets of 188, and their half 16: a wrong splice of them would still
    // look like whole MPEG-TS, only the bytes themselves tell.
    const QJsonObject dropped{{"route", route}, {"cut", 6016}, {"times", 1}};
    QTest::newRow("dropped, the rest as asked") << dropped << "" << 2;
    QTest::newRow("dropped, ranges ignored: whole again") << dropped << "ignore" << 2;
    QTest::newRow("dropped, 416: from the start") << dropped << "refuse" << 3;
    QTest::newRow("dropped, another start: from the start") << dropped << "shifted" << 3;
    QTest::newRow("dropped, another length: from the start") << dropped << "badtotal" << 3;
    // 2 KB/s stays under the floor of 1 KB per 300 ms.
    QTest::newRow("cut by the floor, the rest as asked")
        << QJsonObject{{"route", route}, {"rate", 2000}, {"times", 1}} << "" << 2;
}

void TestM3u8Loader::cutSegmentGoesOnFromItsKeptBytes()
{
    QFETCH(QJsonObject, cut);
    QFETCH(QString, range);
    QFETCH(int, requests);
    QVERIFY(fx.school.addFault(cut));
    if (!range.isEmpty()) {
        QVERIFY(fx.school.addFault({{"route", cut.value("route")}, {"range", range}}));
    }
    DownloadOptions options = quickOptions();
    options.maxInFlight = 1;
    M3u8Loader loader(cipher, options);
    QCOMPARE(run(loader, keyUrl1013(), dir), Result::Complete);
    QCOMPARE(fx.segmentRequests("m1013").value("seg00001.ts"), requests);
    for (const QString& name : LessonFixture::segmentNames("m1013")) {
        QCOMPARE(LessonFixture::read(dir + "/" + name),
                 LessonFixture::read(LessonFixture::mediaFile("m1013", name)));
    }
    // One request asked for the rest, from exactly what had come.
    const QJsonArray ranges = fx.school.stats().value("ranges").toArray();
    QCOMPARE(ranges.size(), 1);
    const QString asked = ranges.at(0).toObject().value("range").toString();
    if (cut.contains("cut")) {
        QCOMPARE(asked, QString("bytes=6016-"));
    } else {
        const qint64 from = asked.mid(6).chopped(1).toLongLong();
        QVERIFY2(asked.startsWith("bytes=") && from > 0 && from < 30000, qPrintable(asked));
    }
}

void TestM3u8Loader::keysCookieStaysWithTheStream()
{
    QFETCH(QString, route);
    QFETCH(QString, fault);
    QFETCH(QStringList, withCookie);
    if (fault == "otherhost") {
        QVERIFY(fx.school.addFault(QJsonObject{{"route", route}, {"playlist", fault}}));
    } else {
        QString origin = fx.school.keyUrl();
        if (fault == "localhost") {
            origin = fx.school.apiUrl().replace("127.0.0.1", "localhost");
        }
        QVERIFY(
            fx.school.addFault(QJsonObject{{"route", route}, {"redirect", origin}, {"times", 1}}));
    }
    M3u8Loader loader(cipher, quickOptions());
    QCOMPARE(run(loader, keyUrl1013(), dir), Result::Failed);
    QStringList routes;
    for (const QJsonValue& cookie : fx.school.stats().value("cookies").toArray()) {
        routes << cookie.toObject().value("route").toString();
    }
    QCOMPARE(routes, withCookie);
    QCOMPARE(fx.routeCount("segment"), 0);
}

void TestM3u8Loader::httpsNeverFallsToHttp_data()
{
    QTest::addColumn<QString>("call");
    QTest::newRow("playlist with the keys cookie") << "playlist";
    QTest::newRow("school call") << "GetKeysAndUrlByLid";
}

// A school over HTTPS whose answer is redirected to the plain-HTTP school: nothing reaches it.
void TestM3u8Loader::httpsNeverFallsToHttp()
{
    QFETCH(QString, call);
    SchoolProcess secure;
    secure.setTls(SchoolProcess::Tls::Trusted);
    QVERIFY2(secure.start(), qPrintable(secure.errorString()));
    QVERIFY(TlsTrust::addCaForTests(secure.caFile()));
    QVERIFY(secure.bindSession(fx.sid, LessonFixture::user));
    const QString keyUrl = keyUrl1013().replace(fx.school.apiUrl(), secure.apiUrl());
    QVERIFY(keyUrl.startsWith("https://"));
    const QString route =
        call == "playlist" ? "/stream/*/index.m3u8" : "/course_app/GetKeysAndUrlByLid*";
    QVERIFY(secure.addFault({{"route", route}, {"redirect", fx.school.apiUrl()}, {"times", 1}}));
    if (call == "playlist") {
        M3u8Loader loader(cipher, quickOptions());
        QCOMPARE(run(loader, keyUrl, dir), Result::Failed);
    } else {
        HttpHelper http(nullptr, true);
        QCOMPARE(http.getSync(keyUrl, 5000), QString());
    }
    const QJsonObject asked = secure.stats().value("routes").toObject();
    QCOMPARE(asked.value(call).toInt(), 1);
    QCOMPARE(fx.school.stats().value("requests").toInt(), 0);
}

void TestM3u8Loader::realWorldPlaylists_data()
{
    QTest::addColumn<QJsonObject>("fault");
    QTest::addColumn<QString>("lesson"); // of course 101, or of 102 for the fMP4 one
    QTest::addColumn<QString>("media");
    const QString playlist = "/stream/*/index.m3u8";
    QTest::newRow("a '/' in the playlist address's query")
        << QJsonObject{{"route", "/course_app/GetKeysAndUrlByLid*"}, {"urlQuery", "auth=x/y/z"}}
        << "1013"
        << "m1013";
    QTest::newRow("segment addresses with a query")
        << QJsonObject{{"route", playlist}, {"playlist", "query"}} << "1013"
        << "m1013";
    QTest::newRow("absolute segment addresses")
        << QJsonObject{{"route", playlist}, {"playlist", "absolute"}} << "1013"
        << "m1013";
    QTest::newRow("segments in a subfolder")
        << QJsonObject{{"route", playlist}, {"playlist", "subfolder"}} << "1013"
        << "m1013";
    QTest::newRow("KEYFORMAT before URI")
        << QJsonObject{{"route", playlist}, {"playlist", "keyformat"}} << "1013"
        << "m1013";
    QTest::newRow("several key lines")
        << QJsonObject{{"route", playlist}, {"playlist", "rotate"}} << "1013"
        << "m1013";
    QTest::newRow("master playlist")
        << QJsonObject{{"route", playlist}, {"playlist", "master"}} << "1013"
        << "m1013";
    QTest::newRow("segment names without a media extension")
        << QJsonObject{{"route", playlist}, {"playlist", "oddnames"}} << "1013"
        << "m1013";
    QTest::newRow("MPEG-TS named .mp4, .aac, .mp3, .mkv and .mov")
        << QJsonObject{{"route", playlist}, {"playlist", "disguised"}} << "1013"
        << "m1013";
    QTest::newRow("fMP4 with an init section") << QJsonObject() << "1027"
                                               << "m1027";
}

void TestM3u8Loader::realWorldPlaylists()
{
    QFETCH(QJsonObject, fault);
    QFETCH(QString, lesson);
    QFETCH(QString, media);
    const QString course = lesson == "1027" ? "102" : "101";
    if (!fault.isEmpty()) {
        QVERIFY(fx.school.addFault(fault));
    }
    M3u8Loader loader(cipher, quickOptions());
    QCOMPARE(run(loader, fx.urls->getKeysAndUrlByLidUrl(course, lesson, "1"), dir),
             Result::Complete);

    // The stored lesson plays: ffmpeg decodes the decrypted playlist with its local files and
    // the key from the key-file server, with the HLS reader's own rule for local file names,
    // as the player has it.
    bool ok = false;
    QByteArray plain = cipher.decryptFileToBytes(dir + "/00000.ls", &ok);
    QVERIFY(ok);
    while (plain.endsWith('\0')) {
        plain.chop(1);
    }
    QFile local(temp->path() + "/local.m3u8");
    QVERIFY(local.open(QIODevice::WriteOnly));
    local.write(plain);
    local.close();
    QProcess ffmpeg;
    ffmpeg.setProcessChannelMode(QProcess::MergedChannels);
    ffmpeg.start("ffmpeg", {"-v", "error", "-protocol_whitelist", "file,http,tcp,crypto", "-i",
                            local.fileName(), "-f", "null", "-"});
    QVERIFY(ffmpeg.waitForFinished(60000));
    const QByteArray errors = ffmpeg.readAll();
    QVERIFY2(ffmpeg.exitCode() == 0 && errors.isEmpty(), errors.constData());
    // Every segment of the lesson is asked for once.
    const QJsonObject paths = fx.school.stats().value("paths").toObject();
    for (const QString& name : LessonFixture::segmentNames(media)) {
        const QString base = "/stream/" + media + "/";
        const QString stem = QString(name).remove(QRegularExpression("\\.ts$"));
        int asked = paths.value(base + name).toInt() + paths.value(base + "sub/" + name).toInt() +
                    paths.value(base + "hi/" + name).toInt();
        if (stem != name) {
            // The names the odd playlists give the segment.
            for (const char* other : {"", ".jpg", ".mp4", ".aac", ".mp3", ".mkv", ".mov"}) {
                asked += paths.value(base + stem + other).toInt();
            }
        }
        QCOMPARE(asked, 1);
    }
}

void TestM3u8Loader::unsafeNamesWriteNothingOutside()
{
    // The school names the first segment "../x.ts" and the second "a\b.ts".
    QVERIFY(fx.school.addFault({{"route", "/stream/*/index.m3u8"}, {"playlist", "unsafe"}}));
    M3u8Loader loader(cipher, quickOptions());
    QCOMPARE(run(loader, keyUrl1013(), dir), Result::Failed);
    QDirIterator it(temp->path(), QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot,
                    QDirIterator::Subdirectories);
    while (it.hasNext()) {
        const QFileInfo entry(it.next());
        QVERIFY2(entry.isDir() || entry.absolutePath() == dir, qPrintable(entry.filePath()));
    }
}

void TestM3u8Loader::writeFailureKeepsWhatIsStored()
{
    DownloadOptions options = quickOptions();
    options.maxInFlight = 1; // one after the other, so that the first three are stored
    std::atomic_bool full{true};
    options.writeGuard = [&full](const QString& name) {
        return !(full && name == "seg00003.ts");
    };
    {
        M3u8Loader loader(cipher, options);
        QCOMPARE(run(loader, keyUrl1013(), dir), Result::WriteFailed);
    }
    QCOMPARE(LessonFixture::entries(dir),
             QStringList({"00000.ls", "seg00000.ts", "seg00001.ts", "seg00002.ts"}));

    // Space again: the lesson continues with the fourth segment.
    full = false;
    QVERIFY(fx.school.resetStats());
    M3u8Loader loader(cipher, options);
    QCOMPARE(run(loader, keyUrl1013(), dir), Result::Complete);
    const QHash<QString, int> requests = fx.segmentRequests("m1013");
    QCOMPARE(requests.keys().size(), 2);
    QCOMPARE(requests.value("seg00003.ts"), 1);
    QCOMPARE(requests.value("seg00004.ts"), 1);
}

void TestM3u8Loader::onlinePlaylist()
{
    OnlinePlaylist online(quickOptions());
    QSignalSpy finished(&online, &OnlinePlaylist::finished);
    online.start(fx.urls->getKeysAndUrlByLidUrl("101", "1013", "1"));
    QVERIFY(finished.wait(10000));
    // Segment lines are the school's addresses; the key line as in the stored form.
    QCOMPARE(finished.first().first().toString(),
             expectedPlaylist("m1013", fx.school.apiUrl() + "/stream/m1013"));
    QCOMPARE(fx.routeCount("segment"), 0);
    online.start(fx.urls->getKeysAndUrlByLidUrl("101", "no-such-lesson", "1"));
    QVERIFY(finished.wait(10000));
    QVERIFY(finished.last().first().toString().isEmpty());
}

// Answers the key-and-address call with `keys` and records the raw Cookie header of the
// playlist request, which the school's HTTP library would show only decoded.
class RawServer : public QTcpServer
{
public:
    explicit RawServer(const QString& keys) : keys(keys)
    {
        connect(this, &QTcpServer::newConnection, this, [this] {
            QTcpSocket* socket = nextPendingConnection();
            connect(socket, &QTcpSocket::readyRead, this, [this, socket] { answer(socket); });
        });
        listen(QHostAddress::LocalHost);
    }
    QByteArray cookie;

private:
    void answer(QTcpSocket* socket)
    {
        buffer[socket] += socket->readAll();
        const QByteArray request = buffer[socket];
        if (!request.contains("\r\n\r\n")) {
            return;
        }
        buffer.remove(socket);
        QByteArray body;
        QByteArray status = "200 OK";
        if (request.startsWith("GET /keys")) {
            body =
                QJsonDocument(
                    QJsonObject{
                        {"flag", "1"},
                        {"data",
                         QJsonObject{
                             {"url", QString("http://127.0.0.1:%1/s/index.m3u8").arg(serverPort())},
                             {"keys", keys},
                             {"filesize", "1MB"}}}})
                    .toJson(QJsonDocument::Compact);
        } else {
            for (const QByteArray& line : request.split('\n')) {
                if (line.toLower().startsWith("cookie:")) {
                    cookie = line.mid(7).trimmed();
                }
            }
            status = "404 Not Found";
        }
        socket->write("HTTP/1.1 " + status + "\r\nContent-Length: " +
                      QByteArray::number(body.size()) + "\r\nConnection: close\r\n\r\n" + body);
        socket->disconnectFromHost();
    }
    QString keys;
    QHash<QTcpSocket*, QByteArray> buffer;
};

void TestM3u8Loader::plusIsSentEncoded_data()
{
    QTest::addColumn<QString>("keys");
    QTest::addColumn<QByteArray>("cookie");
    QTest::newRow("two plus signs") << "ab+cd+ef==" << QByteArray("keys=ab%2Bcd%2Bef==");
    QTest::newRow("no plus sign") << "abcdef" << QByteArray("keys=abcdef");
}

void TestM3u8Loader::plusIsSentEncoded()
{
    QFETCH(QString, keys);
    QFETCH(QByteArray, cookie);
    RawServer server(keys);
    QVERIFY(server.isListening());
    M3u8Loader loader(cipher, quickOptions());
    const QString keyUrl = QString("http://127.0.0.1:%1/keys").arg(server.serverPort());
    QCOMPARE(run(loader, keyUrl, dir), Result::Failed);
    QCOMPARE(server.cookie, cookie);
    QCOMPARE(loader.totalSize(), 1.0f);
}

QTEST_GUILESS_MAIN(TestM3u8Loader)
#include "tst_m3u8loader.moc"
