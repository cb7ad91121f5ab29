#pragma once

#include "link/bytetransport.h"
#include "link/lowlatency.h"

namespace EMS {

// A card's USB serial adapter at the card link's fixed line settings: 115200 baud, 8 data
// bits, no parity, one stop bit, no flow control.
class SerialTransport : public ByteTransport
{
    Q_OBJECT

public:
    static constexpr qint32 BaudRate = 115200;

    explicit SerialTransport(QObject *parent = nullptr);

    OpenResult open(const QString &portName) override;
    void close() override;
    bool isOpen() const override;
    qint64 write(const QByteArray &data) override;
    QByteArray readAll() override;

private:
    bool configureLine();

    QSerialPort *port;
    LowLatencyRequest lowLatency;
};

} // namespace EMS
