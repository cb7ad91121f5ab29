#pragma once

// The card simulator on a thread of its own, shared by the update benchmarks: everything
// the card does happens there, so the benchmark's thread measures the controller alone.

#include "sim/cardfirmware.h"
#include "sim/cardsimulator.h"

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
