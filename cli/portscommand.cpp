#include "cli/portscommand.h"

#include "remote/slotreport.h"
#include "slot/serialportlister.h"
#include "slot/slotcontroller.h"

#include <QCommandLineParser>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

namespace Cli {

void PortsCommand::start()
{
    const QList<EMS::SerialPortEntry> ports = EMS::systemSerialPorts();
    const int kip1 = EMS::SlotController::adapterPosition(ports, 0);
    const int kip2 = EMS::SlotController::adapterPosition(ports, 1);
    const QString named1 = context.parser->value(QStringLiteral("port1"));
    const QString named2 = context.parser->value(QStringLiteral("port2"));

    QJsonArray rows;
    for (int i = 0; i < ports.size(); ++i) {
        const EMS::SerialPortEntry &entry = ports.at(i);
        QString slot;
        if (!named1.isEmpty() || !named2.isEmpty())
            slot = entry.portName == named1 ? QStringLiteral("KIP 1") : entry.portName == named2 ? QStringLiteral("KIP 2") : QString();
        else
            slot = i + 1 == kip1 ? QStringLiteral("KIP 1") : i + 1 == kip2 ? QStringLiteral("KIP 2") : QString();
        QJsonObject row{{"port", entry.portName},   {"description", entry.description},
                        {"manufacturer", entry.manufacturer}, {"busy", entry.busy},
                        {"slot", slot}};
        rows.append(row);
    }
    // Named devices the system does not list (pseudo-terminals) are the slots' all the same.
    const QString named[2] = {named1, named2};
    for (int slot = 0; slot < 2; ++slot) {
        if (named[slot].isEmpty())
            continue;
        const bool listed = std::any_of(ports.cbegin(), ports.cend(),
                                        [&](const EMS::SerialPortEntry &entry) { return entry.portName == named[slot]; });
        if (!listed)
            rows.append(QJsonObject{{"port", named[slot]}, {"description", tr("named on the command line")},
                                    {"manufacturer", QString()}, {"busy", false},
                                    {"slot", EMS::SlotReport::slotName(slot)}});
    }

    if (context.json) {
        printLine(QString::fromUtf8(QJsonDocument(QJsonObject{{"ports", rows}}).toJson(QJsonDocument::Compact)));
    } else {
        printLine(QStringLiteral("%1  %2  %3  %4").arg(tr("port"), -14).arg(tr("slot"), -5).arg(tr("busy"), -4).arg(tr("description")));
        for (const QJsonValue &value : qAsConst(rows)) {
            const QJsonObject row = value.toObject();
            QString description = row.value("description").toString();
            if (!row.value("manufacturer").toString().isEmpty())
                description += QStringLiteral(" (%1)").arg(row.value("manufacturer").toString());
            printLine(QStringLiteral("%1  %2  %3  %4")
                          .arg(row.value("port").toString(), -14)
                          .arg(row.value("slot").toString().isEmpty() ? QStringLiteral("-") : row.value("slot").toString(), -5)
                          .arg(row.value("busy").toBool() ? tr("yes") : tr("no"), -4)
                          .arg(description));
        }
    }
    if (rows.isEmpty()) {
        fail(tr("no serial ports found"));
        return;
    }
    succeed();
}

} // namespace Cli
