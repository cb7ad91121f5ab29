#pragma once

#include "link/kipport.h"

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

// Whether a 0 ms single-shot timer fires within the time: the event loop is not stuck.
bool eventLoopResponsive(int timeoutMs = 2000);

// Slots of the box, each on its own simulated card, run as the program runs them: a
// card port and a slot form per slot, both children of one window. The cards sit on
// pseudo-terminals under fixed link paths, which a port list presents to the forms as
// FTDI adapters in slot order, so a card that drops its link and comes back is found
// again under the same name. Slot i's card reports itself as master exactly when i is 0.
class SimulatedBox
{
public:
    explicit SimulatedBox(const QVector<int> &cardTypes);
    ~SimulatedBox();

    SimulatedBox(const SimulatedBox &) = delete;
    SimulatedBox &operator=(const SimulatedBox &) = delete;

    int slotCount() const { return cards.size(); }
    CardSimulator &card(int slot) const { return *cards.at(slot); }
    EMS::KipPort &port(int slot) const { return *ports.at(slot); }
    EMS::KipForm &form(int slot) const { return *forms.at(slot); }
    // The parent of every port and form: what the controller owns.
    QWidget &window() { return controller; }
    // The parent of every simulated card.
    QObject &farEnd() { return simulators; }

    // The text of one of a slot form's labels, by object name.
    QString label(int slot, const char *objectName) const;
    // The port has a firmware's answer and the form shows this card type.
    bool isShowing(int slot, int cardType) const;
    // Nothing of a card is shown: no card type on the port, empty labels on the form.
    bool showsNoCard(int slot) const;

private:
    QTemporaryDir linkDir;
    QObject simulators;
    QWidget controller;
    QVector<CardSimulator *> cards;
    QVector<EMS::KipPort *> ports;
    QVector<EMS::KipForm *> forms;
};

} // namespace FaultTest
