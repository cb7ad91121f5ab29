#include "common/oscclient.h"
#include "common/oscfactories.h"
#include "common/oscmessage.h"
#include "common/oscmessageparser.h"

#include <QtTest>

using Common::OscMessage;

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

} // namespace

class TestOsc : public QObject
{
    Q_OBJECT

private slots:
    void encode_data();
    void encode();
    void decode_data();
    void decode();
    void cutPacketsReadNothingPastTheEnd_data();
    void cutPacketsReadNothingPastTheEnd();
    void join_data();
    void join();
    void textLiteralIsAString();
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
    QTest::newRow("text in UTF-8") << message("/a", "b", QString::fromUtf8("\xc3\xa9"))
                                   << hex("2f612f62 00000000 2c730000 c3a90000");
    QTest::newRow("no value") << message("/a", "b", QVariant()) << hex("2f612f62 00000000 2c4e0000");
    QTest::newRow("unsupported type is nil") << message("/a", "b", QVariant(qlonglong(5)))
                                             << hex("2f612f62 00000000 2c4e0000");
    QTest::newRow("double beyond float range is clamped") << message("/a", "b", -1e39)
                                                   << hex("2f612f62 00000000 2c660000 ff7fffff");
    QTest::newRow("bool") << message("/a", "b", true) << hex("2f612f62 00000000 2c690000 00000001");
    QTest::newRow("unsigned keeps its bits") << message("/a", "b", 4294967295u)
                                             << hex("2f612f62 00000000 2c690000 ffffffff");
    QTest::newRow("path ending in a slash") << message("/x/", "gain", 1)
                                            << hex("2f782f67 61696e00 2c690000 00000001");
}

void TestOsc::encode()
{
    QFETCH(OscMessage, message);
    QFETCH(QByteArray, packet);
    QCOMPARE(Common::OscClient::encode(message).toHex(' '), packet.toHex(' '));
}

void TestOsc::decode_data()
{
    QTest::addColumn<QByteArray>("packet");
    QTest::addColumn<OscMessage>("expected");

    QTest::newRow("no type tags, mixed case") << QByteArray("/Foo/Bar") << message("/foo", "bar", QVariant());
    QTest::newRow("relative, trailing slash") << QByteArray("input/1/gain/") << message("/input/1", "gain", QVariant());
    QTest::newRow("empty packet") << QByteArray() << message("/", "", QVariant());
    QTest::newRow("unknown tag d") << hex("2f612f62 00000000 2c640000 3ff00000 00000000")
                                   << message("/a", "b", QVariant());
    QTest::newRow("address without a slash") << hex("6761696e 00000000 2c690000 00000001")
                                             << message("/", "gain", 1);
    QTest::newRow("addresses are case-insensitive")
        << hex("2f496e70 75742f31 2f476169 6e000000 2c660000 3f000000") << message("/input/1", "gain", 0.5f);
    QTest::newRow("string values keep their case") << hex("2f612f62 00000000 2c730000 48694921 00000000")
                                                   << message("/a", "b", QString("HiI!"));
    QTest::newRow("text in UTF-8") << hex("2f612f62 00000000 2c730000 c3a9e282 ac000000")
                                   << message("/a", "b", QString::fromUtf8("\xc3\xa9\xe2\x82\xac"));
    QTest::newRow("string without its terminator") << hex("2f612f62 00000000 2c730000 616263")
                                                   << message("/a", "b", QString("abc"));
    QTest::newRow("lone root address") << hex("2f000000 2c690000 00000007") << message("/", "", 7);
    QTest::newRow("first of five arguments, after the padded tags")
        << hex("2f666f6f 00000000 2c696973 66660000 000003e8 ffffffff 68656c6c 6f000000 3f9df3b6 40b5b22d")
        << message("/", "foo", 1000);
}

void TestOsc::decode()
{
    QFETCH(QByteArray, packet);
    QFETCH(OscMessage, expected);
    const OscMessage decoded = Common::OscMessageParser().parse(packet);
    QCOMPARE(decoded.path, expected.path);
    QCOMPARE(decoded.parameter.name, expected.parameter.name);
    QCOMPARE(decoded.parameter.value.userType(), expected.parameter.value.userType());
    QCOMPARE(decoded.parameter.value, expected.parameter.value);
}

void TestOsc::cutPacketsReadNothingPastTheEnd_data()
{
    QTest::addColumn<OscMessage>("message");
    QTest::newRow("int") << message("/input/12", "trim", -123456);
    QTest::newRow("float") << message("/input/12", "gain", 0.125f);
    QTest::newRow("string") << message("/name", "label", QString("drums left"));
    QTest::newRow("nil") << message("/input", "mute", QVariant());
}

void TestOsc::cutPacketsReadNothingPastTheEnd()
{
    // Cut anywhere, a packet gives either no value or a value that the bytes there
    // really hold (sanitizer builds check that nothing past the end is read).
    QFETCH(OscMessage, message);
    const QByteArray packet = Common::OscClient::encode(message);
    const QVariant full = message.parameter.value;
    for (int length = 0; length <= packet.size(); ++length) {
        // A copy with no spare capacity: the bytes end where the packet ends.
        const QByteArray cut(packet.constData(), length);
        const OscMessage decoded = Common::OscMessageParser::decode(cut);
        const QVariant value = decoded.parameter.value;
        if (length == packet.size())
            QCOMPARE(decoded, message);
        else if (full.userType() == QMetaType::QString && value.isValid())
            QVERIFY2(full.toString().startsWith(value.toString()), qPrintable(QString::number(length)));
        else
            QVERIFY2(!value.isValid(), qPrintable(QString::number(length)));
    }
}

void TestOsc::join_data()
{
    QTest::addColumn<QString>("a");
    QTest::addColumn<QString>("b");
    QTest::addColumn<QString>("joined");
    QTest::newRow("name and nothing") << "x" << "" << "/x";
    QTest::newRow("nothing and nothing") << "" << "" << "/";
    QTest::newRow("relative container") << "a/b" << "c" << "/a/b/c";
    QTest::newRow("trailing slash removed") << "/a" << "c/" << "/a/c";
    QTest::newRow("lone root stays") << "/" << "" << "/";
    QTest::newRow("only one trailing slash removed") << "/a" << "b//" << "/a/b/";
}

void TestOsc::join()
{
    QFETCH(QString, a);
    QFETCH(QString, b);
    QFETCH(QString, joined);
    QCOMPARE(Common::OscPath::join(a, b), joined);
}

void TestOsc::textLiteralIsAString()
{
    // Not a pointer read as true.
    QCOMPARE(Common::OscParameterFactory().create("label", "vox").value, QVariant(QString("vox")));
}

QTEST_GUILESS_MAIN(TestOsc)
#include "tst_osc.moc"
