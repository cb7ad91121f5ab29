#include "history/eventlogfile.h"

#include "common/logcategories.h"

#include <QDir>
#include <QStandardPaths>

namespace EMS {

EventLogFile::EventLogFile(const QString &folder, QObject *parent, qint64 maxBytes, int fileCount)
    : QObject(parent), path(QDir(folder).filePath(QStringLiteral("events.log"))), maxBytes(std::max<qint64>(1, maxBytes)),
      fileCount(std::max(1, fileCount))
{
    QDir().mkpath(folder);
    file.setFileName(path);
    open();
}

QString EventLogFile::defaultFolder()
{
    return QStandardPaths::writableLocation(QStandardPaths::AppDataLocation);
}

QString EventLogFile::filePath(int age) const
{
    return age == 0 ? path : path + QLatin1Char('.') + QString::number(age);
}

bool EventLogFile::open()
{
    if (file.open(QIODevice::WriteOnly | QIODevice::Append))
        return true;
    if (!warned) {
        // Once: a log that cannot be written must not flood the debug log as well.
        qCWarning(lcSlot).noquote() << "Event log" << path << "cannot be written:" << file.errorString();
        warned = true;
    }
    return false;
}

void EventLogFile::turnOver()
{
    file.close();
    QFile::remove(filePath(fileCount - 1));
    for (int age = fileCount - 1; age > 0; --age)
        QFile::rename(filePath(age - 1), filePath(age));
    if (fileCount == 1)
        QFile::remove(path);
    open();
}

bool EventLogFile::append(const SlotEvent &event)
{
    if (!file.isOpen() && !open())
        return false;
    const QByteArray line = event.toJson().toUtf8() + '\n';
    if (file.size() > 0 && file.size() + line.size() > maxBytes) {
        turnOver();
        if (!file.isOpen())
            return false;
    }
    const bool written = file.write(line) == line.size() && file.flush();
    if (!written && !warned) {
        qCWarning(lcSlot).noquote() << "Event log" << path << "cannot be written:" << file.errorString();
        warned = true;
    }
    return written;
}

} // namespace EMS
