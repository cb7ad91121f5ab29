#include "history/eventfiltermodel.h"

#include "history/eventhistory.h"

namespace EMS {

EventFilterModel::EventFilterModel(QObject *parent) : QSortFilterProxyModel(parent)
{
    // Rows arriving during a show land in their sorted place at once.
    setDynamicSortFilter(true);
    sort(EventHistory::TimeColumn, Qt::DescendingOrder);
}

void EventFilterModel::setSlotShown(int shown)
{
    slot = shown;
    invalidateFilter();
}

void EventFilterModel::setLeastSeverity(SlotEvent::Severity severity)
{
    least = severity;
    invalidateFilter();
}

void EventFilterModel::setSearchText(const QString &text)
{
    search = text;
    invalidateFilter();
}

bool EventFilterModel::filterAcceptsRow(int sourceRow, const QModelIndex &sourceParent) const
{
    const QModelIndex index = sourceModel()->index(sourceRow, EventHistory::TextColumn, sourceParent);
    if (slot != AllSlots && index.data(EventHistory::SlotRole).toInt() != slot)
        return false;
    if (index.data(EventHistory::SeverityRole).toInt() < int(least))
        return false;
    return search.isEmpty() || index.data(Qt::DisplayRole).toString().contains(search, Qt::CaseInsensitive);
}

bool EventFilterModel::lessThan(const QModelIndex &left, const QModelIndex &right) const
{
    // The history's rows are in the order the events happened, whatever the clock said
    // (two events may share a millisecond, and the wall clock may be set back).
    return left.row() < right.row();
}

} // namespace EMS
