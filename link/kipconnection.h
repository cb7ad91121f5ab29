#pragma once

#include "link/serialtransport.h"

#include <QByteArray>
#include <QObject>
#include <QSerialPort>
#include <QString>

class QTimer;

namespace EMS {

class EngineMessenger;

// The byte link under one card port: a byte transport (the serial port at the card
// link's fixed line settings, 115200 8N1, unless another is given), or, under the port
// name "EMS", the engine path on which the bytes travel wrapped in engine messages.
// Knows no frames.
class KipConnection : public QObject
{
    Q_OBJECT

public:
    static constexpr qint32 BaudRate = SerialTransport::BaudRate;
    static constexpr int ReopenDelayMs = 2500;

    // Without a transport the connection makes its own SerialTransport; a given one is
    // taken over (re-parented to the connection).
    KipConnection(QObject *parent, int slotIndex, EngineMessenger *engineMessenger = nullptr,
                  ByteTransport *transport = nullptr);

    int slotIndex() const { return slot; }
    QString portName() const { return name; }
    bool isViaEngine() const { return viaEngine; }
    bool isSerialOpen() const;
    // Open on either path: the serial port is open, or the engine path is connected.
    bool isOpen() const { return isSerialOpen() || viaEngine; }
    EngineMessenger *messenger() const { return engineMessenger; }
    ByteTransport *transport() const { return bytes; }
    // Single shot that runs open() again after open() closed an open link; close() and
    // a fresh open() cancel it, so a stale reopen never undoes what was asked later.
    QTimer *reopenTimer() const { return reopen; }

    // The engine path wraps card bytes as: byte count (32-bit, least significant byte
    // first), then the bytes. Unwrapping yields at most the bytes that are there.
    static QByteArray wrapEngineData(const QByteArray &data);
    static QByteArray unwrapEngineData(const QByteArray &wrapped);

signals:
    void dataReceived(QByteArray data);
    void connectedChanged(bool connected);
    void statusMessage(QString status);
    void serialError(QSerialPort::SerialPortError error);

public slots:
    void open();
    void close();
    void readData();
    void writeData(QByteArray data);
    void setPortName(QString portName);
    void setEngineBaudRate(float baudRate);

private:
    EngineMessenger *engineMessenger;
    ByteTransport *bytes;
    QTimer *reopen;
    int slot;
    QString name = QStringLiteral("EMS");
    bool viaEngine = false;
};

} // namespace EMS
