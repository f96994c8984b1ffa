// The stand-in school's lesson streams (key-and-address answer, "keys" cookie, key name,
// key files, segments, a real decode with ffmpeg), its faults and its statistics.
#include "SchoolClient.h"
#include "SchoolProcess.h"

#include <QCryptographicHash>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QtTest>

class TestSchoolStream : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase();

    void keysAndUrl_data();
    void keysAndUrl();
    void cookieGuardsPlaylistAndKey_data();
    void cookieGuardsPlaylistAndKey();
    void playlistText();
    void keyFileGivesTheKey_data();
    void keyFileGivesTheKey();
    void segmentsNeedNoCookieAndAreEncrypted();
    void ffmpegPlaysTheLesson();
    void ffmpegFailsWithAnotherKey();

    void statusSequence_data();
    void statusSequence();
    void latencyAndStall();
    void cutBody();
    void htmlInsteadOfJson();
    void bandwidthCap();
    void chunkedBody();
    void playlistFaults_data();
    void playlistFaults();
    void playlistVariantsDecode_data();
    void playlistVariantsDecode();
    void shortKeyName();
    void faultFromCommandLine();
    void badFaultRefused();
    void statistics();
    void stopsPromptlyDuringStall();
    void restartOnSamePortsAndDrop();

private:
    struct Lesson
    {
        QString classId, lessonId, cType, media;
    };
    QString lessonDir(const QString& media) const
    {
        return SchoolProcess::mediaDir() + "/lessons/" + media;
    }
    QJsonObject mediaSeed(const QString& id) const;
    QByteArray cookieFor(const QJsonObject& keysAndUrl) const
    {
        return "keys=" + keysAndUrl.value("keys").toString().toLatin1().replace("+", "%2B");
    }
    // The key-file name as the client derives it: byte i of the first 16 raised by i + 3.
    static QString keyFileName(const QByteArray& keyName)
    {
        QByteArray name = keyName.left(16);
        for (int i = 0; i < name.size(); ++i) {
            name[i] = char((uchar(name[i]) + i + 3) & 0xFF);
        }
        return QString::fromLatin1(name);
    }
    QString writeLocalPlaylist(const QString& media, const QString& keyFileUrl);
    QByteArray fetchPlaylist(const Lesson& lesson, QJsonObject* answer = nullptr);
    QString clientPlaylist(const Lesson& lesson, QByteArray* served, QString* failure);

    SchoolProcess school;
    std::unique_ptr<SchoolClient> client;
    QJsonObject seed;
    QTemporaryDir temp;
    const Lesson short1022{"102", "1022", "1", "m1022"};
    const Lesson other1013{"101", "1013", "1", "m1013"};
    const Lesson fmp41027{"102", "1027", "1", "m1027"};
};

void TestSchoolStream::initTestCase()
{
    QFile file(SchoolProcess::seedFile());
    QVERIFY(file.open(QIODevice::ReadOnly));
    seed = QJsonDocument::fromJson(file.readAll()).object();
    QVERIFY(temp.isValid());
    QVERIFY2(school.start(), qPrintable(school.errorString()));
    client.reset(new SchoolClient(school.apiUrl()));
    QVERIFY(client->login("13800000001", "tamix123"));
}

QJsonObject TestSchoolStream::mediaSeed(const QString& id) const
{
    for (const QJsonValue& m : seed.value("media").toArray()) {
        if (m.toObject().value("id").toString() == id) {
            return m.toObject();
        }
    }
    return QJsonObject();
}

QByteArray TestSchoolStream::fetchPlaylist(const Lesson& lesson, QJsonObject* answer)
{
    const QJsonObject data = client->keysAndUrl(lesson.classId, lesson.lessonId, lesson.cType);
    if (answer) {
        *answer = data;
    }
    return client->get(data.value("url").toString(), cookieFor(data)).body;
}

void TestSchoolStream::keysAndUrl_data()
{
    QTest::addColumn<QString>("classId");
    QTest::addColumn<QString>("lessonId");
    QTest::addColumn<QString>("cType");
    QTest::addColumn<QString>("media");
    // Every courseware lesson of the first user's courses.
    for (const QJsonValue& c : seed.value("courses").toArray()) {
        const QJsonObject course = c.toObject();
        if (course.value("id").toString() == "109") {
            continue;
        }
        for (const QJsonValue& l : course.value("lessons").toArray()) {
            const QJsonObject lesson = l.toObject();
            if (lesson.value("type").toString() != "kejian") {
                continue;
            }
            const QString id = lesson.value("id").toVariant().toString();
            QTest::addRow("%s", qPrintable(id)) << course.value("id").toString() << id
                                                << lesson.value("c_type").toVariant().toString()
                                                << lesson.value("media").toString();
        }
    }
}

void TestSchoolStream::keysAndUrl()
{
    QFETCH(QString, classId);
    QFETCH(QString, lessonId);
    QFETCH(QString, cType);
    QFETCH(QString, media);
    const QJsonObject data = client->keysAndUrl(classId, lessonId, cType);
    QCOMPARE(data.value("url").toString(), school.apiUrl() + "/stream/" + media + "/index.m3u8");
    QVERIFY(data.value("keys").toString().contains('+'));

    // The fMP4 lesson's init section counts towards the download size.
    qint64 bytes = QFileInfo(lessonDir(media) + "/init.mp4").size();
    const QFileInfoList segments =
        QDir(lessonDir(media)).entryInfoList({"seg*.ts", "seg*.m4s"}, QDir::Files, QDir::Name);
    for (const QFileInfo& info : segments) {
        bytes += info.size();
    }
    QCOMPARE(segments.size(), mediaSeed(media).value("seconds").toInt() / 2);
    QCOMPARE(data.value("filesize").toString(), QString::number(bytes / 1048576.0, 'f', 1) + "MB");

    // A wrong content type is refused.
    const QJsonObject wrong = client->keysAndUrl(classId, lessonId, cType == "1" ? "2" : "1");
    QVERIFY(wrong.value("url").toString().isEmpty());
}

void TestSchoolStream::cookieGuardsPlaylistAndKey_data()
{
    QTest::addColumn<QString>("cookieKind");
    QTest::addColumn<int>("status");
    QTest::newRow("no cookie") << "none" << 403;
    QTest::newRow("wrong value") << "wrong" << 403;
    QTest::newRow("keys of another lesson") << "other" << 403;
    QTest::newRow("plus turned into a space") << "space" << 403;
    QTest::newRow("keys with %2B") << "right" << 200;
    QTest::newRow("among other cookies") << "several" << 200;
}

void TestSchoolStream::cookieGuardsPlaylistAndKey()
{
    QFETCH(QString, cookieKind);
    QFETCH(int, status);
    const QJsonObject data = client->keysAndUrl("102", "1022", "1");
    const QJsonObject other = client->keysAndUrl("101", "1013", "1");
    QByteArray cookie;
    if (cookieKind == "wrong") {
        cookie = "keys=0123456789ab%2Bnope";
    } else if (cookieKind == "other") {
        cookie = cookieFor(other);
    } else if (cookieKind == "space") {
        cookie = "keys=" + data.value("keys").toString().toLatin1().replace("+", "%20");
    } else if (cookieKind == "right") {
        cookie = cookieFor(data);
    } else if (cookieKind == "several") {
        cookie = "theme=dark; " + cookieFor(data) + "; lang=zh";
    }
    const QString playlist = data.value("url").toString();
    QCOMPARE(client->get(playlist, cookie).status, status);
    const QString keyUri = playlist.left(playlist.lastIndexOf('/')) + "/key";
    QCOMPARE(client->get(keyUri, cookie).status, status);
}

void TestSchoolStream::playlistText()
{
    QJsonObject data;
    const QByteArray text = fetchPlaylist(short1022, &data);
    QVERIFY(text.startsWith("#EXTM3U\n"));
    QVERIFY(!text.contains('\r'));
    QStringList segments;
    QString keyLine;
    for (const QByteArray& line : text.split('\n')) {
        if (line.startsWith("#EXT-X-KEY")) {
            keyLine = QString::fromLatin1(line);
        } else if (!line.isEmpty() && !line.startsWith('#')) {
            segments.append(QString::fromLatin1(line));
        }
    }
    const QStringList onDisk =
        QDir(lessonDir("m1022")).entryList({"seg*.ts"}, QDir::Files, QDir::Name);
    QCOMPARE(segments, onDisk);
    for (const QString& s : segments) {
        QVERIFY(QRegularExpression("^seg\\d{5}\\.ts$").match(s).hasMatch());
    }
    QVERIFY(keyLine.startsWith("#EXT-X-KEY:METHOD=AES-128,URI=\""));
    QCOMPARE(keyLine.section('"', 1, 1), school.apiUrl() + "/stream/m1022/key");
}

void TestSchoolStream::keyFileGivesTheKey_data()
{
    QTest::addColumn<QString>("media");
    QTest::addColumn<QString>("classId");
    QTest::addColumn<QString>("lessonId");
    QTest::addColumn<QString>("cType");
    QTest::newRow("m1022") << "m1022"
                           << "102"
                           << "1022"
                           << "1";
    QTest::newRow("m1032") << "m1032"
                           << "103"
                           << "1032"
                           << "2";
    QTest::newRow("m1034") << "m1034"
                           << "103"
                           << "1034"
                           << "2";
}

void TestSchoolStream::keyFileGivesTheKey()
{
    QFETCH(QString, media);
    QFETCH(QString, classId);
    QFETCH(QString, lessonId);
    QFETCH(QString, cType);
    QJsonObject data;
    const QByteArray text = fetchPlaylist({classId, lessonId, cType, media}, &data);
    const QString keyUri = QString::fromLatin1(text).section("URI=\"", 1).section('"', 0, 0);
    const QByteArray name = client->get(keyUri, cookieFor(data)).body;
    QVERIFY(name.size() >= 16);
    QCOMPARE(QString::fromLatin1(name), mediaSeed(media).value("keyName").toString());

    const QString fileName = keyFileName(name);
    QVERIFY(QRegularExpression("^[a-z]{16}$").match(fileName).hasMatch());
    const SchoolClient::Reply key =
        client->get(school.keyUrl() + "/keyfile/2016/" + fileName + ".k");
    QCOMPARE(key.status, 200);
    QFile onDisk(lessonDir(media) + "/key.bin"); // what ffmpeg encrypted with
    QVERIFY(onDisk.open(QIODevice::ReadOnly));
    QCOMPARE(key.body, onDisk.readAll());
    QCOMPARE(key.body.size(), 16);

    // The key name itself, or a name shifted the wrong way, opens nothing.
    QCOMPARE(
        client->get(school.keyUrl() + "/keyfile/2016/" + QString::fromLatin1(name.left(16)) + ".k")
            .status,
        404);
}

void TestSchoolStream::segmentsNeedNoCookieAndAreEncrypted()
{
    const QString dir = lessonDir("m1022");
    for (const QString& name : QDir(dir).entryList({"seg*.ts"}, QDir::Files, QDir::Name)) {
        const SchoolClient::Reply segment = client->get(school.apiUrl() + "/stream/m1022/" + name);
        QCOMPARE(segment.status, 200);
        QFile file(dir + "/" + name);
        QVERIFY(file.open(QIODevice::ReadOnly));
        const QByteArray expected = file.readAll();
        QCOMPARE(QCryptographicHash::hash(segment.body, QCryptographicHash::Md5),
                 QCryptographicHash::hash(expected, QCryptographicHash::Md5));
        // Plain MPEG-TS has a sync byte every 188 bytes; an encrypted segment does not.
        QVERIFY(segment.body.size() > 1000);
        QVERIFY(
            !(segment.body[0] == 0x47 && segment.body[188] == 0x47 && segment.body[376] == 0x47));
    }
    QCOMPARE(client->get(school.apiUrl() + "/stream/m1022/seg99999.ts").status, 404);
}

QString TestSchoolStream::writeLocalPlaylist(const QString& media, const QString& keyFileUrl)
{
    // What a player is handed: the key line pointing at the key-file server, the segments
    // at the school.
    QFile source(lessonDir(media) + "/index.m3u8");
    if (!source.open(QIODevice::ReadOnly)) {
        return QString();
    }
    QByteArray out;
    for (const QByteArray& line : source.readAll().split('\n')) {
        if (line.startsWith("#EXT-X-KEY")) {
            out += QByteArray(line).replace("@KEY_URI@", keyFileUrl.toLatin1());
        } else if (!line.isEmpty() && !line.startsWith('#')) {
            out += school.apiUrl().toLatin1() + "/stream/" + media.toLatin1() + "/" + line;
        } else {
            out += line;
        }
        out += '\n';
    }
    const QString path = temp.filePath(media + ".m3u8");
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly) || file.write(out) != out.size()) {
        return QString();
    }
    return path;
}

void TestSchoolStream::ffmpegPlaysTheLesson()
{
    QJsonObject data;
    const QByteArray text = fetchPlaylist(short1022, &data);
    const QString keyUri = QString::fromLatin1(text).section("URI=\"", 1).section('"', 0, 0);
    const QByteArray name = client->get(keyUri, cookieFor(data)).body;
    const QString local =
        writeLocalPlaylist("m1022", school.keyUrl() + "/keyfile/2016/" + keyFileName(name) + ".k");
    QVERIFY(!local.isEmpty());

    const QStringList whitelist{"-protocol_whitelist", "file,http,tcp,crypto"};
    QProcess probe;
    probe.start(FFPROBE_EXECUTABLE,
                whitelist + QStringList{"-v", "error", "-show_entries",
                                        "stream=codec_name:format=duration", "-of", "json", local});
    QVERIFY(probe.waitForFinished(60000));
    QCOMPARE(probe.exitCode(), 0);
    const QJsonObject info = QJsonDocument::fromJson(probe.readAllStandardOutput()).object();
    QStringList codecs;
    for (const QJsonValue& s : info.value("streams").toArray()) {
        codecs.append(s.toObject().value("codec_name").toString());
    }
    codecs.sort();
    QCOMPARE(codecs, QStringList({"aac", "h264"}));
    const double duration = info.value("format").toObject().value("duration").toString().toDouble();
    QVERIFY2(qAbs(duration - 6.0) < 0.5, qPrintable(QString::number(duration)));

    // Decode every frame; any decryption or stream error shows on the error level.
    QProcess decode;
    decode.start(FFMPEG_EXECUTABLE, whitelist + QStringList{"-v", "error", "-nostdin", "-i", local,
                                                            "-map", "0", "-f", "null", "-"});
    QVERIFY(decode.waitForFinished(60000));
    QCOMPARE(decode.exitCode(), 0);
    QCOMPARE(QString::fromUtf8(decode.readAllStandardError()), QString());
}

void TestSchoolStream::ffmpegFailsWithAnotherKey()
{
    // Guards the check above: the segments really need their own key.
    const QString otherKey =
        school.keyUrl() + "/keyfile/2016/" +
        keyFileName(mediaSeed("m1013").value("keyName").toString().toLatin1()) + ".k";
    const QString local = writeLocalPlaylist("m1022", otherKey);
    QProcess decode;
    decode.start(FFMPEG_EXECUTABLE, {"-protocol_whitelist", "file,http,tcp,crypto", "-v", "error",
                                     "-nostdin", "-i", local, "-map", "0", "-f", "null", "-"});
    QVERIFY(decode.waitForFinished(60000));
    QVERIFY(decode.exitCode() != 0 || !decode.readAllStandardError().isEmpty());
}

void TestSchoolStream::statusSequence_data()
{
    QTest::addColumn<QJsonObject>("fault");
    QTest::addColumn<QList<int>>("statuses");
    QTest::newRow("every third") << QJsonObject{{"status", 500}, {"every", 3}}
                                 << QList<int>{200, 200, 500, 200, 200, 500};
    QTest::newRow("twice, then well")
        << QJsonObject{{"status", 503}, {"times", 2}} << QList<int>{503, 503, 200, 200};
    QTest::newRow("for ever") << QJsonObject{{"status", 500}} << QList<int>{500, 500, 500};
    QTest::newRow("every second, twice") << QJsonObject{{"status", 404}, {"every", 2}, {"times", 2}}
                                         << QList<int>{200, 404, 200, 404, 200, 200};
}

void TestSchoolStream::statusSequence()
{
    QFETCH(QJsonObject, fault);
    QFETCH(QList<int>, statuses);
    fault.insert("route", "/stream/m1022/seg00001.ts");
    QVERIFY2(school.setFaults({fault}), qPrintable(school.errorString()));
    QList<int> seen;
    for (int i = 0; i < statuses.size(); ++i) {
        seen.append(client->get(school.apiUrl() + "/stream/m1022/seg00001.ts").status);
    }
    // Another segment is not matched by the rule.
    const int neighbour = client->get(school.apiUrl() + "/stream/m1022/seg00002.ts").status;
    QVERIFY(school.clearFaults());
    QCOMPARE(seen, statuses);
    QCOMPARE(neighbour, 200);
}

void TestSchoolStream::latencyAndStall()
{
    const QString url = school.apiUrl() + "/img/course/101.jpg";
    QVERIFY(school.setFaults({QJsonObject{{"route", "/img/*"}, {"latency", 300}}}));
    SchoolClient::Reply reply = client->get(url);
    QCOMPARE(reply.status, 200);
    QVERIFY2(reply.elapsedMs >= 290, qPrintable(QString::number(reply.elapsedMs)));

    QVERIFY(school.setFaults({QJsonObject{{"route", "/img/*"}, {"stall", 2000}, {"times", 1}}}));
    reply = client->get(url, QByteArray(), 500);
    QVERIFY(reply.networkError); // nothing within half a second
    QVERIFY(reply.body.isEmpty());
    reply = client->get(url); // the rule has spent its one time
    QCOMPARE(reply.status, 200);
    QVERIFY(school.clearFaults());
}

void TestSchoolStream::cutBody()
{
    const QString name = "seg00000.ts";
    QFile file(lessonDir("m1022") + "/" + name);
    QVERIFY(file.open(QIODevice::ReadOnly));
    QVERIFY(school.setFaults({QJsonObject{{"route", "/stream/*/seg*"}, {"cut", 1000}}}));
    const SchoolClient::Reply reply = client->get(school.apiUrl() + "/stream/m1022/" + name);
    QVERIFY(school.clearFaults());
    QVERIFY(reply.networkError);
    QCOMPARE(reply.announcedLength, file.size());
    QVERIFY(reply.body.size() <= 1000);
}

void TestSchoolStream::htmlInsteadOfJson()
{
    QVERIFY(school.setFaults({QJsonObject{{"route", "*/GetMyCourseList/*"}, {"html", true}}}));
    const SchoolClient::Reply reply =
        client->call("/course_app/GetMyCourseList/", {{"key", client->sid}}, {client->sid, "3"});
    QVERIFY(school.clearFaults());
    QCOMPARE(reply.status, 200);
    QVERIFY(reply.body.startsWith("<!DOCTYPE html>"));
    QJsonParseError error;
    QJsonDocument::fromJson(reply.body, &error);
    QVERIFY(error.error != QJsonParseError::NoError);
}

void TestSchoolStream::bandwidthCap()
{
    // A segment of some 30 KB at 100 KB/s takes about 0.3 s, never much less.
    const QString name = "seg00000.ts";
    const qint64 size = QFileInfo(lessonDir("m1022") + "/" + name).size();
    const qint64 rate = 100000;
    QVERIFY(size > 20000);
    QVERIFY(school.setFaults({QJsonObject{{"route", "/stream/*"}, {"rate", "100k"}}}));
    const SchoolClient::Reply reply = client->get(school.apiUrl() + "/stream/m1022/" + name);
    QVERIFY(school.clearFaults());
    QCOMPARE(reply.body.size(), size);
    const qint64 floorMs = size * 1000 / rate * 8 / 10;
    QVERIFY2(reply.elapsedMs >= floorMs,
             qPrintable(QString("%1 ms for %2 bytes").arg(reply.elapsedMs).arg(size)));
}

void TestSchoolStream::chunkedBody()
{
    QFile file(SchoolProcess::mediaDir() + "/img/course/102.jpg");
    QVERIFY(file.open(QIODevice::ReadOnly));
    QVERIFY(school.setFaults({QJsonObject{{"route", "/img/*"}, {"chunked", true}}}));
    const SchoolClient::Reply reply = client->get(school.apiUrl() + "/img/course/102.jpg");
    QVERIFY(school.clearFaults());
    QCOMPARE(reply.announcedLength, qint64(-1));
    QCOMPARE(reply.body, file.readAll());
}

void TestSchoolStream::playlistFaults_data()
{
    QTest::addColumn<QString>("mode");
    QTest::newRow("crlf") << "crlf";
    QTest::newRow("absolute") << "absolute";
    QTest::newRow("unsafe") << "unsafe";
}

void TestSchoolStream::playlistFaults()
{
    QFETCH(QString, mode);
    QVERIFY(school.setFaults({QJsonObject{{"route", "*.m3u8"}, {"playlist", mode}}}));
    const QByteArray text = fetchPlaylist(short1022);
    QVERIFY(school.clearFaults());
    QVERIFY(text.startsWith("#EXTM3U"));
    QList<QByteArray> segments;
    for (const QByteArray& line : text.split('\n')) {
        if (!line.trimmed().isEmpty() && !line.startsWith('#')) {
            segments.append(line);
        }
    }
    QCOMPARE(segments.size(), 3);
    if (mode == "crlf") {
        QCOMPARE(text.count("\r\n"), text.count('\n'));
        QCOMPARE(segments.first(), QByteArray("seg00000.ts\r"));
    } else if (mode == "absolute") {
        QCOMPARE(segments.first(), school.apiUrl().toLatin1() + "/stream/m1022/seg00000.ts");
        QCOMPARE(client->get(QString::fromLatin1(segments.last())).status, 200);
    } else {
        QCOMPARE(segments.at(0), QByteArray("../x.ts"));
        QCOMPARE(segments.at(1), QByteArray("a\\b.ts"));
        QCOMPARE(segments.at(2), QByteArray("seg00002.ts"));
    }
}

// What a client makes of a lesson's playlist, as a local file for ffmpeg: the best variant
// of a master playlist followed, every key line pointed at the key-file server, every
// address resolved against the playlist's own. `served` gets the answer's address and text.
QString TestSchoolStream::clientPlaylist(const Lesson& lesson, QByteArray* served, QString* failure)
{
    QJsonObject data;
    QByteArray text = fetchPlaylist(lesson, &data);
    QUrl url(data.value("url").toString());
    *served = url.toString().toLatin1() + '\n' + text;
    QList<QByteArray> lines = text.split('\n');
    if (text.contains("#EXT-X-STREAM-INF:")) {
        int best = -1;
        QByteArray variant;
        for (int i = 0; i + 1 < lines.size(); ++i) {
            const int bandwidth =
                QRegularExpression("BANDWIDTH=(\\d+)").match(lines.at(i)).captured(1).toInt();
            if (lines.at(i).startsWith("#EXT-X-STREAM-INF:") && bandwidth > best) {
                best = bandwidth;
                variant = lines.at(i + 1);
            }
        }
        url = url.resolved(QUrl(QString::fromLatin1(variant)));
        const SchoolClient::Reply reply = client->get(url.toString(), cookieFor(data));
        if (reply.status != 200) {
            *failure = QString("variant %1 answered %2").arg(url.toString()).arg(reply.status);
            return QString();
        }
        lines = reply.body.split('\n');
    }
    static const QRegularExpression uri("URI=\"([^\"]*)\"");
    QString keyFileUrl;
    QByteArray out;
    for (QByteArray line : lines) {
        const QRegularExpressionMatch m = uri.match(QString::fromLatin1(line));
        if (line.startsWith("#EXT-X-KEY:") && m.hasMatch()) {
            if (keyFileUrl.isEmpty()) {
                const QByteArray name = client->get(m.captured(1), cookieFor(data)).body;
                keyFileUrl = school.keyUrl() + "/keyfile/2016/" + keyFileName(name) + ".k";
            }
            line.replace(m.capturedStart(1), m.capturedLength(1), keyFileUrl.toLatin1());
        } else if (line.startsWith("#EXT-X-MAP:") && m.hasMatch()) {
            line.replace(m.capturedStart(1), m.capturedLength(1),
                         url.resolved(QUrl(m.captured(1))).toEncoded());
        } else if (!line.trimmed().isEmpty() && !line.startsWith('#')) {
            line = url.resolved(QUrl(QString::fromLatin1(line.trimmed()))).toEncoded();
        }
        out += line + '\n';
    }
    const QString path = temp.filePath(lesson.media + "-client.m3u8");
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate) || file.write(out) != out.size()) {
        *failure = "cannot write " + path;
        return QString();
    }
    return path;
}

void TestSchoolStream::playlistVariantsDecode_data()
{
    QTest::addColumn<QJsonObject>("fault");
    QTest::addColumn<bool>("fmp4");
    // Matched against the answer's address, a line break and the playlist text as served.
    QTest::addColumn<QString>("served");
    const QJsonObject onPlaylist{{"route", "*.m3u8"}};
    auto mode = [&](const char* name) {
        QJsonObject fault = onPlaylist;
        fault.insert("playlist", name);
        return fault;
    };
    QTest::newRow("query")
        << mode("query") << false
        << "\nseg00000\\.ts\\?token=ab/cd&e=1\n(.|\n)*\nseg00002\\.ts\\?token=ab/"
           "cd&e=1\n";
    QTest::newRow("subfolder, fMP4")
        << mode("subfolder") << true
        << "\n#EXT-X-MAP:URI=\"sub/init\\.mp4\"\n(.|\n)*\nsub/seg00000\\.m4s\n";
    QTest::newRow("keyformat") << mode("keyformat") << false
                               << "\n#EXT-X-KEY:METHOD=AES-128,KEYFORMAT=\"identity\","
                                  "KEYFORMATVERSIONS=\"1\",URI=\"[^\"]+\",IV=0x[0-9a-f]{32}\n";
    QTest::newRow("rotate") << mode("rotate") << false
                            << "\nseg00000\\.ts\n#EXT-X-KEY:METHOD=AES-128,URI=\"[^\"]+/key\","
                               "IV=0x[0-9a-f]{32}\n#EXTINF:[^\n]+\nseg00001\\.ts\n";
    QTest::newRow("master") << mode("master") << false
                            << "^[^\n]+\n#EXTM3U\n(.|\n)*BANDWIDTH=150000\nlo/index\\.m3u8\n(.|\n)*"
                               "BANDWIDTH=1500000\nhi/index\\.m3u8\\?v=2\n";
    QTest::newRow("noendlist") << mode("noendlist") << false
                               << "^(?!(.|\n)*#EXT-X-ENDLIST)(.|\n)*\nseg00002\\.ts$";
    QTest::newRow("urlQuery")
        << QJsonObject{{"route", "*/GetKeysAndUrlByLid/*"}, {"urlQuery", "auth=x/y/z"}} << false
        << "^http://127\\.0\\.0\\.1:\\d+/stream/m1022/index\\.m3u8\\?auth=x/y/z\n#EXTM3U\n";
    QTest::newRow("fMP4") << QJsonObject() << true
                          << "\n#EXT-X-KEY:METHOD=AES-128,URI=\"[^\"]+/stream/m1027/key\","
                             "IV=0x[0-9a-f]{32}\n#EXT-X-MAP:URI=\"init\\.mp4\"\n";
}

void TestSchoolStream::playlistVariantsDecode()
{
    QFETCH(QJsonObject, fault);
    QFETCH(bool, fmp4);
    QFETCH(QString, served);
    QVERIFY(school.setFaults(fault.isEmpty() ? QJsonArray() : QJsonArray{fault}));
    QByteArray text;
    QString failure;
    const QString local = clientPlaylist(fmp4 ? fmp41027 : short1022, &text, &failure);
    if (fault.value("playlist") == "master") {
        const QString master = QString::fromLatin1(text.left(text.indexOf('\n')));
        QCOMPARE(client->get(QUrl(master).resolved(QUrl("lo/index.m3u8")).toString()).status, 404);
    }
    QVERIFY(school.clearFaults());
    QVERIFY2(!local.isEmpty(), qPrintable(failure));
    QVERIFY2(QRegularExpression(served).match(QString::fromLatin1(text)).hasMatch(),
             text.constData());

    // Every frame of the 6 s at 25 frames a second decodes, and nothing complains. Without
    // an end tag ffmpeg waits for more segments; two loads without news end that.
    QProcess probe;
    probe.start(FFPROBE_EXECUTABLE,
                {"-v", "error", "-allowed_extensions", "ALL", "-protocol_whitelist",
                 "file,http,tcp,crypto", "-m3u8_hold_counters", "2", "-count_frames",
                 "-show_entries", "stream=codec_name,nb_read_frames", "-of", "json", local});
    QVERIFY(probe.waitForFinished(60000));
    QCOMPARE(QString::fromUtf8(probe.readAllStandardError()), QString());
    QCOMPARE(probe.exitCode(), 0);
    QMap<QString, int> frames;
    const QJsonObject info = QJsonDocument::fromJson(probe.readAllStandardOutput()).object();
    for (const QJsonValue& stream : info.value("streams").toArray()) {
        frames.insert(stream.toObject().value("codec_name").toString(),
                      stream.toObject().value("nb_read_frames").toString().toInt());
    }
    QCOMPARE(frames.keys(), QStringList({"aac", "h264"}));
    QCOMPARE(frames.value("h264"), 150);
}

void TestSchoolStream::shortKeyName()
{
    QJsonObject data;
    const QByteArray text = fetchPlaylist(short1022, &data);
    const QString keyUri = QString::fromLatin1(text).section("URI=\"", 1).section('"', 0, 0);
    QVERIFY(school.setFaults({QJsonObject{{"route", "/stream/*/key"}, {"shortKey", true}}}));
    const QByteArray name = client->get(keyUri, cookieFor(data)).body;
    QVERIFY(school.clearFaults());
    QVERIFY(!name.isEmpty());
    QVERIFY(name.size() < 16);
}

void TestSchoolStream::faultFromCommandLine()
{
    SchoolProcess faulty({"--fault", "/img/course/*,status=502,every=2"});
    QVERIFY2(faulty.start(), qPrintable(faulty.errorString()));
    SchoolClient other(faulty.apiUrl());
    QCOMPARE(other.get(faulty.apiUrl() + "/img/course/101.jpg").status, 200);
    QCOMPARE(other.get(faulty.apiUrl() + "/img/course/101.jpg").status, 502);
    QCOMPARE(other.get(faulty.apiUrl() + "/img/avatar/1001.jpg").status, 200);
    const QJsonArray rules = faulty.stats().value("faults").toArray();
    QCOMPARE(rules.size(), 1);
    QCOMPARE(rules.at(0).toObject().value("hits").toInt(), 1);
}

void TestSchoolStream::badFaultRefused()
{
    QVERIFY(!school.addFault(QJsonObject{{"route", "/x"}, {"colour", "blue"}}));
    QVERIFY(!school.addFault(QJsonObject{{"status", 500}}));
    QVERIFY(!school.addFault(QJsonObject{{"route", "/x"}, {"playlist", "sideways"}}));
    QVERIFY(!school.addFault(QJsonObject{{"route", "/x"}, {"status", 42}}));
    QCOMPARE(school.stats().value("faults").toArray().size(), 0);
}

void TestSchoolStream::statistics()
{
    QVERIFY(school.resetStats());
    QJsonObject data;
    fetchPlaylist(short1022, &data); // one key-and-address call, one playlist
    client->call("/course_app/GetMyCourseList/", {{"key", client->sid}}, {client->sid, "3"});
    client->call("/course_app/GetMyCourseList/", {{"key", client->sid}}, {client->sid, "bad"});
    client->get(school.apiUrl() + "/stream/m1022/seg00000.ts");

    const QJsonObject stats = school.stats();
    QCOMPARE(stats.value("requests").toInt(), 5);
    const QJsonObject routes = stats.value("routes").toObject();
    QCOMPARE(routes.value("GetKeysAndUrlByLid").toInt(), 1);
    QCOMPARE(routes.value("playlist").toInt(), 1);
    QCOMPARE(routes.value("GetMyCourseList").toInt(), 2);
    QCOMPARE(routes.value("segment").toInt(), 1);
    QCOMPARE(stats.value("paths").toObject().value("/stream/m1022/seg00000.ts").toInt(), 1);
    QCOMPARE(stats.value("badSignatures").toInt(), 1);
    const QJsonArray cookies = stats.value("cookies").toArray();
    QCOMPARE(cookies.size(), 1);
    QCOMPARE(cookies.at(0).toObject().value("route").toString(), QString("playlist"));
    QCOMPARE(cookies.at(0).toObject().value("cookie").toString(),
             "keys=" + data.value("keys").toString());
}

void TestSchoolStream::stopsPromptlyDuringStall()
{
    SchoolProcess stalled({"--fault", "/img/*,stall=60000"});
    QVERIFY2(stalled.start(), qPrintable(stalled.errorString()));
    SchoolClient other(stalled.apiUrl());
    QVERIFY(other.get(stalled.apiUrl() + "/img/course/101.jpg", QByteArray(), 300).networkError);
    // The stalled handler is still waiting in the server now.
    QElapsedTimer clock;
    clock.start();
    stalled.stop();
    QVERIFY(!stalled.isRunning());
    QVERIFY2(clock.elapsed() < 3000, qPrintable(QString::number(clock.elapsed())));
}

void TestSchoolStream::restartOnSamePortsAndDrop()
{
    SchoolProcess restarted;
    QVERIFY2(restarted.start(), qPrintable(restarted.errorString()));
    const QString api = restarted.apiUrl(), keys = restarted.keyUrl();
    const QString picture = api + "/img/course/101.jpg";
    SchoolClient other(api);
    QCOMPARE(other.get(picture).status, 200);

    // A connection that is reset before any reply, while the control endpoint still answers.
    QVERIFY(restarted.setFaults({QJsonObject{{"route", "/img/*"}, {"drop", true}}}));
    const SchoolClient::Reply dropped = other.get(picture);
    QVERIFY(dropped.networkError);
    QCOMPARE(dropped.status, 0);
    // It reached the school (Qt may send it once more on a fresh connection).
    QVERIFY(restarted.stats().value("routes").toObject().value("image").toInt() >= 2);

    restarted.stop();
    QVERIFY(other.get(picture, QByteArray(), 2000).networkError); // refused: nobody listens
    QVERIFY2(restarted.restart(200), qPrintable(restarted.errorString()));
    QCOMPARE(restarted.apiUrl(), api);
    QCOMPARE(restarted.keyUrl(), keys);
    QCOMPARE(other.get(picture).status, 200); // a new process: no faults, no counts
}

QTEST_GUILESS_MAIN(TestSchoolStream)
#include "tst_schoolstream.moc"
