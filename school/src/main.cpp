// tamix-school: the stand-in for the school's servers, on 127.0.0.1 only.
#include "FaultRules.h"
#include "MediaLibrary.h"
#include "School.h"
#include "SchoolServer.h"
#include "Statistics.h"
#include "StopSignal.h"
#include "TlsCredentials.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>

#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <pthread.h>

namespace {

int fail(const QString& message)
{
    std::fprintf(stderr, "tamix-school: %s\n", qPrintable(message));
    return 1;
}

bool readPort(const QString& text, int* port)
{
    bool ok = false;
    *port = text.toInt(&ok);
    return ok && *port >= 0 && *port <= 65535;
}

} // namespace

int main(int argc, char* argv[])
{
    // Signals are taken by sigwait below; no worker thread may receive them.
    sigset_t stopSignals;
    sigemptyset(&stopSignals);
    sigaddset(&stopSignals, SIGINT);
    sigaddset(&stopSignals, SIGTERM);
    sigaddset(&stopSignals, SIGHUP);
    pthread_sigmask(SIG_BLOCK, &stopSignals, nullptr);
    std::signal(SIGPIPE, SIG_IGN);

    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("tamix-school"));
    QCoreApplication::setApplicationVersion(QStringLiteral("1.0"));

    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral(
        "Stand-in school for tests and the demo: the API server (signed calls, course pages,\n"
        "pictures, lesson streams, installer, control endpoint /_school/) and the key-file\n"
        "server, both on 127.0.0.1. The first line printed names the chosen ports:\n"
        "  tamix-school api=http://127.0.0.1:PORT key=http://127.0.0.1:PORT\n"
        "With --tls both speak HTTPS and the line ends in the file of the test CA:\n"
        "  tamix-school api=https://127.0.0.1:PORT key=https://127.0.0.1:PORT ca=FILE\n"
        "\n"
        "Faults (--fault, or POST a JSON array to /_school/faults) take the form\n"
        "  ROUTE,key=value,...   ROUTE is a path glob ('*' any text, '?' one character)\n"
        "  every=N      hit every N-th matching request (default 1)\n"
        "  times=N      hit at most N times (default 0: no limit)\n"
        "  latency=MS   added latency per request\n"
        "  rate=BYTES   bandwidth cap in bytes per second, shared by the rule (k, M suffixes)\n"
        "  status=CODE  answer with this HTTP error status\n"
        "  cut=BYTES    announce the whole body, send this much, close the connection\n"
        "  stall=MS     hold the reply back this long\n"
        "  trickle=MS   send the headers at once, then the body one byte every MS\n"
        "  html         an HTML error page (status 200) in place of the answer\n"
        "  chunked      send the body without a length\n"
        "  drop         reset the connection without any reply\n"
        "  playlist=MODE  alter the playlist answer:\n"
        "      crlf       CR LF line ends\n"
        "      absolute   segment addresses absolute\n"
        "      unsafe     the first two segments named \"../x.ts\" and \"a\\b.ts\"\n"
        "      query      \"?token=ab/cd&e=1\" after every segment (and init section) address\n"
        "      subfolder  segments (and init section) as \"sub/NAME\", served there\n"
        "      keyformat  KEYFORMAT and KEYFORMATVERSIONS before URI in the key line\n"
        "      rotate     the key line again before the middle segment\n"
        "      master     a master playlist: \"lo/index.m3u8\" (404) at a low BANDWIDTH,\n"
        "                 \"hi/index.m3u8?v=2\" at a high one; the latter is the media\n"
        "                 playlist (keys cookie needed), its segments served under hi/\n"
        "      noendlist  without #EXT-X-ENDLIST\n"
        "      oddnames   MPEG-TS segments named without an extension (\"seg00000\") and,\n"
        "                 every second one, as a picture (\"seg00001.jpg\")\n"
        "      disguised  MPEG-TS segments named .mp4, .aac, .mp3, .mkv and .mov in turn\n"
        "      filekey    the key line names file:///etc/passwd\n"
        "      fileseg    the first segment is file:///etc/passwd\n"
        "      otherhost  the key on \"localhost\" (another host name for this server)\n"
        "  urlQuery=TEXT  \"?TEXT\" after the playlist address of GetKeysAndUrlByLid\n"
        "  shortKey     a key name shorter than 16 characters\n"
        "  redirect=ORIGIN  a 302 to ORIGIN (\"http://localhost:PORT\") with the same path\n"
        "  body=TEXT    this answer in place of the route's own (JSON if it starts with '{')\n"
        "  inflate=BYTES  the body padded with zero bytes to this length (announced)\n"
        "  endless      the body, then zero bytes without end (chunked)\n"
        "  bomb         a small PNG that claims 20000 x 20000 pixels in place of the answer\n"
        "  range=MODE   how a Range request is answered (otherwise 206 as asked):\n"
        "      ignore     200 with the whole body\n"
        "      refuse     416\n"
        "      shifted    206 from half the asked start, so labelled in Content-Range\n"
        "      badtotal   206 from the asked start, Content-Range naming a longer whole\n"
        "Example: --fault '/stream/*,latency=40,rate=12.5M'\n"
        "         --fault '*/GetKeysAndUrlByLid/*,urlQuery=auth=x/y/z'\n"
        "\n"
        "Control (loopback API listener): GET /_school/ping, GET /_school/stats,\n"
        "POST /_school/stats/reset, GET|POST /_school/faults, POST /_school/faults/add,\n"
        "POST /_school/session {\"sid\",\"username\"}, POST /_school/sessions/forget\n"
        "(every session unknown from then on: \"请先登录\"), POST /_school/version "
        "{\"version\",\"content\"}."));
    parser.addHelpOption();
    parser.addVersionOption();
    const QCommandLineOption apiPortOption(QStringLiteral("api-port"),
                                           QStringLiteral("API server port (0: any free port)."),
                                           QStringLiteral("port"), QStringLiteral("18080"));
    const QCommandLineOption keyPortOption(
        QStringLiteral("key-port"), QStringLiteral("Key-file server port (0: any free port)."),
        QStringLiteral("port"), QStringLiteral("18081"));
    const QCommandLineOption seedOption(
        QStringLiteral("seed"),
        QStringLiteral("Seed file with users, courses and media (default: the built-in one)."),
        QStringLiteral("file"));
    const QCommandLineOption mediaOption(
        QStringLiteral("media"), QStringLiteral("Directory of the generated media."),
        QStringLiteral("dir"), QStringLiteral(TAMIX_SCHOOL_MEDIA_DIR));
    const QCommandLineOption faultOption(QStringLiteral("fault"),
                                         QStringLiteral("Switch a fault on (repeatable)."),
                                         QStringLiteral("spec"));
    const QCommandLineOption threadsOption(QStringLiteral("threads"),
                                           QStringLiteral("Worker threads per listener."),
                                           QStringLiteral("count"), QStringLiteral("32"));
    const QCommandLineOption logOption(QStringLiteral("log"),
                                       QStringLiteral("Print every request on standard error."));
    // A restarted school keeps its logged-in sessions, as a real one keeps them in its
    // database.
    const QCommandLineOption sessionOption(
        QStringLiteral("session"), QStringLiteral("Bind a session id to a user (repeatable)."),
        QStringLiteral("sid=username"));
    const QCommandLineOption tlsOption(
        QStringLiteral("tls"),
        QStringLiteral("Serve HTTPS with a certificate for 127.0.0.1 and localhost signed by a "
                       "test CA, whose certificate is written to --tls-ca."));
    const QCommandLineOption tlsCaOption(
        QStringLiteral("tls-ca"),
        QStringLiteral("PEM file of the test CA (its key beside it, FILE.key); used again when "
                       "both exist."),
        QStringLiteral("file"), QDir::temp().filePath(QStringLiteral("tamix-school-ca.pem")));
    const QCommandLineOption untrustedOption(
        QStringLiteral("tls-untrusted"),
        QStringLiteral("Serve HTTPS with a certificate of a CA that is written nowhere, which "
                       "no client trusts."));
    parser.addOptions({apiPortOption, keyPortOption, seedOption, mediaOption, faultOption,
                       threadsOption, logOption, sessionOption, tlsOption, tlsCaOption,
                       untrustedOption});
    parser.process(app);

    int apiPort = 0, keyPort = 0;
    if (!readPort(parser.value(apiPortOption), &apiPort) ||
        !readPort(parser.value(keyPortOption), &keyPort)) {
        return fail(QStringLiteral("ports are numbers from 0 to 65535"));
    }
    const int threads = parser.value(threadsOption).toInt();
    if (threads < 2 || threads > 512) {
        return fail(QStringLiteral("--threads takes 2 to 512"));
    }

    QFile seedFile(parser.isSet(seedOption) ? parser.value(seedOption)
                                            : QStringLiteral(":/seed/school.json"));
    if (!seedFile.open(QIODevice::ReadOnly)) {
        return fail(QStringLiteral("cannot read seed ") + seedFile.fileName());
    }
    const QByteArray seed = seedFile.readAll();
    const QJsonObject seedRoot = QJsonDocument::fromJson(seed).object();

    QString error;
    Statistics stats;
    MediaLibrary media;
    if (!media.load(parser.value(mediaOption), seedRoot.value(QLatin1String("media")).toArray(),
                    &error)) {
        return fail(error);
    }
    School school(media, stats);
    if (!school.loadSeed(seed, &error)) {
        return fail(error);
    }
    QHash<QString, QByteArray> pages;
    for (const char* name : {"myclass", "course", "message"}) {
        QFile page(QStringLiteral(":/web/") + QLatin1String(name) + QStringLiteral(".html"));
        if (!page.open(QIODevice::ReadOnly)) {
            return fail(QStringLiteral("page template missing: ") + page.fileName());
        }
        pages.insert(QLatin1String(name), page.readAll());
    }
    school.setPageTemplates(pages);
    for (const QString& binding : parser.values(sessionOption)) {
        if (!school.bindSession(binding.section(QLatin1Char('='), 0, 0),
                                binding.section(QLatin1Char('='), 1), &error)) {
            return fail(QStringLiteral("--session ") + binding + QStringLiteral(": ") + error);
        }
    }

    FaultRules faults;
    for (const QString& spec : parser.values(faultOption)) {
        QJsonObject rule;
        if (!FaultRules::parseArgument(spec, &rule, &error) || !faults.add(rule, &error)) {
            return fail(QStringLiteral("--fault ") + spec + QStringLiteral(": ") + error);
        }
    }

    StopSignal stop;
    SchoolServer server(school, media, faults, stats, stop);
    server.setWorkerThreads(threads);
    server.setLogRequests(parser.isSet(logOption));
    const bool untrusted = parser.isSet(untrustedOption);
    QString caAnnounced;
    if (parser.isSet(tlsOption) || untrusted) {
        const QString caFile =
            untrusted ? QString() : QDir().absoluteFilePath(parser.value(tlsCaOption));
        TlsCredentials credentials;
        if (!credentials.create(caFile, &error) || !server.setTls(credentials, &error)) {
            return fail(error);
        }
        caAnnounced = caFile.isEmpty() ? QString() : QStringLiteral(" ca=") + caFile;
    }
    if (!server.bind(apiPort, keyPort, &error)) {
        return fail(error);
    }
    std::printf("tamix-school api=%s key=%s%s\n", qPrintable(server.apiUrl()),
                qPrintable(server.keyUrl()), qPrintable(caAnnounced));
    std::fflush(stdout);
    server.start();

    int received = 0;
    sigwait(&stopSignals, &received);
    if (!server.stopWithin(std::chrono::milliseconds(1500))) {
        // Nothing is kept on disk, so leaving the lingering workers behind loses nothing.
        std::fflush(stdout);
        std::_Exit(0);
    }
    return 0;
}
