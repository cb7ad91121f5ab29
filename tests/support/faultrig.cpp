#include "support/faultrig.h"

#include "sim/cardfirmware.h"
#include "sim/cardsimulator.h"
#include "ui/kipform.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QLabel>
#include <QTimer>

#include <unistd.h>

namespace FaultTest {

ProcessFigures processFigures()
{
    ProcessFigures figures;
    QFile statm(QStringLiteral("/proc/self/statm"));
    if (statm.open(QIODevice::ReadOnly)) {
        // size resident shared ... in pages
        const QList<QByteArray> fields = statm.readAll().simplified().split(' ');
        if (fields.size() > 1)
            figures.residentKb = fields.at(1).toLongLong() * (::sysconf(_SC_PAGESIZE) / 1024);
    }
    figures.fileDescriptors =
        int(QDir(QStringLiteral("/proc/self/fd")).entryList(QDir::AllEntries | QDir::System | QDir::NoDotAndDotDot).size());
    return figures;
}

int objectCount(const QObject *root)
{
    if (!root)
        return 0;
    return 1 + int(root->findChildren<QObject *>().size());
}

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

SimulatedBox::SimulatedBox(const QVector<int> &cardTypes)
{
    static int boxes = 0;
    ++boxes;
    for (int slot = 0; slot < cardTypes.size(); ++slot) {
        auto *card = new CardSimulator(&simulators);
        card->firmware().resetState(cardTypes.at(slot));
        card->firmware().state().master = slot == 0;
        // A name of its own per process and box: QSerialPort locks ports by name.
        card->setLinkPath(linkDir.filePath(QStringLiteral("kip-%1-%2-%3").arg(::getpid()).arg(boxes).arg(slot)));
        cards.append(card);
    }

    const EMS::SerialPortLister lister = [this] {
        QList<EMS::SerialPortEntry> entries;
        for (CardSimulator *card : qAsConst(cards)) {
            EMS::SerialPortEntry entry;
            entry.portName = card->portName();
            entry.description = QStringLiteral("USB Serial Port (simulated card)");
            entry.manufacturer = QStringLiteral("FTDI");
            entries.append(entry);
        }
        return entries;
    };
    for (int slot = 0; slot < cardTypes.size(); ++slot) {
        auto *port = new EMS::KipPort(&controller, slot);
        ports.append(port);
        forms.append(new EMS::KipForm(port, &controller, lister));
    }
}

SimulatedBox::~SimulatedBox()
{
    // The controller goes first, as it does when the program ends with the cards still
    // plugged in.
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
    const EMS::KipPort &slotPort = port(slot);
    return slotPort.linkState() == EMS::KipPort::LinkConnected && slotPort.cardType() == cardType
        && form(slot).shownCardType() == cardType
        && label(slot, "cardTypeLabel") == EMS::KipForm::cardDisplayName(EMS::KipPort::KipCardType(cardType));
}

bool SimulatedBox::showsNoCard(int slot) const
{
    return port(slot).cardType() == EMS::KipPort::NoCard && form(slot).shownCardType() == EMS::KipPort::NoCard
        && label(slot, "cardTypeLabel").isEmpty() && label(slot, "firmwareVersionLabel").isEmpty()
        && label(slot, "temperatureLabel").isEmpty() && label(slot, "fpgaVersionLabel").isEmpty();
}

} // namespace FaultTest
