#pragma once

#include <QHash>
#include <QJsonArray>
#include <QJsonObject>
#include <QString>
#include <QStringList>

#include <memory>

class QNetworkAccessManager;
class QNetworkRequest;
class QProcess;
class QTemporaryDir;

// Runs the stand-in school (tamix-school) as a child process on free loopback ports for one
// test, and stops it in the destructor; the kernel kills it if the test dies first (ChildProcess).
//
//     SchoolProcess school;
//     QVERIFY2(school.start(), qPrintable(school.errorString()));
//     qputenv("TAMIX_API_URL", school.apiUrl().toUtf8());
//     qputenv("TAMIX_KEY_URL", school.keyUrl().toUtf8());
//     school.addFault({{"route", "/stream/*/seg00001.ts"}, {"status", 500}, {"times", 2}});
//     ... exercise the client ...
//     QCOMPARE(school.stats()["routes"].toObject()["segment"].toInt(), 7);
//
// Fault objects take the keys of `tamix-school --help`: route (path glob), every, times,
// latency, rate, status, cut, stall, html, chunked, drop, playlist, urlQuery, shortKey,
// redirect, body, inflate, endless, bomb (a small PNG that claims 20000 x 20000 pixels).
//     {"route": "*.m3u8", "redirect": "http://localhost:PORT"}   a 302 to that origin with the
//         same path and query (add "times" so that the target is not redirected again)
//     {"route": "*/dologin/*", "body": "{\"flag\":\"0\"}"}   this answer in place of the
//         route's own (application/json when it starts with '{', text/html otherwise)
//     {"route": "/stream/*/seg00000.ts", "inflate": 1073741824}   the body padded with zero
//         bytes to that length, announced; "endless": true pads it without end, chunked
//     {"route": "/stream/*/seg*", "drop": true}     reset the connection, no reply at all
//         (Qt sends a request once more when a reused connection breaks before the reply;
//         with "times": 1 a Qt client may never notice)
//     {"route": "*.m3u8", "playlist": MODE}         MODE one of crlf, absolute, unsafe,
//         query (segment and init addresses end in "?token=ab/cd&e=1"), subfolder ("sub/NAME"),
//         keyformat (KEYFORMAT="identity",KEYFORMATVERSIONS="1" before URI in the key line),
//         rotate (the key line again before the middle segment), master (a master playlist:
//         "lo/index.m3u8" at BANDWIDTH=150000 answers 404, "hi/index.m3u8?v=2" at
//         BANDWIDTH=1500000 is the media playlist, keys cookie needed, segments under hi/),
//         noendlist (no #EXT-X-ENDLIST), oddnames (MPEG-TS segments named "seg00000",
//         every second one "seg00001.jpg")
//     {"route": "*/GetKeysAndUrlByLid/*", "urlQuery": "auth=x/y/z"}   the answer's "url"
//         ends in "?auth=x/y/z"
// Lesson 1027 of course 102 (media m1027) is fMP4: #EXT-X-MAP:URI="init.mp4" after the key
// line; the init section and the .m4s segments are all AES-128 encrypted with the line's IV.
// Segments are served as video/mp2t (.ts) or video/mp4 (.m4s, .mp4), playlists as
// application/vnd.apple.mpegurl, html faults as text/html.
// stats() holds: requests (total), routes {name: count} with the names getSessionId,
// dologin, doregister, doforget, GetMyCourseList, GetMyCourseInfoForPc,
// GetMyCourseInfoForPcDownLoad, GetKeysAndUrlByLid, PushLearnStatus, getPcUpdate, myclass,
// playlist (the variant playlists of the master fault too), key, segment, keyfile, image,
// installer, static, site; paths {path: count};
// cookies [{route, path, cookie}] (header values as decoded by the server);
// learnStatus [{username, class_id, lesson_id, stutas, c_type}]; badSignatures (total);
// badSignatureRoutes {name: count}; faults (the rules with their seen/hit counters).
//
// Control calls block for at most a few seconds and return false (or an empty object) when
// the server does not answer. Use from the thread that created the object.
class QNetworkReply;

class SchoolProcess
{
public:
    enum class Tls {
        None,
        // HTTPS with a certificate of a test CA written to caFile(); the same CA after a restart.
        Trusted,
        // HTTPS with a certificate of a CA that no one learns: every client must refuse it.
        Untrusted
    };

    explicit SchoolProcess(const QStringList& extraArguments = QStringList());
    ~SchoolProcess();
    SchoolProcess(const SchoolProcess&) = delete;
    SchoolProcess& operator=(const SchoolProcess&) = delete;

    // Starts the server and waits until it answers; false with errorString() otherwise.
    // The first start picks free ports; a later one (after stop()) listens on the same ports
    // again, so that clients find the school where it was.
    bool start(int timeoutMs = 15000);
    // Before start().
    void setTls(Tls mode) { tls = mode; }
    // The PEM file of the test CA for Tls::Trusted, once started; empty otherwise.
    QString caFile() const { return ca; }
    // Terminates the server and waits for it; safe to call twice. The ports stay reserved
    // for start() only by convention: another program could take them meanwhile.
    void stop();
    // An outage: stops the server, runs the event loop for `downMs` (clients get "connection
    // refused" then) and starts it again on the same ports. Faults and statistics start
    // afresh; bound sessions stay.
    bool restart(int downMs, int timeoutMs = 15000);
    bool isRunning() const;
    // The server's process id (0 when not running), for benchmarks that watch its CPU time.
    qint64 processId() const;
    QString errorString() const { return error; }

    // "http://127.0.0.1:PORT" (https with TLS) of the API server and of the key-file server.
    QString apiUrl() const { return api; }
    QString keyUrl() const { return keys; }
    // Points a client started from this process at the school (TAMIX_API_URL, TAMIX_KEY_URL).
    void pointClientHere() const;

    bool setFaults(const QJsonArray& faults); // replaces every rule; counters restart
    bool addFault(const QJsonObject& fault);
    bool clearFaults() { return setFaults(QJsonArray()); }
    QJsonObject stats();
    bool resetStats();
    // Binds a session id to a user as if that session had logged in (empty user: logged out).
    bool bindSession(const QString& sid, const QString& username);
    // The school forgets every session (logins and bound ones), as after an expiry or a restart
    // that keeps none: calls with an old key answer "请先登录".
    bool forgetSessions();
    // Changes the version answer of the version-check call.
    bool setDesktopVersion(const QString& version, const QString& content = QString());

    // Waits at most `timeoutMs` for a reply; aborts it and returns false when it did not finish.
    static bool waitForReply(QNetworkReply* reply, int timeoutMs);

    static QString executable();
    // Where the generated lessons lie: mediaDir() + "/lessons/<media id>/" holds index.m3u8,
    // key.bin and the segments; mediaDir() + "/img/" the pictures.
    static QString mediaDir();
    // The committed seed file: users, courses, lessons, media.
    static QString seedFile();

private:
    bool post(const QString& path, const QByteArray& body);
    QByteArray get(const QString& path, bool* ok);
    QNetworkRequest controlRequest(const QString& path) const;

    QStringList arguments;
    QProcess* process = nullptr;
    QNetworkAccessManager* manager = nullptr;
    QString api;
    QString keys;
    QString error;
    Tls tls = Tls::None;
    std::unique_ptr<QTemporaryDir> caDir;
    QString ca;
    QHash<QString, QString> sessions; // sid -> user name, bound again at every start
    int apiPort = 0;                  // 0 until the first start, then kept for the next ones
    int keyPort = 0;
};
