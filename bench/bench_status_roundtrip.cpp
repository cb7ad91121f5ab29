// What the card port itself costs per status exchange.
//
// HostTimePerStatusReply: a status reply is handed to the port as the serial port
// delivers it, the port decodes it, updates the card state, notifies, and the listener
// asks for the next status, which is encoded, queued and written to the pseudo-terminal.
// That is the wall time the host adds between a reply's last byte and the command it
// causes.
//
// PtyRoundTrip: the same loop through a real pseudo-terminal and the card simulator
// (its time included), for scale against the 115200-baud wire time of one exchange:
// 4 request bytes + 22 reply bytes = 26 bytes x 10 bits = 2.26 ms.
#include "link/kipconnection.h"
#include "link/kipport.h"
#include "link/messagetype.h"
#include "sim/cardfirmware.h"
#include "sim/cardsimulator.h"
#include "sim/pseudoterminal.h"

#include <QCoreApplication>
#include <QElapsedTimer>

#include <benchmark/benchmark.h>

using EMS::KipPort;

namespace {

QByteArray statusReply(quint8 temperature)
{
    QByteArray bytes = QByteArray::fromHex("151e00" "14022a" "56322e31000000000000" "80bb0000" "01");
    bytes[5] = char(temperature);
    bytes.append(char(Common::byteSum(bytes)));
    return bytes;
}

void HostTimePerStatusReply(benchmark::State &state)
{
    PseudoTerminal far;
    far.open();
    KipPort port(nullptr, 0);
    port.setSerialPortName(far.slavePath());
    port.connection()->open();
    int requests = 0;
    QObject::connect(&port, &KipPort::hardwareStatusChanged, &port, [&] {
        port.requestStatus();
        ++requests;
    });
    // The card's "clear to send" keeps the send gate open, as it would on the line.
    const QByteArray clearToSend = QByteArray::fromHex("03320035");
    quint8 temperature = 0;
    for (auto _ : state) {
        port.receiveKipData(statusReply(++temperature) + clearToSend);
        QCoreApplication::processEvents(); // the serial port writes the request to the tty

    }
    state.counters["requests"] = requests;
    state.counters["us_per_reply"] = benchmark::Counter(double(state.iterations()),
                                                        benchmark::Counter::kIsRate | benchmark::Counter::kInvert);
}
BENCHMARK(HostTimePerStatusReply)->Unit(benchmark::kMicrosecond);

void PtyRoundTrip(benchmark::State &state)
{
    CardSimulator card;
    card.firmware().resetState(KipPort::MadiBnc);
    KipPort port(nullptr, 0);
    port.setSerialPortName(card.portName());
    port.connectSerialPort();
    QElapsedTimer handBack;
    handBack.start();
    while (port.linkState() != KipPort::LinkConnected && handBack.elapsed() < 5000)
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 10);
    // Only the benchmark's own requests from here on.
    port.keepAliveTimer()->stop();
    port.watchdogTimer()->stop();
    int replies = 0;
    QObject::connect(&port, &KipPort::messagesReceived, &port, [&] { ++replies; });
    QElapsedTimer wall;
    wall.start();
    for (auto _ : state) {
        const int before = replies;
        port.requestStatus();
        QElapsedTimer timeout;
        timeout.start();
        while (replies == before && timeout.elapsed() < 1000)
            QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 10);
        if (replies == before) {
            state.SkipWithError("the simulated card did not answer");
            break;
        }
    }
    const double wireUs = 26 * 10 * 1e6 / 115200.0;
    state.counters["wire_us"] = wireUs;
    const double roundTripUs = wall.nsecsElapsed() / 1000.0 / double(qMax<qint64>(1, state.iterations()));
    state.counters["round_trip_us"] = roundTripUs;
    state.counters["round_trip_per_wire"] = roundTripUs / wireUs;
}
BENCHMARK(PtyRoundTrip)->Unit(benchmark::kMicrosecond)->UseRealTime();

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication application(argc, argv);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
