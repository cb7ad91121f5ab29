#include "common/oscmessage.h"

namespace Common {

namespace {
const QChar Separator = QLatin1Char('/');
}

namespace OscPath {

QString join(const QString &a, const QString &b)
{
    QString joined;
    if (!a.startsWith(Separator))
        joined += Separator;
    joined += a;
    if (!a.endsWith(Separator))
        joined += Separator;
    joined += b;
    // The root is the one path that is only a separator; stripping it would leave a
    // path that is not a path.
    if (joined.size() > 1 && joined.endsWith(Separator))
        joined.chop(1);
    return joined;
}

QString normalize(const QString &path)
{
    return join(path, QString());
}

QString containerOf(const QString &path)
{
    const int last = path.lastIndexOf(Separator);
    return last < 0 ? QString() : path.left(last + 1);
}

QString nameOf(const QString &path)
{
    const int last = path.lastIndexOf(Separator);
    return last < 0 ? QString() : path.mid(last + 1);
}

} // namespace OscPath

OscMessage OscMessage::fromAddress(const QString &address, const QVariant &value)
{
    const QString full = OscPath::normalize(address);
    OscMessage message;
    message.parameter.name = OscPath::nameOf(full);
    message.parameter.value = value;
    message.path = OscPath::normalize(OscPath::containerOf(full));
    return message;
}

QString OscMessage::address() const
{
    return path.endsWith(Separator) ? path + parameter.name : path + Separator + parameter.name;
}

QStringList OscMessage::components() const
{
    return address().split(Separator, Qt::SkipEmptyParts);
}

void registerOscMetaTypes()
{
    qRegisterMetaType<Common::OscParameter>("Common::OscParameter");
    qRegisterMetaType<Common::OscMessage>("Common::OscMessage");
}

} // namespace Common

namespace {
// Queued connections and QVariant need the names; register them before any use.
void registerAtLoad()
{
    Common::registerOscMetaTypes();
}
} // namespace
Q_CONSTRUCTOR_FUNCTION(registerAtLoad)
