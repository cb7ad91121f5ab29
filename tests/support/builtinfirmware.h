#pragma once

#include <QByteArray>
#include <QMap>
#include <QString>
#include <QTemporaryDir>

namespace UpdateTest {

// Firmware files under ":/firmware/" seen by this test process only: files in the shared
// program folder would make every other test's slot forms recommend an update.
class BuiltInFirmware
{
public:
    BuiltInFirmware();
    ~BuiltInFirmware();
    BuiltInFirmware(const BuiltInFirmware &) = delete;
    BuiltInFirmware &operator=(const BuiltInFirmware &) = delete;

    // Replaces the files installed before (file name -> contents); none removes them all.
    // False, with a warning, when the resource cannot be built.
    bool install(const QMap<QString, QByteArray> &files);
    static QString path(const QString &fileName) { return QStringLiteral(":/firmware/") + fileName; }

private:
    QTemporaryDir dir;
    QString registered;
    int generation = 0;
};

// A code file whose version mark ("version", a separator, the version byte) reads `version`.
QByteArray codeImage(quint8 version, int size);
// An FPGA image whose version mark (ten bytes from four before the first "/") is `mark`.
QByteArray fpgaImage(const QByteArray &mark, int size);

} // namespace UpdateTest
