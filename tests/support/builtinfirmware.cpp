#include "support/builtinfirmware.h"

#include "common/resources.h"

#include <QDir>
#include <QFile>
#include <QLibraryInfo>
#include <QProcess>
#include <QResource>
#include <QStandardPaths>

namespace {

bool writeFile(const QString &path, const QByteArray &bytes)
{
    QFile file(path);
    return file.open(QIODevice::WriteOnly | QIODevice::Truncate) && file.write(bytes) == bytes.size();
}

QByteArray pattern(int size, int seed)
{
    QByteArray bytes(size, '\0');
    for (int i = 0; i < size; ++i)
        bytes[i] = char((i * 37 + seed) & 0x7F);
    return bytes;
}

} // namespace

namespace UpdateTest {

BuiltInFirmware::BuiltInFirmware()
{
    Common::initResources(); // the program's own built-in folder first, as the upgrader does
}

BuiltInFirmware::~BuiltInFirmware()
{
    install({});
}

bool BuiltInFirmware::install(const QMap<QString, QByteArray> &files)
{
    if (!registered.isEmpty())
        QResource::unregisterResource(registered);
    registered.clear();
    if (files.isEmpty())
        return true;
    const QString folder = dir.filePath(QStringLiteral("g%1").arg(++generation));
    const QString rccPath = folder + QStringLiteral(".rcc"), qrcPath = folder + QStringLiteral("/firmware.qrc");
    QString qrc = QStringLiteral("<RCC><qresource prefix=\"/firmware\">");
    bool written = dir.isValid() && QDir().mkpath(folder);
    for (auto it = files.constBegin(); it != files.constEnd(); ++it) {
        written = written && writeFile(folder + QLatin1Char('/') + it.key(), it.value());
        qrc += QStringLiteral("<file>%1</file>").arg(it.key());
    }
    if (!written || !writeFile(qrcPath, (qrc + QStringLiteral("</qresource></RCC>")).toUtf8())) {
        qWarning("cannot write the firmware files under %s", qPrintable(folder));
        return false;
    }
    QString rcc = QLibraryInfo::location(QLibraryInfo::BinariesPath) + QStringLiteral("/rcc");
    if (!QFile::exists(rcc))
        rcc = QStandardPaths::findExecutable(QStringLiteral("rcc"));
    QProcess process;
    process.start(rcc, {QStringLiteral("--binary"), QStringLiteral("-o"), rccPath, qrcPath});
    if (!process.waitForFinished(30000) || process.exitCode() != 0 || !QResource::registerResource(rccPath)) {
        qWarning("rcc failed: %s %s", qPrintable(process.errorString()), process.readAllStandardError().constData());
        return false;
    }
    registered = rccPath;
    return true;
}

QByteArray codeImage(quint8 version, int size)
{
    const QByteArray mark = QByteArray("version ") + char(version);
    return pattern(size, 11).replace(16, mark.size(), mark);
}

QByteArray fpgaImage(const QByteArray &mark, int size)
{
    return pattern(size, 5).replace('/', '.').replace(32, mark.size(), mark);
}

} // namespace UpdateTest
