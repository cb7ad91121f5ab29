#include "history/slotevent.h"

#include <QDateTime>

namespace EMS {

QString SlotEvent::kindName(Kind kind)
{
    switch (kind) {
    case Kind::Card: return QStringLiteral("card");
    case Kind::Clock: return QStringLiteral("clock");
    case Kind::Health: return QStringLiteral("health");
    case Kind::Link: return QStringLiteral("link");
    case Kind::Update: return QStringLiteral("update");
    }
    return QString();
}

QString SlotEvent::severityName(Severity s)
{
    switch (s) {
    case Severity::Info: return QStringLiteral("info");
    case Severity::Warning: return QStringLiteral("warning");
    case Severity::Alarm: return QStringLiteral("alarm");
    }
    return QString();
}

bool SlotEvent::kindFromName(const QString &name, Kind *kind)
{
    for (Kind k : {Kind::Card, Kind::Clock, Kind::Health, Kind::Link, Kind::Update}) {
        if (kindName(k) == name) {
            *kind = k;
            return true;
        }
    }
    return false;
}

bool SlotEvent::severityFromName(const QString &name, Severity *severity)
{
    for (Severity s : {Severity::Info, Severity::Warning, Severity::Alarm}) {
        if (severityName(s) == name) {
            *severity = s;
            return true;
        }
    }
    return false;
}

QString SlotEvent::isoTime(qint64 timeMs)
{
    return QDateTime::fromMSecsSinceEpoch(timeMs, Qt::UTC).toString(Qt::ISODateWithMs);
}

namespace {

// JSON string escaping: quotes, backslashes and control characters (a card's nonsense
// can end up in a text).
QString jsonString(const QString &text)
{
    QString quoted;
    quoted.reserve(text.size() + 2);
    quoted += QLatin1Char('"');
    for (const QChar c : text) {
        switch (c.unicode()) {
        case '"': quoted += QLatin1String("\\\""); break;
        case '\\': quoted += QLatin1String("\\\\"); break;
        case '\n': quoted += QLatin1String("\\n"); break;
        case '\r': quoted += QLatin1String("\\r"); break;
        case '\t': quoted += QLatin1String("\\t"); break;
        default:
            if (c.unicode() < 0x20)
                quoted += QStringLiteral("\\u%1").arg(c.unicode(), 4, 16, QLatin1Char('0'));
            else
                quoted += c;
        }
    }
    quoted += QLatin1Char('"');
    return quoted;
}

} // namespace

QString SlotEvent::toJson() const
{
    // Built in a fixed key order, so log lines read alike and cost little.
    return QLatin1String("{\"time\":\"") + isoTime(timeMs) + QLatin1String("\",\"timeMs\":")
        + QString::number(timeMs) + QLatin1String(",\"slot\":") + QString::number(slot + 1)
        + QLatin1String(",\"kind\":\"") + kindName(kind) + QLatin1String("\",\"severity\":\"")
        + severityName(severity) + QLatin1String("\",\"text\":") + jsonString(text)
        + QLatin1String(",\"count\":") + QString::number(count) + QLatin1Char('}');
}

} // namespace EMS
