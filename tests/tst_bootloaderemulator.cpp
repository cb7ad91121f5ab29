#include "sim/bootloaderemulator.h"
#include "update/bootpacket.h"
#include "update/updater.h"

#include <QSignalSpy>
#include <QTemporaryDir>
#include <QtTest>

using Common::BootPacket;

static QByteArray bytes(std::initializer_list<int> values)
{
    QByteArray result;
    for (int value : values)
        result.append(char(value));
    return result;
}

static QByteArray packet(int code, const QByteArray &data = QByteArray())
{
    return BootPacket(code, data).encode();
}

static QByteArray download(quint32 address, quint32 size)
{
    QByteArray data(8, '\0');
    qToBigEndian(address, data.data());
    qToBigEndian(size, data.data() + 4);
    return packet(BootPacket::Download, data);
}

// Everything the emulator answered, one entry per answer.
static QList<QByteArray> answers(const QSignalSpy &spy)
{
    QList<QByteArray> list;
    for (const QList<QVariant> &call : spy)
        list.append(call.at(0).toByteArray());
    return list;
}

static const QByteArray Ack = bytes({0xCC});
static const QByteArray Nak = bytes({0x33});

class BootLoaderEmulatorTest : public QObject
{
    Q_OBJECT

private slots:
    void answers_data()
    {
        QTest::addColumn<QByteArray>("input");
        QTest::addColumn<QList<QByteArray>>("expected");

        QTest::newRow("AutoBaud") << bytes({0x55, 0x55}) << QList<QByteArray>{Ack};
        QTest::newRow("Ping") << packet(BootPacket::Ping) << QList<QByteArray>{Ack};
        QTest::newRow("Ping, GetStatus") << packet(BootPacket::Ping) + packet(BootPacket::GetStatus)
                                         << QList<QByteArray>{Ack, Ack, bytes({3, 0x40, 0x40})};
        QTest::newRow("bad checksum") << bytes({3, 0x21, 0x20}) << QList<QByteArray>{Nak};
        QTest::newRow("Download with a short size") << bytes({7, 0x21, 0x21, 0, 0, 0, 0}) << QList<QByteArray>{Nak};
        QTest::newRow("size bytes no packet has") << bytes({2, 1, 0x50}) << QList<QByteArray>{Nak, Nak, Nak};
        QTest::newRow("unknown command")
            << bytes({3, 0x30, 0x30}) + packet(BootPacket::GetStatus)
            << QList<QByteArray>{Ack, Ack, bytes({3, 0x41, 0x41})};
        QTest::newRow("data without Download")
            << packet(BootPacket::SendData, QByteArray(64, 'x')) + packet(BootPacket::GetStatus)
            << QList<QByteArray>{Ack, Ack, bytes({3, 0x42, 0x42})};
        QTest::newRow("Download larger than the flash")
            << download(0, BootLoaderEmulator::FlashSize + 64) + packet(BootPacket::GetStatus)
            << QList<QByteArray>{Ack, Ack, bytes({3, 0x43, 0x43})};
        QTest::newRow("address wraps past the flash")
            << download(0xFFFFFFC0u, 128) + packet(BootPacket::GetStatus)
            << QList<QByteArray>{Ack, Ack, bytes({3, 0x43, 0x43})};
        QTest::newRow("host acks and padding are silent") << bytes({0, 0, 0xCC, 0x33, 0}) << QList<QByteArray>{};
        QTest::newRow("split packet") << bytes({3, 0x20}) << QList<QByteArray>{};
    }
    void answers()
    {
        QFETCH(QByteArray, input);
        QFETCH(QList<QByteArray>, expected);
        BootLoaderEmulator loader;
        QSignalSpy out(&loader, &BootLoaderEmulator::bytesToHost);
        loader.receiveBytes(input);
        QCOMPARE(::answers(out), expected);
    }

    void keepsTheAnnouncedImage()
    {
        BootLoaderEmulator loader;
        QSignalSpy reset(&loader, &BootLoaderEmulator::resetRequested);
        loader.receiveBytes(download(0, 100));
        loader.receiveBytes(packet(BootPacket::SendData, QByteArray(64, 'a')));
        QVERIFY(!loader.isImageComplete());
        loader.receiveBytes(packet(BootPacket::SendData, QByteArray(64, 'b')));
        QCOMPARE(loader.image(), QByteArray(64, 'a') + QByteArray(36, 'b'));
        // The second block went past the announced end.
        QCOMPARE(loader.lastStatus(), quint8(BootLoaderEmulator::BadAddress));

        loader.receiveBytes(download(0, 64));
        loader.receiveBytes(packet(BootPacket::SendData, QByteArray(64, 'c')));
        QVERIFY(loader.isImageComplete());
        QCOMPARE(loader.image(), QByteArray(64, 'c'));

        // Whatever follows a Reset in the same block is not the boot loader's.
        QSignalSpy out(&loader, &BootLoaderEmulator::bytesToHost);
        loader.receiveBytes(packet(BootPacket::Reset) + packet(BootPacket::Ping));
        QCOMPARE(reset.count(), 1);
        QCOMPARE(::answers(out), QList<QByteArray>{Ack});
    }

    void faultSwitches()
    {
        BootLoaderEmulator loader;
        QSignalSpy out(&loader, &BootLoaderEmulator::bytesToHost);
        loader.nakNextPackets(2);
        loader.receiveBytes(bytes({0x55, 0x55}) + packet(BootPacket::Ping) + packet(BootPacket::Ping)
                            + packet(BootPacket::Ping));
        QCOMPARE(::answers(out), (QList<QByteArray>{Ack, Nak, Nak, Ack}));
        QCOMPARE(loader.naksSent(), 2);

        out.clear();
        loader.failNextStatus(0x44);
        loader.receiveBytes(packet(BootPacket::GetStatus) + packet(BootPacket::GetStatus));
        QCOMPARE(::answers(out), (QList<QByteArray>{Ack, bytes({3, 0x44, 0x44}), Ack, bytes({3, 0x40, 0x40})}));

        // An image whose download was reported as failed is not a program to start.
        loader.receiveBytes(download(0, 64));
        loader.receiveBytes(packet(BootPacket::SendData, QByteArray(64, 'x')));
        loader.failNextStatus(0x44);
        loader.receiveBytes(packet(BootPacket::GetStatus));
        QVERIFY(!loader.isImageComplete());
    }

    // The updater against the emulator, without a serial link: every block of a file
    // of several kilobytes arrives in place, in order, padded at the end.
    void updaterWritesTheWholeFile_data()
    {
        QTest::addColumn<int>("size");
        QTest::addColumn<int>("naks");
        QTest::newRow("10 kB") << 10000 << 0;
        QTest::newRow("exact blocks") << 4096 << 0;
        QTest::newRow("with refusals") << 3000 << 5;
    }
    void updaterWritesTheWholeFile()
    {
        QFETCH(int, size);
        QFETCH(int, naks);
        QTemporaryDir dir;
        QByteArray code;
        for (int i = 0; i < size; ++i)
            code.append(char((i * 31 + i / 256) & 0xFF));
        const QString path = dir.filePath("code.bin");
        QFile file(path);
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write(code);
        file.close();

        BootLoaderEmulator loader;
        Common::Updater updater(nullptr, path);
        // Queued both ways, as over a link: neither side is re-entered from its own send.
        connect(&updater, &Common::Updater::sendData, &loader, &BootLoaderEmulator::receiveBytes, Qt::QueuedConnection);
        connect(&loader, &BootLoaderEmulator::bytesToHost, &updater, &Common::Updater::receiveData,
                Qt::QueuedConnection);
        QSignalSpy reset(&loader, &BootLoaderEmulator::resetRequested);
        loader.nakNextPackets(naks);

        updater.start();
        QVERIFY(reset.wait(5000));
        const int padded = (size + 63) / 64 * 64;
        QCOMPARE(loader.announcedSize(), quint32(padded));
        QVERIFY(loader.isImageComplete());
        QCOMPARE(loader.image(), code + QByteArray(padded - size, char(0xFF)));
        QVERIFY(updater.isSuccessful());
    }
};

QTEST_GUILESS_MAIN(BootLoaderEmulatorTest)
#include "tst_bootloaderemulator.moc"
