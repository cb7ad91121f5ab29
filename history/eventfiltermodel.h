#pragma once

#include "history/slotevent.h"

#include <QSortFilterProxyModel>

namespace EMS {

// The event history as the Events window lists it: newest first, narrowed to one slot,
// to a least severity, and to rows whose text holds the search words.
class EventFilterModel : public QSortFilterProxyModel
{
    Q_OBJECT

public:
    static constexpr int AllSlots = -1;

    explicit EventFilterModel(QObject *parent = nullptr);

    void setSlotShown(int slot); // AllSlots, 0 or 1
    int slotShown() const { return slot; }
    void setLeastSeverity(SlotEvent::Severity severity);
    SlotEvent::Severity leastSeverity() const { return least; }
    // Case-insensitive, anywhere in the text; empty shows every row.
    void setSearchText(const QString &text);
    QString searchText() const { return search; }

protected:
    bool filterAcceptsRow(int sourceRow, const QModelIndex &sourceParent) const override;
    bool lessThan(const QModelIndex &left, const QModelIndex &right) const override;

private:
    int slot = AllSlots;
    SlotEvent::Severity least = SlotEvent::Severity::Info;
    QString search;
};

} // namespace EMS
