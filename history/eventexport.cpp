#include "history/eventexport.h"

#include <QCoreApplication>
#include <QFile>
#include <QSaveFile>
#include <QTextStream>

namespace EMS {
namespace EventExport {

namespace {

const int CsvColumns = 7;

QString csvField(const QString &field)
{
    if (!field.contains(QLatin1Char(',')) && !field.contains(QLatin1Char('"')) && !field.contains(QLatin1Char('\n'))
        && !field.contains(QLatin1Char('\r')))
        return field;
    QString quoted = field;
    quoted.replace(QLatin1Char('"'), QLatin1String("\"\""));
    return QLatin1Char('"') + quoted + QLatin1Char('"');
}

// One record of RFC 4180 CSV: fields may be quoted, and quoted ones may hold commas,
// doubled quotes and line breaks. False at the end of the input.
bool readRecord(QTextStream &in, QStringList *fields)
{
    fields->clear();
    if (in.atEnd())
        return false;
    QString field;
    bool quoted = false;
    bool any = false;
    QChar c;
    while (!in.atEnd()) {
        in >> c;
        any = true;
        if (quoted) {
            if (c == QLatin1Char('"')) {
                if (!in.atEnd()) {
                    QChar next;
                    in >> next;
                    if (next == QLatin1Char('"')) {
                        field += c;
                        continue;
                    }
                    quoted = false;
                    c = next;
                } else {
                    quoted = false;
                    continue;
                }
            } else {
                field += c;
                continue;
            }
        }
        if (c == QLatin1Char('"') && field.isEmpty()) {
            quoted = true;
        } else if (c == QLatin1Char(',')) {
            fields->append(field);
            field.clear();
        } else if (c == QLatin1Char('\n')) {
            break;
        } else if (c != QLatin1Char('\r')) {
            field += c;
        }
    }
    if (any)
        fields->append(field);
    return any;
}

QString tr(const char *text)
{
    return QCoreApplication::translate("EventExport", text);
}

template<typename Write>
bool saveFile(const QString &path, QString *error, Write write)
{
    // Written beside and renamed over: an export cut short leaves the old file whole.
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly) || !write(&file) || !file.commit()) {
        if (error)
            *error = file.errorString();
        return false;
    }
    return true;
}

} // namespace

QString csvHeader()
{
    return QStringLiteral("time,timeMs,slot,kind,severity,count,text");
}

QString csvRow(const SlotEvent &event)
{
    return SlotEvent::isoTime(event.timeMs) + QLatin1Char(',') + QString::number(event.timeMs) + QLatin1Char(',')
           + QString::number(event.slot + 1) + QLatin1Char(',') + SlotEvent::kindName(event.kind) + QLatin1Char(',')
           + SlotEvent::severityName(event.severity) + QLatin1Char(',') + QString::number(event.count)
           + QLatin1Char(',') + csvField(event.text);
}

bool writeCsv(QIODevice *device, const QVector<SlotEvent> &events)
{
    QTextStream out(device);
    out.setCodec("UTF-8");
    out << csvHeader() << '\n';
    for (const SlotEvent &event : events)
        out << csvRow(event) << '\n';
    out.flush();
    return out.status() == QTextStream::Ok;
}

bool writeJsonLines(QIODevice *device, const QVector<SlotEvent> &events)
{
    QTextStream out(device);
    out.setCodec("UTF-8");
    for (const SlotEvent &event : events)
        out << event.toJson() << '\n';
    out.flush();
    return out.status() == QTextStream::Ok;
}

QVector<SlotEvent> readCsv(QIODevice *device, QString *error)
{
    QVector<SlotEvent> events;
    QTextStream in(device);
    in.setCodec("UTF-8");
    QStringList fields;
    if (!readRecord(in, &fields) || fields.join(QLatin1Char(',')) != csvHeader()) {
        if (error)
            *error = tr("not an event history: the first line is not \"%1\"").arg(csvHeader());
        return events;
    }
    int line = 1;
    while (readRecord(in, &fields)) {
        ++line;
        SlotEvent event;
        bool timeOk = false;
        bool slotOk = false;
        bool countOk = false;
        if (fields.size() == CsvColumns) {
            event.timeMs = fields.at(1).toLongLong(&timeOk);
            event.slot = fields.at(2).toInt(&slotOk) - 1;
            event.count = fields.at(5).toInt(&countOk);
            event.text = fields.at(6);
        }
        if (fields.size() != CsvColumns || !timeOk || !slotOk || !countOk
            || !SlotEvent::kindFromName(fields.at(3), &event.kind)
            || !SlotEvent::severityFromName(fields.at(4), &event.severity)) {
            if (error)
                *error = tr("record %1 is not an event").arg(line);
            return events;
        }
        events.append(event);
    }
    if (error)
        error->clear();
    return events;
}

bool saveCsv(const QString &path, const QVector<SlotEvent> &events, QString *error)
{
    return saveFile(path, error, [&events](QIODevice *device) { return writeCsv(device, events); });
}

bool saveJsonLines(const QString &path, const QVector<SlotEvent> &events, QString *error)
{
    return saveFile(path, error, [&events](QIODevice *device) { return writeJsonLines(device, events); });
}

} // namespace EventExport
} // namespace EMS
