#pragma once

#include <QMetaType>
#include <QString>

namespace EMS {

// One thing that happened in a slot of the box, as the event history keeps it: when
// (wall clock, so a log read the morning after matches the show's running order), in
// which slot, what kind of thing, how serious, and in words.
struct SlotEvent
{
    enum class Kind { Card, Clock, Health, Link, Update };
    enum class Severity { Info, Warning, Alarm };

    qint64 timeMs = 0; // wall clock, ms since the epoch (UTC)
    int slot = 0;      // 0 = KIP 1, 1 = KIP 2
    Kind kind = Kind::Card;
    Severity severity = Severity::Info;
    QString text;
    int count = 1; // identical events within a second are counted on one row

    static QString kindName(Kind kind);          // "card", "clock", "health", "link", "update"
    static QString severityName(Severity s);     // "info", "warning", "alarm"
    // The names back; false for a name that is none of them.
    static bool kindFromName(const QString &name, Kind *kind);
    static bool severityFromName(const QString &name, Severity *severity);
    // The time as ISO 8601 in UTC with milliseconds, e.g. 2026-03-07T21:04:05.123Z.
    static QString isoTime(qint64 timeMs);

    // One JSON object on one line:
    // {"time":"<ISO 8601 UTC with ms>","timeMs":…,"slot":1|2,"kind":…,"severity":…,"text":…,"count":…}
    QString toJson() const;

    // The same event happening again: what folds a repeat into its row.
    bool sameAs(const SlotEvent &other) const
    {
        return slot == other.slot && kind == other.kind && severity == other.severity && text == other.text;
    }
    bool operator==(const SlotEvent &other) const
    {
        return sameAs(other) && timeMs == other.timeMs && count == other.count;
    }
    bool operator!=(const SlotEvent &other) const { return !(*this == other); }
};

} // namespace EMS

Q_DECLARE_METATYPE(EMS::SlotEvent)
