#include "support/uitestsupport.h"

#include "link/serialmessage.h"

#include <QSettings>
#include <QtEndian>

namespace UiTest {

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

QByteArray cardFrame(Common::MessageType type, int param, const QByteArray &data)
{
    QByteArray frame;
    frame.append(char(3 + data.size()));
    frame.append(char(type));
    frame.append(char(param));
    frame.append(data);
    frame.append(char(Common::byteSum(frame)));
    return frame;
}

void deliver(EMS::KipPort *port, Common::MessageType type, int param, const QByteArray &data)
{
    port->receiveKipData(cardFrame(type, param, data));
}

void deliverKipStatus(EMS::KipPort *port, int cardType, quint8 firmwareVersion, quint8 temperature,
                      const QByteArray &fpgaVersion, quint32 sampleRate, bool master)
{
    deliver(port, Common::MessageType::KipStatus, 0,
            kipStatusPayload(cardType, firmwareVersion, temperature, fpgaVersion, sampleRate, master));
}

QString sentText(Common::MessageType type, int param, const QByteArray &data)
{
    return Common::SerialMessage(type, param, data).toString();
}

SettingsSandbox::SettingsSandbox()
{
    QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope, dir.path());
    QSettings::setPath(QSettings::IniFormat, QSettings::UserScope, dir.path());
}

} // namespace UiTest
