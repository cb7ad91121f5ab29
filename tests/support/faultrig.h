#pragma once

#include "link/kipport.h"
#include "ui/serialportlister.h"

#include <QObject>
#include <QString>
#include <QTemporaryDir>
#include <QVector>
#include <QWidget>

class CardSimulator;

namespace EMS {
class KipForm;
}

// Helpers for the fault-injection and soak tests: the box's slots on simulated cards,
// and the process figures those tests watch.
namespace FaultTest {

// What the process holds, from /proc/self: resident memory and open descriptors.
struct ProcessFigures
{
    qint64 residentKb = 0;
    int fileDescriptors = 0;
};
ProcessFigures processFigures();

// The object and all its descendants.
int objectCount(const QObject *root);

// Every QObject of the process created minus every one destroyed since the first call
// to startCountingObjects(); -1 when this Qt offers no object hooks. Catches objects
// that nothing owns, which no parent's list of children shows.
bool startCountingObjects();
int objectsAlive();

// Whether a 0 ms single-shot timer fires within the time: the event loop is not stuck.
bool eventLoopResponsive(int timeoutMs = 2000);

// Simulated cards for the slots of the box, each on a pseudo-terminal under a fixed
// link path, and a port list that presents them to slot forms as FTDI adapters in slot
// order, so a card that drops its link and comes back is found under the same name.
// Slot i's card reports itself as master exactly when i is 0.
class SimulatedCards
{
public:
    explicit SimulatedCards(const QVector<int> &cardTypes);

    SimulatedCards(const SimulatedCards &) = delete;
    SimulatedCards &operator=(const SimulatedCards &) = delete;

    int count() const { return cards.size(); }
    CardSimulator &card(int slot) const { return *cards.at(slot); }
    // The parent of every card.
    QObject &farEnd() { return owner; }
    // Lists the cards; reads this object, which must outlive whoever calls it.
    EMS::SerialPortLister lister() const;

    // The card's adapter is pulled: its link drops and its device name goes with it, as
    // a USB adapter's does. (A name left pointing at the closed pseudo-terminal could
    // meet a new one of another program under the same number.)
    void pullAdapter(int slot);
    // The adapter comes back under the same name.
    bool plugAdapterBack(int slot);

private:
    QTemporaryDir linkDir;
    QObject owner;
    QVector<CardSimulator *> cards;
};

// Slots of the box, each on its own simulated card, run as the program runs them: a
// card port and a slot form per slot, both children of one window.
class SimulatedBox
{
public:
    explicit SimulatedBox(const QVector<int> &cardTypes);
    ~SimulatedBox();

    SimulatedBox(const SimulatedBox &) = delete;
    SimulatedBox &operator=(const SimulatedBox &) = delete;

    int slotCount() const { return cards.count(); }
    CardSimulator &card(int slot) const { return cards.card(slot); }
    EMS::KipPort &port(int slot) const { return *ports.at(slot); }
    EMS::KipForm &form(int slot) const { return *forms.at(slot); }
    // The parent of every port and form: what the controller owns.
    QWidget &window() { return controller; }
    QObject &farEnd() { return cards.farEnd(); }
    void pullAdapter(int slot) { cards.pullAdapter(slot); }
    bool plugAdapterBack(int slot) { return cards.plugAdapterBack(slot); }

    // The text of one of a slot form's labels, by object name.
    QString label(int slot, const char *objectName) const;
    // The port has a firmware's answer and the form shows this card type.
    bool isShowing(int slot, int cardType) const;
    // What the slot's port and form hold now, for failure messages.
    QString describe(int slot) const;
    // Nothing of a card is shown: no card type on the port, empty labels on the form.
    bool showsNoCard(int slot) const;

private:
    SimulatedCards cards;
    QWidget controller;
    QVector<EMS::KipPort *> ports;
    QVector<EMS::KipForm *> forms;
};

} // namespace FaultTest
