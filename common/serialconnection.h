#pragma once

#include "common/iconnection.h"

#include <QSerialPort>
#include <QString>

namespace Common {

class ILogger;

// A serial port at 115200 baud 8N1 without flow control.
class SerialConnection : public ConnectionSignals, public IConnection
{
    Q_OBJECT

public:
    static constexpr qint32 BaudRate = 115200;

    SerialConnection(const QString &portName, ILogger *logger = nullptr, QObject *parent = nullptr);

    bool isOpen() const override;
    ConnectionSignals *connectionSignals() override { return this; }

    QString portName() const { return name; }
    QSerialPort *serialPort() const { return port; }

public slots:
    void open() override;
    void close() override;
    void send(QByteArray data) override;

private slots:
    void readData();
    void onError(QSerialPort::SerialPortError error);

private:
    bool configureLine();
    QString errorLine(int errorCode) const;

    QSerialPort *port;
    QString name;
    ILogger *logger;
};

} // namespace Common
