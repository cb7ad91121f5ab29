#include "sim/cardsimulator.h"

#include "sim/bootloaderemulator.h"
#include "sim/cardfirmware.h"
#include "sim/pseudoterminal.h"
#include "sim/seriallinemodel.h"

#include <QTimer>

CardSimulator::CardSimulator(QObject *parent, StartMode mode, Link link)
    : QObject(parent), pty(link == PseudoTerminalLink ? new PseudoTerminal(this) : nullptr), loader(new BootLoaderEmulator(this)),
      application(new CardFirmware(this)), latencyTimer(new QTimer(this))
{
    clock.start();
    latencyTimer->setSingleShot(true);
    connect(latencyTimer, &QTimer::timeout, this, &CardSimulator::deliverDue);

    if (pty) {
        connect(pty, &PseudoTerminal::bytesReceived, this, &CardSimulator::receiveFromHost);
        connect(pty, &PseudoTerminal::openChanged, this, &CardSimulator::linkChanged);
    }
    connect(loader, &BootLoaderEmulator::bytesToHost, this, [this](const QByteArray &bytes) { answer(bytes, true); });
    connect(loader, &BootLoaderEmulator::resetRequested, this, &CardSimulator::leaveBootLoader);
    connect(application, &CardFirmware::bytesToHost, this, [this](const QByteArray &bytes) { answer(bytes, false); });
    connect(application, &CardFirmware::bootLoaderRequested, this, [this] { setInBootLoader(true); });
    // What the host sends right behind its "boot loader" request reaches the boot loader.
    connect(application, &CardFirmware::bytesForBootLoader, loader, &BootLoaderEmulator::receiveBytes);

    if (mode == StartBootLoader) {
        applicationPresent = false;
        setInBootLoader(true);
    }
}

CardSimulator::~CardSimulator() = default;

QString CardSimulator::portName() const
{
    return pty ? pty->slavePath() : QString();
}

bool CardSimulator::setLinkPath(const QString &path)
{
    return pty && pty->setLinkPath(path);
}

void CardSimulator::setInBootLoader(bool bootLoader)
{
    if (bootLoader == inBootLoader)
        return;
    inBootLoader = bootLoader;
    if (inBootLoader)
        loader->restart();
    emit bootLoaderChanged(inBootLoader);
}

void CardSimulator::leaveBootLoader()
{
    if (loader->isImageComplete()) {
        installed = loader->image();
        applicationPresent = true;
        const int version = versionMark(installed);
        if (version >= 0)
            application->state().firmwareVersion = quint8(version);
        emit imageInstalled(installed);
    }
    // A card without a program to start comes back up in its boot loader.
    if (!applicationPresent) {
        loader->restart();
        return;
    }
    setInBootLoader(false);
}

int CardSimulator::versionMark(const QByteArray &image)
{
    const int at = image.indexOf("version");
    if (at < 0 || at + 8 >= image.size())
        return -1;
    return quint8(image.at(at + 8));
}

void CardSimulator::setRealisticLine(bool on, int latencyMs)
{
    if (!on) {
        delete lineModel;
        lineModel = nullptr;
        return;
    }
    if (!lineModel) {
        lineModel = new SerialLineModel(this);
        connect(lineModel, &SerialLineModel::byteAtCard, this, [this](char byte) { route(QByteArray(1, byte)); });
        if (pty)
            connect(lineModel, &SerialLineModel::packetAtHost, pty, &PseudoTerminal::write);
    }
    lineModel->setLatencyMs(latencyMs);
}

void CardSimulator::receiveFromHost(const QByteArray &bytes)
{
    emit bytesFromHost(bytes);
    if (lineModel)
        lineModel->sendFromHost(bytes);
    else
        route(bytes);
}

void CardSimulator::route(const QByteArray &bytes)
{
    if (silence)
        return;
    if (inBootLoader)
        loader->receiveBytes(bytes);
    else
        application->receiveBytes(bytes);
}

void CardSimulator::answer(const QByteArray &bytes, bool fromBootLoader)
{
    // Only the part of the card that runs speaks: no application reports while the
    // boot loader has the link, and the reverse.
    if (silence || bytes.isEmpty() || fromBootLoader != inBootLoader)
        return;
    if (latencyMs <= 0 && delayed.isEmpty()) {
        transmit(bytes);
        return;
    }
    delayed.enqueue({clock.elapsed() + latencyMs, bytes});
    if (!latencyTimer->isActive())
        deliverDue();
}

void CardSimulator::deliverDue()
{
    const qint64 now = clock.elapsed();
    while (!delayed.isEmpty() && delayed.head().due <= now)
        transmit(delayed.dequeue().bytes);
    if (!delayed.isEmpty())
        latencyTimer->start(int(delayed.head().due - now));
}

void CardSimulator::transmit(const QByteArray &bytes)
{
    if (!pty) {
        if (inProcessLinkUp)
            emit bytesToHost(bytes);
        return;
    }
    if (lineModel) {
        if (!pty->isOpen())
            return;
        lineModel->sendFromCard(bytes);
        emit bytesToHost(bytes);
        return;
    }
    if (pty->write(bytes))
        emit bytesToHost(bytes);
}

void CardSimulator::setReplyLatency(int milliseconds)
{
    latencyMs = qMax(0, milliseconds);
}

void CardSimulator::nakNextBootPackets(int count)
{
    loader->nakNextPackets(count);
}

void CardSimulator::failNextStatus(quint8 statusCode)
{
    loader->failNextStatus(statusCode);
}

void CardSimulator::dropLink()
{
    delayed.clear();
    latencyTimer->stop();
    if (lineModel)
        lineModel->clear();
    if (pty) {
        pty->close();
    } else if (inProcessLinkUp) {
        inProcessLinkUp = false;
        emit linkChanged(false);
    }
}

bool CardSimulator::restoreLink()
{
    if (!pty) {
        if (!inProcessLinkUp) {
            inProcessLinkUp = true;
            emit linkChanged(true);
        }
        return true;
    }
    return pty->isOpen() || pty->open();
}

bool CardSimulator::isLinkUp() const
{
    return pty ? pty->isOpen() : inProcessLinkUp;
}
