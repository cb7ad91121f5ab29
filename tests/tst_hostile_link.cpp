// Card codes outside the named values, as a faulty or foreign card sends them. The
// port passes every code on unchanged; the receivers decide how to show it.

#include "link/kipport.h"

#include <QSignalSpy>
#include <QtTest>

#include <type_traits>

using namespace EMS;

namespace {

// A frame as the card sends it; the host's encoder sends "kip status" only as a bare
// request, so replies are put together here.
QByteArray cardFrame(int type, int param, const QByteArray &payload)
{
    QByteArray frame;
    frame.append(char(3 + payload.size()));
    frame.append(char(type));
    frame.append(char(param));
    frame.append(payload);
    quint8 sum = 0;
    for (char byte : qAsConst(frame))
        sum = quint8(sum + quint8(byte));
    frame.append(char(sum));
    return frame;
}

} // namespace

class HostileLinkTest : public QObject
{
    Q_OBJECT

private slots:
    void codeOutsideTheNamedValuesPassesUnchanged_data();
    void codeOutsideTheNamedValuesPassesUnchanged();
    void cardCodeEnumerationsHoldEveryByte();
};

void HostileLinkTest::codeOutsideTheNamedValuesPassesUnchanged_data()
{
    QTest::addColumn<int>("type");
    QTest::addColumn<int>("param");
    QTest::addColumn<QByteArray>("payload");
    QTest::addColumn<QByteArray>("signal");
    QTest::addColumn<int>("argument");
    QTest::addColumn<int>("expected");

    const QByteArray deviceType = QMetaObject::normalizedSignature(SIGNAL(deviceTypeChanged(int, KipPort::DeviceType)));
    const QByteArray cardStatus = QMetaObject::normalizedSignature(SIGNAL(kipCardStatusChanged(KipPort::KipCardType, QByteArray)));
    const QByteArray cardType = QMetaObject::normalizedSignature(SIGNAL(kipCardTypeChanged(KipPort::KipCardType)));
    QByteArray status(18, '\0');

    // A fuzzed card status stream found these: the port emitted enumeration values the
    // enumerations could not hold.
    QTest::newRow("device type 9") << 36 << 0 << QByteArray(1, 9) << deviceType << 1 << 9;
    QTest::newRow("device type 0xff is -1") << 36 << 1 << QByteArray(1, char(0xFF)) << deviceType << 1 << -1;
    QTest::newRow("device type 127") << 36 << 0 << QByteArray(1, 127) << deviceType << 1 << 127;
    QTest::newRow("card status of card type 200") << 38 << 200 << QByteArray(2, 0x39) << cardStatus << 0 << 200;
    QTest::newRow("card status of card type 255") << 38 << 255 << QByteArray() << cardStatus << 0 << 255;
    status[0] = char(0xC8);
    QTest::newRow("kip status card type 0xc8 is -56") << 30 << 0 << status << cardType << 0 << -56;
    status[0] = char(0x7F);
    QTest::newRow("kip status card type 127") << 30 << 0 << status << cardType << 0 << 127;
}

void HostileLinkTest::codeOutsideTheNamedValuesPassesUnchanged()
{
    QFETCH(int, type);
    QFETCH(int, param);
    QFETCH(QByteArray, payload);
    QFETCH(QByteArray, signal);
    QFETCH(int, argument);
    QFETCH(int, expected);

    KipPort port(nullptr, 0);
    QSignalSpy spy(&port, signal.constData());
    QVERIFY(spy.isValid());
    port.receiveKipData(cardFrame(type, param, payload));
    QCOMPARE(spy.count(), 1);
    const QVariant value = spy.at(0).at(argument);
    QCOMPARE(*static_cast<const int *>(value.constData()), expected);
}

void HostileLinkTest::cardCodeEnumerationsHoldEveryByte()
{
    // Without a fixed underlying type an enumeration holds only the values its named
    // members need bits for (0 ... 31 for the card types), and converting any other
    // code into it is undefined: the optimiser may assume it never happens.
    QVERIFY((std::is_same<std::underlying_type_t<KipPort::KipCardType>, int>::value));
    QVERIFY((std::is_same<std::underlying_type_t<KipPort::DeviceType>, int>::value));
    QVERIFY((std::is_same<std::underlying_type_t<SyncLockState>, int>::value));
}

QTEST_GUILESS_MAIN(HostileLinkTest)
#include "tst_hostile_link.moc"
