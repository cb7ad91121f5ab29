#include "fuzzsupport.h"

#include "update/optocoreupdater.h"

#include <QApplication>
#include <QCoreApplication>
#include <QDir>
#include <QEvent>
#include <QFile>
#include <QTemporaryDir>

#include <cstdio>
#include <cstdlib>

namespace FuzzSupport {

namespace {

void quietMessages(QtMsgType type, const QMessageLogContext &, const QString &message)
{
    if (type == QtFatalMsg) {
        std::fprintf(stderr, "FATAL: %s\n", qPrintable(message));
        std::abort();
    }
}

int argc = 1;
char programName[] = "sablefold-fuzz";
char *argv[] = {programName, nullptr};

} // namespace

void startApplication(bool widgets)
{
    if (QCoreApplication::instance())
        return;
    qInstallMessageHandler(quietMessages);
    if (widgets) {
        qputenv("QT_QPA_PLATFORM", "offscreen");
        new QApplication(argc, argv); // kept for the whole run
    } else {
        new QCoreApplication(argc, argv);
    }
}

QString scratchDir()
{
    // Removed again when the process ends normally.
    static QTemporaryDir dir(QDir::tempPath() + QStringLiteral("/sablefold-fuzz-XXXXXX"));
    return dir.path();
}

QString scratchFile(const QString &name, const QByteArray &contents)
{
    const QString path = scratchDir() + QLatin1Char('/') + name;
    if (!QFile::exists(path)) {
        QFile file(path);
        if (!file.open(QIODevice::WriteOnly) || file.write(contents) != contents.size()) {
            std::fprintf(stderr, "cannot write %s\n", qPrintable(path));
            std::abort();
        }
    }
    return path;
}

namespace {

void provide(const QString &path, const QByteArray &contents)
{
    QFile file(path);
    if (file.exists() && file.size() == contents.size())
        return;
    if (!file.open(QIODevice::WriteOnly) || file.write(contents) != contents.size()) {
        std::fprintf(stderr, "cannot write %s\n", qPrintable(path));
        std::abort();
    }
}

} // namespace

void provideOptocoreFiles()
{
    provide(EMS::OptocoreUpdater::buildInfoPath(), QByteArrayLiteral("build 7122"));
    provide(EMS::OptocoreUpdater::firstFilePath(), patternBytes(300, 3));
    provide(EMS::OptocoreUpdater::secondFilePath(), patternBytes(130, 4));
}

QByteArray patternBytes(int size, quint8 seed)
{
    QByteArray bytes(size, '\0');
    quint8 value = seed;
    for (int i = 0; i < size; ++i) {
        value = quint8(value * 37 + 11);
        bytes[i] = char(value);
    }
    return bytes;
}

QString codeFile(int choice)
{
    switch (choice & 3) {
    case 0:
        return scratchFile(QStringLiteral("code100.bin"), patternBytes(100, 1));
    case 1:
        return scratchFile(QStringLiteral("code0.bin"), QByteArray());
    case 2:
        return scratchFile(QStringLiteral("code200.bin"), patternBytes(200, 2));
    default:
        // Missing from the file system and from the resources.
        return scratchDir() + QStringLiteral("/missing.bin");
    }
}

QString fpgaImageFile(int choice)
{
    static const int sizes[8] = {128, 0, 1, 300, 129, 1000, 127, 256};
    const int size = sizes[choice & 7];
    return scratchFile(QStringLiteral("image%1.bit").arg(size), patternBytes(size, quint8(size)));
}

void deliverPostedEvents()
{
    QCoreApplication::sendPostedEvents();
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
}

QVector<QByteArray> chunks(const QByteArray &bytes, int chunkSize)
{
    chunkSize = qBound(1, chunkSize, 256);
    QVector<QByteArray> parts;
    for (int at = 0; at < bytes.size(); at += chunkSize)
        parts.append(bytes.mid(at, chunkSize));
    return parts;
}

QVector<Record> readRecords(const QByteArray &bytes)
{
    QVector<Record> records;
    int at = 0;
    while (at + 2 <= bytes.size()) {
        Record record;
        record.param = quint8(bytes.at(at));
        const int length = quint8(bytes.at(at + 1));
        at += 2;
        record.payload = bytes.mid(at, length); // a record cut short keeps what is there
        at += length;
        records.append(record);
    }
    return records;
}

QByteArray writeRecord(int param, const QByteArray &payload)
{
    QByteArray record;
    record.append(char(param));
    record.append(char(qMin(payload.size(), 255)));
    record.append(payload.left(255));
    return record;
}

} // namespace FuzzSupport
