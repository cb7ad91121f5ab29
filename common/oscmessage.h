#pragma once

#include <QMetaType>
#include <QString>
#include <QStringList>
#include <QVariant>

namespace Common {

// One named value; an invalid value means the message carries no argument.
struct OscParameter
{
    QString name;
    QVariant value;

    bool operator==(const OscParameter &other) const
    {
        return name == other.name && value == other.value;
    }
};

// An OSC message with one argument, kept as the container path (leading "/", no
// trailing "/", the root being "/") and the parameter at its end.
struct OscMessage
{
    QString path;
    OscParameter parameter;

    // Splits an address into container and name: "/input/1/gain" gives path
    // "/input/1" and name "gain"; "gain" gives "/" and "gain".
    static OscMessage fromAddress(const QString &address, const QVariant &value);

    // The address the message goes to: path, "/", name.
    QString address() const;
    // The address's parts between the slashes, empty parts dropped.
    QStringList components() const;

    bool operator==(const OscMessage &other) const
    {
        return path == other.path && parameter == other.parameter;
    }
};

// Path rules. The separator is "/".
namespace OscPath {
// "/" unless a starts with one, a, "/" unless a ends with one, b; then one trailing
// "/" removed, except from the root "/" itself.
QString join(const QString &a, const QString &b);
// A leading "/" and no trailing "/"; the root stays "/".
QString normalize(const QString &path);
// Up to and including the last "/"; empty without one.
QString containerOf(const QString &path);
// After the last "/"; empty without one or when the path ends with one.
QString nameOf(const QString &path);
} // namespace OscPath

void registerOscMetaTypes();

} // namespace Common

Q_DECLARE_METATYPE(Common::OscParameter)
Q_DECLARE_METATYPE(Common::OscMessage)
