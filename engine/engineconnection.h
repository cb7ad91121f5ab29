#pragma once

#include <QByteArray>
#include <QFile>
#include <QObject>

namespace EMS {

// The engine link to a desktop engine running on this machine: frames are written to
// "engine.dat" in the user's home folder. Only a controller that runs inside the
// console (inConsole) writes it; nothing reads it back, so dataReceived never fires.
class EngineConnection : public QObject
{
    Q_OBJECT

public:
    explicit EngineConnection(QObject *parent = nullptr);
    ~EngineConnection() override;

    bool isOpen() const { return file.isOpen(); }
    bool inConsole() const { return console; }
    void setInConsole(bool inConsole) { console = inConsole; }
    QString fileName() const { return file.fileName(); }

public slots:
    void open();
    void close();
    void write(QByteArray frame);

signals:
    void dataReceived(QByteArray data);
    void statusMessage(QString status);

private:
    bool console = false;
    QFile file;
};

} // namespace EMS
