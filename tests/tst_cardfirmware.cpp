#include "link/framescanner.h"
#include "link/serialmessage.h"
#include "sim/cardfirmware.h"

#include <QRegularExpression>
#include <QSignalSpy>
#include <QTimer>
#include <QtTest>

using Common::SerialMessage;

namespace {

QByteArray frame(int type, int param, const QByteArray &data = QByteArray())
{
    return SerialMessage(type, param, data).encode();
}

QByteArray hex(const char *digits)
{
    return QByteArray::fromHex(digits);
}

QByteArray withSum(QByteArray bytes)
{
    quint8 sum = 0;
    for (char byte : qAsConst(bytes))
        sum = quint8(sum + quint8(byte));
    return bytes.append(char(sum));
}

// One reply as a line: type, param and payload in hex ("33 1 00").
QString describe(const SerialMessage &message)
{
    return QStringLiteral("%1 %2 %3").arg(message.type).arg(message.param).arg(QString::fromLatin1(message.data.toHex()));
}

const QByteArray statusRequest = hex("031e0021");
const QByteArray resyncRun(256, '\0');

} // namespace

class TestCardFirmware : public QObject
{
    Q_OBJECT

private:
    CardFirmware *fw = nullptr;
    QByteArray out;

    // Decodes what the card sent since the last call the way the host does; bytes
    // outside frames show as "junk <hex>". "clear to send" is left out unless asked for.
    QStringList take(bool withClearToSend = false)
    {
        const QByteArray sentinel = frame(5, 0xEE, "end");
        Common::FrameScanner scanner;
        const auto items = scanner.feed(out + sentinel);
        out.clear();
        QStringList lines;
        for (const auto &item : items) {
            if (!item.discarded.isEmpty())
                lines << QStringLiteral("junk ") + QString::fromLatin1(item.discarded.toHex());
            if (item.hasMessage && (withClearToSend || item.message.type != 50))
                lines << describe(item.message);
        }
        if (lines.isEmpty() || lines.takeLast() != describe(SerialMessage(sentinel)))
            lines << QStringLiteral("sentinel lost");
        return lines;
    }

    QVector<SerialMessage> takeMessages()
    {
        QVector<SerialMessage> messages;
        Common::FrameScanner scanner;
        for (const auto &item : scanner.feed(out))
            if (item.hasMessage && item.message.type != 50)
                messages << item.message;
        out.clear();
        return messages;
    }

    QStringList exchange(const QByteArray &bytes)
    {
        fw->receiveBytes(bytes);
        return take();
    }

private slots:
    void init()
    {
        fw = new CardFirmware;
        out.clear();
        connect(fw, &CardFirmware::bytesToHost, this, [this](const QByteArray &bytes) { out += bytes; });
    }

    void cleanup() { delete fw; }

    void kipStatusReply_data()
    {
        QTest::addColumn<int>("cardType");
        QTest::addColumn<int>("temperature");
        QTest::addColumn<quint32>("sampleRate");
        QTest::addColumn<bool>("master");
        QTest::addColumn<QByteArray>("fpgaText");
        QTest::addColumn<int>("fault");
        QTest::addColumn<QByteArray>("field");

        const int asIs = CardFirmware::FpgaTextAsIs;
        QTest::newRow("MADI master") << 20 << 42 << 48000u << true << QByteArray("2014/05/12") << asIs << QByteArray("2014/05/12");
        QTest::newRow("AES slave at 44.1k, 0 degrees") << 23 << 0 << 44100u << false << QByteArray("V2.1") << asIs
                                                     << QByteArray("V2.1\0\0\0\0\0\0", 10);
        QTest::newRow("hot Optocore at 96k") << 28 << 255 << 96000u << true << QByteArray("x") << asIs << QByteArray("x\0\0\0\0\0\0\0\0\0", 10);
        QTest::newRow("long text cut to the field") << 29 << 40 << 48000u << true << QByteArray("V2.1-beta-build7") << asIs
                                                    << QByteArray("V2.1-beta-");
        QTest::newRow("unterminated text") << 20 << 40 << 48000u << true << QByteArray("V2.1") << int(CardFirmware::FpgaTextUnterminated)
                                           << QByteArray("ABCDEFGHIJ");
        QTest::newRow("non-ASCII text") << 20 << 40 << 48000u << true << QByteArray("V2.1") << int(CardFirmware::FpgaTextNonAscii)
                                        << hex("56c3a9ff8032 2e310000");
    }

    void kipStatusReply()
    {
        QFETCH(int, cardType);
        QFETCH(int, temperature);
        QFETCH(quint32, sampleRate);
        QFETCH(bool, master);
        QFETCH(QByteArray, fpgaText);
        QFETCH(int, fault);
        QFETCH(QByteArray, field);

        fw->resetState(cardType);
        fw->setTemperature(quint8(temperature));
        fw->setSampleRate(sampleRate);
        fw->setMaster(master);
        fw->state().fpgaVersion = fpgaText;
        fw->setFpgaTextFault(CardFirmware::FpgaTextFault(fault));

        // The host's request is shorter than the host's own decoder takes for type 30.
        QVERIFY(!SerialMessage(statusRequest).valid);
        fw->receiveBytes(statusRequest);
        const QVector<SerialMessage> replies = takeMessages();
        QCOMPARE(replies.size(), 1);
        const QByteArray d = replies[0].data;
        QCOMPARE(replies[0].type, 30);
        QCOMPARE(d.size(), 18);
        QCOMPARE(int(qint8(d[0])), cardType);
        QCOMPARE(int(quint8(d[1])), 12);
        QCOMPARE(int(quint8(d[2])), temperature);
        QCOMPARE(d.mid(3, 10), field);
        QCOMPARE(quint32(quint8(d[13]) | quint8(d[14]) << 8 | quint8(d[15]) << 16 | quint32(quint8(d[16])) << 24), sampleRate);
        QCOMPARE(d[17] != 0, master);
    }

    void commands_data()
    {
        QTest::addColumn<int>("cardType");
        QTest::addColumn<QByteArray>("request");
        QTest::addColumn<QStringList>("replies");

        const int madi = 20, aes = 23, optocore = 28, hydra = 29, adc = 21;
        // Default MADI card: a rack sends 57 channels into port A (locked), nothing on B.
        QTest::newRow("sync word clock") << madi << frame(33, 0, hex("fe")) << QStringList{"33 0 fe"};
        QTest::newRow("sync auto picks locked port A") << madi << frame(33, 1, hex("ff")) << QStringList{"33 1 00"};
        QTest::newRow("sync MADI B") << madi << frame(33, 0, hex("01")) << QStringList{"33 0 01"};
        QTest::newRow("sync to a port the card lacks") << madi << frame(33, 0, hex("05")) << QStringList{"33 1 00"};
        QTest::newRow("sync AES input 6") << aes << frame(33, 0, hex("05")) << QStringList{"33 0 05"};
        QTest::newRow("transmit 57 on A") << madi << frame(35, 0, hex("0039"))
                                          << QStringList{"35 0 0039", "38 20 390039400102010001000000"};
        QTest::newRow("transmit 64 on A") << madi << frame(35, 0, hex("0040"))
                                          << QStringList{"35 0 0040", "38 20 390040400102010001000000"};
        QTest::newRow("transmit auto on idle B") << madi << frame(35, 1, hex("0100")) << QStringList{"35 1 0140"};
        QTest::newRow("transmit format refused") << madi << frame(35, 0, hex("0032")) << QStringList{"35 0 0139"};
        QTest::newRow("SMUX on B") << madi << frame(55, 1, hex("01")) << QStringList{"55 1 01", "38 20 390039400306010001000000"};
        QTest::newRow("control via audio on A") << madi << frame(44, 0, hex("01"))
                                                << QStringList{"44 0 01", "38 20 390039400b02010001000000"};
        QTest::newRow("sample rate override") << madi << frame(52, 0, hex("02"))
                                              << QStringList{"52 0 02", "38 20 390039400302010001000002"};
        QTest::newRow("single port mode") << madi << frame(53, 0, hex("00")) << QStringList{"53 0 00", "38 20 390039400302010000000000"};
        QTest::newRow("port mode refused") << madi << frame(53, 0, hex("05")) << QStringList{"53 0 01"};
        QTest::newRow("redundant state B") << madi << frame(54, 1, hex("02")) << QStringList{"54 1 02", "38 20 390039400302010001000200"};
        QTest::newRow("echo") << madi << frame(5, 7, hex("010203")) << QStringList{"5 7 010203"};
        QTest::newRow("input rates, padded request") << madi << hex("072500000000002c") << QStringList{"37 0 80bb0000", "37 1 00000000"};
        QTest::newRow("input rates, bare request") << madi << hex("03250028") << QStringList{"37 0 80bb0000", "37 1 00000000"};
        QTest::newRow("input rates of an AES card") << aes << frame(37, 0)
                                                    << QStringList{"37 0 80bb0000", "37 1 80bb0000", "37 2 80bb0000", "37 3 80bb0000",
                                                                   "37 4 00000000", "37 5 00000000", "37 6 00000000", "37 7 00000000"};
        QTest::newRow("input rates of a converter card") << adc << frame(37, 0) << QStringList{};
        QTest::newRow("AES converter off") << aes << frame(45, 3, hex("00")) << QStringList{"45 3 00", "38 23 010101000101010100"};
        QTest::newRow("AES output rate") << aes << frame(46, 2, hex("03")) << QStringList{"38 23 010101010101010103"};
        QTest::newRow("Optocore counts B") << optocore << frame(58, 1, hex("1800")) << QStringList{"58 1 1800"};
        QTest::newRow("Optocore counts clamped") << optocore << frame(58, 0, hex("c80b")) << QStringList{"58 0 8008"};
        QTest::newRow("Optocore version") << optocore << frame(47, 0) << QStringList{"47 0 " + QString::fromLatin1(QByteArray("OCM 4.21 b1207").toHex())};
        QTest::newRow("Hydra id") << hydra << frame(56, 0, hex("2a")) << QStringList{"38 29 2a"};
        QTest::newRow("Hydra id 0 refused") << hydra << frame(56, 0, hex("00")) << QStringList{"38 29 01"};
        QTest::newRow("quorix control to the rack")
            << madi << frame(31, 0, hex("0102"))
            // Type, the 14 slot cards, code date, supply A's then B's four rails.
            << QStringList{"31 0 02" "0202010104030002010700000009" "07032014" "33489896" "32479795"};
        QTest::newRow("quorix control, no rack") << madi << frame(31, 1, hex("01")) << QStringList{"31 1 "};
        QTest::newRow("route: stored, no answer") << madi << frame(32, 0, hex("04050543")) << QStringList{};
        QTest::newRow("SMUX on an AES card") << aes << frame(55, 0, hex("01")) << QStringList{};
        QTest::newRow("transmit mode on port 2") << madi << frame(35, 2, hex("0039")) << QStringList{};
        QTest::newRow("Hydra id on a MADI card") << madi << frame(56, 0, hex("05")) << QStringList{};
        QTest::newRow("channel counts on a MADI card") << madi << frame(58, 0, hex("0808")) << QStringList{};
        QTest::newRow("device types on an AES card") << aes << hex("0424000028") << QStringList{};
    }

    void commands()
    {
        QFETCH(int, cardType);
        QFETCH(QByteArray, request);
        QFETCH(QStringList, replies);
        fw->resetState(cardType);
        QCOMPARE(exchange(request), replies);
    }

    void routeIsStored()
    {
        exchange(frame(32, 0, hex("04050543")));
        QCOMPARE(fw->state().routes.value(1029), quint16(1347));
    }

    void cardStatus_data()
    {
        QTest::addColumn<int>("cardType");
        QTest::addColumn<QString>("block");
        QTest::addColumn<QString>("reports");

        QTest::newRow("MADI BNC") << 20 << "390039400302010001000000" << "37 51 37 51 35 55 44 54 35 55 44 54 53 52 33";
        QTest::newRow("MADI CAT5") << 24 << "390039400302010001000000" << "37 51 37 51 35 55 44 54 35 55 44 54 53 52 33";
        QTest::newRow("AES") << 23 << "010101010101010100"
                             << "37 51 37 51 37 51 37 51 37 51 37 51 37 51 37 51 45 45 45 45 45 45 45 45 33";
        QTest::newRow("Optocore") << 28 << "0a00" << "37 51 58 58 33";
        QTest::newRow("Hydra") << 29 << "01" << "37 51 33";
        QTest::newRow("Dante") << 27 << "01" << "37 51 33";
        QTest::newRow("ADC") << 21 << "00" << "33";
    }

    void cardStatus()
    {
        QFETCH(int, cardType);
        QFETCH(QString, block);
        QFETCH(QString, reports);
        fw->resetState(cardType);
        fw->receiveBytes(frame(38, 0));
        const QVector<SerialMessage> replies = takeMessages();
        QVERIFY(!replies.isEmpty());
        QCOMPARE(replies[0].type, 38);
        QCOMPARE(replies[0].param, cardType);
        QCOMPARE(QString::fromLatin1(replies[0].data.toHex()), block);
        QStringList types;
        for (int i = 1; i < replies.size(); ++i)
            types << QString::number(replies[i].type);
        QCOMPARE(types.join(QLatin1Char(' ')), reports);
    }

    void deviceTypeAndRack_data()
    {
        QTest::addColumn<int>("rackType");
        QTest::addColumn<QList<int>>("rackSlots");
        QTest::addColumn<int>("voltages");

        QTest::newRow("Quorack") << 1 << QList<int>{0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13} << 0;
        QTest::newRow("Q-rack") << 3 << QList<int>{0, 1, 2, 3, 7, 8} << 8;
        QTest::newRow("QX-nano") << 5 << QList<int>{0, 1} << 8;
        QTest::newRow("Q2-rack") << 6 << QList<int>{0, 1, 2, 3, 4, 5, 7, 8, 9, 10} << 8;
        QTest::newRow("unknown type") << 9 << QList<int>{} << 0;
    }

    void deviceTypeAndRack()
    {
        QFETCH(int, rackType);
        QFETCH(QList<int>, rackSlots);
        QFETCH(int, voltages);
        fw->state().madi[0].rack = RackState::typical(quint8(rackType));

        // The MADI panel's request: type 36 with its pad byte.
        fw->receiveBytes(hex("0424000028"));
        const QVector<SerialMessage> replies = takeMessages();
        QVERIFY(replies.size() >= 4);
        QCOMPARE(describe(replies.first()), QStringLiteral("36 0 01"));
        QCOMPARE(describe(replies[1]), QStringLiteral("40 0 %1").arg(rackType, 2, 16, QLatin1Char('0')));
        QCOMPARE(describe(replies.last()), QStringLiteral("36 1 00"));
        QList<int> slotsSeen;
        int voltagesSeen = 0;
        for (const SerialMessage &m : replies) {
            QCOMPARE(m.param, m.type == 36 && &m == &replies.last() ? 1 : 0);
            if (m.type == 41)
                slotsSeen << int(qint8(m.data[0]));
            if (m.type == 42) {
                // The host reads the code date as BCD bytes: day, month, century, year.
                auto bcd = [](char b) { return (quint8(b) & 0x0F) + (quint8(b) >> 4) * 10; };
                QCOMPARE(bcd(m.data[0]), 7);
                QCOMPARE(bcd(m.data[1]), 3);
                QCOMPARE(bcd(m.data[2]) * 100 + bcd(m.data[3]), 2014);
            }
            if (m.type == 43) {
                const int nominal = qint8(m.data[1]);
                QVERIFY(nominal == 5 || nominal == 7 || nominal == 15 || nominal == -15);
                QVERIFY(qAbs(quint8(m.data[2]) / 10.0 - qAbs(nominal)) < 0.5);
                ++voltagesSeen;
            }
        }
        QCOMPARE(slotsSeen, rackSlots);
        QCOMPARE(voltagesSeen, voltages);
    }

    void hostSendGateNeverStalls_data()
    {
        QTest::addColumn<int>("frameSize");
        QTest::addColumn<bool>("suppressed");
        QTest::newRow("status polls") << 4 << false;
        QTest::newRow("mid-size frames") << 37 << false;
        QTest::newRow("FPGA-packet-size frames") << 134 << false;
        QTest::newRow("largest frames") << 256 << false;
        QTest::newRow("card stops clear to send") << 134 << true;
    }

    void hostSendGateNeverStalls()
    {
        QFETCH(int, frameSize);
        QFETCH(bool, suppressed);
        fw->setClearToSendSuppressed(suppressed);
        // The host's send queue: the gate closes once more than 512 bytes went out and
        // opens on the card's "clear to send".
        int inFlight = 0;
        bool gateOpen = true;
        connect(fw, &CardFirmware::bytesToHost, this, [&](const QByteArray &bytes) {
            const SerialMessage message(bytes);
            if (message.valid && message.type == 50) {
                gateOpen = true;
                inFlight = 0;
            }
        });
        const QByteArray echo = frame(5, 0, QByteArray(frameSize - 4, 'e'));
        QCOMPARE(echo.size(), frameSize);
        const int total = 300;
        int sent = 0;
        while (sent < total && gateOpen) {
            inFlight += echo.size();
            if (inFlight > 512)
                gateOpen = false;
            ++sent;
            fw->receiveBytes(echo);
        }
        QCOMPARE(sent == total, !suppressed);
        QCOMPARE(fw->errorsSent(), 0);
    }

    void errorAndResync_data()
    {
        QTest::addColumn<QByteArray>("bad");
        QTest::newRow("bad checksum") << hex("031e0022");
        QTest::newRow("type the card does not take") << hex("040600050f");
        QTest::newRow("type without a name") << hex("0317001a");
        QTest::newRow("type beyond the table") << hex("03630066");
        QTest::newRow("length below 3") << hex("02");
        QTest::newRow("fixed type, wrong length") << hex("052100fe0024");
        QTest::newRow("sync source without its byte") << hex("03210024");
        QTest::newRow("stray 55 before a frame") << hex("55031e0021");
    }

    void errorAndResync()
    {
        QFETCH(QByteArray, bad);
        QCOMPARE(exchange(bad), QStringList{"2 0 "});
        QVERIFY(fw->isResynchronising());
        // Until the zero run the card takes nothing, not even a good frame.
        QCOMPARE(exchange(frame(5, 0, "a")), QStringList{});
        QCOMPARE(exchange(resyncRun + frame(5, 0, "b")), QStringList{"5 0 62"});
        QVERIFY(!fw->isResynchronising());
    }

    void resyncNeedsZeroRun_data()
    {
        QTest::addColumn<QByteArray>("fill");
        QTest::addColumn<bool>("resynchronised");
        QTest::newRow("15 zeros") << QByteArray(15, '\0') << false;
        QTest::newRow("16 zeros") << QByteArray(16, '\0') << true;
        QTest::newRow("8 zeros, junk, 8 zeros") << QByteArray(8, '\0') + "x" + QByteArray(8, '\0') << false;
        QTest::newRow("the host's 256 zeros") << resyncRun << true;
    }

    void resyncNeedsZeroRun()
    {
        QFETCH(QByteArray, fill);
        QFETCH(bool, resynchronised);
        fw->rejectNextFrames(1);
        QCOMPARE(exchange(frame(5, 0, "a")), QStringList{"2 0 "});
        QCOMPARE(exchange(fill + frame(5, 0, "b")).size(), resynchronised ? 1 : 0);
    }

    void autoBaud_data()
    {
        QTest::addColumn<QList<QByteArray>>("chunks");
        QTest::addColumn<QStringList>("replies");
        QTest::newRow("probe") << QList<QByteArray>{hex("5555")} << QStringList{"junk aa"};
        QTest::newRow("probe split over chunks") << QList<QByteArray>{hex("55"), hex("55")} << QStringList{"junk aa"};
        QTest::newRow("probe between frames") << QList<QByteArray>{frame(5, 0, "a") + hex("5555") + frame(5, 0, "b")}
                                              << QStringList{"5 0 61", "junk aa", "5 0 62"};
        QTest::newRow("probe while resynchronising") << QList<QByteArray>{hex("031e0022"), hex("5555"), frame(5, 0, "c")}
                                                     << QStringList{"2 0 ", "junk aa", "5 0 63"};
        QTest::newRow("repeated probes") << QList<QByteArray>{hex("55555555")} << QStringList{"junk aaaa"};
    }

    void autoBaud()
    {
        QFETCH(QList<QByteArray>, chunks);
        QFETCH(QStringList, replies);
        for (const QByteArray &chunk : chunks)
            fw->receiveBytes(chunk);
        QCOMPARE(take(), replies);
    }

    void bootLoaderRequestHandsOverTheRest()
    {
        QSignalSpy bootLoader(fw, &CardFirmware::bootLoaderRequested);
        QSignalSpy handedOver(fw, &CardFirmware::bytesForBootLoader);
        // The boot loader's AutoBaud right behind the request belongs to the boot loader.
        QCOMPARE(exchange(frame(4, 0) + hex("5555")), QStringList{});
        QCOMPARE(bootLoader.count(), 1);
        QCOMPARE(handedOver.count(), 1);
        QCOMPARE(handedOver.at(0).at(0).toByteArray(), hex("5555"));
    }

    void restartDropsHalfReadFrame()
    {
        QSignalSpy restart(fw, &CardFirmware::restartRequested);
        fw->receiveBytes(frame(1, 0) + frame(5, 0, "abc").left(4));
        QCOMPARE(restart.count(), 1);
        fw->restartApplication();
        // Had the half frame survived, this frame would complete it with a bad checksum.
        QCOMPARE(exchange(frame(5, 0, "z")), QStringList{"5 0 7a"});
    }

    void externalChanges_data()
    {
        QTest::addColumn<QString>("change");
        QTest::addColumn<QStringList>("reports");

        QTest::newRow("lock lost on A") << "unlock 0"
                                        << QStringList{"51 0 00", "33 1 ff", "38 20 390039400202010001000000"};
        QTest::newRow("lock unchanged") << "lock 0" << QStringList{};
        QTest::newRow("rate change on B") << "rate 1 44100" << QStringList{"37 1 44ac0000"};
        QTest::newRow("96k stream on B") << "channels 1 156"
                                         << QStringList{"35 1 019c", "38 20 399c399c0302010001000000"};
        QTest::newRow("port A unplugged")
            << "unplug 0"
            << QStringList{"36 0 00", "51 0 00", "37 0 00000000", "35 0 0140", "33 1 ff", "38 20 000040400202000001000000"};
        QTest::newRow("rack plugged on B")
            << "rack 1 3"
            << QStringList{"38 20 393939390303010101000000", "51 1 01", "37 1 80bb0000", "36 1 01", "40 1 03",
                           "41 1 0002", "41 1 0102", "41 1 0201", "41 1 0301", "41 1 0702", "41 1 0801", "42 1 07032014",
                           "43 1 000533", "43 1 000748", "43 1 000f98", "43 1 00f196",
                           "43 1 010532", "43 1 010747", "43 1 010f97", "43 1 01f195", "35 1 0139"};
        QTest::newRow("rack slot card") << "slot 0 6 12" << QStringList{"41 0 060c"};
        QTest::newRow("rack voltage") << "volts 0 1 2 120" << QStringList{"43 0 010f78"};
        QTest::newRow("voltage without a rack") << "volts 1 0 0 50" << QStringList{};
        QTest::newRow("temperature: next status only") << "temperature 55" << QStringList{};
        QTest::newRow("out-of-range input") << "rate 7 44100" << QStringList{};
    }

    void externalChanges()
    {
        QFETCH(QString, change);
        QFETCH(QStringList, reports);
        const QStringList w = change.split(QLatin1Char(' '));
        auto n = [&w](int i) { return w.value(i).toInt(); };
        if (w[0] == "unlock" || w[0] == "lock")
            fw->setReceiveLocked(n(1), w[0] == "lock");
        else if (w[0] == "rate")
            fw->setInputSampleRate(n(1), quint32(n(2)));
        else if (w[0] == "channels")
            fw->setRxChannels(n(1), quint8(n(2)));
        else if (w[0] == "unplug")
            fw->unplug(n(1));
        else if (w[0] == "rack")
            fw->plugRack(n(1), RackState::typical(quint8(n(2))));
        else if (w[0] == "slot")
            fw->setRackSlotCard(n(1), n(2), quint8(n(3)));
        else if (w[0] == "volts")
            fw->setRackVoltage(n(1), n(2), n(3), quint8(n(4)));
        else if (w[0] == "temperature")
            fw->setTemperature(quint8(n(1)));
        QCOMPARE(take(), reports);
    }

    void lockRegainedMovesAutomaticSync()
    {
        fw->setReceiveLocked(0, false);
        take();
        fw->setReceiveLocked(0, true);
        QCOMPARE(take(), (QStringList{"51 0 01", "33 1 00", "38 20 390039400302010001000000"}));
        // A manual choice does not follow the locks.
        exchange(frame(33, 0, hex("fe")));
        fw->setReceiveLocked(0, false);
        QCOMPARE(take(), (QStringList{"51 0 00", "38 20 390039400202010001000000"}));
    }

    void outOfRangeCodes()
    {
        fw->setOutOfRangeCodes(true);
        fw->receiveBytes(frame(38, 0) + hex("0424000028"));
        QHash<QString, QString> first;
        for (const SerialMessage &m : takeMessages()) {
            const QString key = QStringLiteral("%1 %2").arg(m.type).arg(m.param);
            if (!first.contains(key))
                first.insert(key, QString::fromLatin1(m.data.toHex()));
        }
        QCOMPARE(first.value("38 20").left(4), QStringLiteral("7f7f"));
        QCOMPARE(first.value("33 1"), QStringLiteral("c8"));
        QCOMPARE(first.value("35 0"), QStringLiteral("0163"));
        QCOMPARE(first.value("53 0"), QStringLiteral("07"));
        QCOMPARE(first.value("36 0"), QStringLiteral("09"));
        QCOMPARE(first.value("40 0"), QStringLiteral("09"));
        QCOMPARE(first.value("41 0"), QStringLiteral("007f"));
    }

    void optocoreModule_data()
    {
        QTest::addColumn<QList<QByteArray>>("commands");
        QTest::addColumn<QList<QByteArray>>("answers");
        QTest::addColumn<bool>("breakSum");

        QByteArray written = OptocoreState::defaultSettings();
        QCOMPARE(written.size(), 24);
        written[1] = char(0x60);
        written[4] = 1;
        written[12] = char(0x7E);
        written[19] = 1;
        QByteArray reported = written;
        reported[1] = char(0xE0);

        QTest::newRow("read ID") << QList<QByteArray>{hex("048000ff")} << QList<QByteArray>{hex("058000ff0a")} << false;
        QTest::newRow("read register") << QList<QByteArray>{hex("04f000ff")} << QList<QByteArray>{hex("05f000ff00")} << false;
        QTest::newRow("write register, read back") << QList<QByteArray>{hex("0570ffff32"), hex("04f000ff")}
                                                   << QList<QByteArray>{hex("0570ffff32"), hex("05f000ff32")} << false;
        QTest::newRow("network ID 3") << QList<QByteArray>{hex("080000ff03fc55aa"), hex("048000ff")}
                                      << QList<QByteArray>{hex("080000ff03fc55aa"), hex("058000ff03")} << false;
        QTest::newRow("network ID, bad complement") << QList<QByteArray>{hex("080000ff03fd55aa"), hex("048000ff")}
                                                    << QList<QByteArray>{hex("058000ff0a")} << false;
        QTest::newRow("fibre speed 2 Gb") << QList<QByteArray>{written, hex("04e000ff")} << QList<QByteArray>{written, reported} << false;
        QTest::newRow("fibre speed 3 refused") << QList<QByteArray>{QByteArray(written).replace(4, 1, "\x03")} << QList<QByteArray>{} << false;
        QTest::newRow("wrong length byte") << QList<QByteArray>{hex("058000ff")} << QList<QByteArray>{} << false;
        QTest::newRow("unknown code") << QList<QByteArray>{hex("049000ff")} << QList<QByteArray>{} << false;
        QTest::newRow("bad inner sum") << QList<QByteArray>{hex("048000ff")} << QList<QByteArray>{} << true;
    }

    void optocoreModule()
    {
        QFETCH(QList<QByteArray>, commands);
        QFETCH(QList<QByteArray>, answers);
        QFETCH(bool, breakSum);
        fw->resetState(28);
        QStringList expected;
        for (const QByteArray &answer : answers)
            expected << "48 0 " + QString::fromLatin1(withSum(answer).toHex());
        for (const QByteArray &command : commands) {
            QByteArray data = withSum(command);
            if (breakSum)
                data[data.size() - 1] = char(data.back() + 1);
            fw->receiveBytes(frame(48, 0, data));
        }
        QStringList got = take();
        got = got.filter(QRegularExpression("^48 "));
        QCOMPARE(got, expected);
    }

    void fpgaDownload_data()
    {
        QTest::addColumn<int>("refuseParam");
        QTest::addColumn<int>("refuseResult");
        QTest::addColumn<int>("skipPacket");
        QTest::addColumn<int>("sumError");
        QTest::addColumn<QStringList>("answers");
        QTest::addColumn<QByteArray>("version");

        QTest::newRow("complete image") << -1 << 0 << -1 << 0
                                        << QStringList{"39 0 00", "39 1 000000", "39 1 000001", "39 1 000002", "39 2 00"}
                                        << QByteArray("2015/01/09");
        QTest::newRow("wrong image sum") << -1 << 0 << -1 << 1
                                         << QStringList{"39 0 00", "39 1 000000", "39 1 000001", "39 1 000002", "39 2 02"}
                                         << QByteArray("2014/05/12");
        QTest::newRow("packet skipped") << -1 << 0 << 1 << 0 << QStringList{"39 0 00", "39 1 000000", "39 1 000000", "39 2 03"}
                                        << QByteArray("2014/05/12");
        QTest::newRow("flash verify refused") << 2 << 4 << -1 << 0
                                              << QStringList{"39 0 00", "39 1 000000", "39 1 000001", "39 1 000002", "39 2 04"}
                                              << QByteArray("2014/05/12");
        QTest::newRow("erase refused") << 0 << 3 << -1 << 0
                                       << QStringList{"39 0 03", "39 1 030000", "39 1 030001", "39 1 030002", "39 2 03"}
                                       << QByteArray("2014/05/12");
    }

    void fpgaDownload()
    {
        QFETCH(int, refuseParam);
        QFETCH(int, refuseResult);
        QFETCH(int, skipPacket);
        QFETCH(int, sumError);
        QFETCH(QStringList, answers);
        QFETCH(QByteArray, version);
        if (refuseParam >= 0)
            fw->refuseFpgaStep(refuseParam, quint8(refuseResult));

        QByteArray image = QByteArray("hdr 2015/01/09 build") + QByteArray(280, 'i');
        for (int i = 20; i < image.size(); ++i)
            image[i] = char(i * 7);
        quint16 sum = 0;
        for (char byte : qAsConst(image))
            sum = quint16(sum + quint8(byte));
        sum = quint16(sum + sumError);

        QByteArray stream = frame(39, 0, hex("0003"));
        for (int n = 0; n < 3; ++n) {
            if (n != skipPacket)
                stream += frame(39, 1, QByteArray(1, '\0') + char(n) + image.mid(n * 128, 128));
        }
        stream += frame(39, 2, QByteArray(1, char(sum >> 8)) + char(sum & 0xFF));
        fw->receiveBytes(stream);
        QCOMPARE(take(), answers);
        QCOMPARE(fw->state().fpgaVersion, version);
        fw->receiveBytes(statusRequest);
        QCOMPARE(takeMessages().value(0).data.mid(3, 10), (version + QByteArray(10, '\0')).left(10));
    }

    void optocoreUpdate()
    {
        fw->resetState(28);
        QByteArray description = QByteArray("OCM 5.00 b1301").leftJustified(64, '\0');
        QByteArray stream = frame(49, 1, description) + frame(49, 2, hex("0002")) + frame(49, 4, hex("0000") + QByteArray(128, 'u'))
            + frame(49, 4, hex("0001") + QByteArray(10, 'u')) + frame(49, 3, hex("0001")) + frame(49, 4, hex("0000") + QByteArray(5, 'p'))
            + frame(49, 5, {}) + frame(49, 0, {});
        fw->receiveBytes(stream);
        QCOMPARE(take(), (QStringList{"49 1 00", "49 2 00", "49 4 000000", "49 4 000001", "49 3 00", "49 4 000000", "49 5 00",
                                      "49 0 " + QString::fromLatin1(QByteArray("OCM 5.00 b1301").toHex())}));

        // A loader left before both files came in keeps the running version.
        fw->refuseOptocoreUpdateStep(4, 1);
        fw->receiveBytes(frame(49, 1, QByteArray("OCM 6").leftJustified(64, '\0')) + frame(49, 2, hex("0001"))
                         + frame(49, 4, hex("0000") + "x") + frame(49, 5, {}) + frame(47, 0));
        QCOMPARE(take(), (QStringList{"49 1 00", "49 2 00", "49 4 010000", "49 5 00",
                                      "47 0 " + QString::fromLatin1(QByteArray("OCM 5.00 b1301").toHex())}));
    }

    void livingCard()
    {
        QVERIFY(!fw->isLiving());
        QCOMPARE(fw->livingTimer()->interval(), 1000);
        fw->setLiving(true);
        QVERIFY(fw->livingTimer()->isActive());
        fw->setLiving(false);

        fw->setLivingSeed(7);
        int drops = 0;
        int downSince = -1;
        for (int tick = 0; tick < 400; ++tick) {
            const int before = fw->state().temperature;
            fw->liveTick();
            const int after = fw->state().temperature;
            QVERIFY(qAbs(after - before) <= 1);
            QVERIFY(after >= 35 && after <= 60);
            for (const QString &line : take()) {
                if (line == "51 0 00") {
                    ++drops;
                    downSince = tick;
                } else if (line == "51 0 01") {
                    QVERIFY(tick - downSince <= 6);
                    downSince = -1;
                }
            }
            QVERIFY(downSince < 0 || tick - downSince <= 6);
        }
        QVERIFY(drops > 0);
    }
};

QTEST_GUILESS_MAIN(TestCardFirmware)
#include "tst_cardfirmware.moc"
