#include "link/framescanner.h"
#include "link/serialmessage.h"

#include <QRandomGenerator>
#include <QtTest>

using Common::FrameScanner;
using Common::SerialMessage;

namespace {

// A fresh seed each run, named when the test fails; TEST_SEED replays one.
struct Seed
{
    quint32 value = qEnvironmentVariableIsSet("TEST_SEED") ? qEnvironmentVariable("TEST_SEED").toUInt()
                                                           : QRandomGenerator::global()->generate();
    ~Seed()
    {
        if (QTest::currentTestFailed())
            qWarning("replay with TEST_SEED=%u", value);
    }
};

// The receive scan in its plainest form: after every chunk, look from the first byte
// for the first position holding a whole, valid frame, summing each candidate afresh.
// Quadratic and unbounded, but obviously right; the scanner must behave the same.
// Each message is listed as "junk before it in hex|message".
struct PlainScanner
{
    void feed(const QByteArray &chunk)
    {
        buffer += chunk;
        for (int i = 0; i + 3 < buffer.size(); ++i) {
            const int length = quint8(buffer.at(i));
            if (length < 3 || i + length >= buffer.size())
                continue;
            quint8 sum = 0;
            for (int k = i; k < i + length; ++k)
                sum = quint8(sum + quint8(buffer.at(k)));
            const SerialMessage message(buffer.mid(i, length + 1));
            if (sum != quint8(buffer.at(i + length)) || !message.valid)
                continue;
            messages << QString::fromLatin1(buffer.left(i).toHex()) + '|' + message.toString();
            buffer.remove(0, i + length + 1);
            i = -1;
        }
    }
    QStringList messages;
    QByteArray buffer;
};

// The scanner's items listed as the plain scan lists them: junk handed out on its own
// (over the bound) is joined to what follows, so a bounded and an unbounded scan compare equal.
struct Outcome
{
    void collect(const QVector<FrameScanner::Item> &items)
    {
        for (const FrameScanner::Item &item : items) {
            pendingJunk += item.discarded;
            if (item.hasMessage) {
                messages << QString::fromLatin1(pendingJunk.toHex()) + '|' + item.message.toString();
                pendingJunk.clear();
            }
        }
    }
    QStringList messages;
    QByteArray pendingJunk; // reported but not yet followed by a message
};

// Junk that can never hold a valid frame: whatever position is read as a frame start,
// the byte after it is above the highest type code.
QByteArray undecodableJunk(QRandomGenerator &random, int size)
{
    QByteArray junk(size, '\0');
    for (char &byte : junk)
        byte = char(random.bounded(SerialMessage::TypeCount, 256));
    return junk;
}

} // namespace

class FrameScannerTest : public QObject
{
    Q_OBJECT

private slots:
    // Chunks are given in hex, separated by blanks. Each expected entry is "chunk
    // number:discarded hex|message", the chunk after which the item must come out.
    void scan_data()
    {
        QTest::addColumn<QList<QByteArray>>("chunks");
        QTest::addColumn<QStringList>("expected");
        const auto row = [](const char *name, const QByteArray &chunks, const QStringList &expected) {
            QList<QByteArray> list;
            for (const QByteArray &chunk : chunks.split(' '))
                list << QByteArray::fromHex(chunk);
            QTest::newRow(name) << list << expected;
        };
        row("junk 00 FF before a frame", "00ff03010004", {"1:00ff|restart 0 "});
        row("junk then half a frame waits for the rest", "00ff051f01 0102 28", {"3:00ff|quorix control 1 1,2"});
        row("junk without a frame after it is kept, not reported", "00ff10aa55", {});
        row("checksum one too high is junk", "0301000503010004", {"1:03010005|restart 0 "});
        // A stray length byte 08 reaches past the frame after it: the frame is not held back.
        row("length byte pointing past a later frame", "0803010004", {"1:08|restart 0 "});
        // An echo frame that carries a whole restart frame in its payload:
        // 08 05 00 [03 01 00 04] 00 15.
        row("outer frame whole in one chunk wins over the frame inside it", "080500030100040015",
            {"1:|echo data 0 3,1,0,4,0"});
        row("inner frame complete first is taken, the outer frame's start is junk", "08050003010004 0015 03010004",
            {"1:080500|restart 0 ", "3:0015|restart 0 "});
        // 09 05 00 [04 21 00 FE 23] 00 54: both frames wait for their last bytes; the inner
        // one completes first within the second chunk, but the outer one starts earlier.
        row("earlier waiting frame beats a later one completed by the same chunk", "090500042100fe 230054",
            {"2:|echo data 0 4,33,0,254,35,0"});
        // The serial driver hands over a kilobyte at once; the longer frame must not be
        // lost to the one in its payload, whatever the chunk's size.
        const SerialMessage longer(5, 0, QByteArray(10, 1) + QByteArray::fromHex("03010004") + QByteArray(36, 1));
        const QByteArray leading = QByteArray(1000, '\0').toHex();
        row("frame carried in a longer frame, both in one large chunk", leading + longer.encode().toHex(),
            {"1:" + leading + "|" + longer.toString()});
    }
    void scan()
    {
        QFETCH(QList<QByteArray>, chunks);
        QFETCH(QStringList, expected);
        FrameScanner scanner;
        QStringList found;
        for (int n = 0; n < chunks.size(); ++n) {
            for (const FrameScanner::Item &item : scanner.feed(chunks.at(n)))
                found << QStringLiteral("%1:%2|%3").arg(n + 1).arg(QString::fromLatin1(item.discarded.toHex()),
                                                             item.hasMessage ? item.message.toString() : "-");
        }
        QCOMPARE(found, expected);
    }

    // A flood of junk ended by the longest possible frame: junk over the bound is handed
    // out in pieces while the frame is still arriving, and the flush must stop short of the
    // frame's first byte. Every junk byte is reported once, in order.
    void junkFloodIsReportedInPiecesAndBounded_data()
    {
        QTest::addColumn<int>("chunkSize");
        QTest::addColumn<int>("frameBytesWithFlood"); // the rest of the frame comes after
        QTest::newRow("byte by byte, all but the checksum") << 1 << 255;
        QTest::newRow("odd 1000-byte chunks, half the frame") << 1000 << 128;
        QTest::newRow("one huge chunk, the length byte only") << 300000 << 1;
    }
    void junkFloodIsReportedInPiecesAndBounded()
    {
        QFETCH(int, chunkSize);
        QFETCH(int, frameBytesWithFlood);
        Seed seed;
        QRandomGenerator random(seed.value);
        const QByteArray junk = undecodableJunk(random, 300000);
        const SerialMessage longest(5, 7, undecodableJunk(random, SerialMessage::MaxVariablePayload));
        const QByteArray frame = longest.encode();
        QCOMPARE(frame.size(), 256);
        const QByteArray flood = junk + frame.left(frameBytesWithFlood);
        // Held between chunks: settled junk up to the bound, plus the last 255 positions whose
        // frames may be incomplete; while a chunk is scanned, the chunk on top.
        QCOMPARE(FrameScanner::MaxHeldBytes, 2048 + 255);
        FrameScanner scanner;
        QByteArray reported;
        for (int offset = 0; offset < flood.size(); offset += chunkSize) {
            for (const FrameScanner::Item &item : scanner.feed(flood.mid(offset, chunkSize))) {
                QVERIFY(!item.hasMessage);
                QVERIFY(!item.discarded.isEmpty());
                reported += item.discarded;
            }
            QVERIFY(scanner.bufferedBytes() <= FrameScanner::MaxHeldBytes);
        }
        QVERIFY(scanner.peakBufferedBytes() <= FrameScanner::MaxHeldBytes + chunkSize);
        QCOMPARE(reported.size() + scanner.bufferedBytes(), flood.size());
        const QVector<FrameScanner::Item> items = scanner.feed(frame.mid(frameBytesWithFlood));
        QCOMPARE(items.size(), 1);
        QCOMPARE(items.at(0).message.toString(), longest.toString());
        reported += items.at(0).discarded;
        QVERIFY(reported == junk);
        QCOMPARE(scanner.bufferedBytes(), 0);
    }

    void behavesLikeThePlainScan_data()
    {
        QTest::addColumn<int>("maxChunk");
        QTest::addColumn<int>("maxJunkRun");
        QTest::newRow("serial-sized chunks, short junk") << 64 << 40;
        QTest::newRow("single bytes and pairs") << 2 << 20;
        QTest::newRow("large chunks, junk runs over the bound") << 6000 << 5000;
    }
    // Streams built to trip a scanner that skips positions or sums wrongly: short length
    // bytes that make many overlapping candidates, truncated frames, frames with a bad
    // checksum, frames nested in payloads, and random bytes.
    void behavesLikeThePlainScan()
    {
        QFETCH(int, maxChunk);
        QFETCH(int, maxJunkRun);
        Seed seed;
        QRandomGenerator random(seed.value);
        const auto randomFrame = [&random]() {
            static const int types[] = {1, 2, 5, 31, 33, 35, 38, 40, 41, 48, 50, 51, 58};
            const int type = types[random.bounded(int(std::size(types)))];
            QByteArray payload(SerialMessage::hasVariablePayload(type) ? random.bounded(0, 12)
                                                                       : SerialMessage::frameLength(type) - 3,
                               '\0');
            for (char &byte : payload)
                byte = char(random.bounded(0, 8)); // small values make nested candidates
            return SerialMessage(type, random.bounded(0, 4), payload).encode();
        };
        QByteArray stream;
        while (stream.size() < 200000) {
            const int kind = random.bounded(6);
            QByteArray piece = kind < 4 ? randomFrame() : QByteArray();
            if (kind == 2) // truncated frame
                piece.truncate(random.bounded(1, int(piece.size())));
            else if (kind == 3) // bad checksum
                piece.back() = char(piece.back() + random.bounded(1, 256));
            else if (kind == 4) // small bytes: lengths 3 to 12 and low type codes
                for (int n = random.bounded(1, 12); n > 0; --n)
                    piece += char(random.bounded(0, 13));
            else if (kind == 5)
                for (int n = random.bounded(1, maxJunkRun + 1); n > 0; --n)
                    piece += char(random.bounded(256));
            stream += piece;
        }
        FrameScanner scanner;
        PlainScanner plain;
        Outcome got;
        for (int offset = 0; offset < stream.size();) {
            const QByteArray chunk = stream.mid(offset, random.bounded(1, maxChunk + 1));
            offset += chunk.size();
            got.collect(scanner.feed(chunk));
            plain.feed(chunk);
        }
        QVERIFY2(plain.messages.size() > 200, qPrintable(QString::number(plain.messages.size())));
        QCOMPARE(got.messages, plain.messages);
        // What the plain scan still holds is what the scanner reported over the bound plus
        // what it holds.
        QCOMPARE(got.pendingJunk.size() + scanner.bufferedBytes(), int(plain.buffer.size()));
        QVERIFY(plain.buffer.startsWith(got.pendingJunk));
        QVERIFY(scanner.peakBufferedBytes() <= FrameScanner::MaxHeldBytes + maxChunk);
    }
};

QTEST_GUILESS_MAIN(FrameScannerTest)
#include "tst_framescanner.moc"
