#pragma once

#include "link/kipport.h"
#include "slot/serialportlister.h"

#include <QObject>
#include <QString>
#include <QTemporaryDir>
#include <QVector>
#include <QWidget>

class CardSimulator;

namespace EMS { class KipForm; }

// Helpers for the fault-injection and soak tests.
namespace FaultTest {

// Resident memory and open descriptors of the process, from /proc/self.
struct ProcessFigures
{
    qint64 residentKb = 0;
    int fileDescriptors = 0;
};
ProcessFigures processFigures();

// The object and all its descendants.
int objectCount(const QObject *root);

// QObjects created minus those destroyed since startCountingObjects() (-1 when this Qt has
// no object hooks): catches objects that no parent owns.
bool startCountingObjects();
int objectsAlive();

// Whether a 0 ms single-shot timer fires within the time: the event loop is not stuck.
bool eventLoopResponsive(int timeoutMs = 2000);

// Simulated cards on pseudo-terminals under fixed link paths, listed as FTDI adapters in
// slot order, so a card that comes back is found under the same name. Slot 0 is master.
class SimulatedCards
{
public:
    explicit SimulatedCards(const QVector<int> &cardTypes);
    SimulatedCards(const SimulatedCards &) = delete;
    SimulatedCards &operator=(const SimulatedCards &) = delete;

    CardSimulator &card(int slot) const { return *cards.at(slot); }
    QObject &farEnd() { return owner; } // the parent of every card
    // Lists the cards; reads this object, which must outlive whoever calls it.
    EMS::SerialPortLister lister() const;
    // The adapter is pulled: the link drops and the device name goes with it, as a USB
    // adapter's does; plugging it back restores the name.
    void pullAdapter(int slot);
    bool plugAdapterBack(int slot);

private:
    QTemporaryDir linkDir;
    QObject owner;
    QVector<CardSimulator *> cards;
};

// The box's slots as the program runs them: a card port and a slot form per simulated
// card, children of one window.
class SimulatedBox
{
public:
    explicit SimulatedBox(const QVector<int> &cardTypes);
    ~SimulatedBox();
    SimulatedBox(const SimulatedBox &) = delete;
    SimulatedBox &operator=(const SimulatedBox &) = delete;

    CardSimulator &card(int slot) const { return cards.card(slot); }
    EMS::KipPort &port(int slot) const { return *ports.at(slot); }
    EMS::KipForm &form(int slot) const { return *forms.at(slot); }
    void pullAdapter(int slot) { cards.pullAdapter(slot); }
    bool plugAdapterBack(int slot) { return cards.plugAdapterBack(slot); }

    // The text of one of a slot form's labels, by object name.
    QString label(int slot, const char *objectName) const;
    // The port has a firmware's answer and the form shows this card type.
    bool isShowing(int slot, int cardType) const;
    // What the slot's port and form hold now, for failure messages.
    QString describe(int slot) const;
    // No card type on the port, empty labels on the form.
    bool showsNoCard(int slot) const;

private:
    SimulatedCards cards;
    QWidget controller;
    QVector<EMS::KipPort *> ports;
    QVector<EMS::KipForm *> forms;
};

} // namespace FaultTest
