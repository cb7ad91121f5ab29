#pragma once

#include "link/serialmessage.h"

#include <QByteArray>
#include <QObject>
#include <QSerialPort>
#include <QString>

namespace Common {
class Updater;
}

// Helpers for tests that talk to a CardSimulator over its pseudo-terminal.
namespace SimTest {

// Opens a port at the card link's settings (115200 8N1, no flow control).
bool openCardPort(QSerialPort &port, const QString &portName);

// Sends one framed request and waits for the card's first answer of the given type;
// an invalid message when none comes within the time.
Common::SerialMessage request(QSerialPort &port, const Common::SerialMessage &message, int replyType,
                              int timeoutMs = 2000);

// A boot-loader updater on a real serial port to a simulated card, wired as the card
// port wires it: every block it emits is written to the port unchanged, every block
// read goes to its receiveData. The port is closed on its first error, as a vanished
// pseudo-terminal would otherwise report ReadError without end.
class UpdaterOnPort : public QObject
{
    Q_OBJECT

public:
    UpdaterOnPort(const QString &portName, const QString &codeFile);
    ~UpdaterOnPort() override;

    bool isOpen() const { return serial.isOpen(); }
    QString errorString() const { return serial.errorString(); }
    Common::Updater &updater() { return *boot; }
    QSerialPort &port() { return serial; }

    // Stops reading for the updater (as the card port does after it finished), so the
    // port's input is free for framed messages.
    void detach();

    QByteArray sentBytes() const { return sent; }
    QByteArray receivedBytes() const { return received; }

private:
    QSerialPort serial;
    Common::Updater *boot;
    QByteArray sent;
    QByteArray received;
    QMetaObject::Connection feeding;
};

} // namespace SimTest
