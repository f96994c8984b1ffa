#include "M3u8Loader.h"

#include "FileCipher.h"
#include "HttpHelper.h"
#include "JsonHelper.h"
#include "LogMask.h"
#include "MediaCheck.h"
#include "SegmentName.h"
#include "ServerConfig.h"
#include "UrlPolicy.h"

#include <QDebug>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTimer>
#include <limits>

M3u8Loader::M3u8Loader(const FileCipher& cipher, const DownloadOptions& options, QObject* parent)
    : QObject(parent), cipher(cipher), options(options),
      transfer(new LessonTransfer(options, this)), progressTimer(new QTimer(this)),
      pumpTimer(new QTimer(this))
{
    clock.start();
    // The student watches the figures move: at least once a second, whatever is configured.
    progressTimer->setInterval(qBound(1, options.progressIntervalMs, 1000));
    progressTimer->setTimerType(Qt::CoarseTimer);
    connect(progressTimer, &QTimer::timeout, this, &M3u8Loader::onProgressTimer);
    pumpTimer->setSingleShot(true);
    connect(pumpTimer, &QTimer::timeout, this, &M3u8Loader::pump);
    connect(transfer, &LessonTransfer::segmentEnded, this, &M3u8Loader::onSegmentEnded);
    connect(transfer, &LessonTransfer::writeFailed, this, &M3u8Loader::onWriteFailed);
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

void M3u8Loader::fetch(const QUrl& url, bool withCookie, int timeoutMs,
                       std::function<void(const Answer&)> then)
{
    transfer->fetch(url, withCookie, timeoutMs, [this, then](const Answer& answer) {
        if (running) {
            then(answer);
        }
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
    clock.start();
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
    const QUrl streamUrl(url, QUrl::TolerantMode);
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
    transfer->setStream(streamUrl, cookie.toLatin1());
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

void M3u8Loader::removePartials()
{
    // What was kept of cut segments goes with them.
    for (Task& task : tasks) {
        task.resume = LessonTransfer::Resume();
    }
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
    transfer->setDiskRoot(path);
    transfer->setMediaLimit(playlist.mediaLimit(total));
    inFlightCap = qMax(1, options.maxInFlight);
    transfer->resetBucket();
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
        } else if (transfer->inFlight() < inFlightCap) {
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
    const QString part = path + QLatin1Char('/') + media.name + SegmentName::partialSuffix;
    if (!transfer->startSegment(t, media.url, media.name, part, task.resume)) {
        finish(Result::WriteFailed);
        return;
    }
    task.active = true;
}

void M3u8Loader::onWriteFailed(const QString& why)
{
    reason = why;
    finish(Result::WriteFailed);
}

void M3u8Loader::onSegmentEnded(const LessonTransfer::Ending& ending)
{
    if (!running) {
        return;
    }
    Task& task = tasks[ending.id];
    task.active = false;
    task.resume = ending.resume;
    const HlsPlaylist::Media& media = playlist.media().at(task.media);
    if (ending.writeFailed) {
        finish(Result::WriteFailed);
        return;
    }
    const QString target = path + QLatin1Char('/') + media.name;
    bool damaged = false;
    if (ending.answer.outcome == Outcome::Ok) {
        if (isWhole(ending.file, task.media)) {
            QFile::remove(target);
            if (!QFile::rename(ending.file, target)) {
                qDebug() << "cannot store" << target;
                QFile::remove(ending.file);
                finish(Result::WriteFailed);
                return;
            }
            stored += ending.resume.kept;
            task.done = true;
            task.resume = LessonTransfer::Resume();
        } else {
            damaged = true;
        }
    }
    if (!task.done && (damaged || task.resume.kept == 0)) {
        // Bytes that do not make whole media are not gone on from.
        QFile::remove(ending.file);
        task.resume = LessonTransfer::Resume();
    }

    if (damaged) {
        // Asked once more at once; a file that stays bad is not a network problem.
        qDebug() << "segment is not whole media, asking again:" << media.name;
        if (++task.badContent >= 2) {
            failWith(Outcome::Permanent, QStringLiteral("segment stays damaged: ") + media.name);
            return;
        }
        task.notBefore = 0;
    } else if (!task.done && ending.floorCut && lineTooShared(ending.sharing)) {
        inFlightCap = qMax(1, inFlightCap / 2);
        qDebug() << "segment cut by the floor on a shared slow line, now" << inFlightCap
                 << "at once:" << media.name;
        task.notBefore = 0;
    } else if (!task.done) {
        retryLater(task, ending.answer);
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
    const double lineRate = double(transfer->speedKB()) * 1024.0;
    // The lesson as a whole still moves at the floor, yet its share per segment falls short.
    return lineRate >= floorRate && lineRate < 1.5 * floorRate * sharing;
}

void M3u8Loader::setRateLimit(qint64 bytesPerSecond)
{
    transfer->setRateLimit(bytesPerSecond);
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

void M3u8Loader::stop()
{
    if (!running) {
        return;
    }
    running = false;
    outcome = Result::Stopped;
    transfer->abortAll();
    if (counted) {
        removePartials();
    }
    progressTimer->stop();
    pumpTimer->stop();
}

void M3u8Loader::finish(Result result)
{
    if (!running) {
        return;
    }
    running = false;
    outcome = result;
    transfer->abortAll();
    pumpTimer->stop();
    if (mode == Mode::Stored) {
        progressTimer->stop();
        if (counted) {
            removePartials();
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
    qint64 bytes = stored + transfer->bytesInFlight();
    for (const Task& task : tasks) {
        if (!task.active && !task.done) {
            bytes += task.resume.kept;
        }
    }
    return bytes;
}

void M3u8Loader::onProgressTimer()
{
    if (!counted) {
        return;
    }
    emit downloadingProgress(path, float(double(progressBytes()) / 1024.0), total,
                             transfer->speedKB());
}
