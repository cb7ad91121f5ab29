#include "engine/engineconnection.h"

#include "common/logcategories.h"
#include <QDebug>
#include <QDir>

namespace EMS {

EngineConnection::EngineConnection(QObject *parent)
    : QObject(parent)
    , file(QDir::homePath() + QDir::separator() + QStringLiteral("engine.dat"))
{
}

EngineConnection::~EngineConnection() = default;

void EngineConnection::open()
{
    qCWarning(lcEngine, "Open called when not in console.");
    if (!console || file.isOpen())
        return;
    if (file.open(QIODevice::ReadWrite | QIODevice::Truncate))
        qCDebug(lcEngine, "Opened engine.dat file for writing.");
    else
        qCWarning(lcEngine, "Unable to open engine.dat file for writing.");
}

void EngineConnection::write(QByteArray frame)
{
    if (!file.isOpen() || !console)
        return;
    if (file.write(frame) < frame.size())
        qCWarning(lcEngine).noquote() << QStringLiteral("Error writing to file: ") + file.errorString();
    else
        file.flush();
}

void EngineConnection::close()
{
    if (file.isOpen())
        file.close();
    qCWarning(lcEngine, "Desktop engine connection closed");
}

} // namespace EMS
