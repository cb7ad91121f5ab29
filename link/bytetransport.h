#pragma once

#include <QByteArray>
#include <QObject>
#include <QSerialPort>
#include <QString>

namespace EMS {

// The byte stream under one card port: a serial line, or a stand-in for one in tests.
// Knows nothing of frames. Bytes that arrive are announced by readyRead() and fetched
// with readAll(), as on a QSerialPort.
class ByteTransport : public QObject
{
    Q_OBJECT

public:
    // The two ways an open can fail are reported differently to the user: a port that
    // cannot be had at all, and a port that opened but refused the line settings.
    enum class OpenResult { Opened, PortUnavailable, LineSettingsRefused };

    using QObject::QObject;

    // Opens the named port at the card link's line settings. A failed open leaves the
    // transport closed.
    virtual OpenResult open(const QString &portName) = 0;
    virtual void close() = 0;
    virtual bool isOpen() const = 0;
    // The number of bytes taken, or -1 when the write failed.
    virtual qint64 write(const QByteArray &data) = 0;
    virtual QByteArray readAll() = 0;

signals:
    void readyRead();
    void errorOccurred(QSerialPort::SerialPortError error);
};

} // namespace EMS
