#include "update/optocoreupdater.h"

#include "common/logcategories.h"
#include "link/loadererrors.h"

#include <QCoreApplication>
#include <QDebug>
#include <QFileInfo>
#include <QtEndian>

namespace EMS {

namespace {

const char BuildInfoName[] = "build.txt";
const char FirstFileName[] = "udi71221.bin";
const char SecondFileName[] = "pdi71221.sop";

// The program's folder is looked up at each use, as the static paths always did.
QString folderFile(const QString &folder, const char *name)
{
    return (folder.isEmpty() ? QCoreApplication::applicationDirPath() : folder) + QLatin1Char('/') + QLatin1String(name);
}

QString programFile(const char *name)
{
    return folderFile(QString(), name);
}

} // namespace

OptocoreUpdater::OptocoreUpdater(QObject *parent, const QString &firmwareFolder)
    : QObject(parent), loadFolder(firmwareFolder)
{
}

QString OptocoreUpdater::buildInfoPath()
{
    return programFile(BuildInfoName);
}

QString OptocoreUpdater::firstFilePath()
{
    return programFile(FirstFileName);
}

QString OptocoreUpdater::secondFilePath()
{
    return programFile(SecondFileName);
}

QString OptocoreUpdater::buildInfoFile() const
{
    return folderFile(loadFolder, BuildInfoName);
}

QString OptocoreUpdater::firstFile() const
{
    return folderFile(loadFolder, FirstFileName);
}

QString OptocoreUpdater::secondFile() const
{
    return folderFile(loadFolder, SecondFileName);
}

QByteArray OptocoreUpdater::readBuildInfo()
{
    return readBuildInfo(buildInfoPath());
}

QByteArray OptocoreUpdater::readBuildInfo(const QString &path)
{
    QByteArray info;
    QFile file(path);
    if (file.open(QIODevice::ReadOnly))
        info = file.read(BuildInfoSize);
    info.append(QByteArray(BuildInfoSize - info.size(), '\0'));
    return info;
}

QString OptocoreUpdater::errorText(int result)
{
    return LoaderErrors::text(result);
}

QString OptocoreUpdater::fileProblem(const QString &path)
{
    const QString name = QFileInfo(path).fileName();
    QFile file(path);
    if (!file.exists())
        return tr("%1 file not found").arg(name);
    if (!file.open(QIODevice::ReadOnly))
        return tr("%1 cannot be read").arg(name);
    // An empty file would be announced as 0 packets, and the module would still be
    // sent a packet it never asked for.
    if (file.size() == 0)
        return tr("%1 is empty").arg(name);
    if (file.size() > qint64(MaxPackets) * PacketSize)
        return tr("%1 is too large: %2 bytes").arg(name).arg(file.size());
    return QString();
}

void OptocoreUpdater::requestVersion()
{
    send(StepVersion, QByteArray());
}

void OptocoreUpdater::exitLoader()
{
    send(StepExitLoader, QByteArray());
}

void OptocoreUpdater::cancel()
{
    if (state == Idle || state == Refusing)
        return;
    qCDebug(lcUpdate).noquote() << "OptocoreUpdater: update cancelled at packet" << packetNumber - 1;
    file.close();
    state = Idle;
}

void OptocoreUpdater::start()
{
    if (state != Idle) {
        qCDebug(lcUpdate).noquote() << "OptocoreUpdater: already updating, start ignored";
        return;
    }
    currentStage = 0;
    packetNumber = 0;

    // Both files are checked before the module is told anything: once it has the build
    // description it expects the files that go with it.
    QString problem = fileProblem(firstFile());
    if (problem.isEmpty())
        problem = fileProblem(secondFile());
    if (!problem.isEmpty()) {
        state = Refusing;
        // Reported from the event loop, after the panel has announced the update it
        // started; the panel then sees its end.
        QMetaObject::invokeMethod(this, [this, problem]() {
            state = Idle;
            emit statusMessage(problem);
            emit finished(false);
        }, Qt::QueuedConnection);
        return;
    }

    // Until the first file goes out, a refusal names the build description's file.
    file.close();
    file.setFileName(buildInfoFile());
    state = BuildInfoSent;
    send(StepBuildInfo, readBuildInfo(buildInfoFile()));
}

void OptocoreUpdater::receiveMessage(Common::SerialMessage *message)
{
    if (!message)
        return;

    if (message->param == StepVersion) {
        versionData = message->data;
        emit versionString(versionData);
        return;
    }

    const int result = message->data.isEmpty() ? 0 : quint8(message->data.at(0));
    if (result != 0) {
        if (state == Idle || state == Refusing) {
            // No update of ours runs (a refused "leave the loader", for instance):
            // failing it again here would only make the panel ask again.
            qCDebug(lcUpdate).noquote() << "OptocoreUpdater: step" << message->param << "refused:" << errorText(result);
            emit statusMessage(tr("Optocore module refused step %1: %2").arg(message->param).arg(errorText(result)));
            return;
        }
        abortUpdate(errorText(result));
        return;
    }

    switch (message->param) {
    case StepBuildInfo:
        // A repeated acknowledgement must not restart the first file.
        if (state == BuildInfoSent)
            startFile(StepFirstFile);
        break;
    case StepFirstFile:
    case StepSecondFile:
        if (state == FileAnnounced && currentStage == message->param) {
            state = SendingFile;
            sendPacket();
        }
        break;
    case StepPacket: {
        if (state != SendingFile)
            break;
        if (message->data.size() < 3) {
            abortUpdate(tr("Packet number not received"));
            break;
        }
        const int acknowledged = qFromBigEndian<quint16>(message->data.constData() + 1);
        if (acknowledged != packetNumber - 1) {
            abortUpdate(tr("Packet number sequence error: %1 received").arg(acknowledged));
            break;
        }
        if (file.pos() < fileSize) {
            sendPacket();
            break;
        }
        file.close();
        if (currentStage == StepFirstFile)
            startFile(StepSecondFile);
        else
            finishSuccess();
        break;
    }
    case StepExitLoader:
        emit exitLoaderAcknowledge();
        break;
    default:
        break;
    }
}

void OptocoreUpdater::send(int step, const QByteArray &payload)
{
    Common::SerialMessage message(MessageType, step, payload);
    emit sendMessage(&message);
}

void OptocoreUpdater::startFile(int fileStage)
{
    packetNumber = 0;
    currentStage = fileStage;
    file.close();
    file.setFileName(fileStage == StepFirstFile ? firstFile() : secondFile());

    // Checked again: the file may have changed since the update started.
    const QString problem = fileProblem(file.fileName());
    if (!problem.isEmpty() || !file.open(QIODevice::ReadOnly)) {
        abortUpdate(problem.isEmpty() ? tr("%1 cannot be read").arg(QFileInfo(file).fileName()) : problem);
        return;
    }
    fileSize = file.size();
    state = FileAnnounced;
    send(fileStage, Common::bigEndian16(quint16((fileSize + PacketSize - 1) / PacketSize)));
    emit statusMessage(tr("Downloading %1 ...").arg(file.fileName()));
}

void OptocoreUpdater::sendPacket()
{
    const qint64 wanted = qMin<qint64>(PacketSize, fileSize - file.pos());
    const QByteArray bytes = file.read(wanted);
    if (bytes.size() != wanted) {
        abortUpdate(tr("%1 read error").arg(QFileInfo(file).fileName()));
        return;
    }
    QByteArray payload = Common::bigEndian16(quint16(packetNumber));
    payload.append(bytes);
    ++packetNumber;
    send(StepPacket, payload);

    const qint64 position = file.pos();
    const int base = currentStage == StepFirstFile ? 0 : 50;
    emit statusMessage(tr("Downloaded %1").arg(position));
    emit progress(int(base + ((position - 1) * 50) / fileSize));
}

void OptocoreUpdater::finishSuccess()
{
    state = Idle;
    // 100 before the result: whoever shows the progress stops watching at the result.
    emit progress(100);
    emit finished(true);
    requestVersion();
}

void OptocoreUpdater::abortUpdate(const QString &reason)
{
    if (file.isOpen())
        file.close();
    state = Idle;
    emit statusMessage(tr("%1 at packet %2 in file %3. Update aborted")
                           .arg(reason)
                           .arg(packetNumber - 1)
                           .arg(file.fileName()));
    emit finished(false);
}

} // namespace EMS
