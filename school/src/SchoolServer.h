#pragma once

#include "FaultEffect.h"
#include "MediaLibrary.h"

#include <QByteArray>
#include <QString>

#include <chrono>
#include <functional>
#include <memory>
#include <sys/types.h>
#include <thread>
#include <utility>
#include <vector>

namespace httplib {
class Server;
struct Request;
struct Response;
} // namespace httplib

class FaultRules;
class School;
class Statistics;
class StopSignal;
class TlsCredentials;

// The two loopback listeners: the API server (calls, pages, pictures, streams, installer
// and the control endpoint under /_school/) and the key-file server. Every request except
// control ones is counted and passes through the fault rules first.
class SchoolServer
{
public:
    struct Reply
    {
        int status = 200;
        const char* contentType = "text/plain; charset=utf-8";
        QByteArray body;
        // Mapped media that outlives the server; used instead of `body` when set.
        const char* data = nullptr;
        qint64 size = 0;
    };

    SchoolServer(School& school, MediaLibrary& media, FaultRules& faults, Statistics& stats,
                 StopSignal& stop);
    ~SchoolServer();

    void setWorkerThreads(int count) { workers = count; }
    void setLogRequests(bool on) { logRequests = on; }
    // Both listeners speak HTTPS with this certificate; before bind(). False with a message.
    bool setTls(const TlsCredentials& credentials, QString* error);
    // Binds both listeners on 127.0.0.1; port 0 picks a free one. False with a message.
    bool bind(int apiPort, int keyPort, QString* error);
    int apiPort() const { return boundApiPort; }
    int keyPort() const { return boundKeyPort; }
    QString apiUrl() const;
    QString keyUrl() const;
    void start();
    void stop();
    // Stops on a helper thread; false when that took longer than `limit`.
    bool stopWithin(std::chrono::milliseconds limit);

private:
    using Builder = std::function<Reply(const httplib::Request&, const FaultEffect&)>;

    void routeApi();
    void routeKeys();
    void routeControl();
    void serve(const QString& route, const httplib::Request& req, httplib::Response& res,
               const Builder& build);
    void send(httplib::Response& res, const Reply& reply, const FaultEffect& effect);
    // Cuts `reply` to the range asked for, as the fault wants it; false when the answer is
    // 416 (set in `res`).
    static bool applyRange(const std::vector<std::pair<ssize_t, ssize_t>>& ranges,
                           const FaultEffect& effect, Reply& reply, httplib::Response& res);
    void sendPadded(httplib::Response& res, const Reply& reply, const FaultEffect& effect);
    const MediaLibrary::Stream* openStream(const QString& streamId, const httplib::Request& req,
                                           Reply& reply);
    // `folder` names the variant folder of a master playlist; empty for the playlist itself.
    Reply playlist(const QString& streamId, const QString& folder, const httplib::Request& req,
                   const FaultEffect& effect);
    Reply segment(const QString& streamId, const QString& name) const;
    Reply keyName(const QString& streamId, const httplib::Request& req, const FaultEffect& effect);
    Reply sitePage(const QString& title, const QString& text);
    Reply installer();

    School& school;
    MediaLibrary& media;
    FaultRules& faults;
    Statistics& stats;
    StopSignal& stopSignal;
    std::unique_ptr<httplib::Server> api;
    std::unique_ptr<httplib::Server> keys;
    std::thread apiThread;
    std::thread keyThread;
    QByteArray installerBytes;
    int workers = 32;
    bool logRequests = false;
    bool tls = false;
    int boundApiPort = 0;
    int boundKeyPort = 0;
};
