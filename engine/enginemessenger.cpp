#include "engine/enginemessenger.h"

#include "common/logcategories.h"
#include "engine/appconnection.h"
#include "engine/engineconnection.h"

#include <QDebug>
#include <QPointer>
#include <QtEndian>

namespace EMS {

constexpr char EngineMessenger::ErrorPrefix[];

EngineMessenger::EngineMessenger(QObject *parent)
    : QObject(parent)
    , fileLink(new EngineConnection(this))
    , networkLink(new AppConnection(this, QStringLiteral("engine")))
{
    // Whoever owns the messenger may show its texts: relay them when it can.
    if (parent && parent->metaObject()->indexOfSignal("statusMessage(QString)") >= 0)
        connect(this, SIGNAL(statusMessage(QString)), parent, SIGNAL(statusMessage(QString)));
    connect(networkLink, &AppConnection::statusMessage, this, &EngineMessenger::statusMessage);
}

EngineMessenger::~EngineMessenger() = default;

void EngineMessenger::open(const QString &host, quint16 port)
{
    open(host, port, port);
}

void EngineMessenger::open(const QString &host, quint16 remotePort, quint16 localPort)
{
    close();
    if (host.isEmpty()) {
        connect(fileLink, &EngineConnection::dataReceived, this, &EngineMessenger::receiveData,
                Qt::UniqueConnection);
        fileLink->open();
    } else {
        connect(networkLink, &AppConnection::dataReceived, this, &EngineMessenger::receiveData,
                Qt::UniqueConnection);
        networkLink->open(host, remotePort, localPort);
    }
}

void EngineMessenger::close()
{
    // The file link may never have opened (outside the console it does not), yet it
    // was connected: disconnect both whatever their state, so a reopen never doubles
    // the delivery of received bytes.
    if (fileLink->isOpen())
        fileLink->close();
    disconnect(fileLink, &EngineConnection::dataReceived, this, &EngineMessenger::receiveData);
    if (networkLink->isOpen())
        networkLink->close();
    disconnect(networkLink, &AppConnection::dataReceived, this, &EngineMessenger::receiveData);
}

bool EngineMessenger::isOpen() const
{
    return fileLink->isOpen() || networkLink->isOpen();
}

void EngineMessenger::sendMessage(EngineMessage *message)
{
    if (!message)
        return;
    message->setSequence(sequenceCounter);
    sequenceCounter = (sequenceCounter + 1) & 0xFFFF;

    if (!fileLink->isOpen() && !networkLink->isOpen())
        return;
    const QByteArray frame = message->toFrame();
    if (frame.isEmpty()) {
        report(tr("Message too long to send: %1 value words").arg(message->valueCount()));
        return;
    }
    if (fileLink->isOpen())
        fileLink->write(frame);
    else
        networkLink->send(frame);
}

void EngineMessenger::report(const QString &text)
{
    const QString line = QLatin1String(ErrorPrefix) + text;
    qCDebug(lcEngine).noquote() << line;
    emit statusMessage(line);
}

void EngineMessenger::countReceiveError(const QString &text)
{
    ++receiveErrorCount;
    emit errorsReceived(receiveErrorCount);
    report(text);
}

void EngineMessenger::dropFront(int count)
{
    receiveBuffer.remove(0, count);
    examinedUpTo = qMax(0, examinedUpTo - count);
    int kept = 0;
    for (int position : qAsConst(waiting)) {
        if (position >= count)
            waiting[kept++] = position - count;
    }
    waiting.resize(kept);
}

EngineMessenger::Candidate EngineMessenger::frameAt(int position) const
{
    const int size = receiveBuffer.size();
    const auto *bytes = reinterpret_cast<const uchar *>(receiveBuffer.constData());
    const int words = bytes[position];
    if (words < EngineMessage::MinFrameWords)
        return Candidate::NotAFrame;
    if (position + 4 > size)
        return Candidate::Incomplete;
    if (bytes[position + 2] != 0xA5 || bytes[position + 3] != 0xFF)
        return Candidate::NotAFrame;
    if (position + 4 * words + 4 > size)
        return Candidate::Incomplete;
    return Candidate::Whole;
}

void EngineMessenger::receiveData(QByteArray rawData)
{
    const qint64 total = qint64(receiveBuffer.size()) + rawData.size();
    if (total > MaxBufferBytes) {
        // Checked before appending, so a huge datagram is never copied in.
        dropFront(receiveBuffer.size());
        countReceiveError(tr("Buffer was too big: %1 data ignored.").arg(total));
        return;
    }
    receiveBuffer.append(rawData);
    peakBuffered = qMax(peakBuffered, receiveBuffer.size());
    scan();
}

void EngineMessenger::scan()
{
    // Receivers of our signals may feed more data in (re-entering here) or delete us;
    // after every emission the scan starts over from the first waiting position, whose
    // state is then re-read rather than trusted.
    QPointer<EngineMessenger> alive(this);

    int next = 0; // index into waiting; past its end, the unexamined positions follow
    for (;;) {
        const bool wasWaiting = next < waiting.size();
        int position;
        if (wasWaiting)
            position = waiting.at(next);
        else if (examinedUpTo < receiveBuffer.size())
            position = examinedUpTo;
        else
            break;

        const Candidate candidate = frameAt(position);
        if (candidate == Candidate::Incomplete) {
            if (!wasWaiting) {
                waiting.append(position);
                ++examinedUpTo;
            }
            ++next;
            continue;
        }
        // Settled either way: it is never looked at again.
        if (wasWaiting)
            waiting.remove(next);
        else
            ++examinedUpTo;
        if (candidate == Candidate::NotAFrame)
            continue;

        takeFrameAt(position);
        if (!alive)
            return;
        next = 0;
    }
}

// Checks and decodes the whole frame at position; reports what it found.
void EngineMessenger::takeFrameAt(int position)
{
    QPointer<EngineMessenger> alive(this);
    const char *frame = receiveBuffer.constData() + position;
    const int words = quint8(frame[0]);
    const int frameBytes = 4 * words + 4;
    const quint32 sum = EngineMessage::wordSum(frame, words);
    const quint32 received = qFromLittleEndian<quint32>(frame + 4 * words);
    if (sum != received) {
        // The bytes stay: they are junk to report if a good frame follows them.
        countReceiveError(tr("Invalid checksum %1 != %2").arg(sum).arg(received));
        return;
    }

    EngineMessage message(receiveBuffer.mid(position, frameBytes));
    // The buffer is brought up to date before anything is emitted, so that a receiver
    // feeding in more data finds it consistent.
    if (message.isValid()) {
        const QByteArray junk = receiveBuffer.left(position);
        dropFront(position + frameBytes);
        emit messageReceived(&message);
        if (!alive)
            return;
        if (!junk.isEmpty()) {
            countReceiveError(tr("Rx data error from engine: %1 ignored").arg(QString::fromLatin1(junk.toHex())));
            if (!alive)
                return;
        }
    } else {
        dropFront(position + 1);
        countReceiveError(tr("Invalid engine message: %1").arg(QString::fromLatin1(receiveBuffer.toHex())));
        if (!alive)
            return;
    }
    if (message.isError()) {
        ++reportedErrorCount;
        emit errorsReported(reportedErrorCount);
        if (!alive)
            return;
        report(tr("Engine reports error: %1").arg(message.toString()));
    }
}

} // namespace EMS
