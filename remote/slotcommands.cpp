#include "remote/slotcommands.h"

#include "link/kipport.h"
#include "slot/slotcontroller.h"

namespace EMS {
namespace SlotCommands {

bool syncSourceCode(const QString &name, int *code)
{
    const QString key = name.trimmed().toLower();
    int value = 0;
    if (key == QLatin1String("auto"))
        value = SyncAuto;
    else if (key == QLatin1String("word-clock"))
        value = SyncWordClock;
    else if (key == QLatin1String("madi-a"))
        value = 0;
    else if (key == QLatin1String("madi-b"))
        value = 1;
    else
        return false;
    *code = value;
    return true;
}

bool reportsSyncSource(const SlotController &slot, int code)
{
    if (slot.syncSource().isEmpty())
        return false;
    if (code == SyncAuto)
        return slot.isSyncAuto();
    if (slot.isSyncAuto())
        return false;
    const QString reported = slot.syncSource().toLower();
    if (code == SyncWordClock)
        return reported == QLatin1String("word-clock");
    return reported == QStringLiteral("madi %1").arg(QChar(QLatin1Char('a').unicode() + code));
}

bool madiPortOf(const QString &text, int *madiPort)
{
    const QString key = text.trimmed().toLower();
    if (key == QLatin1String("a") || key == QLatin1String("0"))
        *madiPort = 0;
    else if (key == QLatin1String("b") || key == QLatin1String("1"))
        *madiPort = 1;
    else
        return false;
    return true;
}

bool transmitModeCode(const QString &name, int *mode)
{
    const QString key = name.trimmed().toLower();
    if (key == QLatin1String("auto"))
        *mode = TransmitTracking;
    else if (key == QLatin1String("57") || key == QLatin1String("quorix"))
        *mode = TransmitQuorix;
    else if (key == QLatin1String("64") || key == QLatin1String("fixed"))
        *mode = TransmitFixed;
    else
        return false;
    return true;
}

bool isTransmitMode(int mode)
{
    return mode == TransmitTracking || mode == TransmitQuorix || mode == TransmitFixed;
}

void sendMadiTransmitMode(KipPort *port, int madiPort, int mode)
{
    port->sendTransmitMode(uchar(madiPort), uchar(mode));
    port->sendControlViaAudio(uchar(madiPort), mode == TransmitQuorix);
}

bool reportsTransmitMode(int mode, int reportedMode, bool trackReceived)
{
    if (mode == TransmitTracking)
        return trackReceived;
    return !trackReceived && reportedMode == mode;
}

} // namespace SlotCommands
} // namespace EMS
