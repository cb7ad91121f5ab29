#pragma once

// The demonstration's two simulated cards, shared by sablefold-demo and the window's
// end-to-end tests. Header only, so both can use it without a library of their own.

#include "link/kipport.h"
#include "sim/cardfirmware.h"
#include "sim/cardsimulator.h"
#include "sim/pseudoterminal.h"
#include "slot/serialportlister.h"

#include <QMap>
#include <QObject>
#include <QString>

class DemoRig
{
public:
    // Slot 0 holds the box's master, a BNC MADI card unless told otherwise: port A
    // receives 57 channels from a rack with cards in its slots and both supplies
    // monitored, port B is idle. Slot 1 holds a card of the given type.
    explicit DemoRig(int slaveCardType = EMS::KipPort::MadiCat5, int masterCardType = EMS::KipPort::MadiBnc)
    {
        cards[0] = new CardSimulator(&owner);
        cards[1] = new CardSimulator(&owner);
        cards[0]->firmware().resetState(masterCardType);
        cards[1]->firmware().resetState(slaveCardType);
        // The card's own view of its slot; the forms check it against theirs.
        cards[0]->firmware().state().master = true;
        cards[1]->firmware().state().master = false;
    }

    DemoRig(const DemoRig &) = delete;
    DemoRig &operator=(const DemoRig &) = delete;

    CardSimulator &card(int slot) const { return *cards[slot]; }

    bool isReady() const { return cards[0]->terminal().isOpen() && cards[1]->terminal().isOpen(); }

    // Temperature drift and locks that drop and come back, so the window is alive.
    void setLiving(bool on)
    {
        for (CardSimulator *card : cards)
            card->firmware().setLiving(on);
    }

    // The system does not list pseudo-terminals; this list presents each card's as an
    // FTDI adapter, slot 0's first, so the slot forms find them as they would find real
    // adapters. The rig must outlive the window that reads it.
    EMS::SerialPortLister lister() const
    {
        return [this] {
            QList<EMS::SerialPortEntry> ports;
            for (int slot = 0; slot < 2; ++slot) {
                EMS::SerialPortEntry entry;
                entry.portName = cards[slot]->portName();
                entry.description = QStringLiteral("USB Serial Port (simulated card)");
                entry.manufacturer = QStringLiteral("FTDI");
                ports.append(entry);
            }
            return ports;
        };
    }

    // The names the demo's command line takes for the cards.
    static const QMap<QString, int> &cardTypes()
    {
        static const QMap<QString, int> types{
            {QStringLiteral("madi-bnc"), EMS::KipPort::MadiBnc},   {QStringLiteral("adc"), EMS::KipPort::Adc},
            {QStringLiteral("dac"), EMS::KipPort::Dac},           {QStringLiteral("aes"), EMS::KipPort::Aes},
            {QStringLiteral("madi-cat5"), EMS::KipPort::MadiCat5}, {QStringLiteral("waves"), EMS::KipPort::Waves},
            {QStringLiteral("aviom"), EMS::KipPort::Aviom},       {QStringLiteral("dante"), EMS::KipPort::Dante},
            {QStringLiteral("optocore"), EMS::KipPort::Optocore}, {QStringLiteral("hydra"), EMS::KipPort::Hydra},
        };
        return types;
    }

private:
    QObject owner;
    CardSimulator *cards[2] = {nullptr, nullptr};
};
