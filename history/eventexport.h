#pragma once

#include "history/slotevent.h"

#include <QString>
#include <QVector>

class QIODevice;

namespace EMS {

// The event history written out after a show: CSV for a spreadsheet, JSON lines for
// scripts. The CSV reads back into the same events.
namespace EventExport {

// time (ISO 8601 UTC), timeMs, slot (1 or 2), kind, severity, count, text.
QString csvHeader();
QString csvRow(const SlotEvent &event);
bool writeCsv(QIODevice *device, const QVector<SlotEvent> &events);
bool writeJsonLines(QIODevice *device, const QVector<SlotEvent> &events);
// The events of a CSV written by writeCsv; on a row it cannot read, what it read so
// far, and the reason in *error.
QVector<SlotEvent> readCsv(QIODevice *device, QString *error = nullptr);

// The same to and from a file; false with the reason in *error when it cannot.
bool saveCsv(const QString &path, const QVector<SlotEvent> &events, QString *error = nullptr);
bool saveJsonLines(const QString &path, const QVector<SlotEvent> &events, QString *error = nullptr);

} // namespace EventExport
} // namespace EMS
