#pragma once

#include "history/slotevent.h"

#include <QAbstractTableModel>
#include <QVector>

namespace EMS {

// What happened in the box's two slots, oldest first, as a table: time, slot, severity,
// text. Each slot keeps its newest events in a ring of fixed size, so the history takes
// the same memory after a week as after an hour; the rows interleave both slots in the
// order the events were recorded. A repeat of a slot's last event within a second is
// counted on that event's row instead of filling the table.
class EventHistory : public QAbstractTableModel
{
    Q_OBJECT

public:
    static constexpr int DefaultCapacityPerSlot = 10000;
    static constexpr int SlotCount = 2;
    // A repeat this close to the last one is folded into its row.
    static constexpr qint64 FoldWindowMs = 1000;

    enum Column { TimeColumn, SlotColumn, SeverityColumn, TextColumn, ColumnCount };
    enum Role {
        EventRole = Qt::UserRole + 1, // the whole SlotEvent
        SlotRole,                     // int, 0 = KIP 1
        SeverityRole,                 // int, SlotEvent::Severity
        KindRole,                     // int, SlotEvent::Kind
        TimeRole,                     // qint64, ms since the epoch
    };

    explicit EventHistory(QObject *parent = nullptr, int capacityPerSlot = DefaultCapacityPerSlot);

    // Adds the event as the newest row, or counts it on the slot's last row when it is
    // the same event (slot, kind, severity, text) within FoldWindowMs of its last
    // repeat. An event for a slot the box does not have is dropped.
    void record(const EMS::SlotEvent &event);

    int size() const;
    EMS::SlotEvent at(int row) const; // row 0 = oldest
    QVector<EMS::SlotEvent> events() const;
    int capacityPerSlot() const { return capacity; }

    int rowCount(const QModelIndex &parent = QModelIndex()) const override;
    int columnCount(const QModelIndex &parent = QModelIndex()) const override;
    QVariant data(const QModelIndex &index, int role = Qt::DisplayRole) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role = Qt::DisplayRole) const override;

    // The texts the table shows, for views and exports alike.
    static QString slotName(int slot);
    static QString severityText(SlotEvent::Severity severity);
    static QString localTimeText(qint64 timeMs);

signals:
    void eventRecorded(const EMS::SlotEvent &event); // a new row (not emitted for a folded repeat)

private:
    // One slot's newest events in a fixed ring, each with its place in the order of
    // recording (its sequence number), oldest first.
    struct Ring
    {
        QVector<SlotEvent> events;
        QVector<quint64> sequence;
        int head = 0; // the oldest
        int count = 0;
        qint64 lastRepeatMs = 0;

        int physical(int i) const { return (head + i) % events.size(); }
        const SlotEvent &at(int i) const { return events.at(physical(i)); }
        quint64 sequenceAt(int i) const { return sequence.at(physical(i)); }
        // How many of this ring's events were recorded before the sequence number.
        int countBefore(quint64 number) const;
    };

    // The table row of a slot's i-th event.
    int rowOf(int slot, int i) const;
    // The slot and ring position of a table row.
    void locate(int row, int *slot, int *i) const;

    int capacity;
    quint64 nextSequence = 0;
    Ring rings[SlotCount];
};

} // namespace EMS
