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

QByteArray hex(const char *text) { return QByteArray::fromHex(text); }
QString text(const OscMessage &m)
{
    return QStringList{m.path, m.parameter.name, m.parameter.value.typeName(), m.parameter.value.toString()}.join(' ');
}

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
        QTest::newRow("string") << message("/x", "y", QString("ab")) << hex("2f782f79 00000000 2c730000 61620000");
        QTest::newRow("4-char string: four zeros") << message("/x", "y", QString("abcd")) << hex("2f782f79 00000000 2c730000 61626364 00000000");
        QTest::newRow("UTF-8") << message("/a", "b", QString::fromUtf8("\xc3\xa9")) << hex("2f612f62 00000000 2c730000 c3a90000");
        QTest::newRow("no value") << message("/a", "b", QVariant()) << hex("2f612f62 00000000 2c4e0000");
        QTest::newRow("unsupported type: nil") << message("/a", "b", QVariant(qlonglong(5))) << hex("2f612f62 00000000 2c4e0000");
        QTest::newRow("double clamped to float") << message("/a", "b", -1e39) << hex("2f612f62 00000000 2c660000 ff7fffff");
        QTest::newRow("bool") << message("/a", "b", true) << hex("2f612f62 00000000 2c690000 00000001");
        QTest::newRow("unsigned keeps its bits") << message("/a", "b", 4294967295u) << hex("2f612f62 00000000 2c690000 ffffffff");
        // A text literal is a string, not a pointer read as true.
        OscMessage literal = message("/a", "b", QVariant());
        literal.parameter = Common::OscParameterFactory().create("b", "vox");
        QTest::newRow("text literal") << literal << hex("2f612f62 00000000 2c730000 766f7800");
        QTest::newRow("path ending in a slash") << message("/x/", "gain", 1) << hex("2f782f67 61696e00 2c690000 00000001");
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
        QTest::newRow("relative, trailing slash") << QByteArray("input/1/gain/") << message("/input/1", "gain", QVariant());
        QTest::newRow("empty packet") << QByteArray() << message("/", "", QVariant());
        QTest::newRow("unknown tag d") << hex("2f612f62 00000000 2c640000 3ff00000 00000000") << message("/a", "b", QVariant());
        QTest::newRow("address without a slash") << hex("6761696e 00000000 2c690000 00000001") << message("/", "gain", 1);
        QTest::newRow("float") << hex("2f496e70 75742f31 2f476169 6e000000 2c660000 3f000000") << message("/input/1", "gain", 0.5f);
        QTest::newRow("strings keep their case") << hex("2f612f62 00000000 2c730000 48694921 00000000") << message("/a", "b", QString("HiI!"));
        QTest::newRow("UTF-8") << hex("2f612f62 00000000 2c730000 c3a9e282 ac000000") << message("/a", "b", QString::fromUtf8("\xc3\xa9\xe2\x82\xac"));
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

    // Cut anywhere, a packet gives no value or one its bytes really hold; sanitizer builds
    // check nothing past the end is read (the copy has no spare capacity).
    void cutPacketsReadNothingPastTheEnd()
    {
        for (const OscMessage &sent : {message("/input/12", "trim", -123456), message("/input", "mute", QVariant()),
                                       message("/name", "label", QString("drums left"))}) {
            const QByteArray packet = Common::OscClient::encode(sent);
            const QVariant full = sent.parameter.value;
            for (int length = 0; length <= packet.size(); ++length) {
                const OscMessage decoded = Common::OscMessageParser::decode(QByteArray(packet.constData(), length));
                const QVariant value = decoded.parameter.value;
                const QString where = text(sent) + " cut to " + QString::number(length);
                if (length == packet.size())
                    QCOMPARE(text(decoded), text(sent));
                else if (full.userType() == QMetaType::QString && value.isValid())
                    QVERIFY2(full.toString().startsWith(value.toString()), qPrintable(where));
                else
                    QVERIFY2(!value.isValid(), qPrintable(where));
            }
        }
    }
    void joinPaths()
    {
        // a|b|joined
        for (const QString &row : QStringList{"x||/x", "||/", "a/b|c|/a/b/c", "/||/", "/a|b//|/a/b/"}) {
            const QStringList parts = row.split('|');
            QVERIFY2(Common::OscPath::join(parts[0], parts[1]) == parts[2], qPrintable(row));
        }
    }
};

QTEST_GUILESS_MAIN(TestOsc)
#include "tst_osc.moc"
