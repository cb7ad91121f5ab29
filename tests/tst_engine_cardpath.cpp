#include "engine/appconnection.h"
#include "engine/enginecatalogue.h"
#include "engine/enginemessage.h"
#include "engine/enginemessenger.h"
#include "link/kipconnection.h"
#include "link/kipport.h"

#include <QSignalSpy>
#include <QtEndian>
#include <QtTest>

using EMS::EngineMessage;
using EMS::EngineMessenger;
namespace Engine = EMS::Engine;

namespace {

// The card's bytes inside a SerialData message: a 32-bit count, then the bytes.
QByteArray unwrapped(const EngineMessage &message)
{
    return EMS::KipConnection::unwrapEngineData(message.values());
}

} // namespace

// The card link's engine path end to end: a card connection named "EMS" talks through
// the controller's engine messenger, over UDP on loopback, to a second messenger that
// stands in for the engine.
class TestEngineCardPath : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();
    void openSendsBaudThenDataIsWrapped();
    void longWritesAreSplitIntoWholeMessages();
    void engineDataReachesTheCardPort();

private:
    void heardByEngine(int count);

    EngineMessenger *controller = nullptr;
    EngineMessenger *engine = nullptr;
    QList<EngineMessage> engineHeard;
};

void TestEngineCardPath::init()
{
    controller = new EngineMessenger;
    engine = new EngineMessenger;
    engineHeard.clear();
    connect(engine, &EngineMessenger::messageReceived, this,
            [this](EngineMessage *message) { engineHeard.append(*message); });

    controller->open("127.0.0.1", 9, 0);
    const quint16 controllerPort = controller->networkConnection()->localPort();
    engine->open("127.0.0.1", controllerPort, 0);
    controller->open("127.0.0.1", engine->networkConnection()->localPort(), controllerPort);
    QVERIFY(controller->isOpen());
    QVERIFY(engine->isOpen());
}

void TestEngineCardPath::cleanup()
{
    delete controller;
    delete engine;
}

void TestEngineCardPath::heardByEngine(int count)
{
    QTRY_COMPARE(engineHeard.size(), count);
    QTest::qWait(20);
    QCOMPARE(engineHeard.size(), count);
}

void TestEngineCardPath::openSendsBaudThenDataIsWrapped()
{
    EMS::KipConnection connection(nullptr, 1, controller);
    QCOMPARE(connection.portName(), QString("EMS"));
    QSignalSpy status(&connection, &EMS::KipConnection::statusMessage);
    QSignalSpy connected(&connection, &EMS::KipConnection::connectedChanged);

    connection.writeData("before open"); // the engine path is not connected yet
    connection.open();
    QCOMPARE(status.count(), 1);
    QCOMPARE(status.at(0).at(0).toString(), QString("Connected via engine"));
    QCOMPARE(connected.count(), 1);
    QCOMPARE(connected.at(0).at(0).toBool(), true);

    heardByEngine(1);
    const EngineMessage baud = engineHeard.at(0);
    // System module, SerialBaud, first sequence number; slot 1 in the index, channel 0.
    QCOMPARE(baud.header().word1, 0x002b0000u);
    QCOMPARE(baud.header().word2, 0x00000001u);
    QCOMPARE(baud.messageType(), int(Engine::NoAckRequired));
    QCOMPARE(baud.values(), QByteArray::fromHex("0000e147")); // 115200.0f

    const QByteArray statusRequest = QByteArray::fromHex("031e0021");
    connection.writeData(statusRequest);
    heardByEngine(2);
    QCOMPARE(engineHeard.at(1).header().word1, 0x002c0001u); // SerialData, sequence 1
    QCOMPARE(engineHeard.at(1).header().word2, 0x00000001u);
    QCOMPARE(engineHeard.at(1).values(), QByteArray::fromHex("04000000 031e0021"));

    // An odd length is padded to whole words on the wire; the count says what is real.
    const QByteArray odd = QByteArray::fromHex("0a0b0c0d0e");
    connection.writeData(odd);
    heardByEngine(3);
    QCOMPARE(engineHeard.at(2).valueCount(), 3);
    QCOMPARE(unwrapped(engineHeard.at(2)), odd);
    QCOMPARE(engine->receiveErrors(), 0);

    QSignalSpy closedStatus(&connection, &EMS::KipConnection::statusMessage);
    connection.close();
    QCOMPARE(closedStatus.count(), 1);
    QCOMPARE(closedStatus.at(0).at(0).toString(), QString("disconnected from engine"));
    connection.writeData("late");
    heardByEngine(3);
}

void TestEngineCardPath::longWritesAreSplitIntoWholeMessages()
{
    EMS::KipConnection connection(nullptr, 0, controller);
    connection.open();
    heardByEngine(1);

    QByteArray image;
    for (int i = 0; i < 3000; ++i)
        image.append(char(i * 7));
    connection.writeData(image);
    // 1004 card bytes fit one message beside the count: 1004 + 1004 + 992.
    heardByEngine(4);
    QByteArray arrived;
    for (int i = 1; i < 4; ++i) {
        const EngineMessage &message = engineHeard.at(i);
        QCOMPARE(message.parameter(), int(Engine::SerialData));
        QCOMPARE(message.index(), 0);
        QVERIFY(message.valueCount() <= EngineMessage::MaxValueWords);
        arrived += unwrapped(message);
    }
    QCOMPARE(unwrapped(engineHeard.at(1)).size(), 1004);
    QCOMPARE(arrived, image);

    // The largest write that still fits one message goes out whole.
    connection.writeData(image.left(1004));
    heardByEngine(5);
    QCOMPARE(unwrapped(engineHeard.at(4)), image.left(1004));
    QCOMPARE(engine->receiveErrors(), 0);
}

void TestEngineCardPath::engineDataReachesTheCardPort()
{
    // The controller's side hands each SerialData message for slot 1 to that slot's
    // card port, which unwraps it and delivers the bytes as if the serial port had.
    EMS::KipPort port(nullptr, 1, controller);
    connect(controller, &EngineMessenger::messageReceived, &port, [&port](EngineMessage *message) {
        if (message->module() == Engine::System && message->parameter() == Engine::SerialData
            && message->index() == port.slotIndex())
            port.receiveSerialEngineData(message->values());
    });
    QSignalSpy delivered(port.connection(), &EMS::KipConnection::dataReceived);

    const QByteArray reply = QByteArray::fromHex("0f1e14000a0b0c0d0e0f10111213");
    QByteArray wrapped(4, '\0');
    qToLittleEndian<quint32>(quint32(reply.size()), wrapped.data());
    EngineMessage forSlot1(0, 1, Engine::System, Engine::SerialData);
    forSlot1.setValueBytes(wrapped + reply);
    EngineMessage forSlot0(0, 0, Engine::System, Engine::SerialData);
    forSlot0.setValueBytes(wrapped + QByteArray(reply.size(), 'x'));
    engine->sendMessage(&forSlot0);
    engine->sendMessage(&forSlot1);

    QTRY_COMPARE(delivered.count(), 1);
    QCOMPARE(delivered.at(0).at(0).toByteArray(), reply);
}

QTEST_GUILESS_MAIN(TestEngineCardPath)
#include "tst_engine_cardpath.moc"
