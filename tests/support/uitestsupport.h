#pragma once

#include "link/kipport.h"
#include "slot/serialportlister.h"

#include <QByteArray>
#include <QList>
#include <QString>
#include <QTemporaryDir>

// Helpers shared by the window, slot form and panel tests.
namespace UiTest {

// A serial port list a test changes between scans; lister() counts the scans.
class FakeAdapters
{
public:
    QList<EMS::SerialPortEntry> entries;
    int scans = 0;

    EMS::SerialPortLister lister()
    {
        return [this] {
            ++scans;
            return entries;
        };
    }
};

inline EMS::SerialPortEntry ftdiAdapter(const QString &name, bool busy = false)
{
    return {name, QStringLiteral("USB Serial Port"), QStringLiteral("FTDI"), busy};
}

// The 18-byte "kip status" payload a card sends.
QByteArray kipStatusPayload(int cardType, quint8 firmwareVersion, quint8 temperature,
                            const QByteArray &fpgaVersion, quint32 sampleRate, bool master);

// The frame a card sends: L = 3 + payload size, type, param, payload, 8-bit sum.
QByteArray cardFrame(Common::MessageType type, int param, const QByteArray &data = QByteArray());
// Hands the port one frame as if the card had sent it.
void deliver(EMS::KipPort *port, Common::MessageType type, int param, const QByteArray &data = QByteArray());
void deliverKipStatus(EMS::KipPort *port, int cardType, quint8 firmwareVersion = 12,
                      quint8 temperature = 42, const QByteArray &fpgaVersion = "V2.1",
                      quint32 sampleRate = 48000, bool master = true);

// The log text of a message as the port reports what it sent.
QString sentText(Common::MessageType type, int param, const QByteArray &data = QByteArray());

// Points QSettings' user scope at a private folder while it lives.
class SettingsSandbox
{
public:
    SettingsSandbox();
    QString path() const { return dir.path(); }

private:
    QTemporaryDir dir;
};

} // namespace UiTest
