#pragma once

#include <QByteArray>
#include <QMap>
#include <QString>
#include <QTemporaryDir>

namespace UpdateTest {

// Firmware files that this test process alone finds under ":/firmware/".
//
// The upgrader looks in the program's folder first and then in the built-in folder.
// Tests run in parallel and share the program's folder, so a file put there would make
// every other test's slot forms recommend an update and bring their update tabs to the
// front. A resource registered at run time is seen by this process only.
class BuiltInFirmware
{
public:
    BuiltInFirmware();
    ~BuiltInFirmware();

    BuiltInFirmware(const BuiltInFirmware &) = delete;
    BuiltInFirmware &operator=(const BuiltInFirmware &) = delete;

    // Replaces the files installed before by these (file name -> contents); no files
    // removes them all. False, with errorString(), when the resource cannot be built.
    bool install(const QMap<QString, QByteArray> &files);
    QString errorString() const { return error; }

    static QString path(const QString &fileName) { return QStringLiteral(":/firmware/") + fileName; }

private:
    void unregister();

    QTemporaryDir dir;
    QString registered;
    int generation = 0;
    QString error;
};

// A processor code file whose version mark ("version", one separator byte, then the
// version byte) reads `version`; the rest is a pattern that holds no "version".
QByteArray codeImage(quint8 version, int size);
// An FPGA image whose version mark (ten bytes from four before the first "/") is
// `mark`; the rest holds no "/".
QByteArray fpgaImage(const QByteArray &mark, int size);

} // namespace UpdateTest
