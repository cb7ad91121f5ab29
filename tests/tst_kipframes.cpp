// The card protocol both ways without a port: every host command byte for byte, and the
// values read out of what a card sends, short payloads included.
#include "link/inbounddecoder.h"
#include "link/kipcommands.h"
#include "link/messagetype.h"
#include "link/serialmessage.h"

#include <QtTest>

using Common::MessageType;
using Common::SerialMessage;
using EMS::KipPort;
namespace KipCommands = EMS::KipCommands;
namespace Decode = EMS::InboundDecoder;

using Messages = QList<SerialMessage>;
Q_DECLARE_METATYPE(Messages)

namespace {

QByteArray hex(const char *text) { return QByteArray::fromHex(text); }

QByteArray frames(const Messages &messages)
{
    QByteArray bytes;
    for (const SerialMessage &message : messages)
        bytes += message.encode();
    return bytes;
}

SerialMessage fromCard(MessageType type, int param, const char *payloadHex)
{
    return SerialMessage(type, param, hex(payloadHex));
}

} // namespace

class KipFramesTest : public QObject
{
    Q_OBJECT

private slots:
    void commands_data()
    {
        QTest::addColumn<Messages>("messages");
        QTest::addColumn<QByteArray>("expected");
        const auto row = [](const char *name, const Messages &m, const char *bytes) { QTest::newRow(name) << m << hex(bytes); };
        row("status request", {KipCommands::statusRequest()}, "031e0021");
        row("restart", {KipCommands::restart()}, "03010004");
        row("boot loader", {KipCommands::bootLoaderRequest()}, "03040007");
        row("echo", {KipCommands::echo("ab")}, "0505006162cd");
        row("quorix control", {KipCommands::quorixControl(1, hex("0102"))}, "051f01010228");
        row("aes input convert", {KipCommands::aesInputConvert(2, 1)}, "042d020134");
        row("aes output rate", {KipCommands::aesOutputSampleRate(3, 4)}, "042e030439");
        // The card's own signals from 1024, port n's from (n + 19) * 64, high byte first.
        row("route", {KipCommands::route(0, 5, 2, 3)}, "0720000405054378");
        row("route between ports", {KipCommands::route(1, 63, 16, 0)}, "072000053f08c033");
        row("sync auto", {KipCommands::syncSource(-1)}, "042101ff25");
        row("sync word clock", {KipCommands::syncSource(-2)}, "042100fe23");
        row("sync MADI B", {KipCommands::syncSource(1)}, "0421000126");
        row("transmit follows input", {KipCommands::transmitMode(1, 0)}, "05230101002a");
        row("transmit fixed", {KipCommands::transmitMode(0, 2)}, "05230000022a");
        row("control via audio", {KipCommands::controlViaAudio(1, true)}, "042c010132");
        row("card status", {KipCommands::cardStatusRequest()}, "03260029");
        // The request goes in the reply's full frame, zero-filled.
        row("input rates", {KipCommands::inputSampleRateRequest()}, "072500000000002c");
        row("network id, Optocore", KipCommands::optocoreNetworkId(3),
            "0c3000080000ff03fc55aa0546" "083000048000ff833e");
        row("network id, Hydra", {KipCommands::hydraNetworkId(200)}, "043800c804");
        row("optocore version", {KipCommands::optocoreVersionRequest()}, "032f0032");
        // The module's sum (0x01 + 0xff = 0x00) follows the command bytes.
        row("optocore command", {KipCommands::optocoreCommand(hex("01ff"))}, "06300001ff0036");
        row("sample rate override", {KipCommands::sampleRateOverride(2)}, "043400023a");
        row("madi port mode", {KipCommands::madiPortMode(1)}, "043500013a");
        row("redundant state", {KipCommands::madiRedundantState(1, 2)}, "043601023d");
        row("smux", {KipCommands::madiSmux(0, true)}, "043700013c");
        row("optocore phase", {KipCommands::optocorePhase(0xff)}, "043900ff3c");
        row("optocore channel counts", {KipCommands::optocoreChannelCounts(1, 64, 32)}, "053a014020a0");
    }
    void commands()
    {
        QFETCH(Messages, messages);
        QFETCH(QByteArray, expected);
        QCOMPARE(frames(messages).toHex(' '), expected.toHex(' '));
    }

    // Echo data and quorix control blocks go out cut to 248 bytes, whatever was asked.
    void longPayloadsAreCut()
    {
        QCOMPARE(KipCommands::echo(QByteArray(300, 'x')).encode(),
                 SerialMessage(MessageType::EchoData, 0, QByteArray(248, 'x')).encode());
        QCOMPARE(KipCommands::quorixControl(1, QByteArray(300, 'q')).encode(),
                 SerialMessage(MessageType::QuorixControl, 1, QByteArray(248, 'q')).encode());
        QCOMPARE(KipCommands::echo(QByteArray(248, 'x')).data.size(), 248);
    }

    // Each value as the card's bytes say it, in one line of text per message.
    void inbound_data()
    {
        QTest::addColumn<SerialMessage>("message");
        QTest::addColumn<QString>("decoded");
        const auto row = [](const char *name, const SerialMessage &m, const char *text) { QTest::newRow(name) << m << QString(text); };
        row("sync auto, word clock", fromCard(MessageType::SyncSource, 1, "fe"), "sync 1 254");
        row("sync fixed, MADI B", fromCard(MessageType::SyncSource, 0, "01"), "sync 0 1");
        row("transmit tracking", fromCard(MessageType::TransmitMode, 0, "0102"), "transmit 2 1");
        row("transmit fixed, signed mode", fromCard(MessageType::TransmitMode, 0, "00ff"), "transmit -1 0");
        // Little-endian: 0x0002ee00 = 192000.
        row("input rate", fromCard(MessageType::InputSampleRate, 1, "00ee0200"), "rate 192000");
        row("input rate short", fromCard(MessageType::InputSampleRate, 1, "00ee02"), "rate 0");
        row("rack slot", fromCard(MessageType::RackSlotType, 0, "03f0"), "slot 3 -16");
        // BCD: 31.12.2019.
        row("rack code date", fromCard(MessageType::RackCodeDate, 0, "31122019"), "date 31 12 2019");
        row("rack code date short", fromCard(MessageType::RackCodeDate, 0, "0509"), "date 5 9 0");
        row("rack voltage", fromCard(MessageType::RackVoltage, 1, "0130fb"), "voltage 1 48 25.1");
        row("rack voltage short", fromCard(MessageType::RackVoltage, 1, "02"), "voltage 2 0 0");
        row("channel counts", fromCard(MessageType::OptocoreChannelCount, 0, "8040"), "counts 128 64");
    }
    void inbound()
    {
        QFETCH(SerialMessage, message);
        QFETCH(QString, decoded);
        QString text;
        switch (message.messageType()) {
        case MessageType::SyncSource: {
            const auto s = Decode::syncSource(message);
            text = QStringLiteral("sync %1 %2").arg(s.isAuto).arg(s.code);
            break;
        }
        case MessageType::TransmitMode: {
            const auto t = Decode::transmitMode(message);
            text = QStringLiteral("transmit %1 %2").arg(t.mode).arg(t.trackReceived);
            break;
        }
        case MessageType::InputSampleRate:
            text = QStringLiteral("rate %1").arg(Decode::inputSampleRate(message));
            break;
        case MessageType::RackSlotType: {
            const auto s = Decode::rackSlot(message);
            text = QStringLiteral("slot %1 %2").arg(s.slot).arg(s.cardType);
            break;
        }
        case MessageType::RackCodeDate: {
            const auto d = Decode::rackCodeDate(message);
            text = QStringLiteral("date %1 %2 %3").arg(d.day).arg(d.month).arg(d.year);
            break;
        }
        case MessageType::RackVoltage: {
            const auto v = Decode::rackVoltage(message);
            text = QStringLiteral("voltage %1 %2 %3").arg(v.psu).arg(v.nominalVolts).arg(double(v.volts));
            break;
        }
        case MessageType::OptocoreChannelCount: {
            const auto c = Decode::optocoreChannelCounts(message);
            text = QStringLiteral("counts %1 %2").arg(c.inserted).arg(c.extracted);
            break;
        }
        default:
            QFAIL("no decoder for this row's type");
        }
        QCOMPARE(text, decoded);
    }

    // The full status record, byte for byte where each field sits.
    void hardwareStatus()
    {
        const SerialMessage reply(MessageType::KipStatus, 0,
                                  hex("1c0b2d") + QByteArray("2014/05/12") + hex("80bb0000") + hex("01"));
        const KipPort::HardwareStatus s = Decode::hardwareStatus(reply, KipPort::LinkConnected);
        QCOMPARE(QStringLiteral("%1 %2 %3 %4 %5 %6 %7").arg(s.linkState).arg(s.cardType).arg(s.firmwareVersion)
                     .arg(s.temperature).arg(s.fpgaVersionText()).arg(s.sampleRate).arg(s.master),
                 QStringLiteral("0 28 11 45 2014/05/12 48000 1"));
        // The text never runs past its ten bytes, even without a terminating zero.
        QCOMPARE(int(s.fpgaVersion[10]), 0);
    }
};

QTEST_GUILESS_MAIN(KipFramesTest)
#include "tst_kipframes.moc"
