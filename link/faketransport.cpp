#include "link/faketransport.h"

#include <utility>

namespace EMS {

FakeTransport::FakeTransport(QObject *parent)
    : ByteTransport(parent)
{
}

ByteTransport::OpenResult FakeTransport::open(const QString &portName)
{
    opens.append(portName);
    if (refusal != OpenResult::Opened) {
        if (refusalError != QSerialPort::NoError)
            emit errorOccurred(refusalError);
        opened = false;
        return refusal;
    }
    opened = true;
    return OpenResult::Opened;
}

void FakeTransport::close()
{
    ++closes;
    opened = false;
    input.clear();
}

qint64 FakeTransport::write(const QByteArray &data)
{
    if (!opened || writesFail)
        return -1;
    output.append(data);
    emit bytesWritten(data);
    return data.size();
}

QByteArray FakeTransport::readAll()
{
    return std::exchange(input, QByteArray());
}

void FakeTransport::receive(const QByteArray &bytes)
{
    if (!opened || bytes.isEmpty())
        return;
    input.append(bytes);
    emit readyRead();
}

void FakeTransport::raiseError(QSerialPort::SerialPortError error)
{
    emit errorOccurred(error);
}

void FakeTransport::refuseOpen(OpenResult how, QSerialPort::SerialPortError error)
{
    refusal = how;
    refusalError = error;
}

QByteArray FakeTransport::takeWritten()
{
    return std::exchange(output, QByteArray());
}

} // namespace EMS
