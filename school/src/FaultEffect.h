#pragma once

#include <QString>

#include <memory>

class RateLimiter;

// What the fault rules do to one request, all matching rules taken together.
struct FaultEffect
{
    int latencyMs = 0;
    int stallMs = 0;
    // Headers at once, then the body one byte every this many milliseconds.
    int trickleMs = 0;
    int status = 0;
    qint64 cutAfter = -1;
    bool html = false;
    bool chunked = false;
    bool shortKey = false;
    bool drop = false;
    QString playlist;
    QString urlQuery; // appended to the playlist address of the key-and-address answer
    // A 302 to this origin ("http://localhost:PORT") with the request's own path and query.
    QString redirect;
    // The answer in place of the route's own (JSON when it starts with '{', else HTML).
    QString body;
    // The body padded with zero bytes to this length (announced), or without end (chunked).
    qint64 inflateTo = 0;
    bool endless = false;
    // A small PNG whose header claims 20000 x 20000 pixels, in place of the answer.
    bool bomb = false;
    // How a Range request is answered: "" as asked (206), "ignore" (200 with the whole
    // body), "refuse" (416), "shifted" (206 from another start, so labelled), "badtotal"
    // (206 from the asked start, but naming another whole length).
    QString range;
    std::shared_ptr<RateLimiter> limiter;

    bool shapesBody() const { return limiter || cutAfter >= 0 || chunked || trickleMs > 0; }
    bool padsBody() const { return inflateTo > 0 || endless; }
};
