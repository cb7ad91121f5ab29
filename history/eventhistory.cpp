#include "history/eventhistory.h"

#include <QDateTime>

#include <algorithm>

namespace EMS {

EventHistory::EventHistory(QObject *parent, int capacityPerSlot)
    : QAbstractTableModel(parent), capacity(std::max(1, capacityPerSlot))
{
    qRegisterMetaType<EMS::SlotEvent>();
    for (Ring &ring : rings) {
        ring.events.resize(capacity);
        ring.sequence.resize(capacity);
    }
}

int EventHistory::Ring::countBefore(quint64 number) const
{
    int low = 0;
    int high = count;
    while (low < high) {
        const int middle = (low + high) / 2;
        if (sequenceAt(middle) < number)
            low = middle + 1;
        else
            high = middle;
    }
    return low;
}

int EventHistory::rowOf(int slot, int i) const
{
    return i + rings[1 - slot].countBefore(rings[slot].sequenceAt(i));
}

void EventHistory::locate(int row, int *slot, int *i) const
{
    // The row-th of two sorted sequences: find how many of the first row + 1 come from
    // slot 0, by bisection, so a view's lookups stay cheap with 20,000 rows.
    const Ring &a = rings[0];
    const Ring &b = rings[1];
    const int k = row + 1;
    int low = std::max(0, k - b.count);
    int high = std::min(k, a.count);
    while (low <= high) {
        const int fromA = (low + high) / 2;
        const int fromB = k - fromA;
        if (fromA < a.count && fromB > 0 && b.sequenceAt(fromB - 1) > a.sequenceAt(fromA)) {
            low = fromA + 1; // too few from a
        } else if (fromA > 0 && fromB < b.count && a.sequenceAt(fromA - 1) > b.sequenceAt(fromB)) {
            high = fromA - 1; // too many from a
        } else {
            // The row is the later of the last taken from each.
            const bool lastFromA = fromB == 0
                                   || (fromA > 0 && a.sequenceAt(fromA - 1) > b.sequenceAt(fromB - 1));
            *slot = lastFromA ? 0 : 1;
            *i = lastFromA ? fromA - 1 : fromB - 1;
            return;
        }
    }
    *slot = 0;
    *i = 0;
}

void EventHistory::record(const SlotEvent &event)
{
    if (event.slot < 0 || event.slot >= SlotCount)
        return;
    Ring &ring = rings[event.slot];

    if (ring.count > 0) {
        SlotEvent &last = ring.events[ring.physical(ring.count - 1)];
        if (last.sameAs(event) && qAbs(event.timeMs - ring.lastRepeatMs) <= FoldWindowMs) {
            last.count += std::max(1, event.count);
            ring.lastRepeatMs = event.timeMs;
            const int row = rowOf(event.slot, ring.count - 1);
            emit dataChanged(index(row, TextColumn), index(row, TextColumn));
            return;
        }
    }

    if (ring.count == capacity) {
        // The slot's oldest event makes room; the other slot keeps all of its own.
        const int row = rowOf(event.slot, 0);
        beginRemoveRows(QModelIndex(), row, row);
        ring.events[ring.head] = SlotEvent();
        ring.head = (ring.head + 1) % capacity;
        --ring.count;
        endRemoveRows();
    }

    const int row = size();
    beginInsertRows(QModelIndex(), row, row);
    const int slotPosition = ring.physical(ring.count);
    ring.events[slotPosition] = event;
    ring.events[slotPosition].count = std::max(1, event.count);
    ring.sequence[slotPosition] = nextSequence++;
    ++ring.count;
    ring.lastRepeatMs = event.timeMs;
    endInsertRows();
    emit eventRecorded(ring.events.at(slotPosition));
}

int EventHistory::size() const
{
    return rings[0].count + rings[1].count;
}

SlotEvent EventHistory::at(int row) const
{
    if (row < 0 || row >= size())
        return SlotEvent();
    int slot = 0;
    int i = 0;
    locate(row, &slot, &i);
    return rings[slot].at(i);
}

QVector<SlotEvent> EventHistory::events() const
{
    // A merge of the two rings, in one pass.
    QVector<SlotEvent> all;
    all.reserve(size());
    int i = 0;
    int j = 0;
    const Ring &a = rings[0];
    const Ring &b = rings[1];
    while (i < a.count || j < b.count) {
        if (j >= b.count || (i < a.count && a.sequenceAt(i) < b.sequenceAt(j)))
            all.append(a.at(i++));
        else
            all.append(b.at(j++));
    }
    return all;
}

int EventHistory::rowCount(const QModelIndex &parent) const
{
    return parent.isValid() ? 0 : size();
}

int EventHistory::columnCount(const QModelIndex &parent) const
{
    return parent.isValid() ? 0 : ColumnCount;
}

QString EventHistory::slotName(int slot)
{
    return tr("KIP %1").arg(slot + 1);
}

QString EventHistory::severityText(SlotEvent::Severity severity)
{
    switch (severity) {
    case SlotEvent::Severity::Info: return tr("info");
    case SlotEvent::Severity::Warning: return tr("warning");
    case SlotEvent::Severity::Alarm: return tr("ALARM");
    }
    return QString();
}

QString EventHistory::localTimeText(qint64 timeMs)
{
    return QDateTime::fromMSecsSinceEpoch(timeMs).toString(QStringLiteral("yyyy-MM-dd HH:mm:ss.zzz"));
}

QVariant EventHistory::data(const QModelIndex &index, int role) const
{
    if (!index.isValid() || index.row() >= size())
        return QVariant();
    const SlotEvent event = at(index.row());
    switch (role) {
    case Qt::DisplayRole:
        switch (index.column()) {
        case TimeColumn: return localTimeText(event.timeMs);
        case SlotColumn: return slotName(event.slot);
        case SeverityColumn: return severityText(event.severity);
        case TextColumn:
            return event.count > 1 ? tr("%1 (%2 times)").arg(event.text).arg(event.count) : event.text;
        default: return QVariant();
        }
    case Qt::ToolTipRole:
        return index.column() == TimeColumn ? SlotEvent::isoTime(event.timeMs) : QVariant();
    case EventRole: return QVariant::fromValue(event);
    case SlotRole: return event.slot;
    case SeverityRole: return int(event.severity);
    case KindRole: return int(event.kind);
    case TimeRole: return event.timeMs;
    default: return QVariant();
    }
}

QVariant EventHistory::headerData(int section, Qt::Orientation orientation, int role) const
{
    if (orientation != Qt::Horizontal || role != Qt::DisplayRole)
        return QAbstractTableModel::headerData(section, orientation, role);
    switch (section) {
    case TimeColumn: return tr("Time");
    case SlotColumn: return tr("Slot");
    case SeverityColumn: return tr("Severity");
    case TextColumn: return tr("Event");
    default: return QVariant();
    }
}

} // namespace EMS
