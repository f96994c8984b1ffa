// The request helper against a small local HTTP server.
#include "HttpHelper.h"
#include "QuitNotifier.h"

#include <QTcpServer>
#include <QtTest>
#include <httplib.h>

#include <atomic>
#include <thread>

class TestHttpHelper : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase();
    void cleanupTestCase();
    void init() { QuitNotifier::instance()->reset(); }

    void asyncBodies_data();
    void asyncBodies();
    void twoRequestsTwoAnswers();
    void unreachableServerGivesEmptyText();
    void boundedAnswers_data();
    void boundedAnswers();
    void syncTimesOut();
    void syncReturnsAtOnceOnQuit();
    void syncFromWorkerThread();

private:
    QString url(const char* path) const
    {
        return QStringLiteral("http://127.0.0.1:%1%2").arg(port).arg(QLatin1String(path));
    }

    httplib::Server server;
    std::thread serverThread;
    int port = 0;
    std::atomic_bool releaseStall{false};
};

void TestHttpHelper::initTestCase()
{
    server.Get("/hello", [](const httplib::Request&, httplib::Response& res) {
        res.set_content("{\"flag\":\"1\",\"infos\":\"你好\"}", "application/json");
    });
    server.Get("/zero", [](const httplib::Request&, httplib::Response& res) {
        res.set_content(std::string("before\0after", 12), "text/plain");
    });
    server.Get("/error", [](const httplib::Request&, httplib::Response& res) {
        res.status = 500;
        res.set_content("server broke", "text/plain");
    });
    server.Get("/stall", [this](const httplib::Request&, httplib::Response& res) {
        for (int i = 0; i < 100 && !releaseStall; ++i) {
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
        }
        res.set_content("late", "text/plain");
    });
    // Headers at once, then a byte every 100 ms: a body that would take 5 s.
    server.Get("/trickle", [this](const httplib::Request&, httplib::Response& res) {
        res.set_content_provider(
            50, "text/plain", [this](size_t offset, size_t, httplib::DataSink& sink) {
                if (offset > 0) {
                    std::this_thread::sleep_for(std::chrono::milliseconds(100));
                }
                return !releaseStall && sink.write("x", 1);
            });
    });
    server.Get("/huge", [](const httplib::Request&, httplib::Response& res) {
        res.set_content(std::string(5 * 1024 * 1024, 'a'), "text/plain");
    });
    port = server.bind_to_any_port("127.0.0.1");
    QVERIFY(port > 0);
    serverThread = std::thread([this] { server.listen_after_bind(); });
}

void TestHttpHelper::cleanupTestCase()
{
    releaseStall = true;
    server.stop();
    if (serverThread.joinable()) {
        serverThread.join();
    }
}

void TestHttpHelper::asyncBodies_data()
{
    QTest::addColumn<QString>("path");
    QTest::addColumn<QString>("body");
    QTest::newRow("utf-8 json") << "/hello"
                                << QStringLiteral("{\"flag\":\"1\",\"infos\":\"你好\"}");
    QTest::newRow("cut at zero byte") << "/zero"
                                      << "before";
    QTest::newRow("error status keeps its body") << "/error"
                                                 << "server broke";
}

void TestHttpHelper::asyncBodies()
{
    QFETCH(QString, path);
    QFETCH(QString, body);
    HttpHelper http;
    QSignalSpy spy(&http, &HttpHelper::done);
    http.get(url(path.toLatin1().constData()));
    QVERIFY(spy.wait(5000));
    QCOMPARE(spy.takeFirst().at(0).toString(), body);
}

void TestHttpHelper::twoRequestsTwoAnswers()
{
    HttpHelper http;
    QSignalSpy spy(&http, &HttpHelper::done);
    http.get(url("/hello"));
    http.get(url("/error"));
    QTRY_COMPARE_WITH_TIMEOUT(spy.size(), 2, 5000);
    QStringList bodies{spy.at(0).at(0).toString(), spy.at(1).at(0).toString()};
    bodies.sort();
    QCOMPARE(bodies.last(), QStringLiteral("{\"flag\":\"1\",\"infos\":\"你好\"}"));
    QCOMPARE(bodies.first(), QStringLiteral("server broke"));
}

void TestHttpHelper::unreachableServerGivesEmptyText()
{
    // A port nobody listens on: bind one, then close it again.
    QTcpServer probe;
    QVERIFY(probe.listen(QHostAddress::LocalHost));
    const int closedPort = probe.serverPort();
    probe.close();
    HttpHelper http;
    QSignalSpy spy(&http, &HttpHelper::done);
    http.get(QStringLiteral("http://127.0.0.1:%1/x").arg(closedPort));
    QVERIFY(spy.wait(5000));
    QCOMPARE(spy.takeFirst().at(0).toString(), QString());

    HttpHelper sync(nullptr, true);
    QCOMPARE(sync.getSync(QStringLiteral("http://127.0.0.1:%1/x").arg(closedPort)), QString());
}

void TestHttpHelper::boundedAnswers_data()
{
    QTest::addColumn<QString>("address");
    QTest::newRow("no answer in time") << url("/stall");
    QTest::newRow("a body trickling past the time") << url("/trickle");
    QTest::newRow("larger than an answer may be") << url("/huge");
    QTest::newRow("a local file") << QStringLiteral("file:///etc/hostname");
}

// Each ends as a network failure, well within its time.
void TestHttpHelper::boundedAnswers()
{
    QFETCH(QString, address);
    HttpHelper http;
    http.setTimeout(500);
    QSignalSpy spy(&http, &HttpHelper::done);
    QElapsedTimer clock;
    clock.start();
    http.get(address);
    QVERIFY(spy.wait(4000));
    QCOMPARE(spy.takeFirst().at(0).toString(), QString());
    QVERIFY2(clock.elapsed() < 3000, qPrintable(QString::number(clock.elapsed())));
}

void TestHttpHelper::syncTimesOut()
{
    HttpHelper http(nullptr, true);
    QElapsedTimer clock;
    clock.start();
    QCOMPARE(http.getSync(url("/stall"), 300), QString());
    QVERIFY2(clock.elapsed() < 3000, qPrintable(QString::number(clock.elapsed())));
    QCOMPARE(http.getSync(url("/hello")), QStringLiteral("{\"flag\":\"1\",\"infos\":\"你好\"}"));
}

void TestHttpHelper::syncReturnsAtOnceOnQuit()
{
    HttpHelper http(nullptr, true);
    QTimer::singleShot(200, [] { QuitNotifier::instance()->requestQuit(); });
    QElapsedTimer clock;
    clock.start();
    QCOMPARE(http.getSync(url("/stall")), QString());
    QVERIFY2(clock.elapsed() < 3000, qPrintable(QString::number(clock.elapsed())));
    // Once quitting, nothing new goes out.
    QCOMPARE(http.getSync(url("/hello")), QString());
}

void TestHttpHelper::syncFromWorkerThread()
{
    // The download thread has no event loop of its own; the quit comes from the GUI thread.
    QString result = QStringLiteral("unset");
    QElapsedTimer clock;
    std::unique_ptr<QThread> worker(QThread::create([&] {
        HttpHelper http(nullptr, true);
        result = http.getSync(url("/stall"));
    }));
    clock.start();
    worker->start();
    QTest::qWait(200);
    QuitNotifier::instance()->requestQuit();
    QVERIFY(worker->wait(3000));
    QCOMPARE(result, QString());
    QVERIFY2(clock.elapsed() < 3000, qPrintable(QString::number(clock.elapsed())));
}

QTEST_GUILESS_MAIN(TestHttpHelper)
#include "tst_httphelper.moc"
