#include "support/uitestsupport.h"

#include "link/serialmessage.h"

#include <QSettings>
#include <QtEndian>

namespace UiTest {

EMS::SerialPortEntry ftdiAdapter(const QString &name, bool busy)
{
    EMS::SerialPortEntry entry;
    entry.portName = name;
    entry.description = QStringLiteral("USB Serial Port");
    entry.manufacturer = QStringLiteral("FTDI");
    entry.busy = busy;
    return entry;
}

EMS::SerialPortEntry usbAdapter(const QString &name, bool busy)
{
    EMS::SerialPortEntry entry;
    entry.portName = name;
    entry.description = QStringLiteral("USB-Serial Controller");
    entry.manufacturer = QStringLiteral("Prolific");
    entry.busy = busy;
    return entry;
}

EMS::SerialPortEntry builtInPort(const QString &name)
{
    EMS::SerialPortEntry entry;
    entry.portName = name;
    entry.description = QStringLiteral("Communications Port");
    entry.manufacturer = QStringLiteral("(Standard port types)");
    return entry;
}

QByteArray kipStatusPayload(int cardType, quint8 firmwareVersion, quint8 temperature,
                            const QByteArray &fpgaVersion, quint32 sampleRate, bool master)
{
    QByteArray payload;
    payload.append(char(cardType));
    payload.append(char(firmwareVersion));
    payload.append(char(temperature));
    QByteArray fpga = fpgaVersion.left(10);
    fpga.append(QByteArray(10 - fpga.size(), '\0'));
    payload.append(fpga);
    char rate[4];
    qToLittleEndian(sampleRate, rate);
    payload.append(rate, 4);
    payload.append(char(master ? 1 : 0));
    return payload;
}

QByteArray cardFrame(int type, int param, const QByteArray &data)
{
    // Built by hand rather than by the host's encoder: the host sends some types as
    // bare requests ("kip status" with L = 3) that the card answers with a payload.
    QByteArray frame;
    frame.append(char(3 + data.size()));
    frame.append(char(type));
    frame.append(char(param));
    frame.append(data);
    quint8 sum = 0;
    for (char byte : frame)
        sum += quint8(byte);
    frame.append(char(sum));
    return frame;
}

void deliver(EMS::KipPort *port, int type, int param, const QByteArray &data)
{
    port->receiveKipData(cardFrame(type, param, data));
}

void deliverKipStatus(EMS::KipPort *port, int cardType, quint8 firmwareVersion, quint8 temperature,
                      const QByteArray &fpgaVersion, quint32 sampleRate, bool master)
{
    deliver(port, 30, 0,
            kipStatusPayload(cardType, firmwareVersion, temperature, fpgaVersion, sampleRate, master));
}

QString sentText(int type, int param, const QByteArray &data)
{
    return Common::SerialMessage(type, param, data).toString();
}

SettingsSandbox::SettingsSandbox()
{
    QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope, dir.path());
    QSettings::setPath(QSettings::IniFormat, QSettings::UserScope, dir.path());
}

} // namespace UiTest
