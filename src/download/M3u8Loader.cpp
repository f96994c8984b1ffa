#include "M3u8Loader.h"

#include "FileCipher.h"
#include "HttpHelper.h"
#include "JsonHelper.h"
#include "LogMask.h"
#include "MediaCheck.h"
#include "SegmentName.h"
#include "ServerConfig.h"
#include "TransferGuard.h"
#include "UrlPolicy.h"

#include <QDebug>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QTimer>
#include <algorithm>
#include <limits>

M3u8Loader::M3u8Loader(const FileCipher& cipher, const DownloadOptions& options, QObject* parent)
    : QObject(parent), cipher(cipher), options(options), manager(new QNetworkAccessManager(this)),
      progressTimer(new QTimer(this)), pumpTimer(new QTimer(this)), throttleTimer(new QTimer(this))
{
    clock.start();
    // The student watches the figures move: at least once a second, whatever is configured.
    progressTimer->setInterval(qBound(1, options.progressIntervalMs, 1000));
    progressTimer->setTimerType(Qt::CoarseTimer);
    connect(progressTimer, &QTimer::timeout, this, &M3u8Loader::onProgressTimer);
    pumpTimer->setSingleShot(true);
    connect(pumpTimer, &QTimer::timeout, this, &M3u8Loader::pump);
    // Reads under a limit follow the allowance as it grows, not the coarse clock's rounding.
    throttleTimer->setSingleShot(true);
    throttleTimer->setTimerType(Qt::PreciseTimer);
    connect(throttleTimer, &QTimer::timeout, this, &M3u8Loader::drain);
}

M3u8Loader::~M3u8Loader()
{
    stop();
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

bool M3u8Loader::isSessionLost(const QString& answer)
{
    const JsonNode envelope = JsonHelper::parse(answer);
    const QString flag = envelope.getString(QStringLiteral("flag"));
    if (flag == QLatin1String("1")) {
        return false;
    }
    // "请先登录", "登录已过期", "请重新登录": the school words it in more than one way.
    return flag == QLatin1String("-1") ||
           envelope.getString(QStringLiteral("infos")).contains(QStringLiteral("登录"));
}

bool M3u8Loader::writeAllowed(const QString& name) const
{
    return !options.writeGuard || options.writeGuard(name);
}

QNetworkReply* M3u8Loader::get(const QUrl& url, bool withCookie, int timeoutMs, bool segment)
{
    QNetworkRequest request(url);
    UrlPolicy::prepare(request);
    request.setTransferTimeout(timeoutMs);
    // Without compression Content-Length counts the bytes we receive, so a short body shows.
    request.setRawHeader("Accept-Encoding", "identity");
    if (withCookie && UrlPolicy::sameOrigin(url, streamUrl)) {
        request.setRawHeader("Cookie", "keys=" + keys);
    }
    QNetworkReply* reply = manager->get(request);
    UrlPolicy::watch(reply);
    // A small answer must be whole within its time; a segment may take long, but not at a
    // trickle that would hold the whole queue.
    TransferGuard::Limits limits;
    limits.answerMs = timeoutMs;
    if (segment) {
        limits.floorBytes = options.floorBytes;
        limits.windowMs = options.floorWindowMs;
        limits.maxBytes = playlist.mediaLimit(total);
    } else {
        // Playlists, keys and the key-and-address answer are small; an endless body is
        // refused before it fills the memory.
        limits.maxBytes = HlsPlaylist::maxBytes;
    }
    TransferGuard::attach(reply, limits);
    return reply;
}

M3u8Loader::Answer M3u8Loader::judge(QNetworkReply* reply, const QByteArray& body, qint64 received)
{
    Answer answer;
    answer.body = body;
    const int status = reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt();
    // A redirect to another scheme, or from https to http, will not change when asked again.
    if (UrlPolicy::isRefused(reply) || reply->error() == QNetworkReply::ProtocolUnknownError ||
        reply->error() == QNetworkReply::InsecureRedirectError) {
        answer.outcome = Outcome::Permanent;
        answer.why = QStringLiteral("redirect refused (%1)").arg(reply->errorString());
        answer.cause = QStringLiteral("服务器拒绝");
        return answer;
    }
    if (TransferGuard::isOversized(reply)) {
        answer.outcome = Outcome::Permanent;
        answer.why = QStringLiteral("longer than any such answer may be");
        answer.cause = QStringLiteral("文件损坏");
        return answer;
    }
    if (TransferGuard::hasExpired(reply)) {
        answer.why = QStringLiteral("no answer in time, or a body slower than the floor");
        return answer;
    }
    if (status >= 400 || (reply->error() != QNetworkReply::NoError && status == 0)) {
        const QNetworkReply::NetworkError error = reply->error();
        answer.why =
            status != 0
                ? QStringLiteral("HTTP status %1").arg(status)
                : QStringLiteral("network error %1 (%2)").arg(int(error)).arg(reply->errorString());
        // A client error will not change when asked again; anything else means the network or
        // the server is away for now (refused, reset, time-out, host not found, 5xx, 429).
        const bool permanent = (status >= 400 && status < 500 && status != 408 && status != 429) ||
                               error == QNetworkReply::ProtocolUnknownError ||
                               error == QNetworkReply::ProtocolInvalidOperationError;
        answer.outcome = permanent ? Outcome::Permanent : Outcome::Transient;
        if (status != 0) {
            answer.cause = QStringLiteral("服务器拒绝（HTTP %1）").arg(status);
        }
        return answer;
    }
    if (reply->error() != QNetworkReply::NoError) {
        answer.why = QStringLiteral("transfer ended with error %1 (%2)")
                         .arg(int(reply->error()))
                         .arg(reply->errorString());
        return answer;
    }
    if (status != 0 && (status < 200 || status > 299)) {
        answer.why = QStringLiteral("HTTP status %1").arg(status);
        answer.cause = QStringLiteral("服务器拒绝（HTTP %1）").arg(status);
        return answer;
    }
    bool hasLength = false;
    const qint64 length =
        reply->header(QNetworkRequest::ContentLengthHeader).toLongLong(&hasLength);
    if (hasLength && length != received) {
        answer.why = QStringLiteral("%1 of %2 bytes").arg(received).arg(length);
        return answer;
    }
    // What a proxy or a busy front end answers in place of the real reply: try again later.
    if (reply->header(QNetworkRequest::ContentTypeHeader)
            .toString()
            .startsWith(QLatin1String("text/html"), Qt::CaseInsensitive)) {
        answer.why = QStringLiteral("an HTML page");
        answer.cause = QStringLiteral("服务器拒绝");
        return answer;
    }
    answer.outcome = Outcome::Ok;
    return answer;
}

void M3u8Loader::fetch(const QUrl& url, bool withCookie, int timeoutMs,
                       std::function<void(const Answer&)> then, int attempt)
{
    if (!UrlPolicy::isAllowed(url)) {
        Answer refused;
        refused.outcome = Outcome::Permanent;
        refused.why = QStringLiteral("address refused: ") + LogMask::url(url);
        refused.cause = QStringLiteral("服务器拒绝");
        QTimer::singleShot(0, this, [this, then, refused] {
            if (running) {
                then(refused);
            }
        });
        return;
    }
    QNetworkReply* reply = get(url, withCookie, timeoutMs, false);
    small = reply;
    connect(reply, &QNetworkReply::finished, this, [=] {
        small = nullptr;
        reply->deleteLater();
        const bool oversized = TransferGuard::isOversized(reply);
        const QByteArray body = reply->isOpen() && !oversized ? reply->readAll() : QByteArray();
        Answer answer = judge(reply, body, body.size());
        if (oversized) {
            answer.outcome = Outcome::Permanent;
            answer.why = QStringLiteral("answer larger than %1 bytes").arg(HlsPlaylist::maxBytes);
            answer.cause = QStringLiteral("文件损坏");
        }
        if (!running) {
            return;
        }
        if (answer.outcome == Outcome::Transient && attempt < options.retryPausesMs.size()) {
            qDebug() << "request failed, asking again:" << url.path() << answer.why;
            QTimer::singleShot(options.retryPausesMs.at(attempt), this, [=] {
                if (running) {
                    fetch(url, withCookie, timeoutMs, then, attempt + 1);
                }
            });
            return;
        }
        then(answer);
    });
}

void M3u8Loader::downloadLesson(const QString& keyUrl, const QString& dir)
{
    path = dir;
    if (path.isEmpty() || !QDir().mkpath(path)) {
        qDebug() << "cannot create the lesson directory" << path;
        running = true;
        finish(Result::WriteFailed);
        return;
    }
    begin(Mode::Stored, keyUrl);
}

void M3u8Loader::fetchOnline(const QString& keyUrl)
{
    path.clear();
    begin(Mode::Online, keyUrl);
}

void M3u8Loader::begin(Mode how, const QString& keyUrl)
{
    mode = how;
    running = true;
    stored = 0;
    total = 0;
    counted = false;
    reason.clear();
    meter = SpeedMeter();
    clock.start();
    bucket.reset(0);
    if (mode == Mode::Stored) {
        progressTimer->start();
    }
    fetch(QUrl(keyUrl, QUrl::TolerantMode), false, options.keyUrlTimeoutMs,
          [this](const Answer& answer) { onKeyAndUrl(answer); });
}

void M3u8Loader::failWith(Outcome how, const QString& why, const QString& cause)
{
    reason = how == Outcome::Permanent ? cause : QString();
    qDebug() << "lesson" << (how == Outcome::Permanent ? "failed:" : "waits:") << path << why;
    finish(how == Outcome::Permanent ? Result::Failed : Result::Stalled);
}

void M3u8Loader::onKeyAndUrl(const Answer& answer)
{
    if (answer.outcome != Outcome::Ok) {
        failWith(answer.outcome, QStringLiteral("parseKeyAndUrl fail: ") + answer.why,
                 answer.cause);
        return;
    }
    const QString text = HttpHelper::bodyText(answer.body);
    if (text.trimmed().isEmpty()) {
        failWith(Outcome::Transient, QStringLiteral("parseKeyAndUrl fail: empty answer"));
        return;
    }
    if (isSessionLost(text)) {
        qDebug() << "lesson waits for a login: the school no longer knows the session" << path;
        finish(Result::SessionLost);
        return;
    }
    const JsonNode data = JsonHelper::parse(text).getObject(QStringLiteral("data"));
    const QString url = data.getString(QStringLiteral("url"));
    streamUrl = QUrl(url, QUrl::TolerantMode);
    if (url.isEmpty() || !streamUrl.isValid() || streamUrl.isRelative()) {
        failWith(Outcome::Permanent, QStringLiteral("parseKeyAndUrl fail: no stream address"),
                 QStringLiteral("服务器未提供视频地址"));
        return;
    }
    total = parseSize(data.getString(QStringLiteral("filesize")));
    QString cookie = data.getString(QStringLiteral("keys"));
    cookie.replace(QLatin1Char('+'), QStringLiteral("%2B"));
    // A line break would end the header early.
    cookie.remove(QLatin1Char('\r'));
    cookie.remove(QLatin1Char('\n'));
    keys = cookie.toLatin1();
    fetchPlaylist(streamUrl);
}

void M3u8Loader::fetchPlaylist(const QUrl& url)
{
    fetch(url, true, options.requestTimeoutMs,
          [this, url](const Answer& answer) { onPlaylist(url, answer); });
}

void M3u8Loader::onPlaylist(const QUrl& url, const Answer& answer)
{
    if (answer.outcome != Outcome::Ok) {
        failWith(answer.outcome, QStringLiteral("playlist: ") + answer.why, answer.cause);
        return;
    }
    const QString text = HttpHelper::bodyText(answer.body);
    if (HlsPlaylist::isMaster(text)) {
        const QUrl variant = HlsPlaylist::bestVariant(text, url);
        if (++variantDepth > 3 || !variant.isValid()) {
            failWith(Outcome::Permanent,
                     QStringLiteral("master playlist without a usable variant"));
            return;
        }
        fetchPlaylist(variant);
        return;
    }
    QString why;
    if (!playlist.parse(text, url, &why)) {
        failWith(Outcome::Permanent, url.path() + QStringLiteral(": ") + why);
        return;
    }
    // Nothing of a playlist that names a local file or another scheme is fetched.
    for (const HlsPlaylist::Key& key : playlist.keys()) {
        if (!UrlPolicy::isAllowed(key.url)) {
            failWith(Outcome::Permanent,
                     QStringLiteral("key address refused: ") + LogMask::url(key.url),
                     QStringLiteral("服务器拒绝"));
            return;
        }
    }
    for (const HlsPlaylist::Media& media : playlist.media()) {
        if (!UrlPolicy::isAllowed(media.url)) {
            failWith(Outcome::Permanent,
                     QStringLiteral("segment address refused: ") + LogMask::url(media.url),
                     QStringLiteral("服务器拒绝"));
            return;
        }
    }
    if (!playlist.hasEndList()) {
        // A reply cut short loses its last lines; a live stream never gets them.
        if (endListRetried) {
            failWith(Outcome::Permanent, QStringLiteral("the playlist has no end"));
            return;
        }
        endListRetried = true;
        QTimer::singleShot(options.retryPausesMs.value(0, 1000), this, [this, url] {
            if (running) {
                fetchPlaylist(url);
            }
        });
        return;
    }
    const int count = playlist.keys().size();
    keyFiles = QList<QString>();
    keyBytes = QList<QByteArray>();
    keyRetried = QList<bool>();
    for (int i = 0; i < count; ++i) {
        keyFiles << QString();
        keyBytes << QByteArray();
        keyRetried << false;
    }
    if (count == 0) {
        playlistReady();
    } else {
        fetchKey(0);
    }
}

void M3u8Loader::fetchKey(int index)
{
    fetch(playlist.keys().at(index).url, true, options.requestTimeoutMs,
          [this, index](const Answer& answer) { onKeyName(index, answer); });
}

void M3u8Loader::onKeyName(int index, const Answer& answer)
{
    if (answer.outcome != Outcome::Ok) {
        failWith(answer.outcome, QStringLiteral("key name: ") + answer.why, answer.cause);
        return;
    }
    const QString name = HttpHelper::bodyText(answer.body);
    if (name.size() < 16) {
        if (!keyRetried.at(index)) {
            keyRetried[index] = true;
            fetchKey(index);
            return;
        }
        failWith(Outcome::Permanent, QStringLiteral("key name shorter than 16 characters"));
        return;
    }
    keyFiles[index] = encryptStr(name);
    if (mode == Mode::Online) {
        if (index + 1 < keyFiles.size()) {
            fetchKey(index + 1);
        } else {
            playlistReady();
        }
        return;
    }
    // The stored lesson must play later: its key-file address has to answer a key.
    fetch(QUrl(keyFiles.at(index)), false, options.requestTimeoutMs,
          [this, index](const Answer& key) { onKeyFile(index, key); });
}

void M3u8Loader::onKeyFile(int index, const Answer& answer)
{
    if (answer.outcome == Outcome::Transient) {
        failWith(answer.outcome, QStringLiteral("key file: ") + answer.why, answer.cause);
        return;
    }
    if (answer.outcome != Outcome::Ok || answer.body.size() != 16) {
        // Most likely the key name answer was not the key name: ask for it once more.
        if (!keyRetried.at(index)) {
            keyRetried[index] = true;
            fetchKey(index);
            return;
        }
        failWith(Outcome::Permanent,
                 QStringLiteral("the key-file server has no key for this lesson: ") + answer.why,
                 QStringLiteral("服务器拒绝"));
        return;
    }
    keyBytes[index] = answer.body;
    if (index + 1 < keyFiles.size()) {
        fetchKey(index + 1);
    } else {
        playlistReady();
    }
}

void M3u8Loader::playlistReady()
{
    const auto keyAddress = [this](int key) {
        return keyFiles.at(key);
    };
    if (mode == Mode::Online) {
        const QString text = playlist.rewrite(
            [this](int m) { return playlist.media().at(m).url.toString(QUrl::FullyEncoded); },
            keyAddress);
        running = false;
        outcome = Result::Complete;
        emit onlineReady(text);
        emit finished(outcome);
        return;
    }
    const QString text = playlist.rewrite(
        [this](int m) {
            QString local = path + QLatin1Char('/') + playlist.media().at(m).name;
            // The player's library reads a drive letter followed by "://".
            local.replace(QStringLiteral(":/"), QStringLiteral("://"));
            return local;
        },
        keyAddress);
    const QString target = path + QLatin1Char('/') + SegmentName::playlistName;
    if (!writeAllowed(SegmentName::playlistName) || !cipher.encryptBytes(text.toUtf8(), target)) {
        qDebug() << "cannot write" << target;
        finish(Result::WriteFailed);
        return;
    }
    startSegments();
}

bool M3u8Loader::isWhole(const QString& file, int media) const
{
    const HlsPlaylist::Media& m = playlist.media().at(media);
    const QByteArray key = m.key >= 0 ? keyBytes.value(m.key) : QByteArray();
    return MediaCheck::isWhole(file, m.init ? MediaCheck::Kind::Init : MediaCheck::Kind::Segment,
                               key, m.iv);
}

void M3u8Loader::removePartials() const
{
    const QStringList leftovers =
        QDir(path).entryList({QStringLiteral("*") + SegmentName::partialSuffix}, QDir::Files);
    for (const QString& name : leftovers) {
        QFile::remove(path + QLatin1Char('/') + name);
    }
}

void M3u8Loader::adoptLegacyFile(const HlsPlaylist::Media& media) const
{
    if (media.legacyName.isEmpty()) {
        return;
    }
    // A lesson begun by an earlier version goes on with the bytes it has.
    const QString legacy = path + QLatin1Char('/') + media.legacyName;
    const QString file = path + QLatin1Char('/') + media.name;
    if (QFileInfo(legacy).isFile() && !QFileInfo::exists(file) && !QFile::rename(legacy, file)) {
        qDebug() << "cannot rename" << legacy << "to" << media.name;
    }
}

void M3u8Loader::startSegments()
{
    removePartials();
    tasks.clear();
    const QList<HlsPlaylist::Media>& media = playlist.media();
    for (int m = 0; m < media.size(); ++m) {
        Task task;
        task.media = m;
        const QString file = path + QLatin1Char('/') + media.at(m).name;
        adoptLegacyFile(media.at(m));
        const QFileInfo info(file);
        if (info.isFile()) {
            // A file cut short by a power failure or a crash must not count as stored.
            if (isWhole(file, m)) {
                task.done = true;
                stored += info.size();
            } else {
                qDebug() << "stored file is damaged and is fetched again:" << file;
                QFile::remove(file);
            }
        }
        tasks << task;
    }
    counted = true;
    disk.reset(path);
    inFlightCap = qMax(1, options.maxInFlight);
    // The segments start with an empty allowance: waiting for the playlist is not saved up.
    bucket.reset(clock.elapsed());
    pump();
}

void M3u8Loader::setPaused(bool value)
{
    paused = value;
    if (!paused && running && !tasks.isEmpty()) {
        pump();
    }
}

void M3u8Loader::pump()
{
    if (!running || tasks.isEmpty()) {
        return;
    }
    const qint64 now = clock.elapsed();
    qint64 earliest = std::numeric_limits<qint64>::max();
    bool remaining = false;
    for (int t = 0; t < tasks.size() && running; ++t) {
        Task& task = tasks[t];
        if (task.done) {
            continue;
        }
        remaining = true;
        if (task.active || paused) {
            continue;
        }
        if (task.notBefore > now || (holdUntil > now && task.tries == 0)) {
            earliest = qMin(earliest, qMax(task.notBefore, task.tries == 0 ? holdUntil : 0));
        } else if (active.size() < inFlightCap) {
            startTask(t);
        }
    }
    if (!running) {
        return;
    }
    if (!remaining) {
        for (const HlsPlaylist::Media& media : playlist.media()) {
            const QFileInfo info(path + QLatin1Char('/') + media.name);
            if (!info.isFile() || info.size() == 0) {
                failWith(Outcome::Permanent,
                         QStringLiteral("missing after download: ") + media.name);
                return;
            }
        }
        finish(Result::Complete);
        return;
    }
    if (earliest != std::numeric_limits<qint64>::max()) {
        pumpTimer->start(int(qBound<qint64>(0, earliest - now, 24 * 3600 * 1000)));
    }
}

void M3u8Loader::startTask(int t)
{
    Task& task = tasks[t];
    const HlsPlaylist::Media& media = playlist.media().at(task.media);
    auto* file = new QFile(path + QLatin1Char('/') + media.name + SegmentName::partialSuffix, this);
    if (!writeAllowed(media.name) || !file->open(QIODevice::WriteOnly | QIODevice::Truncate)) {
        qDebug() << "cannot write" << file->fileName() << file->errorString();
        delete file;
        finish(Result::WriteFailed);
        return;
    }
    task.active = true;
    QNetworkReply* reply = get(media.url, false, options.requestTimeoutMs, true);
    // What is not read stays in the socket: the server is held back, not just the disk, and a
    // body faster than the disk does not pile up in memory.
    reply->setReadBufferSize(readBuffer());
    active.insert(reply, Transfer{t, file, 0});
    connect(reply, &QNetworkReply::readyRead, this, [this, reply] { onSegmentData(reply); });
    connect(reply, &QNetworkReply::finished, this, [this, reply] { onSegmentFinished(reply); });
}

bool M3u8Loader::writeChunk(Transfer& transfer, const QByteArray& data)
{
    if (data.isEmpty()) {
        return true;
    }
    const QString name = playlist.media().at(tasks.at(transfer.task).media).name;
    if (!writeAllowed(name) || !disk.take(data.size())) {
        qDebug() << "cannot write" << transfer.file->fileName() << "(refused, or the disk is full)";
        reason = writeAllowed(name) ? DiskBudget::shortage(path) : QString();
        return false;
    }
    if (transfer.file->write(data) != data.size()) {
        // The system's reason, taken before anything else touches the file.
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
    if (bucket.isLimited()) {
        drain();
        return;
    }
    const QByteArray data = reply->readAll();
    meter.add(data.size());
    if (!TransferGuard::overrun(reply, it->received + data.size()) &&
        !writeChunk(it.value(), data)) {
        finish(Result::WriteFailed);
    }
}

void M3u8Loader::onSegmentFinished(QNetworkReply* reply)
{
    auto it = active.find(reply);
    if (it == active.end()) {
        return;
    }
    if (bucket.isLimited() && reply->isOpen() && reply->bytesAvailable() > 0) {
        it.value().ended = true;
        drain();
        return;
    }
    completeSegment(reply);
}

void M3u8Loader::completeSegment(QNetworkReply* reply)
{
    auto it = active.find(reply);
    Transfer transfer = it.value();
    active.erase(it);
    reply->deleteLater();
    Task& task = tasks[transfer.task];
    task.active = false;
    const HlsPlaylist::Media& media = playlist.media().at(task.media);
    // An aborted reply (time-out) is closed and has nothing more to read.
    const QByteArray rest = reply->isOpen() ? reply->readAll() : QByteArray();
    meter.add(rest.size());
    const bool wrote = writeChunk(transfer, rest);
    const Answer answer = judge(reply, QByteArray(), transfer.received);

    // Taken before the reply goes: how many segments shared the line when this one was cut.
    const bool floorCut = TransferGuard::hasExpired(reply) && transfer.received > 0;
    const int sharing = active.size() + 1;
    QFile* file = transfer.file;
    const bool flushed = wrote && file->flush();
    const QString flushError = file->errorString();
    file->close();
    const QString target = path + QLatin1Char('/') + media.name;
    bool kept = false;
    bool damaged = false;
    if (flushed && answer.outcome == Outcome::Ok) {
        if (isWhole(file->fileName(), task.media)) {
            QFile::remove(target);
            kept = file->rename(target);
            if (kept) {
                stored += transfer.received;
                task.done = true;
            } else {
                qDebug() << "cannot store" << target << file->errorString();
            }
        } else {
            damaged = true;
        }
    }
    if (!kept) {
        file->remove();
    }
    delete file;

    if (!wrote || !flushed || (answer.outcome == Outcome::Ok && !damaged && !kept)) {
        if (wrote && !flushed) {
            qDebug() << "cannot write" << target << flushError;
        }
        finish(Result::WriteFailed);
        return;
    }
    if (damaged) {
        // Asked once more at once; a file that stays bad is not a network problem.
        qDebug() << "segment is not whole media, asking again:" << media.name;
        if (++task.badContent >= 2) {
            failWith(Outcome::Permanent, QStringLiteral("segment stays damaged: ") + media.name);
            return;
        }
        task.notBefore = 0;
    } else if (!task.done && floorCut && lineTooShared(sharing)) {
        inFlightCap = qMax(1, inFlightCap / 2);
        qDebug() << "segment cut by the floor on a shared slow line, now" << inFlightCap
                 << "at once:" << media.name;
        task.notBefore = 0;
    } else if (!task.done) {
        retryLater(task, answer);
        if (!running) {
            return;
        }
    }
    pump();
}

bool M3u8Loader::lineTooShared(int sharing)
{
    if (inFlightCap <= 1 || sharing <= 1 || options.floorWindowMs <= 0) {
        return false;
    }
    const double floorRate = double(options.floorBytes) * 1000.0 / double(options.floorWindowMs);
    const double lineRate = double(meter.sample(clock.elapsed())) * 1024.0;
    // The lesson as a whole still moves at the floor, yet its share per segment falls short.
    return lineRate >= floorRate && lineRate < 1.5 * floorRate * sharing;
}

qint64 M3u8Loader::readQuantum() const
{
    // About twenty reads a second: smooth enough for the line, few enough to cost nothing.
    return qBound<qint64>(2048, bucket.rate() / 20, 64 * 1024);
}

qint64 M3u8Loader::readBuffer() const
{
    return bucket.isLimited() ? readQuantum() : 1024 * 1024;
}

void M3u8Loader::setRateLimit(qint64 bytesPerSecond)
{
    const qint64 rate = qMax<qint64>(0, bytesPerSecond);
    if (rate == bucket.rate()) {
        return;
    }
    bucket.setRate(rate, clock.elapsed());
    for (auto it = active.cbegin(); it != active.cend(); ++it) {
        it.key()->setReadBufferSize(readBuffer());
    }
    // A wait timed for the old limit would be wrong for the new one.
    throttleTimer->stop();
    drain();
}

void M3u8Loader::drain()
{
    if (!running || active.isEmpty()) {
        return;
    }
    const bool limited = bucket.isLimited();
    const auto waiting = [](QNetworkReply* reply) {
        return reply->isOpen() ? reply->bytesAvailable() : 0;
    };
    QList<QNetworkReply*> replies = active.keys();
    std::rotate(replies.begin(), replies.begin() + int(drainFrom++ % unsigned(replies.size())),
                replies.end());
    int wanting = 0;
    for (QNetworkReply* reply : qAsConst(replies)) {
        wanting += waiting(reply) > 0 ? 1 : 0;
    }
    qint64 allowance = limited ? bucket.available(clock.elapsed()) : -1;
    // Reads of a useful size only; the allowance grows meanwhile.
    if (limited && allowance < readQuantum()) {
        allowance = 0;
    }
    for (QNetworkReply* reply : qAsConst(replies)) {
        auto it = active.find(reply);
        if (it == active.end()) {
            continue;
        }
        const qint64 ready = waiting(reply);
        if (ready > 0 && allowance != 0) {
            // Equal shares, so that no transfer starves behind the others and falls under the
            // floor; what one cannot use goes to the next.
            const qint64 share = limited ? qMin(ready, allowance / qMax(1, wanting)) : ready;
            --wanting;
            const QByteArray data = reply->read(share);
            bucket.take(data.size());
            if (limited) {
                allowance -= data.size();
            }
            meter.add(data.size());
            if (!TransferGuard::overrun(reply, it->received + data.size()) &&
                !writeChunk(it.value(), data)) {
                finish(Result::WriteFailed);
                return;
            }
        }
        if (it.value().ended && waiting(reply) == 0) {
            completeSegment(reply);
            if (!running) {
                return;
            }
        }
    }
    if (!limited || throttleTimer->isActive()) {
        return;
    }
    for (auto it = active.cbegin(); it != active.cend(); ++it) {
        if (waiting(it.key()) > 0) {
            throttleTimer->start(
                int(qBound<qint64>(1, bucket.msUntil(readQuantum(), clock.elapsed()), 1000)));
            return;
        }
    }
}

void M3u8Loader::retryLater(Task& task, const Answer& answer)
{
    const Outcome how = answer.outcome;
    const QString& why = answer.why;
    const QString& cause = answer.cause;
    const QString name = playlist.media().at(task.media).name;
    if (how == Outcome::Permanent) {
        failWith(how, name + QStringLiteral(": ") + why, cause);
        return;
    }
    qDebug() << "segment failed:" << name << why;
    if (task.tries >= options.retryPausesMs.size()) {
        failWith(how, name + QStringLiteral(": ") + why);
        return;
    }
    task.notBefore = clock.elapsed() + options.retryPausesMs.at(task.tries);
    holdUntil = qMax(holdUntil, task.notBefore);
    ++task.tries;
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
    if (small) {
        small->disconnect(this);
        small->abort();
        small->deleteLater();
        small = nullptr;
    }
}

void M3u8Loader::stop()
{
    if (!running) {
        return;
    }
    running = false;
    outcome = Result::Stopped;
    abortAll();
    progressTimer->stop();
    pumpTimer->stop();
    throttleTimer->stop();
}

void M3u8Loader::finish(Result result)
{
    if (!running) {
        return;
    }
    running = false;
    outcome = result;
    abortAll();
    pumpTimer->stop();
    throttleTimer->stop();
    if (mode == Mode::Stored) {
        progressTimer->stop();
        if (counted) {
            onProgressTimer();
        }
        if (result == Result::Failed) {
            emit donwloadError(path);
        }
    } else {
        emit onlineReady(QString());
    }
    emit finished(result);
}

qint64 M3u8Loader::progressBytes() const
{
    qint64 bytes = stored;
    for (const Transfer& transfer : active) {
        bytes += transfer.received;
    }
    return bytes;
}

void M3u8Loader::onProgressTimer()
{
    if (!counted) {
        return;
    }
    emit downloadingProgress(path, float(double(progressBytes()) / 1024.0), total,
                             meter.sample(clock.elapsed()));
}
