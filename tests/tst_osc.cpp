#include "common/oscclient.h"
#include "common/oscfactories.h"
#include "common/oscmessageparser.h"

#include <QtTest>

using Common::OscMessage;

namespace {
OscMessage message(const QString &path, const QString &name, const QVariant &value) { return {path, {name, value}}; }
QByteArray hex(const char *text) { return QByteArray::fromHex(text); }
QString text(const OscMessage &m) { return QStringList{m.path, m.parameter.name, m.parameter.value.typeName(), m.parameter.value.toString()}.join(' '); }
} // namespace

class TestOsc : public QObject
{
    Q_OBJECT

private slots:
    void encode_data()
    {
        QTest::addColumn<OscMessage>("message");
        QTest::addColumn<QByteArray>("packet");
        QTest::newRow("float") << message("/input/1", "gain", 0.5f) << hex("2f696e70 75742f31 2f676169 6e000000 2c660000 3f000000");
        QTest::newRow("4-char address: four zeros") << message("/", "abc", 42) << hex("2f616263 00000000 2c690000 0000002a");
        QTest::newRow("4-char string: four zeros") << message("/x", "y", QString("abcd")) << hex("2f782f79 00000000 2c730000 61626364 00000000");
        QTest::newRow("UTF-8") << message("/a", "b", QString::fromUtf8("\xc3\xa9")) << hex("2f612f62 00000000 2c730000 c3a90000");
        QTest::newRow("no value") << message("/a", "b", QVariant()) << hex("2f612f62 00000000 2c4e0000");
        QTest::newRow("double clamped to float") << message("/a", "b", -1e39) << hex("2f612f62 00000000 2c660000 ff7fffff");
        QTest::newRow("unsigned keeps its bits") << message("/a", "b", 4294967295u) << hex("2f612f62 00000000 2c690000 ffffffff");
        QTest::newRow("text literal, not a pointer read as true") << OscMessage{"/a", Common::OscParameterFactory().create("b", "vox")} << hex("2f612f62 00000000 2c730000 766f7800");
    }
    void encode()
    {
        QFETCH(OscMessage, message);
        QFETCH(QByteArray, packet);
        QCOMPARE(Common::OscClient::encode(message).toHex(' '), packet.toHex(' '));
    }
    void decode_data()
    {
        QTest::addColumn<QByteArray>("packet");
        QTest::addColumn<OscMessage>("expected");
        QTest::newRow("no type tags, mixed case") << QByteArray("/Foo/Bar") << message("/foo", "bar", QVariant());
        QTest::newRow("empty packet") << QByteArray() << message("/", "", QVariant());
        QTest::newRow("unknown tag d") << hex("2f612f62 00000000 2c640000 3ff00000 00000000") << message("/a", "b", QVariant());
        QTest::newRow("address without a slash") << hex("6761696e 00000000 2c690000 00000001") << message("/", "gain", 1);
        QTest::newRow("UTF-8, case kept") << hex("2f612f62 00000000 2c730000 48c3a9e2 82ac0000") << message("/a", "b", QString::fromUtf8("H\xc3\xa9\xe2\x82\xac"));
        QTest::newRow("string without terminator") << hex("2f612f62 00000000 2c730000 616263") << message("/a", "b", QString("abc"));
        QTest::newRow("lone root address") << hex("2f000000 2c690000 00000007") << message("/", "", 7);
        QTest::newRow("first of five arguments, after the padded tags")
            << hex("2f666f6f 00000000 2c696973 66660000 000003e8 ffffffff 68656c6c 6f000000 3f9df3b6 40b5b22d") << message("/", "foo", 1000);
    }
    void decode()
    {
        QFETCH(QByteArray, packet);
        QFETCH(OscMessage, expected);
        QCOMPARE(text(Common::OscMessageParser().parse(packet)), text(expected));
    }
    // Cut anywhere (no spare capacity), a packet gives no value or one its bytes really hold.
    void cutPacketsReadNothingPastTheEnd()
    {
        for (const OscMessage &sent : {message("/input/12", "trim", -1.5f), message("/", "gain", -123456), message("/input", "mute", QVariant()),
                                       message("/name", "label", QString("drums left"))}) {
            const QByteArray packet = Common::OscClient::encode(sent);
            for (int length = 0; length < packet.size(); ++length) {
                const QVariant value = Common::OscMessageParser::decode(QByteArray(packet.constData(), length)).parameter.value;
                QVERIFY(!value.isValid() || (sent.parameter.value.userType() == QMetaType::QString && sent.parameter.value.toString().startsWith(value.toString())));
            }
            QCOMPARE(text(Common::OscMessageParser::decode(packet)), text(sent));
        }
    }
    void joinPaths() // a|b|joined
    {
        for (const QString &row : QStringList{"x||/x", "||/", "a/b|c|/a/b/c", "/||/", "/a|b//|/a/b/"})
            QVERIFY2(Common::OscPath::join(row.section('|', 0, 0), row.section('|', 1, 1)) == row.section('|', 2), qPrintable(row));
    }
};

QTEST_GUILESS_MAIN(TestOsc)
#include "tst_osc.moc"
