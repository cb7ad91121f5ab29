#include "link/framescanner.h"
#include "link/messagetype.h"
#include "link/serialmessage.h"

#include <QRandomGenerator>
#include <algorithm>
#include <QtTest>

using Common::FrameScanner;
using Common::SerialMessage;

namespace {

// A fresh seed each run, shown so that TEST_SEED can replay it.
quint32 seed()
{
    const quint32 value = qEnvironmentVariableIntValue("TEST_SEED") ? qEnvironmentVariableIntValue("TEST_SEED")
                                                                    : QRandomGenerator::global()->generate();
    qInfo("TEST_SEED=%u", value);
    return value;
}

// Items as "junk hex|message"; junk handed out on its own (over the bound) is joined to
// what follows, so a bounded and an unbounded scan list the same.
struct Outcome
{
    void collect(const QVector<FrameScanner::Item> &items)
    {
        for (const FrameScanner::Item &item : items) {
            junk += item.discarded;
            if (item.hasMessage)
                messages << QString::fromLatin1(std::exchange(junk, {}).toHex()) + '|' + item.message.toString();
        }
    }
    QStringList messages;
    QByteArray junk; // reported but not yet followed by a message
};

// The plainest scan, quadratic and unbounded but obviously right: after every chunk, take
// the first position holding a whole, valid frame, summing each candidate afresh. Frames
// nested in frames, a waiting frame against a later one completed first: it decides.
struct PlainScanner
{
    void feed(const QByteArray &chunk)
    {
        buffer += chunk;
        for (int i = 0; i + 3 < buffer.size(); ++i) {
            const int length = quint8(buffer.at(i));
            if (length < 3 || i + length >= buffer.size())
                continue;
            const quint8 sum = Common::byteSum(buffer.constData() + i, length);
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

// Junk that can never hold a valid frame: every byte is above the highest type code.
QByteArray undecodableJunk(QRandomGenerator &random, int size)
{
    QByteArray junk(size, '\0');
    std::generate(junk.begin(), junk.end(), [&] { return char(random.bounded(SerialMessage::TypeCount, 256)); });
    return junk;
}

} // namespace

class FrameScannerTest : public QObject
{
    Q_OBJECT

private slots:
    // A flood of junk ended by the longest frame: junk over the bound is handed out in
    // pieces while the frame arrives, every junk byte once and in order, never the frame's start.
    void junkFloodIsReportedInPiecesAndBounded_data()
    {
        QTest::addColumn<int>("chunkSize");
        QTest::addColumn<int>("frameBytesWithFlood"); // the rest of the frame comes after
        QTest::newRow("byte by byte, all but the checksum") << 1 << 255;
        QTest::newRow("one huge chunk, the length byte only") << 300000 << 1;
    }
    void junkFloodIsReportedInPiecesAndBounded()
    {
        QFETCH(int, chunkSize);
        QFETCH(int, frameBytesWithFlood);
        QRandomGenerator random(seed());
        const QByteArray junk = undecodableJunk(random, 300000);
        const SerialMessage longest(5, 7, undecodableJunk(random, SerialMessage::MaxVariablePayload));
        const QByteArray frame = longest.encode();
        const QByteArray flood = junk + frame.left(frameBytesWithFlood);
        QCOMPARE(FrameScanner::MaxHeldBytes, 2048 + 255);
        FrameScanner scanner;
        Outcome got;
        for (int offset = 0; offset < flood.size(); offset += chunkSize) {
            got.collect(scanner.feed(flood.mid(offset, chunkSize)));
            QVERIFY(scanner.bufferedBytes() <= FrameScanner::MaxHeldBytes);
        }
        QVERIFY(scanner.peakBufferedBytes() <= FrameScanner::MaxHeldBytes + chunkSize);
        QCOMPARE(got.junk.size() + scanner.bufferedBytes(), flood.size());
        got.collect(scanner.feed(frame.mid(frameBytesWithFlood)));
        QVERIFY(got.messages == QStringList{QString::fromLatin1(junk.toHex()) + '|' + longest.toString()});
        QCOMPARE(scanner.bufferedBytes(), 0);
    }

    // Streams built to trip a scanner that skips positions or sums wrongly: short length
    // bytes making overlapping candidates, truncated frames, bad checksums, nested frames, noise.
    void behavesLikeThePlainScan_data()
    {
        QTest::addColumn<int>("maxChunk");
        QTest::addColumn<int>("maxJunkRun");
        QTest::newRow("single bytes and pairs") << 2 << 20;
        QTest::newRow("large chunks, junk runs over the bound") << 6000 << 5000;
    }
    void behavesLikeThePlainScan()
    {
        QFETCH(int, maxChunk);
        QFETCH(int, maxJunkRun);
        QRandomGenerator random(seed());
        static const int types[] = {1, 2, 5, 31, 33, 35, 38, 40, 41, 48, 50, 51, 58};
        QByteArray stream;
        while (stream.size() < 200000) {
            const int kind = random.bounded(6);
            QByteArray piece;
            if (kind < 4) {
                const int type = types[random.bounded(int(std::size(types)))];
                QByteArray payload(SerialMessage::hasVariablePayload(type) ? random.bounded(0, 12)
                                                                           : SerialMessage::frameLength(type) - 3, '\0');
                // Small values make nested candidates.
                std::generate(payload.begin(), payload.end(), [&] { return char(random.bounded(0, 8)); });
                piece = SerialMessage(type, random.bounded(0, 4), payload).encode();
            }
            if (kind == 2)
                piece.truncate(random.bounded(1, int(piece.size())));
            else if (kind == 3)
                piece.back() = char(piece.back() + random.bounded(1, 256));
            for (int n = kind < 4 ? 0 : random.bounded(1, kind == 4 ? 12 : maxJunkRun + 1); n > 0; --n)
                piece += char(random.bounded(kind == 4 ? 13 : 256)); // kind 4: lengths 3 to 12, low type codes
            stream += piece;
        }
        FrameScanner scanner;
        PlainScanner plain;
        Outcome got;
        for (int offset = 0, size = 0; offset < stream.size(); offset += size) {
            const QByteArray chunk = stream.mid(offset, size = random.bounded(1, maxChunk + 1));
            got.collect(scanner.feed(chunk));
            plain.feed(chunk);
        }
        QVERIFY(plain.messages.size() > 200);
        QCOMPARE(got.messages, plain.messages);
        QCOMPARE(got.junk.size() + scanner.bufferedBytes(), int(plain.buffer.size()));
        QVERIFY(plain.buffer.startsWith(got.junk));
        QVERIFY(scanner.peakBufferedBytes() <= FrameScanner::MaxHeldBytes + maxChunk);
    }
};

QTEST_GUILESS_MAIN(FrameScannerTest)
#include "tst_framescanner.moc"
