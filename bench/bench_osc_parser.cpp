// Throughput of the OSC decoder (and encoder) on large sets of random packets: valid
// one-argument messages, the same cut at random points, and plain random bytes.

#include "common/oscclient.h"
#include "common/oscmessage.h"
#include "common/oscmessageparser.h"

#include <benchmark/benchmark.h>

#include <QByteArray>
#include <QVector>

#include <cstring>
#include <random>

namespace {

using Common::OscMessage;

QString randomName(std::mt19937 &random)
{
    static const char letters[] = "abcdefghijklmnopqrstuvwxyz0123456789";
    QString name;
    for (int i = int(1 + random() % 10); i > 0; --i)
        name += QLatin1Char(letters[random() % (sizeof letters - 1)]);
    return name;
}

QVector<OscMessage> randomMessages(int count)
{
    std::mt19937 random(2718);
    QVector<OscMessage> messages;
    messages.reserve(count);
    for (int n = 0; n < count; ++n) {
        QString address;
        for (int depth = int(1 + random() % 4); depth > 0; --depth)
            address += QLatin1Char('/') + randomName(random);
        QVariant value;
        switch (random() % 4) {
        case 0:
            value = int(random());
            break;
        case 1: {
            const quint32 bits = quint32(random()) & 0x7f7fffffu; // finite
            float number;
            std::memcpy(&number, &bits, sizeof number);
            value = number;
            break;
        }
        case 2:
            value = randomName(random) + QStringLiteral(" ") + randomName(random);
            break;
        default:
            break;
        }
        messages.append(OscMessage::fromAddress(address, value));
    }
    return messages;
}

const QVector<OscMessage> &messages()
{
    static const QVector<OscMessage> list = randomMessages(100000);
    return list;
}

const QVector<QByteArray> &validPackets()
{
    static const QVector<QByteArray> packets = [] {
        QVector<QByteArray> list;
        for (const OscMessage &message : messages())
            list.append(Common::OscClient::encode(message));
        return list;
    }();
    return packets;
}

const QVector<QByteArray> &cutPackets()
{
    static const QVector<QByteArray> packets = [] {
        std::mt19937 random(161);
        QVector<QByteArray> list;
        for (const QByteArray &packet : validPackets()) {
            const QByteArray cut = packet.left(int(random() % packet.size()));
            list.append(QByteArray(cut.constData(), cut.size()));
        }
        return list;
    }();
    return packets;
}

const QVector<QByteArray> &randomPackets()
{
    static const QVector<QByteArray> packets = [] {
        std::mt19937 random(314);
        QVector<QByteArray> list;
        for (int n = 0; n < 100000; ++n) {
            QByteArray bytes(int(random() % 64), '\0');
            for (char &byte : bytes)
                byte = char(random() % 4 == 0 ? ',' : random());
            list.append(bytes);
        }
        return list;
    }();
    return packets;
}

void decodeAll(benchmark::State &state, const QVector<QByteArray> &packets)
{
    qint64 bytes = 0;
    for (const QByteArray &packet : packets)
        bytes += packet.size();
    qint64 withValue = 0;
    for (auto _ : state) {
        for (const QByteArray &packet : packets) {
            const OscMessage message = Common::OscMessageParser::decode(packet);
            withValue += message.parameter.value.isValid() ? 1 : 0;
            benchmark::DoNotOptimize(message);
        }
    }
    state.SetItemsProcessed(state.iterations() * packets.size());
    state.SetBytesProcessed(state.iterations() * bytes);
    state.counters["messages/s"] = benchmark::Counter(double(state.iterations() * packets.size()),
                                                      benchmark::Counter::kIsRate);
    state.counters["with value"] = double(withValue) / double(state.iterations() * packets.size());
}

void BM_DecodeValid(benchmark::State &state) { decodeAll(state, validPackets()); }
void BM_DecodeCut(benchmark::State &state) { decodeAll(state, cutPackets()); }
void BM_DecodeRandomBytes(benchmark::State &state) { decodeAll(state, randomPackets()); }

void BM_Encode(benchmark::State &state)
{
    for (auto _ : state) {
        for (const OscMessage &message : messages())
            benchmark::DoNotOptimize(Common::OscClient::encode(message));
    }
    state.counters["messages/s"] = benchmark::Counter(double(state.iterations() * messages().size()),
                                                      benchmark::Counter::kIsRate);
}

BENCHMARK(BM_DecodeValid)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_DecodeCut)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_DecodeRandomBytes)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Encode)->Unit(benchmark::kMillisecond);

} // namespace

BENCHMARK_MAIN();
