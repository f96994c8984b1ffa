#include "SchoolServer.h"
#include "FaultRules.h"
#include "MediaLibrary.h"
#include "RateLimiter.h"
#include "RequestQuery.h"
#include "School.h"
#include "Statistics.h"
#include "StopSignal.h"
#include "TlsCredentials.h"

#include <QCryptographicHash>
#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>

#include <httplib.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <future>

#include <arpa/inet.h>
#include <dirent.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>
#include <zlib.h>

namespace {

const char kHost[] = "127.0.0.1";

QByteArray resource(const char* path)
{
    QFile file(QString::fromLatin1(path));
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

QString pathOf(const httplib::Request& req)
{
    return QString::fromStdString(req.path);
}

void sendJson(httplib::Response& res, int status, const QJsonObject& object)
{
    res.status = status;
    res.set_content(QJsonDocument(object).toJson(QJsonDocument::Compact).toStdString(),
                    "application/json; charset=utf-8");
}

void sendOk(httplib::Response& res)
{
    sendJson(res, 200, QJsonObject{{QStringLiteral("ok"), true}});
}

void sendError(httplib::Response& res, const QString& error)
{
    sendJson(res, 400,
             QJsonObject{{QStringLiteral("ok"), false}, {QStringLiteral("error"), error}});
}

bool parseBody(const httplib::Request& req, httplib::Response& res, QJsonValue* value)
{
    if (req.body.empty()) {
        *value = QJsonValue();
        return true;
    }
    QJsonParseError error;
    // Wrapping lets a bare array or object through the document parser alike.
    const QByteArray wrapped = "[" + QByteArray::fromStdString(req.body) + "]";
    const QJsonDocument doc = QJsonDocument::fromJson(wrapped, &error);
    if (!doc.isArray() || doc.array().size() != 1) {
        sendError(res, QStringLiteral("body is not JSON: ") + error.errorString());
        return false;
    }
    *value = doc.array().at(0);
    return true;
}

quint32 crc32(const QByteArray& bytes)
{
    quint32 crc = 0xFFFFFFFFu;
    for (const char byte : bytes) {
        crc ^= quint8(byte);
        for (int bit = 0; bit < 8; ++bit) {
            crc = (crc >> 1) ^ (0xEDB88320u & (0u - (crc & 1u)));
        }
    }
    return ~crc;
}

QByteArray pngChunk(const char* type, const QByteArray& data)
{
    QByteArray chunk;
    const quint32 length = quint32(data.size());
    for (int shift = 24; shift >= 0; shift -= 8) {
        chunk.append(char((length >> shift) & 0xFF));
    }
    const QByteArray body = QByteArray(type) + data;
    const quint32 crc = crc32(body);
    chunk.append(body);
    for (int shift = 24; shift >= 0; shift -= 8) {
        chunk.append(char((crc >> shift) & 0xFF));
    }
    return chunk;
}

// A picture bomb: 20000 x 20000 RGBA pixels (1.6 GB decoded) in a small file.
QByteArray pictureBomb()
{
    const quint32 side = 20000;
    QByteArray header;
    for (int shift = 24; shift >= 0; shift -= 8) {
        header.append(char((side >> shift) & 0xFF));
    }
    header += header;
    header.append(char(8)).append(char(6)).append(char(0)).append(char(0)).append(char(0));
    // Every row whole (filter byte and black pixels), so that a decoder without bounds
    // really takes the 1.6 GB; about 1.6 MB deflated. Deflating 1.6 GB takes seconds, so one
    // row is deflated with a full flush (a piece that needs nothing before it) and the piece
    // is repeated for every row; once per server.
    static const QByteArray zlib = [] {
        const std::string row(1 + side * 4, '\0');
        z_stream stream{};
        deflateInit(&stream, 9);
        auto deflateRow = [&] {
            QByteArray out(int(deflateBound(&stream, uLong(row.size()))) + 64, '\0');
            stream.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(row.data()));
            stream.avail_in = uInt(row.size());
            stream.next_out = reinterpret_cast<Bytef*>(out.data());
            stream.avail_out = uInt(out.size());
            deflate(&stream, Z_FULL_FLUSH);
            out.truncate(out.size() - int(stream.avail_out));
            return out;
        };
        const QByteArray first = deflateRow(); // the stream's two-byte header, then the piece
        const QByteArray piece = first.mid(2);
        deflateEnd(&stream);
        const uLong rowSum = adler32(adler32(0L, Z_NULL, 0),
                                     reinterpret_cast<const Bytef*>(row.data()), uInt(row.size()));
        uLong sum = adler32(0L, Z_NULL, 0);
        QByteArray out = first.left(2);
        out.reserve(2 + piece.size() * int(side) + 6);
        for (quint32 y = 0; y < side; ++y) {
            out += piece;
            sum = adler32_combine(sum, rowSum, z_off_t(row.size()));
        }
        // The last block: final, fixed codes, nothing but its end; then the checksum.
        out.append(char(0x03)).append(char(0x00));
        for (int shift = 24; shift >= 0; shift -= 8) {
            out.append(char((sum >> shift) & 0xFF));
        }
        return out;
    }();
    return QByteArray("\x89PNG\r\n\x1a\n", 8) + pngChunk("IHDR", header) + pngChunk("IDAT", zlib) +
           pngChunk("IEND", QByteArray());
}

SchoolServer::Reply fromAnswer(const School::Answer& answer)
{
    SchoolServer::Reply reply;
    reply.status = answer.status;
    reply.body = answer.body;
    reply.contentType = answer.contentType.startsWith("application/json")
                            ? "application/json; charset=utf-8"
                            : "text/html; charset=utf-8";
    return reply;
}

// Resets the connection a request came on, before anything of a reply is written. The HTTP
// library does not hand its socket to handlers, so it is found among the open descriptors by
// its two ports. The descriptor number stays taken by a dead socket, so that the library's
// own write fails and its close does not hit a descriptor opened meanwhile.
bool resetConnection(const httplib::Request& req)
{
    DIR* fds = opendir("/proc/self/fd");
    if (!fds) {
        return false;
    }
    int found = -1;
    while (dirent* entry = readdir(fds)) {
        const int fd = std::atoi(entry->d_name);
        sockaddr_in local{}, peer{};
        socklen_t localSize = sizeof(local), peerSize = sizeof(peer);
        if (fd <= 2 || fd == dirfd(fds) ||
            getsockname(fd, reinterpret_cast<sockaddr*>(&local), &localSize) != 0 ||
            local.sin_family != AF_INET || ntohs(local.sin_port) != req.local_port ||
            getpeername(fd, reinterpret_cast<sockaddr*>(&peer), &peerSize) != 0 ||
            ntohs(peer.sin_port) != req.remote_port) {
            continue;
        }
        found = fd;
        break;
    }
    closedir(fds);
    const int dead = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (found < 0 || dead < 0) {
        if (dead >= 0) {
            close(dead);
        }
        return false;
    }
    // A zero linger time makes the close send a reset instead of an orderly end.
    const linger abort{1, 0};
    setsockopt(found, SOL_SOCKET, SO_LINGER, &abort, sizeof(abort));
    const bool replaced = dup2(dead, found) == found;
    close(dead);
    return replaced;
}

} // namespace

SchoolServer::SchoolServer(School& school, MediaLibrary& media, FaultRules& faults,
                           Statistics& stats, StopSignal& stop)
    : school(school), media(media), faults(faults), stats(stats), stopSignal(stop),
      api(std::make_unique<httplib::Server>()), keys(std::make_unique<httplib::Server>())
{
    // A plausible installer: an executable header and a fixed pattern, so a download can be
    // compared byte for byte.
    const qint64 size = std::max<qint64>(64, school.installerSize());
    installerBytes = QByteArray("MZ tamix installer stand-in\n");
    installerBytes.reserve(int(size));
    for (qint64 i = installerBytes.size(); i < size; ++i) {
        installerBytes.append(char(i * 31 % 251));
    }
    school.setInstallerSha256(QString::fromLatin1(
        QCryptographicHash::hash(installerBytes, QCryptographicHash::Sha256).toHex()));
}

SchoolServer::~SchoolServer()
{
    stop();
}

QString SchoolServer::apiUrl() const
{
    return QStringLiteral("%1://%2:%3")
        .arg(QLatin1String(tls ? "https" : "http"), QLatin1String(kHost))
        .arg(boundApiPort);
}

QString SchoolServer::keyUrl() const
{
    return QStringLiteral("%1://%2:%3")
        .arg(QLatin1String(tls ? "https" : "http"), QLatin1String(kHost))
        .arg(boundKeyPort);
}

bool SchoolServer::setTls(const TlsCredentials& credentials, QString* error)
{
    // The listeners take references of their own on the certificate and key.
    auto secureApi =
        std::make_unique<httplib::SSLServer>(credentials.certificate(), credentials.key());
    auto secureKeys =
        std::make_unique<httplib::SSLServer>(credentials.certificate(), credentials.key());
    // The authority goes along as the chain, as a real server sends its intermediates: then
    // a client can be told to accept whatever this authority signed by its key alone.
    if (!secureApi->is_valid() || !secureKeys->is_valid() ||
        SSL_CTX_add1_chain_cert(secureApi->ssl_context(), credentials.authority()) != 1 ||
        SSL_CTX_add1_chain_cert(secureKeys->ssl_context(), credentials.authority()) != 1) {
        *error = QStringLiteral("the HTTPS listeners refuse the certificate");
        return false;
    }
    api = std::move(secureApi);
    keys = std::move(secureKeys);
    tls = true;
    return true;
}

bool SchoolServer::bind(int apiPort, int keyPort, QString* error)
{
    for (httplib::Server* server : {api.get(), keys.get()}) {
        const int threads = workers;
        server->new_task_queue = [threads] {
            return new httplib::ThreadPool(size_t(threads));
        };
        // Fetchers keep their connection for a whole lesson of a few hundred segments.
        server->set_keep_alive_max_count(100000);
        server->set_keep_alive_timeout(5);
        server->set_tcp_nodelay(true);
        // SO_REUSEADDR alone: a port that another school already listens on must fail to
        // bind instead of being shared with it.
        server->set_socket_options([](socket_t sock) {
            int yes = 1;
            setsockopt(sock, SOL_SOCKET, SO_REUSEADDR, &yes, sizeof(yes));
        });
    }
    auto bindOne = [&](httplib::Server& server, int port, int* bound, const char* what) {
        if (port == 0) {
            *bound = server.bind_to_any_port(kHost);
        } else {
            *bound = server.bind_to_port(kHost, port) ? port : -1;
        }
        if (*bound <= 0) {
            *error = QStringLiteral("cannot listen on 127.0.0.1:%1 for the %2")
                         .arg(port)
                         .arg(QLatin1String(what));
            return false;
        }
        return true;
    };
    if (!bindOne(*api, apiPort, &boundApiPort, "API server") ||
        !bindOne(*keys, keyPort, &boundKeyPort, "key-file server")) {
        return false;
    }
    school.setApiBase(apiUrl());
    routeControl();
    routeApi();
    routeKeys();
    return true;
}

void SchoolServer::start()
{
    apiThread = std::thread([this] { api->listen_after_bind(); });
    keyThread = std::thread([this] { keys->listen_after_bind(); });
}

void SchoolServer::stop()
{
    stopSignal.stop();
    api->stop();
    keys->stop();
    if (apiThread.joinable()) {
        apiThread.join();
    }
    if (keyThread.joinable()) {
        keyThread.join();
    }
}

bool SchoolServer::stopWithin(std::chrono::milliseconds limit)
{
    // Idle keep-alive connections hold a worker for seconds; a stop must not wait for them.
    auto done = std::make_shared<std::promise<void>>();
    std::future<void> finished = done->get_future();
    std::thread([this, done] {
        stop();
        done->set_value();
    }).detach();
    return finished.wait_for(limit) == std::future_status::ready;
}

void SchoolServer::serve(const QString& route, const httplib::Request& req, httplib::Response& res,
                         const Builder& build)
{
    const QString cookie = QString::fromStdString(req.get_header_value("Cookie"));
    stats.request(route, pathOf(req), cookie,
                  QString::fromStdString(req.get_header_value("Range")));
    // Ranges are answered here, as the faults want them, not by the library (whose own
    // answer depends on its version). The request object is the library's own, not const.
    const httplib::Ranges ranges = req.ranges;
    const_cast<httplib::Request&>(req).ranges.clear();
    const FaultEffect effect = faults.match(req.path);
    if (logRequests) {
        std::fprintf(stderr, "%s %s\n", req.method.c_str(), req.target.c_str());
    }
    if (effect.latencyMs > 0 && !stopSignal.sleepFor(std::chrono::milliseconds(effect.latencyMs))) {
        res.status = 503;
        return;
    }
    if (effect.stallMs > 0 && !stopSignal.sleepFor(std::chrono::milliseconds(effect.stallMs))) {
        res.status = 503;
        return;
    }
    if (effect.drop) {
        if (resetConnection(req)) {
            return;
        }
        std::fprintf(stderr, "tamix-school: cannot drop the connection of %s\n",
                     req.target.c_str());
    }
    if (!effect.redirect.isEmpty()) {
        res.status = 302;
        res.set_header("Location", (effect.redirect.toStdString() + req.target).c_str());
        return;
    }
    Reply reply;
    if (effect.bomb) {
        reply.body = pictureBomb();
        reply.contentType = "image/png";
    } else if (!effect.body.isEmpty()) {
        reply.body = effect.body.toUtf8();
        reply.contentType = effect.body.startsWith(QLatin1Char('{'))
                                ? "application/json; charset=utf-8"
                                : "text/html; charset=utf-8";
    } else if (effect.status != 0) {
        reply = fromAnswer(school.htmlMessage(
            effect.status, QStringLiteral("服务器错误"),
            QStringLiteral("服务器暂时无法处理请求（%1），请稍后再试。").arg(effect.status)));
    } else if (effect.html) {
        // What a proxy or an overloaded front end answers in place of the real reply.
        reply = fromAnswer(school.htmlMessage(200, QStringLiteral("系统繁忙"),
                                              QStringLiteral("系统繁忙，请稍后再试。")));
    } else {
        reply = build(req, effect);
    }
    if (!ranges.empty() && reply.status == 200 && !effect.padsBody() &&
        !applyRange(ranges, effect, reply, res)) {
        return;
    }
    send(res, reply, effect);
}

bool SchoolServer::applyRange(const httplib::Ranges& ranges, const FaultEffect& effect,
                              Reply& reply, httplib::Response& res)
{
    if (effect.range == QLatin1String("ignore")) {
        return true;
    }
    const qint64 size = reply.data ? reply.size : reply.body.size();
    qint64 first = ranges.front().first;
    qint64 last = ranges.front().second;
    if (first < 0) {
        // A suffix: the last `last` bytes.
        first = size - last;
        last = size - 1;
    } else if (last < 0 || last >= size) {
        last = size - 1;
    }
    if (ranges.size() != 1 || first < 0 || first >= size || first > last ||
        effect.range == QLatin1String("refuse")) {
        res.status = 416;
        res.set_header("Content-Range", "bytes */" + std::to_string(size));
        return false;
    }
    if (effect.range == QLatin1String("shifted")) {
        first /= 2;
    }
    const qint64 whole = effect.range == QLatin1String("badtotal") ? size + 1000 : size;
    const qint64 length = last - first + 1;
    if (reply.data) {
        reply.data += first;
        reply.size = length;
    } else {
        reply.body = reply.body.mid(int(first), int(length));
    }
    reply.status = 206;
    res.set_header("Content-Range", "bytes " + std::to_string(first) + "-" + std::to_string(last) +
                                        "/" + std::to_string(whole));
    return true;
}

void SchoolServer::send(httplib::Response& res, const Reply& reply, const FaultEffect& effect)
{
    res.status = reply.status;
    const QByteArray owned = reply.body;
    const char* data = reply.data ? reply.data : owned.constData();
    const size_t size = size_t(reply.data ? reply.size : owned.size());
    if (effect.padsBody()) {
        sendPadded(res, reply, effect);
        return;
    }
    if (!effect.shapesBody()) {
        if (reply.data) {
            res.set_content_provider(size, reply.contentType,
                                     [data](size_t offset, size_t length, httplib::DataSink& sink) {
                                         return sink.write(data + offset, length);
                                     });
        } else {
            res.set_content(data, size, reply.contentType);
        }
        return;
    }
    size_t limit = size;
    if (effect.cutAfter >= 0) {
        // Always short of the whole body, even when the cut lies past its end.
        limit = std::min(size_t(effect.cutAfter), size > 0 ? size - 1 : 0);
    }
    const bool cut = limit < size;
    std::shared_ptr<RateLimiter> limiter = effect.limiter;
    size_t chunk = 64 * 1024;
    if (limiter) {
        chunk = size_t(std::clamp<std::int64_t>(limiter->rate() / 50, 512, 64 * 1024));
    }
    const int trickleMs = effect.trickleMs;
    if (trickleMs > 0) {
        chunk = 1;
    }
    StopSignal* stop = &stopSignal;
    auto writeFrom = [owned, data, limit, chunk, limiter, stop,
                      trickleMs](size_t offset, httplib::DataSink& sink) {
        const size_t n = std::min(chunk, limit - offset);
        if (limiter && !limiter->acquire(std::int64_t(n), *stop)) {
            return false;
        }
        // The first byte goes at once with the headers, each further one after the pause.
        if (trickleMs > 0 && offset > 0 && !stop->sleepFor(std::chrono::milliseconds(trickleMs))) {
            return false;
        }
        return sink.write(data + offset, n);
    };
    if (effect.chunked) {
        res.set_chunked_content_provider(
            reply.contentType, [writeFrom, limit, cut](size_t offset, httplib::DataSink& sink) {
                if (offset >= limit) {
                    if (cut) {
                        return false; // closes the connection without the last chunk
                    }
                    sink.done();
                    return true;
                }
                return writeFrom(offset, sink);
            });
        return;
    }
    res.set_content_provider(size, reply.contentType,
                             [writeFrom, limit](size_t offset, size_t, httplib::DataSink& sink) {
                                 if (offset >= limit) {
                                     return false; // the connection closes early
                                 }
                                 return writeFrom(offset, sink);
                             });
}

void SchoolServer::sendPadded(httplib::Response& res, const Reply& reply, const FaultEffect& effect)
{
    res.status = reply.status;
    const QByteArray owned = reply.body;
    const char* data = reply.data ? reply.data : owned.constData();
    const size_t size = size_t(reply.data ? reply.size : owned.size());
    static const std::string zeros(64 * 1024, '\0');
    StopSignal* stop = &stopSignal;
    // The real body first, then zero bytes: a huge answer that costs the server no memory.
    auto writeAt = [owned, data, size, stop](size_t offset, size_t length,
                                             httplib::DataSink& sink) {
        if (stop->stopping()) {
            return false;
        }
        if (offset < size) {
            return sink.write(data + offset, std::min(length, size - offset));
        }
        return sink.write(zeros.data(), std::min(length, zeros.size()));
    };
    if (effect.endless) {
        res.set_chunked_content_provider(reply.contentType,
                                         [writeAt](size_t offset, httplib::DataSink& sink) {
                                             return writeAt(offset, zeros.size(), sink);
                                         });
        return;
    }
    res.set_content_provider(std::max(size, size_t(effect.inflateTo)), reply.contentType,
                             [writeAt](size_t offset, size_t length, httplib::DataSink& sink) {
                                 return writeAt(offset, length, sink);
                             });
}

// The playlist and its key need the lesson's "keys" cookie; on refusal `reply` says why.
const MediaLibrary::Stream* SchoolServer::openStream(const QString& streamId,
                                                     const httplib::Request& req, Reply& reply)
{
    const MediaLibrary::Stream* stream = media.stream(streamId);
    if (!stream) {
        reply.status = 404;
        reply.body = "no such stream";
        return nullptr;
    }
    if (!school.cookieOpens(QString::fromStdString(req.get_header_value("Cookie")), streamId)) {
        reply.status = 403;
        reply.body = "the keys cookie is missing or wrong";
        return nullptr;
    }
    return stream;
}

SchoolServer::Reply SchoolServer::playlist(const QString& streamId, const QString& folder,
                                           const httplib::Request& req, const FaultEffect& effect)
{
    Reply reply;
    const MediaLibrary::Stream* stream = openStream(streamId, req, reply);
    if (!stream) {
        return reply;
    }
    reply.contentType = "application/vnd.apple.mpegurl";
    const QString& mode = effect.playlist;
    if (mode == QLatin1String("master") && folder.isEmpty()) {
        // The first variant is missing, as on a CDN that has not got every rendition; the
        // better one lies in a folder of its own, behind a query.
        reply.body = "#EXTM3U\n"
                     "#EXT-X-VERSION:3\n"
                     "#EXT-X-STREAM-INF:BANDWIDTH=150000\n"
                     "lo/index.m3u8\n"
                     "#EXT-X-STREAM-INF:BANDWIDTH=1500000\n"
                     "hi/index.m3u8?v=2\n";
        return reply;
    }
    const QByteArray base = apiUrl().toUtf8() + "/stream/" + streamId.toUtf8();
    const QByteArray folderBase = folder.isEmpty() ? base : base + '/' + folder.toUtf8();
    QByteArray text = stream->playlist;
    if (mode == QLatin1String("filekey")) {
        text.replace(MediaLibrary::kKeyUriPlaceholder, "file:///etc/passwd");
    } else if (mode == QLatin1String("otherhost")) {
        // The same server under another host name: the key's cookie must not follow it.
        QByteArray other = base;
        other.replace("127.0.0.1", "localhost");
        text.replace(MediaLibrary::kKeyUriPlaceholder, other + "/key");
    }
    text.replace(MediaLibrary::kKeyUriPlaceholder, base + "/key");
    if (mode == QLatin1String("keyformat")) {
        text.replace("#EXT-X-KEY:METHOD=AES-128,URI=",
                     "#EXT-X-KEY:METHOD=AES-128,KEYFORMAT=\"identity\",KEYFORMATVERSIONS=\"1\","
                     "URI=");
    }
    // Where a segment or the init section is named, as the fault wants it.
    auto address = [&](const QByteArray& name) -> QByteArray {
        if (mode == QLatin1String("absolute")) {
            return folderBase + '/' + name;
        }
        if (mode == QLatin1String("query")) {
            return name + "?token=ab/cd&e=1";
        }
        if (mode == QLatin1String("subfolder")) {
            return "sub/" + name;
        }
        return name;
    };
    QByteArray keyLine;
    QList<QByteArray> lines;
    int segment = 0;
    int entries = 0;
    for (QByteArray line : text.split('\n')) {
        if (line.startsWith("#EXT-X-KEY:")) {
            keyLine = line;
        } else if (line.startsWith("#EXT-X-MAP:URI=\"")) {
            const QByteArray rest = line.mid(16);
            const int quote = rest.indexOf('"');
            line = "#EXT-X-MAP:URI=\"" + address(rest.left(quote)) + rest.mid(quote);
        } else if (line.startsWith("#EXTINF:")) {
            // The same key again before the middle segment: a client must rewrite every key
            // line, not only the first.
            if (mode == QLatin1String("rotate") && entries == stream->segmentNames.size() / 2) {
                lines.append(keyLine);
            }
            ++entries;
        } else if (line == "#EXT-X-ENDLIST" && mode == QLatin1String("noendlist")) {
            continue;
        } else if (!line.isEmpty() && !line.startsWith('#')) {
            if (mode == QLatin1String("unsafe")) {
                if (segment == 0) {
                    line = "../x.ts";
                } else if (segment == 1) {
                    line = "a\\b.ts";
                }
            } else if (mode == QLatin1String("fileseg") && segment == 0) {
                line = "file:///etc/passwd";
            } else if (mode == QLatin1String("disguised") && line.endsWith(".ts")) {
                // MPEG-TS under the names of other media files, as some CDNs name them.
                static const char* const names[] = {".mp4", ".aac", ".mp3", ".mkv", ".mov"};
                line.chop(3);
                line += names[segment % 5];
            } else if (mode == QLatin1String("oddnames") && line.endsWith(".ts")) {
                // Names a player will not open as local files: none, or a picture's.
                line.chop(3);
                if (segment % 2 == 1) {
                    line += ".jpg";
                }
            } else {
                line = address(line);
            }
            ++segment;
        }
        lines.append(line);
    }
    reply.body = lines.join(mode == QLatin1String("crlf") ? "\r\n" : "\n");
    return reply;
}

SchoolServer::Reply SchoolServer::keyName(const QString& streamId, const httplib::Request& req,
                                          const FaultEffect& effect)
{
    Reply reply;
    const MediaLibrary::Stream* stream = openStream(streamId, req, reply);
    if (!stream) {
        return reply;
    }
    reply.body = stream->keyName.toLatin1();
    if (effect.shortKey) {
        reply.body = reply.body.left(10);
    }
    return reply;
}

SchoolServer::Reply SchoolServer::segment(const QString& streamId, const QString& name) const
{
    Reply reply;
    const MediaLibrary::Stream* stream = media.stream(streamId);
    QString stored = name;
    if (stream && !stream->segments.contains(stored) && !stored.endsWith(QLatin1String(".ts"))) {
        // The names of the "oddnames" and "disguised" playlists.
        stored = stored.section(QLatin1Char('.'), 0, 0) + QStringLiteral(".ts");
    }
    const MediaLibrary::Segment found =
        stream ? stream->segments.value(stored) : MediaLibrary::Segment();
    if (!found.data) {
        reply.status = 404;
        reply.body = "no such segment";
        return reply;
    }
    // fMP4 parts (.m4s and the init section .mp4) are MP4; the rest MPEG-TS.
    reply.contentType = stored.endsWith(QLatin1String(".ts")) ? "video/mp2t" : "video/mp4";
    reply.data = found.data;
    reply.size = found.size;
    return reply;
}

SchoolServer::Reply SchoolServer::sitePage(const QString& title, const QString& text)
{
    return fromAnswer(school.htmlMessage(200, title, text));
}

SchoolServer::Reply SchoolServer::installer()
{
    Reply reply;
    reply.contentType = "application/octet-stream";
    reply.body = installerBytes;
    return reply;
}

void SchoolServer::routeApi()
{
    using httplib::Request;
    using httplib::Response;
    auto signedCall = [this](const char* folder) {
        return [this, folder](const Request& req, Response& res) {
            const QString endpoint = QString::fromStdString(req.matches[1]);
            serve(endpoint, req, res,
                  [this, folder, endpoint](const Request& r, const FaultEffect& e) {
                      School::Answer answer;
                      if (!school.call(QLatin1String(folder), endpoint, RequestQuery(r.target),
                                       &answer, e.urlQuery)) {
                          answer = school.htmlMessage(404, QStringLiteral("页面不存在"),
                                                      QStringLiteral("没有这个接口。"));
                      }
                      return fromAnswer(answer);
                  });
        };
    };
    api->Get(R"(/foreuser_app/([A-Za-z_]+)/*)", signedCall("foreuser_app"));
    api->Get(R"(/course_app/([A-Za-z_]+)/*)", signedCall("course_app"));

    api->Get(R"(/myclass/index/*)", [this](const Request& req, Response& res) {
        serve(QStringLiteral("myclass"), req, res, [this](const Request& r, const FaultEffect&) {
            return fromAnswer(school.myClassPage(RequestQuery(r.target)));
        });
    });
    api->Get(R"(/stream/([A-Za-z0-9_]+)/index\.m3u8)", [this](const Request& req, Response& res) {
        const QString id = QString::fromStdString(req.matches[1]);
        serve(QStringLiteral("playlist"), req, res,
              [this, id](const Request& r, const FaultEffect& e) {
                  return playlist(id, QString(), r, e);
              });
    });
    // The variants of the master playlist fault: only "hi" exists.
    api->Get(R"(/stream/([A-Za-z0-9_]+)/([a-z]+)/index\.m3u8)",
             [this](const Request& req, Response& res) {
                 const QString id = QString::fromStdString(req.matches[1]);
                 const QString folder = QString::fromStdString(req.matches[2]);
                 serve(QStringLiteral("playlist"), req, res,
                       [this, id, folder](const Request& r, const FaultEffect& e) {
                           if (folder != QLatin1String("hi")) {
                               Reply reply;
                               reply.status = 404;
                               reply.body = "no such variant";
                               return reply;
                           }
                           return playlist(id, folder, r, e);
                       });
             });
    api->Get(R"(/stream/([A-Za-z0-9_]+)/key)", [this](const Request& req, Response& res) {
        const QString id = QString::fromStdString(req.matches[1]);
        serve(QStringLiteral("key"), req, res,
              [this, id](const Request& r, const FaultEffect& e) { return keyName(id, r, e); });
    });
    // Segments directly under the stream, or in the folders the playlist faults name.
    api->Get(R"(/stream/([A-Za-z0-9_]+)/(?:(?:sub|hi)/)?([^/]+))", [this](const Request& req,
                                                                          Response& res) {
        const QString id = QString::fromStdString(req.matches[1]);
        const QString name = QString::fromStdString(req.matches[2]);
        serve(QStringLiteral("segment"), req, res,
              [this, id, name](const Request&, const FaultEffect&) { return segment(id, name); });
    });
    api->Get(R"(/img/((course|avatar)/[A-Za-z0-9_]+\.jpg))", [this](const Request& req,
                                                                    Response& res) {
        const QString path = QString::fromStdString(req.matches[1]);
        serve(QStringLiteral("image"), req, res, [this, path](const Request&, const FaultEffect&) {
            Reply reply;
            reply.body = media.image(path);
            if (reply.body.isEmpty()) {
                reply.status = 404;
                reply.body = "no such picture";
            } else {
                reply.contentType = "image/jpeg";
            }
            return reply;
        });
    });
    api->Get(R"(/download/(.+))", [this](const Request& req, Response& res) {
        const QString name = QString::fromStdString(req.matches[1]);
        serve(QStringLiteral("installer"), req, res,
              [this, name](const Request&, const FaultEffect&) {
                  if (name != school.versionInstallerName()) {
                      Reply reply;
                      reply.status = 404;
                      reply.body = "no such file";
                      return reply;
                  }
                  return installer();
              });
    });
    const QByteArray css = resource(":/web/school.css");
    const QByteArray js = resource(":/web/school.js");
    api->Get(R"(/static/school\.(css|js))", [this, css, js](const Request& req, Response& res) {
        const bool isCss = req.matches[1] == "css";
        serve(QStringLiteral("static"), req, res,
              [css, js, isCss](const Request&, const FaultEffect&) {
                  Reply reply;
                  reply.body = isCss ? css : js;
                  reply.contentType =
                      isCss ? "text/css; charset=utf-8" : "application/javascript; charset=utf-8";
                  return reply;
              });
    });
    api->Get(R"(/(help|suggest)/.*|/)", [this](const Request& req, Response& res) {
        serve(QStringLiteral("site"), req, res, [this](const Request& r, const FaultEffect&) {
            if (r.path.rfind("/help", 0) == 0) {
                return sitePage(QStringLiteral("帮助中心"),
                                QStringLiteral("常见问题：下载的课件保存在设置中选择的目录里。"));
            }
            if (r.path.rfind("/suggest", 0) == 0) {
                return sitePage(QStringLiteral("意见反馈"),
                                QStringLiteral("感谢您的反馈，我们会尽快处理。"));
            }
            return sitePage(QStringLiteral("岚禾会计网校"),
                            QStringLiteral("欢迎来到岚禾会计网校，请使用桌面客户端学习。"));
        });
    });
}

void SchoolServer::routeKeys()
{
    keys->Get(R"(/keyfile/2016/([^/]+)\.k)",
              [this](const httplib::Request& req, httplib::Response& res) {
                  const QString name = QString::fromStdString(req.matches[1]);
                  serve(QStringLiteral("keyfile"), req, res,
                        [this, name](const httplib::Request&, const FaultEffect&) {
                            Reply reply;
                            const MediaLibrary::Stream* stream = media.streamByKeyFile(name);
                            if (!stream) {
                                reply.status = 404;
                                reply.body = "no such key file";
                                return reply;
                            }
                            reply.contentType = "application/octet-stream";
                            reply.body = stream->key;
                            return reply;
                        });
              });
}

void SchoolServer::routeControl()
{
    using httplib::Request;
    using httplib::Response;
    api->Get("/_school/ping", [](const Request&, Response& res) { sendOk(res); });
    api->Get("/_school/stats", [this](const Request&, Response& res) {
        QJsonObject out = stats.toJson();
        out.insert(QStringLiteral("faults"), faults.toJson());
        sendJson(res, 200, out);
    });
    api->Post("/_school/stats/reset", [this](const Request&, Response& res) {
        stats.reset();
        sendOk(res);
    });
    api->Get("/_school/faults", [this](const Request&, Response& res) {
        sendJson(res, 200, QJsonObject{{QStringLiteral("faults"), faults.toJson()}});
    });
    api->Post("/_school/faults", [this](const Request& req, Response& res) {
        QJsonValue body;
        QString error;
        if (!parseBody(req, res, &body)) {
            return;
        }
        if (!faults.replace(body, &error)) {
            sendError(res, error);
            return;
        }
        sendOk(res);
    });
    api->Post("/_school/faults/add", [this](const Request& req, Response& res) {
        QJsonValue body;
        QString error;
        if (!parseBody(req, res, &body)) {
            return;
        }
        if (!faults.add(body.toObject(), &error)) {
            sendError(res, error);
            return;
        }
        sendOk(res);
    });
    api->Post("/_school/session", [this](const Request& req, Response& res) {
        QJsonValue body;
        QString error;
        if (!parseBody(req, res, &body)) {
            return;
        }
        const QJsonObject object = body.toObject();
        if (!school.bindSession(object.value(QLatin1String("sid")).toString(),
                                object.value(QLatin1String("username")).toString(), &error)) {
            sendError(res, error);
            return;
        }
        sendOk(res);
    });
    api->Post("/_school/sessions/forget", [this](const Request&, Response& res) {
        school.forgetSessions();
        sendOk(res);
    });
    api->Post("/_school/version", [this](const Request& req, Response& res) {
        QJsonValue body;
        if (!parseBody(req, res, &body)) {
            return;
        }
        const QJsonObject object = body.toObject();
        const QString version = object.value(QLatin1String("version")).toString();
        if (version.isEmpty()) {
            sendError(res, QStringLiteral("a version answer needs a version"));
            return;
        }
        const QJsonValue content = object.value(QLatin1String("content"));
        school.setDesktopVersion(version, content.isString() ? content.toString() : QString());
        sendOk(res);
    });
}
