#include "support/faultrig.h"

#include "sim/cardfirmware.h"
#include "sim/cardsimulator.h"
#include "sim/pseudoterminal.h"
#include "ui/kipform.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QLabel>
#include <QTimer>

#include <unistd.h>

// Qt 5's hooks for tools that track objects (qhooks_p.h): the number of slots, the Qt
// version, the functions called as any QObject is constructed and destroyed.
extern "C" Q_DECL_IMPORT quintptr qtHookData[];

namespace FaultTest {

ProcessFigures processFigures()
{
    ProcessFigures figures;
    QFile statm(QStringLiteral("/proc/self/statm"));
    const QList<QByteArray> fields = statm.open(QIODevice::ReadOnly) ? statm.readAll().simplified().split(' ')
                                                                     : QList<QByteArray>();
    if (fields.size() > 1) // size resident shared ... in pages
        figures.residentKb = fields.at(1).toLongLong() * (::sysconf(_SC_PAGESIZE) / 1024);
    figures.fileDescriptors =
        int(QDir(QStringLiteral("/proc/self/fd")).entryList(QDir::AllEntries | QDir::System | QDir::NoDotAndDotDot).size());
    return figures;
}

int objectCount(const QObject *root)
{
    return root ? 1 + int(root->findChildren<QObject *>().size()) : 0;
}

namespace {

enum { HookDataSize = 1, HookQtVersion = 2, HookAddQObject = 3, HookRemoveQObject = 4 };

QAtomicInt aliveObjects;
bool counting = false;

void objectAdded(QObject *) { aliveObjects.ref(); }
void objectRemoved(QObject *) { aliveObjects.deref(); }

} // namespace

bool startCountingObjects()
{
    if (counting)
        return true;
    if (qtHookData[HookDataSize] <= quintptr(HookRemoveQObject) || (qtHookData[HookQtVersion] >> 16) != 5
        || qtHookData[HookAddQObject] || qtHookData[HookRemoveQObject])
        return false;
    qtHookData[HookAddQObject] = reinterpret_cast<quintptr>(&objectAdded);
    qtHookData[HookRemoveQObject] = reinterpret_cast<quintptr>(&objectRemoved);
    counting = true;
    return true;
}

int objectsAlive() { return counting ? aliveObjects.loadRelaxed() : -1; }

bool eventLoopResponsive(int timeoutMs)
{
    bool fired = false;
    QTimer::singleShot(0, [&fired] { fired = true; });
    QElapsedTimer clock;
    clock.start();
    while (!fired && clock.elapsed() < timeoutMs)
        QCoreApplication::processEvents(QEventLoop::AllEvents | QEventLoop::WaitForMoreEvents, 50);
    return fired;
}

SimulatedCards::SimulatedCards(const QVector<int> &cardTypes)
{
    static int sets = 0;
    ++sets;
    for (int slot = 0; slot < cardTypes.size(); ++slot) {
        auto *card = new CardSimulator(&owner);
        card->firmware().resetState(cardTypes.at(slot));
        card->firmware().state().master = slot == 0;
        // A name of its own per process and card: QSerialPort locks ports by name.
        card->setLinkPath(linkDir.filePath(QStringLiteral("kip-%1-%2-%3").arg(::getpid()).arg(sets).arg(slot)));
        cards.append(card);
    }
}

EMS::SerialPortLister SimulatedCards::lister() const
{
    return [this] {
        QList<EMS::SerialPortEntry> entries;
        for (CardSimulator *card : cards) {
            EMS::SerialPortEntry entry;
            entry.portName = card->portName();
            entry.description = QStringLiteral("USB Serial Port (simulated card)");
            entry.manufacturer = QStringLiteral("FTDI");
            entries.append(entry);
        }
        return entries;
    };
}

void SimulatedCards::pullAdapter(int slot)
{
    cards.at(slot)->dropLink();
    QFile::remove(cards.at(slot)->terminal().linkPath());
}

bool SimulatedCards::plugAdapterBack(int slot)
{
    return cards.at(slot)->restoreLink(); // the new pseudo-terminal puts the name back
}

SimulatedBox::SimulatedBox(const QVector<int> &cardTypes) : cards(cardTypes)
{
    for (int slot = 0; slot < cardTypes.size(); ++slot) {
        ports.append(new EMS::KipPort(&controller, slot));
        forms.append(new EMS::KipForm(ports.last(), &controller, cards.lister()));
    }
}

SimulatedBox::~SimulatedBox()
{
    // The controller goes first, as when the program ends with the cards plugged in.
    qDeleteAll(forms);
    qDeleteAll(ports);
}

QString SimulatedBox::label(int slot, const char *objectName) const
{
    const QLabel *found = forms.at(slot)->findChild<QLabel *>(QLatin1String(objectName));
    return found ? found->text() : QStringLiteral("<no label %1>").arg(QLatin1String(objectName));
}

bool SimulatedBox::isShowing(int slot, int cardType) const
{
    return port(slot).linkState() == EMS::KipPort::LinkConnected && port(slot).cardType() == cardType
        && form(slot).shownCardType() == cardType
        && label(slot, "cardTypeLabel") == EMS::KipForm::cardDisplayName(EMS::KipPort::KipCardType(cardType));
}

QString SimulatedBox::describe(int slot) const
{
    return QStringLiteral("port %1, link state %2, card type %3; form shows type %4, labels \"%5\" \"%6\"")
        .arg(port(slot).isConnectionOpen() ? "open" : "closed")
        .arg(port(slot).linkState()).arg(port(slot).cardType()).arg(form(slot).shownCardType())
        .arg(label(slot, "cardTypeLabel"), label(slot, "firmwareVersionLabel"));
}

bool SimulatedBox::showsNoCard(int slot) const
{
    return port(slot).cardType() == EMS::KipPort::NoCard && form(slot).shownCardType() == EMS::KipPort::NoCard
        && label(slot, "cardTypeLabel").isEmpty() && label(slot, "firmwareVersionLabel").isEmpty()
        && label(slot, "temperatureLabel").isEmpty() && label(slot, "fpgaVersionLabel").isEmpty();
}

} // namespace FaultTest
