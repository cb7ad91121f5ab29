// The simulated card's answers, byte for byte, where the end-to-end tests would not
// notice them going wrong: refusals, fault switches, the link rules and what the
// controller's own flows never ask.
#include "link/framescanner.h"
#include "link/serialmessage.h"
#include "sim/cardfirmware.h"

#include <QSignalSpy>
#include <QtTest>

#include <functional>

using Common::SerialMessage;
using Setup = std::function<void(CardFirmware &)>;
Q_DECLARE_METATYPE(Setup)

namespace {

QByteArray frame(int type, int param, const QByteArray &data = QByteArray())
{
    return SerialMessage(type, param, data).encode();
}

QByteArray hex(const char *digits) { return QByteArray::fromHex(digits); }

// An Optocore module command: its bytes and their 8-bit sum, in an Optocore command frame.
QByteArray optocore(const char *digits, int sumOffset = 0)
{
    QByteArray bytes = hex(digits);
    quint8 sum = quint8(sumOffset);
    for (char byte : qAsConst(bytes))
        sum = quint8(sum + quint8(byte));
    return frame(48, 0, bytes + char(sum));
}

// One reply as a line: type, param and payload in hex ("33 1 00").
QString describe(const SerialMessage &m) { return QStringLiteral("%1 %2 %3").arg(m.type).arg(m.param).arg(QString(m.data.toHex())); }

} // namespace

class TestCardFirmware : public QObject
{
    Q_OBJECT

    CardFirmware *fw = nullptr;
    QByteArray out;

    // What the card sent since the last call, read as the host reads it; bytes outside
    // frames show as "junk <hex>", "clear to send" is left out.
    QStringList take()
    {
        const QByteArray sentinel = frame(5, 0xEE, "end");
        Common::FrameScanner scanner;
        const auto items = scanner.feed(out + sentinel);
        out.clear();
        QStringList lines;
        for (const auto &item : items) {
            if (!item.discarded.isEmpty())
                lines << QStringLiteral("junk ") + QString::fromLatin1(item.discarded.toHex());
            if (item.hasMessage && item.message.type != 50)
                lines << describe(item.message);
        }
        if (lines.isEmpty() || lines.takeLast() != describe(SerialMessage(sentinel)))
            lines << QStringLiteral("sentinel lost");
        return lines;
    }

private slots:
    void init()
    {
        fw = new CardFirmware;
        out.clear();
        connect(fw, &CardFirmware::bytesToHost, this, [this](const QByteArray &bytes) { out += bytes; });
    }

    void cleanup() { delete fw; }

    // The setup runs on the fresh card before the chunks arrive.
    void answers_data()
    {
        QTest::addColumn<int>("cardType");
        QTest::addColumn<QList<QByteArray>>("chunks");
        QTest::addColumn<QStringList>("replies");
        QTest::addColumn<Setup>("setup");
        const int madi = 20, aes = 23, optocoreCard = 28, hydra = 29, adc = 21;
        const auto row = [](const char *name, int cardType, const QList<QByteArray> &chunks, const QStringList &replies,
                            const Setup &setup = {}) { QTest::newRow(name) << cardType << chunks << replies << setup; };
        const QByteArray statusRequest = hex("031e0021");
        // The default MADI card: a rack sends 57 channels into port A (locked), nothing on B.
        row("sync to a port the card lacks", madi, {frame(33, 0, hex("05"))}, {"33 1 00"});
        row("sync AES input 6", aes, {frame(33, 0, hex("05"))}, {"33 0 05"});
        row("transmit 57 on A", madi, {frame(35, 0, hex("0039"))}, {"35 0 0039", "38 20 390039400102010001000000"});
        row("transmit auto on idle B", madi, {frame(35, 1, hex("0100"))}, {"35 1 0140"});
        row("transmit format refused", madi, {frame(35, 0, hex("0032"))}, {"35 0 0139"});
        row("SMUX on B", madi, {frame(55, 1, hex("01"))}, {"55 1 01", "38 20 390039400306010001000000"});
        row("control via audio on A", madi, {frame(44, 0, hex("01"))}, {"44 0 01", "38 20 390039400b02010001000000"});
        row("sample rate override", madi, {frame(52, 0, hex("02"))}, {"52 0 02", "38 20 390039400302010001000002"});
        row("single port mode", madi, {frame(53, 0, hex("00"))}, {"53 0 00", "38 20 390039400302010000000000"});
        row("port mode refused", madi, {frame(53, 0, hex("05"))}, {"53 0 01"});
        row("redundant state B", madi, {frame(54, 1, hex("02"))}, {"54 1 02", "38 20 390039400302010001000200"});
        row("echo", madi, {frame(5, 7, hex("010203"))}, {"5 7 010203"});
        row("input rates, padded request", madi, {hex("072500000000002c")}, {"37 0 80bb0000", "37 1 00000000"});
        row("input rates of a converter card", adc, {frame(37, 0)}, {});
        row("AES converter off", aes, {frame(45, 3, hex("00"))}, {"45 3 00", "38 23 010101000101010100"});
        row("AES output rate", aes, {frame(46, 2, hex("03"))}, {"38 23 010101010101010103"});
        row("Optocore counts clamped", optocoreCard, {frame(58, 0, hex("c80b"))}, {"58 0 8008"});
        row("Hydra id", hydra, {frame(56, 0, hex("2a"))}, {"38 29 2a"});
        row("Hydra id 0 refused", hydra, {frame(56, 0, hex("00"))}, {"38 29 01"});
        row("quorix control, no rack", madi, {frame(31, 1, hex("01"))}, {"31 1 "});
        row("route: stored, no answer", madi, {frame(32, 0, hex("04050543"))}, {});
        row("SMUX on an AES card", aes, {frame(55, 0, hex("01"))}, {});

        // An FPGA image is installed only when every packet came and the sum agrees.
        const QByteArray image = QByteArray("ab 2015/01/09").leftJustified(128, '\0');
        const auto fpga = [&](const char *count, const char *sum) {
            return QList<QByteArray>{frame(39, 0, hex(count)), frame(39, 1, hex("0000") + image), frame(39, 2, hex(sum)),
                                     statusRequest};
        };
        row("FPGA image, wrong sum", madi, fpga("0001", "02d4"),
            {"39 0 00", "39 1 000000", "39 2 02", "30 0 140c2a323031342f30352f313280bb000001"});
        row("FPGA image, packet missing", madi, fpga("0002", "02d3"),
            {"39 0 00", "39 1 000000", "39 2 03", "30 0 140c2a323031342f30352f313280bb000001"});

        // The Optocore module checks lengths, codes and its own sum.
        row("module network ID, bad complement", optocoreCard, {optocore("080000ff03fd55aa"), optocore("048000ff")},
            {"48 0 058000ff0a8e"});
        row("module command, wrong length byte", optocoreCard, {optocore("058000ff")}, {});
        row("module command, unknown code", optocoreCard, {optocore("049000ff")}, {});
        row("module command, bad sum", optocoreCard, {optocore("048000ff", 1)}, {});

        // A frame the card cannot take is answered with "error"; until a run of 16 zero
        // bytes the card takes nothing, not even a good frame.
        const auto rejected = [&row](const char *name, const QByteArray &bad) {
            row(name, 20, {bad, frame(5, 0, "a"), QByteArray(256, '\0') + frame(5, 0, "b")}, {"2 0 ", "5 0 62"});
        };
        rejected("bad checksum", hex("031e0022"));
        rejected("type the card does not take", hex("040600050f"));
        rejected("type beyond the table", hex("03630066"));
        rejected("length below 3", hex("02"));
        rejected("fixed type, wrong length", hex("052100fe0024"));
        rejected("stray 55 before a frame", hex("55031e0021"));
        row("15 zeros do not resynchronise", madi, {hex("02"), QByteArray(15, '\0') + frame(5, 0, "b")}, {"2 0 "});
        row("16 zeros do", madi, {hex("02"), QByteArray(16, '\0') + frame(5, 0, "b")}, {"2 0 ", "5 0 62"});
        row("zeros broken by junk do not", madi,
            {hex("02"), QByteArray(8, '\0') + "x" + QByteArray(8, '\0') + frame(5, 0, "b")}, {"2 0 "});

        // The application answers AutoBaud with AA.
        row("probe split over chunks", madi, {hex("55"), hex("55")}, {"junk aa"});
        row("probe between frames", madi, {frame(5, 0, "a") + hex("5555") + frame(5, 0, "b")},
            {"5 0 61", "junk aa", "5 0 62"});
        row("probe while resynchronising", madi, {hex("031e0022"), hex("5555"), frame(5, 0, "c")},
            {"2 0 ", "junk aa", "5 0 63"});

        // Faults in the FPGA text of the status reply.
        const auto fpgaText = [&](const char *name, int fault, const char *version, const QByteArray &field) {
            row(name, madi, {statusRequest}, {"30 0 140c2a" + field.toHex() + "80bb000001"}, [=](CardFirmware &fw) {
                fw.state().fpgaVersion = version;
                fw.setFpgaTextFault(CardFirmware::FpgaTextFault(fault));
            });
        };
        fpgaText("text longer than the field", CardFirmware::FpgaTextAsIs, "V2.1-beta-build7", "V2.1-beta-");
        fpgaText("unterminated", CardFirmware::FpgaTextUnterminated, "V2.1", "ABCDEFGHIJ");
        fpgaText("non-ASCII", CardFirmware::FpgaTextNonAscii, "V2.1", hex("56c3a9ff80322e310000"));

        // Automatic sync follows the locks; a manual choice does not.
        const QString lost = "38 20 390039400202010001000000";
        row("lock back", madi, {}, {"51 0 00", "33 1 ff", lost, "51 0 01", "33 1 00", "38 20 390039400302010001000000"},
            [](CardFirmware &fw) {
                fw.setReceiveLocked(0, false);
                fw.setReceiveLocked(0, true);
            });
        row("lock lost under manual sync", madi, {}, {"33 0 fe", "51 0 00", lost}, [](CardFirmware &fw) {
            fw.receiveBytes(frame(33, 0, hex("fe")));
            fw.setReceiveLocked(0, false);
        });
    }
    void answers()
    {
        QFETCH(int, cardType);
        QFETCH(QList<QByteArray>, chunks);
        QFETCH(QStringList, replies);
        QFETCH(Setup, setup);
        fw->resetState(cardType);
        if (setup)
            setup(*fw);
        for (const QByteArray &chunk : chunks)
            fw->receiveBytes(chunk);
        QCOMPARE(take(), replies);
    }

    // The host's send gate closes after 512 bytes and opens on "clear to send": the
    // card must say it often enough, unless told not to.
    void hostSendGateNeverStalls_data()
    {
        QTest::addColumn<int>("frameSize");
        QTest::addColumn<bool>("suppressed");
        QTest::newRow("status polls") << 4 << false;
        QTest::newRow("largest frames") << 256 << false;
        QTest::newRow("card stops clear to send") << 134 << true;
    }
    void hostSendGateNeverStalls()
    {
        QFETCH(int, frameSize);
        QFETCH(bool, suppressed);
        fw->setClearToSendSuppressed(suppressed);
        int inFlight = 0;
        connect(fw, &CardFirmware::bytesToHost, this, [&](const QByteArray &bytes) {
            if (SerialMessage(bytes).type == 50)
                inFlight = 0;
        });
        const QByteArray echo = frame(5, 0, QByteArray(frameSize - 4, 'e'));
        int sent = 0;
        for (; sent < 300 && inFlight <= 512; ++sent) {
            inFlight += echo.size();
            fw->receiveBytes(echo);
        }
        QCOMPARE(sent == 300, !suppressed);
        QCOMPARE(fw->errorsSent(), 0);
    }

    // A restart drops a half-read frame; had it survived, the next frame would complete it
    // with a bad checksum.
    void restartDropsAHalfReadFrame()
    {
        QSignalSpy restart(fw, &CardFirmware::restartRequested);
        fw->receiveBytes(frame(1, 0) + frame(5, 0, "abc").left(4));
        QCOMPARE(restart.count(), 1);
        fw->restartApplication();
        fw->receiveBytes(frame(5, 0, "z"));
        QCOMPARE(take(), QStringList{"5 0 7a"});
    }
};

QTEST_GUILESS_MAIN(TestCardFirmware)
#include "tst_cardfirmware.moc"
