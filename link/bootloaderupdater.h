#pragma once

#include "link/bootpacket.h"

#include <QByteArray>
#include <QFile>
#include <QObject>
#include <QString>

#include <memory>

class QTimer;

namespace Common {

// Writes a new processor program into a card through the card's serial boot loader.
// The owner connects sendData to the raw serial link, feeds every received block to
// receiveData and calls autoBaud() (probe: the card may be running its application,
// which answers 0xAA) or start() (the card has already been told to enter its boot
// loader). Every command is followed by a GetStatus; a refused command is resent up to
// six times; a failure or the end of the file resets the card and probes it again a
// second later, and the card's 0xAA answer to that probe reports the result.
class Updater : public QObject
{
    Q_OBJECT

public:
    static constexpr int AutoBaudDelayMs = 1000;
    static constexpr int MaxResends = 6;

    Updater(QObject *parent, const QString &fileName);
    ~Updater() override;

    // The path in use: the name given, or its ":/firmware/" fallback.
    QString fileName() const { return file.fileName(); }
    bool isSuccessful() const { return successful; }
    int retryCount() const { return retries; }
    // The last packet sent whose outcome is still open, or null.
    const BootPacket *currentPacket() const { return current.get(); }
    // Single-shot: probes the card again after a reset.
    QTimer *autoBaudTimer() const { return autoBaudDelay; }

signals:
    void sendData(QByteArray data);
    void progress(int percent);
    void finished(bool successful);
    void statusMessage(QString message);
    void updating(bool updating);

public slots:
    void autoBaud();
    void start();
    void receiveData(QByteArray data);

private:
    void send(const BootPacket &packet);
    void handlePacket(const BootPacket &packet);
    void onAck();
    void onNak();
    void onReply(const BootPacket &reply);
    void startDownload();
    void sendNextBlock();
    void finishDownload(bool ok);

    std::unique_ptr<BootPacket> current;
    QByteArray rxBuffer;
    QFile file;
    int retries = 0;
    bool successful = false;
    // Nothing has been sent yet: replies cannot belong to anything of ours.
    bool started = false;
    QTimer *autoBaudDelay;
};

} // namespace Common
