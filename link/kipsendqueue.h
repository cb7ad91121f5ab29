#pragma once

#include <QByteArray>
#include <QList>
#include <QMutex>
#include <QObject>

namespace EMS {

class KipConnection;

// Paces framed output with the card's "clear to send": the gate closes once more than
// 512 bytes went out since the last release, and frames sent meanwhile wait in order.
// All callers are on the GUI thread; the mutex keeps each operation whole regardless.
class KipSendQueue : public QObject
{
    Q_OBJECT

public:
    static constexpr int ReleaseBudget = 512;

    KipSendQueue(KipConnection *connection, QObject *parent);

    void send(const QByteArray &frame);
    void release();
    void block();
    void clear();

    bool isGateOpen() const;
    int queuedFrames() const;
    int bytesSentSinceRelease() const;

private:
    // Writes one frame with the mutex held; returns false once the gate has closed.
    void writeLocked(const QByteArray &frame);

    KipConnection *connection;
    QList<QByteArray> frames;
    bool sendGateOpen = true;
    int bytesSinceRelease = 0;
    mutable QMutex mutex;
};

} // namespace EMS
