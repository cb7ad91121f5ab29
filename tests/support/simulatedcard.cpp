#include "support/simulatedcard.h"

#include "update/updater.h"

#include <QTimer>

#include <QElapsedTimer>
#include <QSignalSpy>

namespace SimTest {

bool openCardPort(QSerialPort &port, const QString &portName)
{
    port.setPortName(portName);
    return port.open(QIODevice::ReadWrite) && port.setBaudRate(115200) && port.setDataBits(QSerialPort::Data8)
        && port.setParity(QSerialPort::NoParity) && port.setStopBits(QSerialPort::OneStop)
        && port.setFlowControl(QSerialPort::NoFlowControl);
}

Common::SerialMessage request(QSerialPort &port, const Common::SerialMessage &message, int replyType, int timeoutMs)
{
    port.write(message.encode());
    QByteArray buffer;
    QElapsedTimer clock;
    clock.start();
    // The simulator runs on this thread's event loop, so wait with the loop running
    // (never with the port's blocking waits).
    QSignalSpy readyRead(&port, &QSerialPort::readyRead);
    while (clock.elapsed() < timeoutMs) {
        if (port.bytesAvailable() == 0 && !readyRead.wait(int(qMax<qint64>(1, timeoutMs - clock.elapsed()))))
            break;
        buffer += port.readAll();
        // Walk the frames received so far; zeros between frames are idle bytes.
        int at = 0;
        while (at < buffer.size()) {
            const int length = quint8(buffer.at(at));
            if (length == 0) {
                ++at;
                continue;
            }
            if (at + length + 1 > buffer.size())
                break;
            const Common::SerialMessage reply(buffer.mid(at, length + 1));
            if (reply.valid && reply.type == replyType)
                return reply;
            at += length + 1;
        }
    }
    return Common::SerialMessage();
}

UpdaterOnPort::UpdaterOnPort(const QString &portName, const QString &codeFile)
    : boot(new Common::Updater(nullptr, codeFile))
{
    openCardPort(serial, portName);
    connect(boot, &Common::Updater::sendData, this, [this](const QByteArray &data) {
        sent += data;
        if (serial.isOpen())
            serial.write(data);
    });
    feeding = connect(&serial, &QSerialPort::readyRead, this, [this] {
        const QByteArray data = serial.readAll();
        received += data;
        boot->receiveData(data);
    });
    connect(&serial, &QSerialPort::errorOccurred, this, [this](QSerialPort::SerialPortError error) {
        if (error != QSerialPort::NoError && serial.isOpen())
            serial.close();
    });
}

UpdaterOnPort::~UpdaterOnPort()
{
    delete boot;
}

void UpdaterOnPort::detach()
{
    disconnect(feeding);
    boot->autoBaudTimer()->stop();
}

} // namespace SimTest
