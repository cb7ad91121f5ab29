// Writes the seed corpora of the fuzz targets: what the simulated card, its boot
// loader and its Optocore module answer to the controller's real requests, engine
// frames and OSC packets of real messages, and firmware files with version marks.
// Deterministic: running it again writes the same files.
//
//   make_fuzz_corpus <corpus directory>    (scripts/fuzz.sh --make-corpus)

#include "fuzzsupport.h"

#include "common/oscclient.h"
#include "engine/enginemessage.h"
#include "link/framescanner.h"
#include "link/serialmessage.h"
#include "sim/bootloaderemulator.h"
#include "sim/cardfirmware.h"
#include "link/fpgadownloader.h"
#include "update/optocoreupdater.h"
#include "link/bootloaderupdater.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QMetaObject>
#include <QQueue>
#include <QTimer>

#include <cstdio>
#include <functional>

namespace {

QString corpusRoot;
int filesWritten = 0;

void writeSeed(const QString &target, const QString &name, const QByteArray &contents)
{
    const QString dir = corpusRoot + QLatin1Char('/') + target;
    QDir().mkpath(dir);
    QFile file(dir + QLatin1Char('/') + name);
    if (!file.open(QIODevice::WriteOnly) || file.write(contents) != contents.size()) {
        std::fprintf(stderr, "cannot write %s\n", qPrintable(file.fileName()));
        std::exit(1);
    }
    ++filesWritten;
}

using Type = Common::MessageType;

QByteArray frame(Type type, int param, const QByteArray &payload = QByteArray())
{
    return Common::SerialMessage(type, param, payload).encode();
}

QByteArray optocoreCommand(const QByteArray &command)
{
    return frame(Type::OptocoreCommand, 0, command + char(Common::byteSum(command)));
}

// What a card of this type answers to the requests, in the order it answers.
QByteArray cardAnswers(int cardType, const QVector<QByteArray> &requests,
                       const std::function<void(CardFirmware &)> &configure = nullptr)
{
    CardFirmware card;
    card.resetState(cardType);
    if (configure)
        configure(card);
    QByteArray answers;
    QObject::connect(&card, &CardFirmware::bytesToHost, [&answers](const QByteArray &bytes) { answers += bytes; });
    for (const QByteArray &request : requests)
        card.receiveBytes(request);
    return answers;
}

// The requests a slot makes when it finds a card and its panel opens.
QVector<QByteArray> connectionRequests()
{
    return {
        QByteArray::fromHex("5555"), // the boot-loader probe; the application answers AA
        frame(Type::KipStatus, 0),                // kip status
        frame(Type::CardStatus, 0),                // card status
        frame(Type::DeviceType, 0, QByteArray(1, '\0')), // device types
        frame(Type::InputSampleRate, 0),                // input sample rates
        frame(Type::KipStatus, 0),
    };
}

void writeCardSeeds()
{
    struct Session
    {
        const char *name;
        int cardType;
        QVector<QByteArray> extra;
        std::function<void(CardFirmware &)> configure;
        int chunkByte;
        int flags; // flags and, in bits 4-6, the panel: 0 MADI, 1 AES, 2 Optocore, 3 Hydra, 4 Optocore update
        int otherCard; // for the Optocore panel: 0 none, 1 MADI BNC, 4 AES, 9 Optocore
    };
    const QVector<Session> sessions = {
        {"madi-bnc", 20, {frame(Type::SyncSource, 0, QByteArray(1, char(254))), frame(Type::TransmitMode, 0, QByteArrayLiteral("\x00\x39")),
                          frame(Type::MadiSmux, 1, QByteArray(1, 1)), frame(Type::QuorixControl, 0, QByteArray())}, nullptr, 0x7F, 0x00, 0},
        {"madi-cat5-racks", 24, {frame(Type::MadiMode, 0, QByteArray(1, 0)), frame(Type::ControlViaAudio, 1, QByteArray(1, 1))},
         [](CardFirmware &card) {
             card.plugRack(1, RackState::typical(3));
             card.plugDevice(0, 2, 0x9C, 96000);
         },
         0x10, 0x02, 0},
        {"madi-out-of-range", 20, {frame(Type::SyncSource, 1, QByteArray(1, char(255)))},
         [](CardFirmware &card) { card.setOutOfRangeCodes(true); }, 0x05, 0x09, 0},
        {"aes", 23, {frame(Type::InputSrc, 2, QByteArray(1, 0)), frame(Type::SyncSource, 0, QByteArray(1, 3))}, nullptr, 0x3F, 0x11, 0},
        {"optocore", 28,
         {frame(Type::OptocoreVersion, 0), optocoreCommand(QByteArray::fromHex("048000ff")), optocoreCommand(QByteArray::fromHex("04e000ff")),
          optocoreCommand(QByteArray::fromHex("04f000ff")), frame(Type::OptocoreChannelCount, 1, QByteArray::fromHex("1800"))},
         nullptr, 0x7F, 0x20, 1},
        {"optocore-update-version", 28, {frame(Type::OptocoreVersion, 0), frame(Type::OptocoreUpdate, 0)}, nullptr, 0x7F, 0x40, 0},
        {"dante", 27, {frame(Type::SyncSource, 0, QByteArray(1, 0))}, nullptr, 0x20, 0x21, 4},
        {"hydra", 29, {frame(Type::HydraId, 0, QByteArray(1, 42)), frame(Type::CardStatus, 0)}, nullptr, 0x7F, 0x31, 0},
        {"adc-errors", 21, {frame(Type::EchoData, 0, QByteArrayLiteral("echo")), frame(Type::KipStatus, 0)},
         [](CardFirmware &card) { card.rejectNextFrames(2); }, 0x03, 0x56, 0},
        {"waves-bad-fpga-text", 25, {}, [](CardFirmware &card) { card.setFpgaTextFault(CardFirmware::FpgaTextUnterminated); },
         0x7F, 0x00, 9},
    };
    for (const Session &session : sessions) {
        QVector<QByteArray> requests = connectionRequests();
        requests += session.extra;
        if (session.configure && QByteArray(session.name).endsWith("errors")) {
            // The card ignores what follows a frame it refused until the host's run of
            // zero bytes, which the port sends for every "error".
            QVector<QByteArray> withResync;
            for (const QByteArray &request : requests)
                withResync << request << QByteArray(256, '\0');
            requests = withResync;
        }
        const QByteArray answers = cardAnswers(session.cardType, requests, session.configure);
        QByteArray seed;
        seed.append(char(session.chunkByte));
        seed.append(char(session.flags));
        seed.append(char(session.otherCard));
        writeSeed(QStringLiteral("kipport"), QLatin1String(session.name), seed + answers);

        // The scanner sees the same streams, with line noise before them.
        QByteArray scan;
        scan.append(char(session.chunkByte));
        scan.append(QByteArray::fromHex("00ff0a03"));
        writeSeed(QStringLiteral("framescanner"), QLatin1String(session.name), scan + answers);
    }
}

// Runs one exchange to its end: the host's output goes to the far end, whose answers
// are recorded and handed back one by one (never from inside the host's own call).
class Exchange
{
public:
    QQueue<QByteArray> pending;
    QByteArray recorded;

    void answer(const QByteArray &bytes)
    {
        pending.enqueue(bytes);
        recorded += bytes;
    }
};

void writeUpdaterSeeds()
{
    struct Run
    {
        const char *name;
        int header0;
        int header1;
        std::function<void(BootLoaderEmulator &)> configure;
        bool application; // the card runs its application: it answers AutoBaud with AA
    };
    const QVector<Run> runs = {
        {"update-100", 0x06, 0x04, nullptr, false},
        {"update-200-from-start", 0x80 | 0x1F, 0x06, nullptr, false},
        {"update-empty", 0x7F, 0x05, nullptr, false},
        {"naks", 0x02, 0x04, [](BootLoaderEmulator &loader) { loader.nakNextPackets(3); }, false},
        {"flash-failure", 0x7F, 0x04, [](BootLoaderEmulator &loader) { loader.failNextStatus(0x44); }, false},
        {"application", 0x7F, 0x00, nullptr, true},
    };
    for (const Run &run : runs) {
        Common::Updater updater(nullptr, FuzzSupport::codeFile(run.header1));
        BootLoaderEmulator loader;
        if (run.configure)
            run.configure(loader);
        bool application = run.application;
        Exchange exchange;
        QObject::connect(&loader, &BootLoaderEmulator::bytesToHost, [&](const QByteArray &bytes) { exchange.answer(bytes); });
        QObject::connect(&loader, &BootLoaderEmulator::resetRequested, [&application]() { application = true; });
        QObject::connect(&updater, &Common::Updater::sendData, [&](const QByteArray &bytes) {
            if (!application)
                loader.receiveBytes(bytes);
            else if (bytes.startsWith(QByteArray::fromHex("5555")))
                exchange.answer(QByteArray(1, char(0xAA)));
        });
        bool done = false;
        QObject::connect(&updater, &Common::Updater::finished, [&done]() { done = true; });
        if (run.header0 & 0x80)
            updater.start();
        else
            updater.autoBaud();
        for (int steps = 0; steps < 10000 && !done; ++steps) {
            if (!exchange.pending.isEmpty()) {
                updater.receiveData(exchange.pending.dequeue());
            } else if (updater.autoBaudTimer()->isActive()) {
                updater.autoBaudTimer()->stop();
                QMetaObject::invokeMethod(updater.autoBaudTimer(), "timeout");
            } else {
                break;
            }
        }
        QByteArray seed;
        seed.append(char(run.header0));
        seed.append(char(run.header1));
        writeSeed(QStringLiteral("updater"), QLatin1String(run.name), seed + exchange.recorded);
    }
}

// Listens to a simulated card: keeps every byte it sends, and queues and records the
// replies of one message type as the downloaders' fuzz targets read them.
struct ReplyRecorder
{
    Common::FrameScanner scanner;
    QQueue<Common::SerialMessage> replies;
    QByteArray records;
    QByteArray raw;

    ReplyRecorder(CardFirmware &card, int messageType)
    {
        QObject::connect(&card, &CardFirmware::bytesToHost, [this, messageType](const QByteArray &bytes) {
            raw += bytes;
            for (const Common::FrameScanner::Item &item : scanner.feed(bytes)) {
                if (item.hasMessage && item.message.type == messageType) {
                    replies.enqueue(item.message);
                    records += FuzzSupport::writeRecord(item.message.param, item.message.data);
                }
            }
        });
    }
};

void writeFpgaSeeds()
{
    struct Run
    {
        const char *name;
        int choice;
        int refuseStep;
        quint8 result;
    };
    const QVector<Run> runs = {
        {"image-128", 0, -1, 0}, {"image-300", 3, -1, 0}, {"image-1000", 5, -1, 0},
        {"erase-refused", 3, 0, 3}, {"packet-refused", 3, 1, 1}, {"sum-refused", 3, 2, 2},
    };
    for (const Run &run : runs) {
        CardFirmware card;
        card.resetState(20);
        if (run.refuseStep >= 0)
            card.refuseFpgaStep(run.refuseStep, run.result);
        EMS::KipFpgaUpdater downloader(nullptr, FuzzSupport::fpgaImageFile(run.choice));
        ReplyRecorder recorder(card, EMS::KipFpgaUpdater::MessageType);
        QQueue<Common::SerialMessage> &replies = recorder.replies;
        QObject::connect(&downloader, &EMS::KipFpgaUpdater::sendMessage,
                         [&card](Common::SerialMessage *message) { card.receiveBytes(message->encode()); });
        bool done = false;
        QObject::connect(&downloader, &EMS::KipFpgaUpdater::finished, [&done]() { done = true; });
        downloader.start();
        while (!done && !replies.isEmpty())
            downloader.receiveMessage(replies.dequeue());
        QByteArray seed(1, char(run.choice | 0x08));
        writeSeed(QStringLiteral("fpgaupdater"), QLatin1String(run.name), seed + recorder.records);
        // The same download as the card port receives it, with no panel listening.
        QByteArray portSeed;
        portSeed.append(char(0x7F));
        portSeed.append(char(0x80 | 0x50));
        portSeed.append(char(run.choice << 4));
        writeSeed(QStringLiteral("kipport"), QStringLiteral("fpga-") + QLatin1String(run.name), portSeed + recorder.raw);
    }
}

void writeOptocoreSeeds()
{
    struct Run
    {
        const char *name;
        int refuseStep;
        quint8 result;
    };
    const QVector<Run> runs = {{"update", -1, 0}, {"build-refused", 1, 3}, {"packet-refused", 4, 4}};
    for (const Run &run : runs) {
        CardFirmware card;
        card.resetState(28);
        if (run.refuseStep >= 0)
            card.refuseOptocoreUpdateStep(run.refuseStep, run.result);
        EMS::OptocoreUpdater updater(nullptr);
        ReplyRecorder recorder(card, EMS::OptocoreUpdater::MessageType);
        QQueue<Common::SerialMessage> &replies = recorder.replies;
        QObject::connect(&updater, &EMS::OptocoreUpdater::sendMessage,
                         [&card](Common::SerialMessage *message) { card.receiveBytes(message->encode()); });
        bool finished = false;
        QObject::connect(&updater, &EMS::OptocoreUpdater::finished, [&finished]() { finished = true; });
        updater.requestVersion();
        updater.start();
        for (int steps = 0; steps < 10000; ++steps) {
            FuzzSupport::deliverPostedEvents();
            if (replies.isEmpty()) {
                if (!finished)
                    break;
                updater.exitLoader();
                finished = false; // once
                if (replies.isEmpty())
                    break;
                continue;
            }
            Common::SerialMessage reply = replies.dequeue();
            updater.receiveMessage(&reply);
        }
        QByteArray seed(1, char(0x03));
        writeSeed(QStringLiteral("optocoreupdater"), QLatin1String(run.name), seed + recorder.records);
        // The same update as the card port receives it, with the update panel listening.
        QByteArray portSeed;
        portSeed.append(char(0x7F));
        portSeed.append(char(0x40));
        portSeed.append(char(0));
        writeSeed(QStringLiteral("kipport"), QStringLiteral("optocore-") + QLatin1String(run.name), portSeed + recorder.raw);
    }
}

void writeVersionSeeds()
{
    QByteArray code = FuzzSupport::patternBytes(64, 9);
    code += QByteArrayLiteral("version ");
    code += char(12);
    code += FuzzSupport::patternBytes(40, 10);
    writeSeed(QStringLiteral("versionmarks"), QStringLiteral("code-version-12"), code);

    QByteArray fpga = QByteArrayLiteral("\x00\x09\x0f\xf0\x0f\xf0\x0f\xf0\x0f\xf0\x00\x00\x01a");
    fpga += QByteArrayLiteral("kip_madi.ncd");
    fpga += char(0);
    fpga += QByteArrayLiteral("b\x00\x0b");
    fpga += QByteArrayLiteral("2014/05/12");
    fpga += char(0);
    fpga += FuzzSupport::patternBytes(40, 11);
    writeSeed(QStringLiteral("versionmarks"), QStringLiteral("fpga-dated"), fpga);
    writeSeed(QStringLiteral("versionmarks"), QStringLiteral("slash-at-start"), QByteArrayLiteral("/version"));
}

void writeEngineSeeds()
{
    EMS::EngineMessage gain(3, 0, 5, 12);
    gain.setValue(0.75f);
    EMS::EngineMessage mute(7, 1, 9, 4);
    mute.setValue(1);
    EMS::EngineMessage pair(0, 1, 0, 20);
    pair.setValues(0x12345678u, 42u);
    EMS::EngineMessage serial(0, 1, 0, 30);
    serial.setValueBytes(QByteArray::fromHex("0500000003" "1e0021"));
    const QByteArray frames = gain.toFrame() + mute.toFrame() + pair.toFrame() + serial.toFrame();

    writeSeed(QStringLiteral("enginemessenger"), QStringLiteral("frames-whole"), QByteArray(1, char(255)) + frames);
    writeSeed(QStringLiteral("enginemessenger"), QStringLiteral("frames-in-7s"), QByteArray(1, char(6)) + frames);
    QByteArray damaged = mute.toFrame();
    damaged[damaged.size() - 1] = char(damaged.at(damaged.size() - 1) + 1);
    writeSeed(QStringLiteral("enginemessenger"), QStringLiteral("junk-and-bad-sum"),
              QByteArray(1, char(31)) + QByteArray::fromHex("a5ff00") + damaged + gain.toFrame());
}

void writeOscSeeds()
{
    const QVector<QPair<QString, QVariant>> messages = {
        {QStringLiteral("/input/1/gain"), QVariant(0.5f)},
        {QStringLiteral("/Input/12/Mute"), QVariant(1)},
        {QStringLiteral("/bus/3/name"), QVariant(QStringLiteral("ab"))},
        {QStringLiteral("/abc"), QVariant()},
        {QStringLiteral("gain"), QVariant(1e39)},
    };
    int n = 0;
    for (const auto &message : messages) {
        const QByteArray packet = Common::OscClient::encode(Common::OscMessage::fromAddress(message.first, message.second));
        writeSeed(QStringLiteral("oscparser"), QStringLiteral("message-%1").arg(++n), packet);
    }
    writeSeed(QStringLiteral("oscparser"), QStringLiteral("no-tags"), QByteArrayLiteral("/Foo/Bar"));
    writeSeed(QStringLiteral("oscparser"), QStringLiteral("int-cut-short"), QByteArrayLiteral("/a\0\0,i\0\0\0\0"));
}

} // namespace

int main(int argc, char **argv)
{
    FuzzSupport::startApplication(false);
    if (argc != 2) {
        std::fprintf(stderr, "usage: %s <corpus directory>\n", argv[0]);
        return 2;
    }
    corpusRoot = QString::fromLocal8Bit(argv[1]);
    FuzzSupport::provideOptocoreFiles();

    writeCardSeeds();
    writeUpdaterSeeds();
    writeFpgaSeeds();
    writeOptocoreSeeds();
    writeVersionSeeds();
    writeEngineSeeds();
    writeOscSeeds();
    std::printf("%d seed files written to %s\n", filesWritten, qPrintable(corpusRoot));
    return 0;
}
