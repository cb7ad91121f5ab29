#include "common/oscclient.h"
#include "common/oscfactories.h"
#include "common/oscmessage.h"
#include "common/oscmessageparser.h"

#include <QRandomGenerator>
#include <QSignalSpy>
#include <QtTest>

#include <cstring>

using Common::OscMessage;
using Common::OscParameter;
namespace OscPath = Common::OscPath;

namespace {

OscMessage message(const QString &path, const QString &name, const QVariant &value)
{
    OscMessage result;
    result.path = path;
    result.parameter.name = name;
    result.parameter.value = value;
    return result;
}

QByteArray hex(const char *text)
{
    return QByteArray::fromHex(text);
}

float floatFromBits(quint32 bits)
{
    float value;
    std::memcpy(&value, &bits, sizeof value);
    return value;
}

} // namespace

class TestOsc : public QObject
{
    Q_OBJECT

private slots:
    void encode_data();
    void encode();
    void clientEmitsThePacket();
    void decode_data();
    void decode();
    void truncatedPackets_data();
    void truncatedPackets();
    void randomMessagesRoundTrip();
    void join_data();
    void join();
    void containerAndName_data();
    void containerAndName();
    void fromAddress_data();
    void fromAddress();
    void addressAndComponents();
    void factories();
    void metaType();
};

void TestOsc::encode_data()
{
    QTest::addColumn<OscMessage>("message");
    QTest::addColumn<QByteArray>("packet");

    QTest::newRow("float gain") << message("/input/1", "gain", 0.5f)
                                << hex("2f696e70 75742f31 2f676169 6e000000 2c660000 3f000000");
    QTest::newRow("four-character address gets four zeros")
        << message("/", "abc", 42) << hex("2f616263 00000000 2c690000 0000002a");
    QTest::newRow("string") << message("/x", "y", QString("ab")) << hex("2f782f79 00000000 2c730000 61620000");
    QTest::newRow("four-character string gets four zeros")
        << message("/x", "y", QString("abcd")) << hex("2f782f79 00000000 2c730000 61626364 00000000");
    QTest::newRow("no value") << message("/a", "b", QVariant()) << hex("2f612f62 00000000 2c4e0000");
    QTest::newRow("unsupported type is nil") << message("/a", "b", QVariant(qlonglong(5)))
                                             << hex("2f612f62 00000000 2c4e0000");
    QTest::newRow("float beyond range is clamped") << message("/a", "b", 1e39)
                                                   << hex("2f612f62 00000000 2c660000 7f7fffff");
    QTest::newRow("negative float beyond range") << message("/a", "b", -1e39)
                                                 << hex("2f612f62 00000000 2c660000 ff7fffff");
    QTest::newRow("bool") << message("/a", "b", true) << hex("2f612f62 00000000 2c690000 00000001");
    QTest::newRow("unsigned keeps its bits") << message("/a", "b", 4294967295u)
                                             << hex("2f612f62 00000000 2c690000 ffffffff");
    QTest::newRow("root container") << message("/", "gain", 1) << hex("2f676169 6e000000 2c690000 00000001");
    QTest::newRow("text in UTF-8") << message("/a", "b", QString::fromUtf8("\xc3\xa9"))
                                   << hex("2f612f62 00000000 2c730000 c3a90000");
}

void TestOsc::encode()
{
    QFETCH(OscMessage, message);
    QFETCH(QByteArray, packet);
    QCOMPARE(Common::OscClient::encode(message).toHex(' '), packet.toHex(' '));
}

void TestOsc::clientEmitsThePacket()
{
    Common::OscClient client;
    Common::IOscClient &asInterface = client;
    QSignalSpy ready(&client, &Common::OscClient::oscMessageReady);
    asInterface.sendMessage(message("/input/1", "gain", 0.5f));
    QCOMPARE(ready.count(), 1);
    QCOMPARE(ready.at(0).at(0).toByteArray(), hex("2f696e70 75742f31 2f676169 6e000000 2c660000 3f000000"));
}

void TestOsc::decode_data()
{
    QTest::addColumn<QByteArray>("packet");
    QTest::addColumn<OscMessage>("expected");

    QTest::newRow("no type tags, mixed case") << QByteArray("/Foo/Bar") << message("/foo", "bar", QVariant());
    QTest::newRow("int 42") << hex("2f612f62 00000000 2c690000 0000002a") << message("/a", "b", 42);
    QTest::newRow("unknown tag d") << hex("2f612f62 00000000 2c640000 3ff00000 00000000")
                                   << message("/a", "b", QVariant());
    QTest::newRow("address without a slash") << hex("6761696e 00000000 2c690000 00000001")
                                             << message("/", "gain", 1);
    QTest::newRow("addresses are case-insensitive")
        << hex("2f496e70 75742f31 2f476169 6e000000 2c660000 3f000000") << message("/input/1", "gain", 0.5f);
    QTest::newRow("string values keep their case") << hex("2f612f62 00000000 2c730000 48694921 00000000")
                                                   << message("/a", "b", QString("HiI!"));
    QTest::newRow("string without its terminator") << hex("2f612f62 00000000 2c730000 616263")
                                                   << message("/a", "b", QString("abc"));
    QTest::newRow("lone root address") << hex("2f000000 2c690000 00000007") << message("/", "", 7);
    QTest::newRow("empty packet") << QByteArray() << message("/", "", QVariant());
    // Packets as any OSC 1.0 implementation writes them.
    QTest::newRow("oscillator frequency")
        << hex("2f6f7363 696c6c61 746f722f 342f6672 65717565 6e637900 2c660000 43dc0000")
        << message("/oscillator/4", "frequency", 440.0f);
    QTest::newRow("first of five arguments")
        << hex("2f666f6f 00000000 2c696973 66660000 000003e8 ffffffff 68656c6c 6f000000 3f9df3b6 40b5b22d")
        << message("/", "foo", 1000);
}

void TestOsc::decode()
{
    QFETCH(QByteArray, packet);
    QFETCH(OscMessage, expected);
    Common::OscMessageParser parser;
    const Common::IOscMessageParser &asInterface = parser;
    const OscMessage decoded = asInterface.parse(packet);
    QCOMPARE(decoded.path, expected.path);
    QCOMPARE(decoded.parameter.name, expected.parameter.name);
    QCOMPARE(decoded.parameter.value.isValid(), expected.parameter.value.isValid());
    QCOMPARE(decoded.parameter.value.userType(), expected.parameter.value.userType());
    QCOMPARE(decoded.parameter.value, expected.parameter.value);
}

void TestOsc::truncatedPackets_data()
{
    QTest::addColumn<OscMessage>("message");
    QTest::newRow("int") << message("/input/12", "trim", -123456);
    QTest::newRow("float") << message("/input/12", "gain", 0.125f);
    QTest::newRow("string") << message("/name", "label", QString("drums left"));
    QTest::newRow("nil") << message("/input", "mute", QVariant());
}

void TestOsc::truncatedPackets()
{
    // Cut anywhere, a packet gives either no value or a value that the bytes there
    // really hold; nothing is read past the end (AddressSanitizer builds check that).
    QFETCH(OscMessage, message);
    const QByteArray packet = Common::OscClient::encode(message);
    const QVariant full = message.parameter.value;
    for (int length = 0; length <= packet.size(); ++length) {
        const QByteArray cut = packet.left(length);
        // A copy with no spare capacity: the bytes end where the packet ends.
        const QByteArray exact(cut.constData(), cut.size());
        const OscMessage decoded = Common::OscMessageParser::decode(exact);
        const QVariant value = decoded.parameter.value;
        if (length == packet.size()) {
            QCOMPARE(value, full);
            QCOMPARE(decoded, message);
        } else if (full.userType() == QMetaType::QString && value.isValid()) {
            QVERIFY2(full.toString().startsWith(value.toString()), qPrintable(QString::number(length)));
        } else {
            QVERIFY2(!value.isValid(), qPrintable(QString::number(length)));
        }
    }
}

void TestOsc::randomMessagesRoundTrip()
{
    QRandomGenerator random(1234);
    // Addresses are lower case (the decoder lower-cases them); text values are not.
    const QString letters = QString::fromUtf8("abcdefghijklmnopqrstuvwxyz0123456789_-.\xc3\xa9\xc3\xb8");
    const QString textCharacters = letters + QString::fromUtf8("ABCXYZ !?/,#\xe2\x82\xac");
    auto randomText = [&](const QString &from, int minimum, int maximum) {
        QString text;
        for (int i = int(random.bounded(minimum, maximum + 1)); i > 0; --i)
            text += from.at(int(random.bounded(from.size())));
        return text;
    };

    Common::OscClient client;
    Common::OscMessageParser parser;
    QByteArray lastPacket;
    connect(&client, &Common::OscClient::oscMessageReady, [&](const QByteArray &packet) { lastPacket = packet; });

    for (int round = 0; round < 2000; ++round) {
        QString address;
        const int depth = int(random.bounded(1, 5));
        for (int i = 0; i < depth; ++i)
            address += QLatin1Char('/') + randomText(letters, 1, 12);

        QVariant value;
        switch (random.bounded(4)) {
        case 0:
            value = QVariant(int(random.generate()));
            break;
        case 1: {
            float number;
            do {
                number = floatFromBits(random.generate());
            } while (std::isnan(number) || std::isinf(number));
            value = QVariant(number);
            break;
        }
        case 2:
            value = QVariant(randomText(textCharacters, 0, 40));
            break;
        default:
            break;
        }

        const OscMessage original = OscMessage::fromAddress(address, value);
        client.sendMessage(original);
        QCOMPARE(lastPacket.size() % 4, 0);
        const OscMessage decoded = parser.parse(lastPacket);
        QCOMPARE(decoded.address(), address);
        QCOMPARE(decoded.parameter.value.userType(), value.userType());
        QCOMPARE(decoded, original);
    }
}

void TestOsc::join_data()
{
    QTest::addColumn<QString>("a");
    QTest::addColumn<QString>("b");
    QTest::addColumn<QString>("joined");
    QTest::newRow("name and nothing") << "x" << "" << "/x";
    QTest::newRow("nothing and nothing") << "" << "" << "/";
    QTest::newRow("container with slash") << "/x/" << "y" << "/x/y";
    QTest::newRow("relative container") << "a/b" << "c" << "/a/b/c";
    QTest::newRow("trailing slash removed") << "/a" << "c/" << "/a/c";
    QTest::newRow("lone root stays") << "/" << "" << "/";
    QTest::newRow("root and name") << "/" << "y" << "/y";
    QTest::newRow("only one trailing slash removed") << "/a" << "b//" << "/a/b/";
}

void TestOsc::join()
{
    QFETCH(QString, a);
    QFETCH(QString, b);
    QFETCH(QString, joined);
    QCOMPARE(OscPath::join(a, b), joined);
    if (b.isEmpty())
        QCOMPARE(OscPath::normalize(a), joined);
}

void TestOsc::containerAndName_data()
{
    QTest::addColumn<QString>("path");
    QTest::addColumn<QString>("container");
    QTest::addColumn<QString>("name");
    QTest::newRow("nested") << "/input/1/gain" << "/input/1/" << "gain";
    QTest::newRow("top level") << "/gain" << "/" << "gain";
    QTest::newRow("no slash") << "gain" << "" << "";
    QTest::newRow("trailing slash") << "/input/" << "/input/" << "";
    QTest::newRow("empty") << "" << "" << "";
}

void TestOsc::containerAndName()
{
    QFETCH(QString, path);
    QFETCH(QString, container);
    QFETCH(QString, name);
    QCOMPARE(OscPath::containerOf(path), container);
    QCOMPARE(OscPath::nameOf(path), name);
}

void TestOsc::fromAddress_data()
{
    QTest::addColumn<QString>("address");
    QTest::addColumn<QString>("path");
    QTest::addColumn<QString>("name");
    QTest::newRow("nested") << "/input/1/gain" << "/input/1" << "gain";
    QTest::newRow("no slash at all") << "gain" << "/" << "gain";
    QTest::newRow("top level") << "/gain" << "/" << "gain";
    QTest::newRow("relative with trailing slash") << "input/1/gain/" << "/input/1" << "gain";
    QTest::newRow("empty") << "" << "/" << "";
    QTest::newRow("root") << "/" << "/" << "";
    QTest::newRow("double slash") << "//" << "/" << "";
}

void TestOsc::fromAddress()
{
    QFETCH(QString, address);
    QFETCH(QString, path);
    QFETCH(QString, name);
    const OscMessage built = OscMessage::fromAddress(address, 3);
    QCOMPARE(built.path, path);
    QCOMPARE(built.parameter.name, name);
    QCOMPARE(built.parameter.value, QVariant(3));
}

void TestOsc::addressAndComponents()
{
    QCOMPARE(message("/", "gain", 1).address(), QString("/gain"));
    QCOMPARE(message("/input/1", "gain", 1).address(), QString("/input/1/gain"));
    QCOMPARE(message("/x/", "y", 1).address(), QString("/x/y"));
    QCOMPARE(message("/input/1", "gain", 1).components(), QStringList({"input", "1", "gain"}));
    QCOMPARE(message("//a//", "b", 1).components(), QStringList({"a", "b"}));
    QVERIFY(message("/", "", 1).components().isEmpty());
}

void TestOsc::factories()
{
    Common::OscParameterFactory concrete;
    const Common::IOscParameterFactory &parameters = concrete;
    QVERIFY(!parameters.create("mute").value.isValid());
    QCOMPARE(parameters.create("gain", 0.5f).value.userType(), int(QMetaType::Float));
    QCOMPARE(parameters.create("on", true).value.userType(), int(QMetaType::Bool));
    // A literal is text, not a pointer read as true.
    QCOMPARE(parameters.create("label", "vox").value, QVariant(QString("vox")));

    Common::OscMessageFactory messages;
    const Common::IOscMessageFactory &asInterface = messages;
    // Taken as given, without normalizing.
    const OscMessage made = asInterface.create("input/1/", parameters.create("gain", 1.0f));
    QCOMPARE(made, message("input/1/", "gain", 1.0f));
}

void TestOsc::metaType()
{
    const int id = QMetaType::type("Common::OscMessage");
    QVERIFY(id != QMetaType::UnknownType);
    QCOMPARE(id, qMetaTypeId<Common::OscMessage>());
    const OscMessage original = message("/a", "b", 2);
    QCOMPARE(QVariant::fromValue(original).value<OscMessage>(), original);
}

QTEST_GUILESS_MAIN(TestOsc)
#include "tst_osc.moc"
