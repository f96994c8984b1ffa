#include "LessonTransfer.h"

#include "HlsPlaylist.h"
#include "LogMask.h"
#include "TransferGuard.h"
#include "UrlPolicy.h"

#include <QDebug>
#include <QFile>
#include <QFileInfo>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QRegularExpression>
#include <QTimer>
#include <algorithm>

LessonTransfer::LessonTransfer(const DownloadOptions& options, QObject* parent)
    : QObject(parent), options(options), manager(new QNetworkAccessManager(this)),
      throttleTimer(new QTimer(this))
{
    clock.start();
    // Reads under a limit follow the allowance as it grows, not the coarse clock's rounding.
    throttleTimer->setSingleShot(true);
    throttleTimer->setTimerType(Qt::PreciseTimer);
    connect(throttleTimer, &QTimer::timeout, this, &LessonTransfer::drain);
}

LessonTransfer::~LessonTransfer()
{
    abortAll();
}

void LessonTransfer::setStream(const QUrl& url, const QByteArray& cookie)
{
    streamUrl = url;
    keys = cookie;
}

bool LessonTransfer::writeAllowed(const QString& name) const
{
    return !options.writeGuard || options.writeGuard(name);
}

QNetworkReply* LessonTransfer::get(const QUrl& url, bool withCookie, int timeoutMs, bool segment,
                                   const Transfer* resume)
{
    QNetworkRequest request(url);
    UrlPolicy::prepare(request);
    request.setTransferTimeout(timeoutMs);
    // Without compression Content-Length counts the bytes we receive, so a short body shows,
    // and a range counts bytes of the file itself.
    request.setRawHeader("Accept-Encoding", "identity");
    if (withCookie && UrlPolicy::sameOrigin(url, streamUrl)) {
        request.setRawHeader("Cookie", "keys=" + keys);
    }
    qint64 base = 0;
    if (resume && resume->base > 0) {
        base = resume->base;
        request.setRawHeader("Range", "bytes=" + QByteArray::number(base) + '-');
        // Should the file have changed meanwhile, the server sends it whole.
        if (!resume->resume.validator.isEmpty()) {
            request.setRawHeader("If-Range", resume->resume.validator);
        }
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
        limits.maxBytes = mediaLimit > 0 ? qMax<qint64>(1, mediaLimit - base) : 0;
    } else {
        // Playlists, keys and the key-and-address answer are small; an endless body is
        // refused before it fills the memory.
        limits.maxBytes = HlsPlaylist::maxBytes;
    }
    TransferGuard::attach(reply, limits);
    return reply;
}

LessonTransfer::Answer LessonTransfer::judge(QNetworkReply* reply, const QByteArray& body,
                                             qint64 received)
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

void LessonTransfer::fetch(const QUrl& url, bool withCookie, int timeoutMs,
                           std::function<void(const Answer&)> then, int attempt)
{
    const unsigned at = epoch;
    if (!UrlPolicy::isAllowed(url)) {
        Answer refused;
        refused.outcome = Outcome::Permanent;
        refused.why = QStringLiteral("address refused: ") + LogMask::url(url);
        refused.cause = QStringLiteral("服务器拒绝");
        QTimer::singleShot(0, this, [this, at, then, refused] {
            if (epoch == at) {
                then(refused);
            }
        });
        return;
    }
    QNetworkReply* reply = get(url, withCookie, timeoutMs, false);
    small << reply;
    connect(reply, &QNetworkReply::finished, this, [=] {
        small.removeAll(reply);
        reply->deleteLater();
        const bool oversized = TransferGuard::isOversized(reply);
        const QByteArray body = reply->isOpen() && !oversized ? reply->readAll() : QByteArray();
        Answer answer = judge(reply, body, body.size());
        if (oversized) {
            answer.outcome = Outcome::Permanent;
            answer.why = QStringLiteral("answer larger than %1 bytes").arg(HlsPlaylist::maxBytes);
            answer.cause = QStringLiteral("文件损坏");
        }
        if (answer.outcome == Outcome::Transient && attempt < options.retryPausesMs.size()) {
            qDebug() << "request failed, asking again:" << url.path() << answer.why;
            QTimer::singleShot(options.retryPausesMs.at(attempt), this, [=] {
                if (epoch == at) {
                    fetch(url, withCookie, timeoutMs, then, attempt + 1);
                }
            });
            return;
        }
        then(answer);
    });
}

bool LessonTransfer::startSegment(int id, const QUrl& url, const QString& name,
                                  const QString& partFile, const Resume& resume)
{
    Transfer transfer;
    transfer.id = id;
    transfer.name = name;
    transfer.url = url;
    transfer.resume = resume;
    // Only bytes that are really there, of a server that has not answered a range wrongly.
    const bool goOn =
        resume.kept > 0 && !resume.rangesRefused && QFileInfo(partFile).size() == resume.kept;
    if (!goOn) {
        transfer.resume.kept = 0;
    }
    transfer.base = transfer.resume.kept;
    auto* file = new QFile(partFile, this);
    const QIODevice::OpenMode how = goOn ? QIODevice::WriteOnly | QIODevice::Append
                                         : QIODevice::WriteOnly | QIODevice::Truncate;
    if (!writeAllowed(name) || !file->open(how)) {
        qDebug() << "cannot write" << file->fileName() << file->errorString();
        delete file;
        return false;
    }
    transfer.file = file;
    request(transfer);
    return true;
}

void LessonTransfer::request(Transfer transfer)
{
    QNetworkReply* reply = get(transfer.url, false, options.requestTimeoutMs, true, &transfer);
    // What is not read stays in the socket: the server is held back, not just the disk, and a
    // body faster than the disk does not pile up in memory.
    reply->setReadBufferSize(readBuffer());
    active.insert(reply, transfer);
    connect(reply, &QNetworkReply::readyRead, this, [this, reply] { onData(reply); });
    connect(reply, &QNetworkReply::finished, this, [this, reply] { onFinished(reply); });
}

bool LessonTransfer::decide(QNetworkReply* reply)
{
    Transfer& t = active[reply];
    if (t.decided) {
        return true;
    }
    t.decided = true;
    const int status = reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt();
    if (t.base > 0 && status == 416) {
        startOver(reply, "416");
        return false;
    }
    // An error page, or what a proxy answers in place of the segment, is no part of it; the
    // kept bytes stay as they are.
    if (status < 200 || status > 299 ||
        reply->header(QNetworkRequest::ContentTypeHeader)
            .toString()
            .startsWith(QLatin1String("text/html"), Qt::CaseInsensitive)) {
        t.discard = true;
        return true;
    }
    if (status == 206) {
        static const QRegularExpression form(QStringLiteral("^bytes (\\d+)-(\\d+)/(\\d+)$"));
        const QRegularExpressionMatch range =
            form.match(QString::fromLatin1(reply->rawHeader("Content-Range")).trimmed());
        bool hasLength = false;
        const qint64 length =
            reply->header(QNetworkRequest::ContentLengthHeader).toLongLong(&hasLength);
        const qint64 first = range.captured(1).toLongLong();
        const qint64 last = range.captured(2).toLongLong();
        const qint64 whole = range.captured(3).toLongLong();
        const bool fits = range.hasMatch() && first == t.base && last == whole - 1 &&
                          last >= first && (t.resume.length < 0 || whole == t.resume.length) &&
                          (!hasLength || length == last - first + 1);
        if (!fits) {
            if (t.base > 0) {
                startOver(reply, "Content-Range does not fit");
                return false;
            }
            // A part where the whole was asked for: nothing of it is kept.
            t.discard = true;
            return true;
        }
        t.resume.length = whole;
        return true;
    }
    if (t.base > 0) {
        // The server does not take ranges (or the file changed): this is the whole body.
        qDebug() << "the whole segment comes again, from its start:" << t.name;
        t.file->resize(0);
        t.base = 0;
        t.resume.kept = 0;
    }
    bool hasLength = false;
    const qint64 length =
        reply->header(QNetworkRequest::ContentLengthHeader).toLongLong(&hasLength);
    t.resume.length = hasLength ? length : -1;
    const QByteArray etag = reply->rawHeader("ETag");
    // A weak tag does not promise the same bytes.
    t.resume.validator =
        !etag.isEmpty() && !etag.startsWith("W/") ? etag : reply->rawHeader("Last-Modified");
    return true;
}

void LessonTransfer::startOver(QNetworkReply* reply, const char* why)
{
    Transfer t = active.take(reply);
    reply->disconnect(this);
    reply->abort();
    reply->deleteLater();
    qDebug() << "a range answered wrongly (" << why << "), asking for the whole segment:" << t.name;
    t.file->resize(0);
    t.base = 0;
    t.received = 0;
    t.decided = false;
    t.discard = false;
    t.ended = false;
    t.resume.kept = 0;
    t.resume.rangesRefused = true;
    request(t);
}

bool LessonTransfer::write(Transfer& t, QNetworkReply* reply, const QByteArray& data)
{
    if (data.isEmpty() || t.discard) {
        return true;
    }
    // Past the bound the reply is cut off; it ends as an oversized answer.
    if (TransferGuard::overrun(reply, t.received + data.size())) {
        return true;
    }
    if (!writeAllowed(t.name) || !disk.take(data.size())) {
        qDebug() << "cannot write" << t.file->fileName() << "(refused, or the disk is full)";
        emit writeFailed(writeAllowed(t.name)
                             ? DiskBudget::shortage(QFileInfo(t.file->fileName()).absolutePath())
                             : QString());
        return false;
    }
    if (t.file->write(data) != data.size()) {
        // The system's reason, taken before anything else touches the file.
        qDebug() << "cannot write" << t.file->fileName() << t.file->errorString();
        emit writeFailed(QString());
        return false;
    }
    t.received += data.size();
    return true;
}

void LessonTransfer::onData(QNetworkReply* reply)
{
    if (!active.contains(reply) || !decide(reply)) {
        return;
    }
    if (bucket.isLimited()) {
        drain();
        return;
    }
    const QByteArray data = reply->readAll();
    meter.add(data.size());
    write(active[reply], reply, data);
}

void LessonTransfer::onFinished(QNetworkReply* reply)
{
    if (!active.contains(reply) || !decide(reply)) {
        return;
    }
    if (bucket.isLimited() && reply->isOpen() && reply->bytesAvailable() > 0) {
        active[reply].ended = true;
        drain();
        return;
    }
    complete(reply);
}

void LessonTransfer::complete(QNetworkReply* reply)
{
    Transfer t = active.take(reply);
    reply->deleteLater();
    // An aborted reply (time-out) is closed and has nothing more to read.
    const QByteArray rest = reply->isOpen() ? reply->readAll() : QByteArray();
    meter.add(rest.size());
    const unsigned at = epoch;
    const bool wrote = write(t, reply, rest);
    if (!wrote || epoch != at) {
        t.file->close();
        delete t.file;
        return;
    }
    Ending ending;
    ending.id = t.id;
    ending.answer = judge(reply, QByteArray(), t.received);
    if (t.discard && ending.answer.outcome == Outcome::Ok) {
        ending.answer.outcome = Outcome::Transient;
        ending.answer.why = QStringLiteral("a part of the segment where the whole was asked for");
    }
    // Taken before the reply goes: how many segments shared the line when this one was cut.
    ending.floorCut = TransferGuard::hasExpired(reply) && t.received > 0;
    ending.sharing = active.size() + 1;
    ending.writeFailed = !t.file->flush();
    if (ending.writeFailed) {
        qDebug() << "cannot write" << t.file->fileName() << t.file->errorString();
    }
    ending.file = t.file->fileName();
    t.file->close();
    delete t.file;
    ending.resume = t.resume;
    ending.resume.kept = t.base + t.received;
    emit segmentEnded(ending);
}

qint64 LessonTransfer::readQuantum() const
{
    // About twenty reads a second: smooth enough for the line, few enough to cost nothing.
    return qBound<qint64>(2048, bucket.rate() / 20, 64 * 1024);
}

qint64 LessonTransfer::readBuffer() const
{
    return bucket.isLimited() ? readQuantum() : 1024 * 1024;
}

void LessonTransfer::setRateLimit(qint64 bytesPerSecond)
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

void LessonTransfer::drain()
{
    if (active.isEmpty()) {
        return;
    }
    const unsigned at = epoch;
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
        if (!active.contains(reply) || !decide(reply)) {
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
            if (!write(active[reply], reply, data) || epoch != at) {
                return;
            }
        }
        if (active.value(reply).ended && waiting(reply) == 0) {
            complete(reply);
            if (epoch != at) {
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

qint64 LessonTransfer::bytesInFlight() const
{
    qint64 bytes = 0;
    for (const Transfer& transfer : active) {
        bytes += transfer.base + transfer.received;
    }
    return bytes;
}

void LessonTransfer::abortAll()
{
    ++epoch;
    throttleTimer->stop();
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
        delete file;
    }
    const QList<QNetworkReply*> answers = small;
    small.clear();
    for (QNetworkReply* reply : answers) {
        reply->disconnect(this);
        reply->abort();
        reply->deleteLater();
    }
}
