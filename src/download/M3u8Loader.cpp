#include "M3u8Loader.h"

#include "DownloadFlags.h"
#include "FileCipher.h"
#include "HttpHelper.h"
#include "JsonHelper.h"
#include "QuitNotifier.h"
#include "SegmentName.h"
#include "ServerConfig.h"
#include "URLManager.h"

#include <QDebug>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QTimer>

M3u8Loader::M3u8Loader(const FileCipher& cipher, const DownloadFlags& flags,
                       const DownloadOptions& options, QObject* parent)
    : QObject(parent), cipher(cipher), flags(flags), options(options),
      manager(new QNetworkAccessManager(this)), progressTimer(new QTimer(this))
{
    progressTimer->setInterval(options.progressIntervalMs);
    progressTimer->setTimerType(Qt::CoarseTimer);
    connect(progressTimer, &QTimer::timeout, this, &M3u8Loader::onProgressTimer);
    // Both reach this object queued when they come from another thread.
    connect(&flags, &DownloadFlags::changed, this, &M3u8Loader::onControlChanged);
    connect(QuitNotifier::instance(), &QuitNotifier::quitRequested, this,
            &M3u8Loader::onControlChanged);
}

M3u8Loader::~M3u8Loader()
{
    abortAll();
}

QString M3u8Loader::encryptStr(const QString& keyName)
{
    return encryptStr(keyName, ServerConfig::keyBaseUrl());
}

QString M3u8Loader::encryptStr(const QString& keyName, const QString& keyBaseUrl)
{
    QByteArray name = keyName.toLatin1().left(16);
    for (int i = 0; i < name.size(); ++i) {
        name[i] = char((uchar(name.at(i)) + i + 3) & 0xFF);
    }
    QString base = keyBaseUrl;
    while (base.endsWith(QLatin1Char('/'))) {
        base.chop(1);
    }
    // Shifted bytes may be '/', '?', '%' or above 127; encoded, every byte reaches the
    // key-file server as it is, also through the UTF-8 form of the stored playlist.
    return base + QStringLiteral("/keyfile/2016/") + QString::fromLatin1(name.toPercentEncoding()) +
           QStringLiteral(".k");
}

float M3u8Loader::parseSize(const QString& fileSize)
{
    QString text = fileSize;
    text.remove(QStringLiteral("MB"));
    bool ok = false;
    const float size = text.trimmed().toFloat(&ok);
    if (!ok || !qIsFinite(size) || size < 0) {
        return 0.0f;
    }
    return size;
}

bool M3u8Loader::stopping() const
{
    return flags.stopRequested() || QuitNotifier::isQuitting();
}

bool M3u8Loader::writeAllowed(const QString& name) const
{
    return !options.writeGuard || options.writeGuard(name);
}

QNetworkReply* M3u8Loader::get(const QUrl& url, bool withCookie, int timeoutMs)
{
    QNetworkRequest request(url);
    request.setAttribute(QNetworkRequest::RedirectPolicyAttribute,
                         QNetworkRequest::NoLessSafeRedirectPolicy);
    request.setTransferTimeout(timeoutMs);
    // Without compression Content-Length counts the bytes we receive, so a short body shows.
    request.setRawHeader("Accept-Encoding", "identity");
    if (withCookie) {
        request.setRawHeader("Cookie", "keys=" + keys);
    }
    return manager->get(request);
}

static int statusOf(QNetworkReply* reply)
{
    return reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt();
}

// A client error will not change when asked again.
static bool isPermanent(int status)
{
    return status >= 400 && status < 500 && status != 408 && status != 429;
}

bool M3u8Loader::replyOk(QNetworkReply* reply, qint64 received, QString* why)
{
    if (reply->error() != QNetworkReply::NoError) {
        *why = QStringLiteral("network error %1 (%2)")
                   .arg(int(reply->error()))
                   .arg(reply->errorString());
        return false;
    }
    const int status = statusOf(reply);
    if (status < 200 || status > 299) {
        *why = QStringLiteral("HTTP status %1").arg(status);
        return false;
    }
    bool hasLength = false;
    const qint64 length =
        reply->header(QNetworkRequest::ContentLengthHeader).toLongLong(&hasLength);
    if (hasLength && length != received) {
        *why = QStringLiteral("%1 of %2 bytes").arg(received).arg(length);
        return false;
    }
    return true;
}

bool M3u8Loader::waitPause(int ms)
{
    if (stopping()) {
        return false;
    }
    QEventLoop local;
    QTimer::singleShot(ms, &local, &QEventLoop::quit);
    loop = &local;
    local.exec();
    loop = nullptr;
    return !stopping();
}

bool M3u8Loader::fetch(const QUrl& url, bool withCookie, int timeoutMs, QByteArray* body)
{
    for (int attempt = 0;; ++attempt) {
        if (stopping()) {
            return false;
        }
        QNetworkReply* reply = get(url, withCookie, timeoutMs);
        QEventLoop local;
        connect(reply, &QNetworkReply::finished, &local, &QEventLoop::quit);
        pendingSmall = reply;
        loop = &local;
        if (!reply->isFinished()) {
            local.exec();
        }
        loop = nullptr;
        pendingSmall = nullptr;

        const QByteArray data = reply->readAll();
        QString why;
        const bool ok = reply->isFinished() && replyOk(reply, data.size(), &why);
        const int status = statusOf(reply);
        // Not inside one of the reply's signals here.
        delete reply;
        if (ok) {
            *body = data;
            return true;
        }
        if (stopping()) {
            return false;
        }
        qDebug() << "request failed:" << url.path() << why;
        if (isPermanent(status) || attempt >= options.retryPausesMs.size()) {
            return false;
        }
        if (!waitPause(options.retryPausesMs.at(attempt))) {
            return false;
        }
    }
}

bool M3u8Loader::parseKeyAndUrl(const QString& keyUrl, QUrl* streamUrl)
{
    QByteArray body;
    if (!fetch(QUrl(keyUrl, QUrl::TolerantMode), false, options.keyUrlTimeoutMs, &body) ||
        body.isEmpty()) {
        qDebug() << "parseKeyAndUrl fail";
        return false;
    }
    const JsonNode data =
        JsonHelper::parse(HttpHelper::bodyText(body)).getObject(QStringLiteral("data"));
    const QString url = data.getString(QStringLiteral("url"));
    *streamUrl = QUrl(url, QUrl::TolerantMode);
    if (url.isEmpty() || !streamUrl->isValid()) {
        qDebug() << "parseKeyAndUrl fail: no stream address";
        return false;
    }
    total = parseSize(data.getString(QStringLiteral("filesize")));
    QString cookie = data.getString(QStringLiteral("keys"));
    cookie.replace(QLatin1Char('+'), QStringLiteral("%2B"));
    // A line break would end the header early.
    cookie.remove(QLatin1Char('\r'));
    cookie.remove(QLatin1Char('\n'));
    keys = cookie.toLatin1();
    return true;
}

bool M3u8Loader::rewrite(const QByteArray& playlist, const QUrl& playlistUrl, Mode mode,
                         QString* text)
{
    QString body = HttpHelper::bodyText(playlist);
    if (body.startsWith(QChar(0xFEFF))) {
        body.remove(0, 1);
    }
    if (!body.trimmed().startsWith(QLatin1String("#EXTM3U"))) {
        qDebug() << "not a playlist:" << playlistUrl.path() << body.left(80);
        return false;
    }
    const QString address = playlistUrl.toString();
    const QString base = address.left(address.lastIndexOf(QLatin1Char('/')));

    QStringList out;
    QSet<QString> seen;
    segments.clear();
    const QStringList lines = body.split(QLatin1Char('\n'));
    for (QString line : lines) {
        // Carriage returns of CRLF playlists go; file names never carry them.
        line.remove(QLatin1Char('\r'));
        if (!line.startsWith(QLatin1Char('#'))) {
            const QString name = line.trimmed();
            if (name.isEmpty()) {
                out << line;
                continue;
            }
            if (!SegmentName::isPlain(name)) {
                qDebug() << "playlist names a segment that is no plain file name:" << name;
                return false;
            }
            if (!seen.contains(name)) {
                seen.insert(name);
                segments << name;
            }
            if (mode == Mode::Stored) {
                QString local = path + QLatin1Char('/') + name;
                // The player's library reads a drive letter followed by "://".
                local.replace(QStringLiteral(":/"), QStringLiteral("://"));
                out << local;
            } else {
                out << base + QLatin1Char('/') + name;
            }
        } else if (line.startsWith(QLatin1String("#EXT-X-KEY"))) {
            const int open = line.indexOf(QLatin1Char('"'));
            const int close = open < 0 ? -1 : line.indexOf(QLatin1Char('"'), open + 1);
            if (close < 0) {
                out << line; // METHOD=NONE: no key to fetch
                continue;
            }
            const QString uri = line.mid(open + 1, close - open - 1);
            QByteArray keyBody;
            if (!fetch(playlistUrl.resolved(QUrl(uri, QUrl::TolerantMode)), true,
                       options.requestTimeoutMs, &keyBody)) {
                qDebug() << "key request failed:" << uri;
                return false;
            }
            const QString keyName = HttpHelper::bodyText(keyBody);
            if (keyName.size() < 16) {
                qDebug() << "key name shorter than 16 characters:" << keyName.size();
                return false;
            }
            line.replace(uri, encryptStr(keyName));
            out << line;
        } else {
            out << line;
        }
    }
    if (segments.isEmpty()) {
        qDebug() << "playlist without segments:" << playlistUrl.path();
        return false;
    }
    baseUrl = base;
    text->clear();
    for (const QString& line : qAsConst(out)) {
        *text += line + QLatin1Char('\n');
    }
    return true;
}

M3u8Loader::Result M3u8Loader::downloadLesson(const QString& keyUrl, const QString& dir)
{
    path = dir;
    stored = 0;
    total = 0;
    meter = SpeedMeter();
    clock.start();
    progressTimer->start();
    const auto end = [this](Result result) {
        progressTimer->stop();
        if (result == Result::Failed) {
            emit donwloadError(path);
        }
        return result;
    };

    if (stopping()) {
        return end(Result::Stopped);
    }
    if (path.isEmpty() || !QDir().mkpath(path)) {
        qDebug() << "cannot create the lesson directory" << path;
        return end(Result::WriteFailed);
    }
    QUrl streamUrl;
    QByteArray playlist;
    QString text;
    if (!parseKeyAndUrl(keyUrl, &streamUrl) ||
        !fetch(streamUrl, true, options.requestTimeoutMs, &playlist) ||
        !rewrite(playlist, streamUrl, Mode::Stored, &text)) {
        return end(stopping() ? Result::Stopped : Result::Failed);
    }
    const QString target = path + QLatin1Char('/') + SegmentName::playlistName;
    if (!writeAllowed(SegmentName::playlistName) || !cipher.encryptBytes(text.toUtf8(), target)) {
        qDebug() << "cannot write" << target;
        return end(Result::WriteFailed);
    }
    return end(downloadSegments());
}

QString M3u8Loader::onlinePlaylist(const URLManager& urls, const QString& cid, const QString& lid,
                                   const QString& c_type)
{
    path.clear();
    QUrl streamUrl;
    QByteArray playlist;
    QString text;
    if (!parseKeyAndUrl(urls.getKeysAndUrlByLidUrl(cid, lid, c_type), &streamUrl) ||
        !fetch(streamUrl, true, options.requestTimeoutMs, &playlist) ||
        !rewrite(playlist, streamUrl, Mode::Online, &text)) {
        return QString();
    }
    return text;
}

void M3u8Loader::removePartials() const
{
    const QStringList leftovers =
        QDir(path).entryList({QStringLiteral("*") + SegmentName::partialSuffix}, QDir::Files);
    for (const QString& name : leftovers) {
        QFile::remove(path + QLatin1Char('/') + name);
    }
}

M3u8Loader::Result M3u8Loader::downloadSegments()
{
    removePartials();
    pending.clear();
    attempts.clear();
    retrying = 0;
    finished = false;
    outcome = Result::Complete;
    for (const QString& name : qAsConst(segments)) {
        const QFileInfo file(path + QLatin1Char('/') + name);
        if (file.isFile()) {
            stored += file.size();
        } else {
            pending << name;
        }
    }
    QEventLoop local;
    loop = &local;
    segmentPhase = true;
    pump();
    if (!finished) {
        local.exec();
    }
    segmentPhase = false;
    loop = nullptr;
    onProgressTimer();
    return outcome;
}

void M3u8Loader::finish(Result result)
{
    if (finished) {
        return;
    }
    finished = true;
    outcome = result;
    if (loop) {
        loop->quit();
    }
}

void M3u8Loader::pump()
{
    if (finished) {
        return;
    }
    if (stopping()) {
        abortAll();
        finish(Result::Stopped);
        return;
    }
    while (flags.isStart() && !pending.isEmpty() &&
           active.size() + retrying < qMax(1, options.maxInFlight)) {
        startSegment(pending.takeFirst());
        if (finished) {
            return;
        }
    }
    if (pending.isEmpty() && active.isEmpty() && retrying == 0) {
        finish(Result::Complete);
    }
}

void M3u8Loader::startSegment(const QString& name)
{
    auto* file = new QFile(path + QLatin1Char('/') + name + SegmentName::partialSuffix, this);
    if (!writeAllowed(name) || !file->open(QIODevice::WriteOnly | QIODevice::Truncate)) {
        qDebug() << "cannot write" << file->fileName() << file->errorString();
        file->remove();
        delete file;
        abortAll();
        finish(Result::WriteFailed);
        return;
    }
    QNetworkReply* reply = get(QUrl(baseUrl + QLatin1Char('/') + name, QUrl::TolerantMode), false,
                               options.requestTimeoutMs);
    active.insert(reply, Transfer{name, file, 0});
    connect(reply, &QNetworkReply::readyRead, this, [this, reply] { onSegmentData(reply); });
    connect(reply, &QNetworkReply::finished, this, [this, reply] { onSegmentFinished(reply); });
}

bool M3u8Loader::writeChunk(Transfer& transfer, const QByteArray& data)
{
    if (data.isEmpty()) {
        return true;
    }
    if (!writeAllowed(transfer.name) || transfer.file->write(data) != data.size()) {
        qDebug() << "cannot write" << transfer.file->fileName() << transfer.file->errorString();
        return false;
    }
    transfer.received += data.size();
    return true;
}

void M3u8Loader::onSegmentData(QNetworkReply* reply)
{
    auto it = active.find(reply);
    if (it == active.end()) {
        return;
    }
    const QByteArray data = reply->readAll();
    meter.add(data.size());
    if (!writeChunk(it.value(), data)) {
        abortAll();
        finish(Result::WriteFailed);
    }
}

void M3u8Loader::onSegmentFinished(QNetworkReply* reply)
{
    auto it = active.find(reply);
    if (it == active.end()) {
        return;
    }
    Transfer transfer = it.value();
    active.erase(it);
    const QByteArray rest = reply->readAll();
    meter.add(rest.size());
    const bool wrote = writeChunk(transfer, rest);
    QString why;
    const bool ok = wrote && replyOk(reply, transfer.received, &why);
    const bool permanent = isPermanent(statusOf(reply));
    reply->deleteLater();

    QFile* file = transfer.file;
    bool kept = false;
    if (ok) {
        file->flush();
        file->close();
        const QString target = path + QLatin1Char('/') + transfer.name;
        kept = file->error() == QFileDevice::NoError && file->rename(target);
        if (kept) {
            stored += transfer.received;
        } else {
            qDebug() << "cannot store" << target << file->errorString();
        }
    }
    if (!kept) {
        file->close();
        file->remove();
    }
    delete file;

    if (!wrote || (ok && !kept)) {
        abortAll();
        finish(Result::WriteFailed);
        return;
    }
    if (!ok && !stopping()) {
        qDebug() << "segment failed:" << transfer.name << why;
        retryOrFail(transfer.name, permanent);
    }
    pump();
}

void M3u8Loader::retryOrFail(const QString& name, bool permanent)
{
    const int used = attempts.value(name);
    if (permanent || used >= options.retryPausesMs.size()) {
        qDebug() << "segment given up after" << used + 1 << "tries:" << name;
        abortAll();
        finish(Result::Failed);
        return;
    }
    attempts.insert(name, used + 1);
    ++retrying;
    QTimer::singleShot(options.retryPausesMs.at(used), this, [this, name] {
        --retrying;
        if (finished) {
            return;
        }
        pending.prepend(name);
        pump();
    });
}

void M3u8Loader::abortAll()
{
    const QHash<QNetworkReply*, Transfer> transfers = active;
    active.clear();
    for (auto it = transfers.begin(); it != transfers.end(); ++it) {
        QNetworkReply* reply = it.key();
        reply->disconnect(this);
        if (!reply->isFinished()) {
            reply->abort();
        }
        reply->deleteLater();
        QFile* file = it.value().file;
        file->close();
        file->remove();
        delete file;
    }
}

void M3u8Loader::onControlChanged()
{
    if (stopping()) {
        if (pendingSmall) {
            pendingSmall->abort();
        } else if (loop && !segmentPhase) {
            loop->quit();
        }
        if (segmentPhase) {
            abortAll();
            finish(Result::Stopped);
        }
        return;
    }
    if (segmentPhase) {
        pump();
    }
}

void M3u8Loader::onProgressTimer()
{
    emit downloadingProgress(path, float(stored / 1024), total, meter.sample(clock.elapsed()));
}
