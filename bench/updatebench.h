#pragma once

// What the update benchmarks share: the card simulator on a thread of its own (everything
// the card does happens there, so the benchmark's thread measures the controller alone),
// and waiting on the controller's event loop.

#include "sim/cardfirmware.h"
#include "sim/cardsimulator.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QObject>
#include <QString>
#include <QThread>

#include <atomic>
#include <functional>

#include <pthread.h>
#include <time.h>

class SimulatorThread
{
public:
    // Builds a card of this type on the thread; `setUp` then runs there on it.
    explicit SimulatorThread(int cardType, const std::function<void(CardSimulator &)> &setUp = {})
    {
        thread.start();
        anchor.moveToThread(&thread);
        QMetaObject::invokeMethod(&anchor, [this, cardType, setUp] {
            card = new CardSimulator;
            card->firmware().resetState(cardType);
            if (setUp)
                setUp(*card);
            pthread_getcpuclockid(pthread_self(), &clock);
            QObject::connect(card, &CardSimulator::bytesFromHost, card, [this](const QByteArray &bytes) {
                if (counting)
                    fromHost += bytes.size();
            });
            QObject::connect(card, &CardSimulator::bytesToHost, card, [this](const QByteArray &bytes) {
                if (counting)
                    toHost += bytes.size();
            });
            portName = card->portName();
        }, Qt::BlockingQueuedConnection);
    }

    ~SimulatorThread()
    {
        QMetaObject::invokeMethod(&anchor, [this] { delete card; }, Qt::BlockingQueuedConnection);
        thread.quit();
        thread.wait();
    }

    // Bytes exchanged both ways since the last reset, while counting.
    qint64 bytes() const { return fromHost + toHost; }
    void resetBytes()
    {
        fromHost = 0;
        toHost = 0;
    }

    QString portName;
    // The simulator thread's processor clock.
    clockid_t clock{};
    std::atomic<bool> counting{true};
    std::atomic<qint64> fromHost{0};
    std::atomic<qint64> toHost{0};

private:
    QThread thread;
    QObject anchor;
    CardSimulator *card = nullptr;
};

// Runs the event loop until done() or the time is up; done() tells which.
inline bool waitFor(const std::function<bool()> &done, int timeoutMs)
{
    QElapsedTimer clock;
    clock.start();
    while (!done() && clock.elapsed() < timeoutMs)
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 10);
    return done();
}
