#pragma once

#include <QElapsedTimer>
#include <QObject>
#include <QTimer>

class QNetworkReply;

// Bounds one reply in time and size: no answer (headers) within `answerMs`, a body arriving
// slower than `floorBytes` per `windowMs`, or one longer than `maxBytes`, aborts it. `hasExpired`
// then tells the abort apart from one the caller made, and the reply counts as failed for now
// (asked again later).
class TransferGuard : public QObject
{
    Q_OBJECT
public:
    struct Limits
    {
        int answerMs = 15000;  // 0: no deadline for the answer
        qint64 floorBytes = 0; // 0: no floor; the whole body must arrive within `answerMs`
        int windowMs = 30000;
        qint64 maxBytes = 0; // 0: no bound; a longer body is cut off before it fills the memory
    };

    // The guard lives as the reply's child.
    static TransferGuard* attach(QNetworkReply* reply, const Limits& limits);
    static bool hasExpired(const QNetworkReply* reply);
    static bool isOversized(const QNetworkReply* reply);
    // For a reader that takes the body as it comes: `consumed` bytes read so far. Past the
    // guard's `maxBytes` the reply is flagged oversized and aborted (queued) and true returned.
    // The toolkit tells progress only every so often, too late for a fast body.
    static bool overrun(QNetworkReply* reply, qint64 consumed);

private:
    TransferGuard(QNetworkReply* reply, const Limits& limits);
    void expire(const char* why);
    void check();

    QNetworkReply* reply;
    Limits limits;
    QTimer answerTimer;
    QTimer windowTimer;
    qint64 received = 0;
    qint64 receivedAtWindowStart = 0;
    bool answered = false;
};
