#pragma once

#include "link/bytetransport.h"

#include <QStringList>

namespace EMS {

// An in-process stand-in for a card's serial adapter: keeps what is written, hands over
// bytes a test pushes as if the card had sent them, raises serial errors on demand, and
// can be told to refuse the next opens. Everything happens at once, in the caller's
// thread, so a test needs no event loop to see a write or a reply.
class FakeTransport : public ByteTransport
{
    Q_OBJECT

public:
    explicit FakeTransport(QObject *parent = nullptr);

    OpenResult open(const QString &portName) override;
    void close() override;
    bool isOpen() const override { return opened; }
    qint64 write(const QByteArray &data) override;
    QByteArray readAll() override;

    // The far end: bytes from the card, and faults of the line.
    void receive(const QByteArray &bytes);
    void raiseError(QSerialPort::SerialPortError error);
    // Opens fail this way until told otherwise; a refused open reports `error` first, as
    // a serial port does.
    void refuseOpen(OpenResult how, QSerialPort::SerialPortError error = QSerialPort::PermissionError);
    void acceptOpen() { refusal = OpenResult::Opened; }
    // Writes fail (return -1) while set; nothing is kept of them.
    void failWrites(bool fail) { writesFail = fail; }

    // Everything written since the last take.
    QByteArray written() const { return output; }
    QByteArray takeWritten();
    // Names of the ports asked for, one per open() call, refused ones included.
    QStringList openedPorts() const { return opens; }
    int closeCount() const { return closes; }

signals:
    // Every accepted write as it happens, for a test that puts a far end behind the line.
    void bytesWritten(QByteArray data);

private:
    QByteArray output;
    QByteArray input;
    QStringList opens;
    OpenResult refusal = OpenResult::Opened;
    QSerialPort::SerialPortError refusalError = QSerialPort::NoError;
    int closes = 0;
    bool opened = false;
    bool writesFail = false;
};

} // namespace EMS
