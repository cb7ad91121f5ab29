#pragma once

#include <QByteArray>
#include <QObject>

namespace Common {

// The one signal every connection emits. Kept apart from IConnection so that the
// interface stays a plain abstract class and a connection can still be a QObject.
class ConnectionSignals : public QObject
{
    Q_OBJECT

public:
    using QObject::QObject;

signals:
    // A non-empty chunk of received bytes, as it arrived; chunks carry no framing.
    void dataReceived(QByteArray data);
};

// A byte stream to somewhere: nothing, a UDP peer, a TCP peer or a serial port.
class IConnection
{
public:
    virtual ~IConnection() = default;

    virtual bool isOpen() const = 0;
    virtual void open() = 0;
    virtual void close() = 0;
    // The object that emits dataReceived for this connection (the connection itself).
    virtual ConnectionSignals *connectionSignals() = 0;
    virtual void send(QByteArray data) = 0;
};

} // namespace Common
