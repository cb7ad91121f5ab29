#include "link/framescanner.h"
#include "link/serialmessage.h"

#include <QRandomGenerator>
#include <QtTest>

using Common::FrameScanner;
using Common::SerialMessage;

namespace {

QByteArray hex(const char *text)
{
    return QByteArray::fromHex(text);
}

// "discarded bytes in hex|message log text", "-" for a report of junk alone.
QString render(const FrameScanner::Item &item)
{
    return QString::fromLatin1(item.discarded.toHex()) + QLatin1Char('|')
        + (item.hasMessage ? item.message.toString() : QStringLiteral("-"));
}

// A fresh seed each run, named when the test fails; TEST_SEED replays one.
struct Seed
{
    Seed()
    {
        bool given = false;
        value = qEnvironmentVariable("TEST_SEED").toUInt(&given);
        if (!given)
            value = QRandomGenerator::global()->generate();
    }
    ~Seed()
    {
        if (QTest::currentTestFailed())
            qWarning("replay with TEST_SEED=%u", value);
    }
    quint32 value;
};

// The receive scan in its plainest form: after every chunk, look from the first byte
// for the first position holding a whole, valid frame, summing each candidate afresh.
// Quadratic and unbounded, but obviously right; the scanner must behave the same.
struct PlainScanner
{
    QVector<FrameScanner::Item> feed(const QByteArray &chunk)
    {
        QVector<FrameScanner::Item> items;
        buffer += chunk;
        for (int i = 0; i + 3 < buffer.size(); ++i) {
            const int length = quint8(buffer.at(i));
            if (length < 3 || i + length >= buffer.size())
                continue;
            quint8 sum = 0;
            for (int k = i; k < i + length; ++k)
                sum = quint8(sum + quint8(buffer.at(k)));
            if (sum != quint8(buffer.at(i + length)))
                continue;
            const SerialMessage message(buffer.mid(i, length + 1));
            if (!message.valid)
                continue;
            FrameScanner::Item item;
            item.discarded = buffer.left(i);
            item.hasMessage = true;
            item.message = message;
            items.append(item);
            buffer.remove(0, i + length + 1);
            i = -1;
        }
        return items;
    }

    QByteArray buffer;
};

// Messages, each with the junk reported before it; junk handed out on its own (over
// the bound) is joined to what follows, so a bounded and an unbounded scan compare equal.
struct Outcome
{
    void collect(const QVector<FrameScanner::Item> &items)
    {
        for (const FrameScanner::Item &item : items) {
            pendingJunk += item.discarded;
            if (item.hasMessage) {
                messages.append(QString::fromLatin1(pendingJunk.toHex()) + '|' + item.message.toString());
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
        row("fewer than four bytes wait", "03 01 00 04", {"4:|restart 0 "});
        row("junk without a frame after it is kept, not reported", "00ff10aa55", {});
        row("checksum one too high is junk", "0301000503010004", {"1:03010005|restart 0 "});
        row("good checksum but type 59 is junk", "033b003e03010004", {"1:033b003e|restart 0 "});
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
        QByteArray payload(50, '\x01');
        payload.replace(10, 4, hex("03010004"));
        const QByteArray leading(1000, '\0');
        row("frame carried in a longer frame, both in one large chunk",
            (leading + SerialMessage(5, 0, payload).encode()).toHex(),
            {"1:" + leading.toHex() + "|" + SerialMessage(5, 0, payload).toString()});
    }

    void scan()
    {
        QFETCH(QList<QByteArray>, chunks);
        QFETCH(QStringList, expected);

        FrameScanner scanner;
        QStringList found;
        for (int n = 0; n < chunks.size(); ++n) {
            for (const FrameScanner::Item &item : scanner.feed(chunks.at(n)))
                found.append(QString::number(n + 1) + QLatin1Char(':') + render(item));
        }
        QCOMPARE(found, expected);
    }

    void junkFloodIsReportedInPiecesAndBounded_data()
    {
        QTest::addColumn<int>("chunkSize");
        QTest::newRow("byte by byte") << 1;
        QTest::newRow("odd 1000-byte chunks") << 1000;
        QTest::newRow("one huge chunk") << 300000;
    }

    void junkFloodIsReportedInPiecesAndBounded()
    {
        QFETCH(int, chunkSize);
        Seed seed;
        QRandomGenerator random(seed.value);
        const QByteArray junk = undecodableJunk(random, 300000);
        // Between chunks: settled junk up to the bound, plus the last 255 positions whose
        // frames may still be incomplete. While a chunk is scanned, the chunk comes on top.
        const int held = FrameScanner::MaxHeldBytes;
        QCOMPARE(held, 2048 + 255);

        FrameScanner scanner;
        QByteArray reported;
        for (int offset = 0; offset < junk.size(); offset += chunkSize) {
            for (const FrameScanner::Item &item : scanner.feed(junk.mid(offset, chunkSize))) {
                QVERIFY(!item.hasMessage);
                QVERIFY(!item.discarded.isEmpty());
                reported += item.discarded;
            }
            QVERIFY(scanner.bufferedBytes() <= held);
        }
        QVERIFY(scanner.peakBufferedBytes() <= held + chunkSize);
        QCOMPARE(reported.size() + scanner.bufferedBytes(), junk.size());

        // The frame that ends the flood comes out with the junk still held: every junk byte
        // has been reported once, in order.
        const QVector<FrameScanner::Item> items = scanner.feed(hex("03010004"));
        QCOMPARE(items.size(), 1);
        QCOMPARE(items.at(0).message.toString(), QStringLiteral("restart 0 "));
        reported += items.at(0).discarded;
        QVERIFY(reported == junk);
        QCOMPARE(scanner.bufferedBytes(), 0);
    }

    void longestFrameSurvivesAJunkFlush_data()
    {
        QTest::addColumn<int>("bytesInFirstChunk");
        QTest::newRow("all but the checksum") << 255;
        QTest::newRow("half") << 128;
        QTest::newRow("length byte only") << 1;
    }

    // Junk over the bound is handed out while the longest possible frame is still
    // arriving: the flush must stop short of the frame's first byte.
    void longestFrameSurvivesAJunkFlush()
    {
        QFETCH(int, bytesInFirstChunk);
        Seed seed;
        QRandomGenerator random(seed.value);
        const QByteArray junk = undecodableJunk(random, 3000);
        const SerialMessage longest(5, 7, undecodableJunk(random, SerialMessage::MaxVariablePayload));
        const QByteArray frame = longest.encode();
        QCOMPARE(frame.size(), 256);

        FrameScanner scanner;
        QVector<FrameScanner::Item> items = scanner.feed(junk + frame.left(bytesInFirstChunk));
        QCOMPARE(items.size(), 1);
        QVERIFY(!items.at(0).hasMessage);
        QByteArray reported = items.at(0).discarded;
        items = scanner.feed(frame.mid(bytesInFirstChunk));
        QCOMPARE(items.size(), 1);
        QCOMPARE(items.at(0).message.toString(), longest.toString());
        reported += items.at(0).discarded;
        QVERIFY(reported == junk);
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
        Outcome want;
        for (int offset = 0; offset < stream.size();) {
            const QByteArray chunk = stream.mid(offset, random.bounded(1, maxChunk + 1));
            offset += chunk.size();
            got.collect(scanner.feed(chunk));
            want.collect(plain.feed(chunk));
        }
        QVERIFY2(want.messages.size() > 200, qPrintable(QString::number(want.messages.size())));
        QCOMPARE(got.messages, want.messages);
        // What the plain scan still holds is what the scanner reported over the bound plus
        // what it holds.
        QCOMPARE(got.pendingJunk.size() + scanner.bufferedBytes(), int(plain.buffer.size()));
        QVERIFY(plain.buffer.startsWith(got.pendingJunk));
        QVERIFY(scanner.peakBufferedBytes() <= FrameScanner::MaxHeldBytes + maxChunk);
    }
};

QTEST_GUILESS_MAIN(FrameScannerTest)
#include "tst_framescanner.moc"
