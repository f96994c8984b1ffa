#include "SchoolProcess.h"

#include "ChildProcess.h"

#include <QUrl>

#include <QElapsedTimer>
#include <QEventLoop>
#include <QJsonDocument>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QNetworkRequest>
#include <QProcess>
#include <QRegularExpression>
#include <QSslConfiguration>
#include <QTemporaryDir>
#include <QThread>
#include <QTimer>
#include <QUrl>

namespace {

const int kControlTimeoutMs = 5000;

} // namespace

bool SchoolProcess::waitForReply(QNetworkReply* reply, int timeoutMs)
{
    if (!reply->isFinished()) {
        QEventLoop loop;
        QTimer timer;
        timer.setSingleShot(true);
        QObject::connect(reply, &QNetworkReply::finished, &loop, &QEventLoop::quit);
        QObject::connect(&timer, &QTimer::timeout, &loop, &QEventLoop::quit);
        timer.start(timeoutMs);
        loop.exec();
    }
    if (!reply->isFinished()) {
        reply->abort();
        return false;
    }
    return true;
}

SchoolProcess::SchoolProcess(const QStringList& extraArguments) : arguments(extraArguments) {}

SchoolProcess::~SchoolProcess()
{
    // Control connections end before the server does: a TLS connection that the server
    // drops while the manager goes may take its certificates with it unfreed.
    delete manager;
    stop();
}

QString SchoolProcess::executable()
{
    return QStringLiteral(TAMIX_SCHOOL_EXECUTABLE);
}

QString SchoolProcess::mediaDir()
{
    return QStringLiteral(TAMIX_SCHOOL_MEDIA_DIR);
}

QString SchoolProcess::seedFile()
{
    return QStringLiteral(TAMIX_SCHOOL_SEED);
}

bool SchoolProcess::start(int timeoutMs)
{
    stop();
    error.clear();
    // Killed with the test even when the test crashes, so that no school outlives it.
    process = new ChildProcess;
    // The server's complaints belong in the test log.
    process->setProcessChannelMode(QProcess::ForwardedErrorChannel);
    QStringList args{QStringLiteral("--api-port"), QString::number(apiPort),
                     QStringLiteral("--key-port"), QString::number(keyPort),
                     QStringLiteral("--media"),    mediaDir()};
    for (auto it = sessions.cbegin(); it != sessions.cend(); ++it) {
        args << QStringLiteral("--session") << it.key() + QLatin1Char('=') + it.value();
    }
    if (tls == Tls::Trusted) {
        // One folder for the object's life: a restarted school finds its CA there again.
        if (!caDir) {
            caDir = std::make_unique<QTemporaryDir>();
        }
        args << QStringLiteral("--tls") << QStringLiteral("--tls-ca")
             << caDir->filePath(QStringLiteral("ca.pem"));
    } else if (tls == Tls::Untrusted) {
        args << QStringLiteral("--tls-untrusted");
    }
    process->start(executable(), args + arguments);
    if (!process->waitForStarted(timeoutMs)) {
        error = QStringLiteral("cannot start ") + executable() + QStringLiteral(": ") +
                process->errorString();
        stop();
        return false;
    }

    QElapsedTimer clock;
    clock.start();
    while (!process->canReadLine() && clock.elapsed() < timeoutMs &&
           process->state() == QProcess::Running) {
        process->waitForReadyRead(100);
    }
    const QString line = QString::fromUtf8(process->readLine()).trimmed();
    static const QRegularExpression pattern(
        QStringLiteral("api=(https?://127\\.0\\.0\\.1:\\d+) key=(https?://127\\.0\\.0\\.1:\\d+)"
                       "(?: ca=(.+))?$"));
    const QRegularExpressionMatch match = pattern.match(line);
    if (!match.hasMatch()) {
        error = QStringLiteral("the school did not name its ports (exit code %1): ")
                    .arg(process->exitCode()) +
                line;
        stop();
        return false;
    }
    api = match.captured(1);
    keys = match.captured(2);
    ca = match.captured(3);
    apiPort = QUrl(api).port();
    keyPort = QUrl(keys).port();

    while (clock.elapsed() < timeoutMs) {
        bool ok = false;
        get(QStringLiteral("/_school/ping"), &ok);
        if (ok) {
            return true;
        }
        if (process->state() != QProcess::Running) {
            break;
        }
        QThread::msleep(50);
    }
    error = QStringLiteral("the school does not answer on ") + api;
    stop();
    return false;
}

void SchoolProcess::stop()
{
    if (!process) {
        return;
    }
    if (process->state() != QProcess::NotRunning) {
        process->terminate();
        if (!process->waitForFinished(5000)) {
            process->kill();
            process->waitForFinished(2000);
        }
    }
    delete process;
    process = nullptr;
}

bool SchoolProcess::restart(int downMs, int timeoutMs)
{
    stop();
    // The event loop keeps running, so that a client under test meets the outage.
    QEventLoop loop;
    QTimer::singleShot(downMs, &loop, &QEventLoop::quit);
    loop.exec();
    return start(timeoutMs);
}

bool SchoolProcess::isRunning() const
{
    return process && process->state() == QProcess::Running;
}

qint64 SchoolProcess::processId() const
{
    return isRunning() ? process->processId() : 0;
}

QByteArray SchoolProcess::get(const QString& path, bool* ok)
{
    *ok = false;
    if (api.isEmpty()) {
        return QByteArray();
    }
    if (!manager) {
        manager = new QNetworkAccessManager;
    }
    QNetworkReply* reply = manager->get(controlRequest(path));
    QByteArray body;
    if (waitForReply(reply, kControlTimeoutMs) && reply->error() == QNetworkReply::NoError) {
        body = reply->readAll();
        *ok = true;
    }
    delete reply;
    return body;
}

bool SchoolProcess::post(const QString& path, const QByteArray& body)
{
    if (api.isEmpty()) {
        error = QStringLiteral("the school is not running");
        return false;
    }
    if (!manager) {
        manager = new QNetworkAccessManager;
    }
    QNetworkRequest request = controlRequest(path);
    request.setHeader(QNetworkRequest::ContentTypeHeader, QStringLiteral("application/json"));
    QNetworkReply* reply = manager->post(request, body);
    bool ok = waitForReply(reply, kControlTimeoutMs) && reply->error() == QNetworkReply::NoError;
    if (!ok) {
        const QJsonObject answer = QJsonDocument::fromJson(reply->readAll()).object();
        error = QStringLiteral("control call %1 failed: %2")
                    .arg(path, answer.value(QLatin1String("error")).toString(reply->errorString()));
    }
    delete reply;
    return ok;
}

QNetworkRequest SchoolProcess::controlRequest(const QString& path) const
{
    QNetworkRequest request(QUrl(api + path));
    // The control calls trust the test CA on their own, whatever the client under test
    // trusts; the untrusted school must stay controllable by its test all the same.
    QSslConfiguration config = request.sslConfiguration();
    if (!ca.isEmpty()) {
        config.addCaCertificates(ca);
    } else if (tls == Tls::Untrusted) {
        config.setPeerVerifyMode(QSslSocket::VerifyNone);
    }
    request.setSslConfiguration(config);
    return request;
}

bool SchoolProcess::setFaults(const QJsonArray& faults)
{
    return post(QStringLiteral("/_school/faults"), QJsonDocument(faults).toJson());
}

bool SchoolProcess::addFault(const QJsonObject& fault)
{
    return post(QStringLiteral("/_school/faults/add"), QJsonDocument(fault).toJson());
}

QJsonObject SchoolProcess::stats()
{
    bool ok = false;
    const QByteArray body = get(QStringLiteral("/_school/stats"), &ok);
    return ok ? QJsonDocument::fromJson(body).object() : QJsonObject();
}

bool SchoolProcess::resetStats()
{
    return post(QStringLiteral("/_school/stats/reset"), QByteArray());
}

bool SchoolProcess::bindSession(const QString& sid, const QString& username)
{
    const QJsonObject body{{QStringLiteral("sid"), sid}, {QStringLiteral("username"), username}};
    const bool bound = post(QStringLiteral("/_school/session"), QJsonDocument(body).toJson());
    if (bound && !username.isEmpty()) {
        sessions.insert(sid, username); // kept across restart()
    } else if (bound) {
        sessions.remove(sid);
    }
    return bound;
}

bool SchoolProcess::forgetSessions()
{
    sessions.clear();
    return post(QStringLiteral("/_school/sessions/forget"), QByteArray("{}"));
}

void SchoolProcess::pointClientHere() const
{
    qputenv("TAMIX_API_URL", api.toUtf8());
    qputenv("TAMIX_KEY_URL", keys.toUtf8());
}

bool SchoolProcess::setDesktopVersion(const QString& version, const QString& content)
{
    QJsonObject body{{QStringLiteral("version"), version}};
    if (!content.isNull()) {
        body.insert(QStringLiteral("content"), content);
    }
    return post(QStringLiteral("/_school/version"), QJsonDocument(body).toJson());
}
