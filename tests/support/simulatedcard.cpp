#include "support/simulatedcard.h"

namespace SimTest {

bool openCardPort(QSerialPort &port, const QString &portName)
{
    port.setPortName(portName);
    return port.open(QIODevice::ReadWrite) && port.setBaudRate(115200) && port.setDataBits(QSerialPort::Data8)
        && port.setParity(QSerialPort::NoParity) && port.setStopBits(QSerialPort::OneStop)
        && port.setFlowControl(QSerialPort::NoFlowControl);
}

} // namespace SimTest
