#include "engine/engineconnection.h"

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
    qWarning("Open called when not in console.");
    if (!console || file.isOpen())
        return;
    if (file.open(QIODevice::ReadWrite | QIODevice::Truncate))
        qDebug("Opened engine.dat file for writing.");
    else
        qWarning("Unable to open engine.dat file for writing.");
}

void EngineConnection::write(QByteArray frame)
{
    if (!file.isOpen() || !console)
        return;
    if (file.write(frame) < frame.size())
        qWarning().noquote() << QStringLiteral("Error writing to file: ") + file.errorString();
    else
        file.flush();
}

void EngineConnection::close()
{
    if (file.isOpen())
        file.close();
    qWarning("Desktop engine connection closed");
}

} // namespace EMS
