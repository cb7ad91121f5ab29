#include "support/builtinfirmware.h"

#include "common/resources.h"

#include <QDir>
#include <QFile>
#include <QLibraryInfo>
#include <QProcess>
#include <QResource>
#include <QStandardPaths>

namespace {

QString rccProgram()
{
    const QString beside = QLibraryInfo::location(QLibraryInfo::BinariesPath) + QStringLiteral("/rcc");
    if (QFile::exists(beside))
        return beside;
    return QStandardPaths::findExecutable(QStringLiteral("rcc"));
}

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
    // The program's own built-in folder is registered first, as the upgrader does.
    Common::initResources();
}

BuiltInFirmware::~BuiltInFirmware()
{
    unregister();
}

void BuiltInFirmware::unregister()
{
    if (!registered.isEmpty())
        QResource::unregisterResource(registered);
    registered.clear();
}

bool BuiltInFirmware::install(const QMap<QString, QByteArray> &files)
{
    unregister();
    if (files.isEmpty())
        return true;
    if (!dir.isValid()) {
        error = QStringLiteral("no temporary folder");
        return false;
    }

    const QString folder = dir.filePath(QStringLiteral("g%1").arg(++generation));
    QDir().mkpath(folder);
    QString qrc = QStringLiteral("<RCC><qresource prefix=\"/firmware\">");
    for (auto it = files.constBegin(); it != files.constEnd(); ++it) {
        if (!writeFile(folder + QLatin1Char('/') + it.key(), it.value())) {
            error = QStringLiteral("cannot write %1").arg(it.key());
            return false;
        }
        qrc += QStringLiteral("<file>%1</file>").arg(it.key());
    }
    qrc += QStringLiteral("</qresource></RCC>");
    const QString qrcPath = folder + QStringLiteral("/firmware.qrc");
    const QString rccPath = folder + QStringLiteral(".rcc");
    if (!writeFile(qrcPath, qrc.toUtf8())) {
        error = QStringLiteral("cannot write the resource list");
        return false;
    }

    QProcess rcc;
    rcc.start(rccProgram(), {QStringLiteral("--binary"), QStringLiteral("-o"), rccPath, qrcPath});
    if (!rcc.waitForFinished(30000) || rcc.exitCode() != 0) {
        error = QStringLiteral("rcc failed: %1 %2").arg(rcc.errorString(), QString::fromLocal8Bit(rcc.readAllStandardError()));
        return false;
    }
    if (!QResource::registerResource(rccPath)) {
        error = QStringLiteral("cannot register %1").arg(rccPath);
        return false;
    }
    registered = rccPath;
    return true;
}

QByteArray codeImage(quint8 version, int size)
{
    QByteArray image = pattern(size, 11);
    const QByteArray mark = QByteArray("version") + ' ' + char(version);
    image.replace(16, mark.size(), mark);
    return image;
}

QByteArray fpgaImage(const QByteArray &mark, int size)
{
    QByteArray image = pattern(size, 5).replace('/', '.');
    image.replace(32, mark.size(), mark);
    return image;
}

} // namespace UpdateTest
