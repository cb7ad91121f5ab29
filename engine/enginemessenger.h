#pragma once

#include "engine/enginemessage.h"

#include <QByteArray>
#include <QObject>
#include <QVector>
#include <QString>

namespace EMS {

class AppConnection;
class EngineConnection;

// Numbers and frames outgoing engine messages and finds, checks and decodes incoming
// frames in the byte stream of one transport: the engine file for a desktop engine
// (empty host) or UDP to an engine on the network.
//
// Reassembly: the received bytes collect in a buffer of at most MaxBufferBytes; a
// chunk that would take it past that empties it whole. A frame is found at any
// position, so junk before a frame is skipped (and reported once the frame is
// found), and a frame split over chunks is found when its last byte arrives.
class EngineMessenger : public QObject
{
    Q_OBJECT

public:
    static constexpr int MaxBufferBytes = 4096;
    static constexpr char ErrorPrefix[] = "EngineMessenger ERROR: ";

    explicit EngineMessenger(QObject *parent = nullptr);
    ~EngineMessenger() override;

    // Empty host: the engine file. Otherwise UDP to host:port, listening on port.
    void open(const QString &host, quint16 port);
    // UDP with a local port of its own (0: any free port), for an engine on this host.
    void open(const QString &host, quint16 remotePort, quint16 localPort);
    void close();
    bool isOpen() const;

    // Numbers the message (its sequence is set) and sends it on the open transport;
    // on a closed messenger the message is dropped, but still numbered.
    void sendMessage(EngineMessage *message);
    void resetSequence() { sequenceCounter = 0; }

    int nextSequence() const { return sequenceCounter; }
    int receiveErrors() const { return receiveErrorCount; }
    int reportedErrors() const { return reportedErrorCount; }
    int bufferedBytes() const { return receiveBuffer.size(); }
    int peakBufferedBytes() const { return peakBuffered; }

    EngineConnection *fileConnection() const { return fileLink; }
    AppConnection *networkConnection() const { return networkLink; }

public slots:
    void receiveData(QByteArray rawData);

signals:
    // The message lives only during the emission; receivers copy what they keep.
    void messageReceived(EMS::EngineMessage *message);
    void errorsReceived(int count);
    void errorsReported(int count);
    void statusMessage(QString status);

private:
    enum class Candidate { NotAFrame, Incomplete, Whole };

    Candidate frameAt(int position) const;
    void scan();
    void takeFrameAt(int position);
    void dropFront(int count);
    void report(const QString &text);
    void countReceiveError(const QString &text);

    EngineConnection *fileLink;
    AppConnection *networkLink;
    QByteArray receiveBuffer;
    int sequenceCounter = 0;
    int receiveErrorCount = 0;
    int reportedErrorCount = 0;
    int peakBuffered = 0;

    // Every position below examinedUpTo has been looked at. Those whose frame could
    // still complete when more bytes arrive are listed in `waiting` (ascending); all
    // others were settled for good (their bytes are all in and fail the checks), so
    // they are never looked at again. This keeps the scan linear in the bytes received,
    // and reports each damaged frame once, however many chunks arrive before a good
    // frame carries it off as junk.
    int examinedUpTo = 0;
    QVector<int> waiting;
};

} // namespace EMS
