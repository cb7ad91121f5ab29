#include "update/kipupgrader.h"

#include "common/logcategories.h"
#include "common/resources.h"
#include "link/codeupdatejob.h"
#include "link/fpgaupdatejob.h"

#include <QCoreApplication>
#include <QDebug>
#include <QFile>
#include <QFileInfo>
#include <QTimer>

namespace EMS {

namespace {

const QString firmwareResourceFolder = QStringLiteral(":/firmware/");

QByteArray readAll(const QString &path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return QByteArray();
    return file.readAll();
}

} // namespace

KipUpgrader::KipUpgrader(KipPort *port, QObject *parent)
    : QObject(parent), port(port)
{
    // The built-in firmware folder is empty at run time until registered.
    Common::initResources();
    qRegisterMetaType<EMS::KipUpgrader::State>("EMS::KipUpgrader::State");

    afterCodeTimer = new QTimer(this);
    afterCodeTimer->setSingleShot(true);
    afterCodeTimer->setInterval(StageDelayMs);
    // Two seconds is where Qt makes a timer coarse; the card's restart is timed closer.
    afterCodeTimer->setTimerType(Qt::PreciseTimer);
    connect(afterCodeTimer, &QTimer::timeout, this, &KipUpgrader::attemptToUpgradeFPGA);

    beforeFpgaTimer = new QTimer(this);
    beforeFpgaTimer->setSingleShot(true);
    beforeFpgaTimer->setInterval(StageDelayMs);
    beforeFpgaTimer->setTimerType(Qt::PreciseTimer);
    connect(beforeFpgaTimer, &QTimer::timeout, this, [this]() { startFpgaStage(fpgaPath); });

    if (!port)
        return;

    // The code update makes the port leave framed messages for the boot loader; it is
    // queued so that it starts from the event loop, not from inside a button's click.
    connect(this, &KipUpgrader::startARMUpdate, port, &KipPort::updateCode, Qt::QueuedConnection);
    connect(this, &KipUpgrader::startFPGAUpdate, port, &KipPort::updateFpga, Qt::DirectConnection);
    connect(this, &KipUpgrader::startARMUpdate, this, &KipUpgrader::updateStarted);
    connect(this, &KipUpgrader::startFPGAUpdate, this, &KipUpgrader::updateStarted);

    // Progress is relayed whoever writes the card (also a card found in its boot loader
    // when the port opened); results come only from the jobs this upgrader took.
    connect(port, &KipPort::updateProgress, this, &KipUpgrader::receiveProgress);
    connect(port, &KipPort::updateJobStarted, this, &KipUpgrader::takeJob);
    connect(port, &KipPort::kipCardTypeChanged, this, &KipUpgrader::receiveKipCardType);

    receiveKipCardType(port->cardType());
}

QString KipUpgrader::codeFileName(int cardType)
{
    QString suffix;
    switch (cardType) {
    case KipPort::MadiBnc:
    case KipPort::MadiCat5:
    case KipPort::Optocore:
    case KipPort::Hydra:
        suffix = QStringLiteral("_") + KipPort::cardTypeName(KipPort::KipCardType(cardType));
        break;
    default:
        break;
    }
    return QStringLiteral("quorix_kip%1.bin").arg(suffix);
}

QString KipUpgrader::fpgaFileName(int cardType)
{
    const QString name = KipPort::cardTypeName(KipPort::KipCardType(cardType));
    if (name.isEmpty())
        return QString();
    return QStringLiteral("quorix_kip_%1_fpga.bit").arg(name);
}

int KipUpgrader::codeVersionOf(const QByteArray &contents)
{
    // The word is followed by one separator byte and the version byte sits 8 bytes
    // after the word's start.
    const int mark = contents.indexOf("version");
    if (mark < 0 || mark + 8 >= contents.size())
        return 0;
    return quint8(contents.at(mark + 8));
}

QString KipUpgrader::fpgaVersionOf(const QByteArray &contents)
{
    // The image header carries its build date as year/month/day; the first "/" is the
    // one after the four-digit year.
    const int slash = contents.indexOf('/');
    if (slash < 0)
        return QString();
    const int start = qMax(0, slash - 4);
    const int end = slash - 4 + 10;
    QByteArray text = contents.mid(start, end - start);
    const int zero = text.indexOf('\0');
    if (zero >= 0)
        text.truncate(zero);
    return QString::fromLatin1(text);
}

QString KipUpgrader::findFirmware(const QString &name)
{
    if (name.isEmpty())
        return QString();
    const QString local = QCoreApplication::applicationDirPath() + QLatin1Char('/') + name;
    if (QFileInfo(local).isFile())
        return QFileInfo(local).absoluteFilePath();
    const QString builtIn = firmwareResourceFolder + name;
    if (QFileInfo(builtIn).isFile())
        return QFileInfo(builtIn).absoluteFilePath();
    return QString();
}

void KipUpgrader::receiveKipCardType(KipPort::KipCardType type)
{
    cardType = type;
    if (type == KipPort::NoCard)
        return;

    codePath = findFirmware(codeFileName(type));
    availableCodeVersion = codePath.isEmpty() ? 0 : codeVersionOf(readAll(codePath));
    fpgaPath = findFirmware(fpgaFileName(type));
    availableFpgaVersion = fpgaPath.isEmpty() ? QString() : fpgaVersionOf(readAll(fpgaPath));

    if (currentState == State::WaitingForCard)
        attemptToUpgradeFPGA();
}

int KipUpgrader::stage() const
{
    switch (currentState) {
    case State::AfterCodePause:
    case State::WaitingForCard:
    case State::BeforeFpgaPause:
        return 1;
    case State::FpgaStage:
        return bothStages ? 1 : 0;
    default:
        return 0;
    }
}

void KipUpgrader::setState(State state)
{
    if (currentState == state)
        return;
    currentState = state;
    emit stateChanged(state);
}

void KipUpgrader::beginRun(bool both)
{
    // A run started over a running one replaces it; the old stage's job ends unheard.
    dropJob();
    afterCodeTimer->stop();
    beforeFpgaTimer->stop();
    bothStages = both;
}

void KipUpgrader::upgradeAsRequired()
{
    if (!port)
        return;
    const KipPort::HardwareStatus &status = port->hardwareStatus();
    // A card that reports version 0 does not say what it runs: its processor is only
    // updated on the user's explicit request.
    const bool upgradeCpu = status.firmwareVersion != 0 && availableCodeVersion > status.firmwareVersion;
    const bool upgradeFpga = availableFpgaVersion > status.fpgaVersionText();
    beginRun(upgradeCpu && upgradeFpga);

    if (upgradeCpu) {
        startCodeStage(codePath);
    } else if (upgradeFpga) {
        startFpgaStage(fpgaPath);
    } else {
        // The form waits for a result once it has asked; leave it not waiting forever.
        refuse(tr("No update required for this card"));
    }
}

bool KipUpgrader::updateRecommended() const
{
    if (!port)
        return false;
    const KipPort::HardwareStatus &status = port->hardwareStatus();
    return availableCodeVersion > status.firmwareVersion
           || status.fpgaVersionText() < availableFpgaVersion;
}

void KipUpgrader::receiveProgress(int percent)
{
    if (bothStages)
        emit updateProgress(percent / 2 + stage() * 50);
    else
        emit updateProgress(percent);
}

void KipUpgrader::takeJob(UpdateJob *started)
{
    if (!started || job)
        return;
    if (currentState == State::CodeStage) {
        auto *codeJob = qobject_cast<CodeUpdateJob *>(started);
        if (!codeJob || codeJob->fileName() != requestedFile)
            return;
    } else if (currentState == State::FpgaStage) {
        if (!qobject_cast<FpgaUpdateJob *>(started))
            return;
    } else {
        auto *codeJob = qobject_cast<CodeUpdateJob *>(started);
        if (codeJob && !cancelledCodeFile.isEmpty() && codeJob->fileName() == cancelledCodeFile) {
            cancelledCodeFile.clear();
            codeJob->cancel();
        }
        return;
    }
    job = started;
    connect(job, &UpdateJob::finished, this, &KipUpgrader::stageFinished);
}

void KipUpgrader::stageFinished(const UpdateResult &result)
{
    if (sender() != job)
        return;
    endStage(result.succeeded());
}

void KipUpgrader::receiveFinished(bool success)
{
    if (currentState != State::CodeStage && currentState != State::FpgaStage) {
        qCDebug(lcUpdate).noquote() << "KIPUpgrader: Result" << success << "ignored, no update of ours running";
        return;
    }
    endStage(success);
}

void KipUpgrader::endStage(bool success)
{
    dropJob();
    if (!success) {
        qCDebug(lcUpdate).noquote() << "KIPUpgrader: Upgrade failed";
        endRun();
        emit updateFinished(false);
        return;
    }
    if (currentState == State::CodeStage && bothStages) {
        qCDebug(lcUpdate).noquote() << "KIPUpgrader: CPU upgrade complete, attempting to upgrade FPGA";
        setState(State::AfterCodePause);
        afterCodeTimer->start();
        return;
    }
    qCDebug(lcUpdate).noquote() << "KIPUpgrader: Upgrade complete";
    endRun();
    emit updateFinished(true);
}

void KipUpgrader::upgradeCode(QString filePath)
{
    qCDebug(lcUpdate).noquote() << "KIPUpgrader: Manually upgrading KIP ARM to:" << filePath;
    beginRun(false);
    startCodeStage(filePath);
}

void KipUpgrader::upgradeFPGA(QString filePath)
{
    qCDebug(lcUpdate).noquote() << "KIPUpgrader: Manually upgrading KIP FPGA to:" << filePath;
    beginRun(false);
    startFpgaStage(filePath);
}

void KipUpgrader::upgradeCode()
{
    // A single stage: a run of both stages before it must not halve its progress or
    // start an FPGA update nobody asked for.
    beginRun(false);
    startCodeStage(codePath);
}

void KipUpgrader::upgradeFPGA()
{
    beginRun(false);
    if (!checkFile(fpgaPath, FpgaFile))
        return;
    emit updateStarted();
    startFpgaStage(fpgaPath);
}

void KipUpgrader::cancel()
{
    if (currentState == State::Idle)
        return;
    qCDebug(lcUpdate).noquote() << "KIPUpgrader: Upgrade cancelled";
    if (currentState == State::CodeStage && !job)
        cancelledCodeFile = requestedFile;
    UpdateJob *running = job;
    dropJob();
    endRun();
    if (running)
        running->cancel();
    emit updateFinished(false);
}

void KipUpgrader::attemptToUpgradeFPGA()
{
    if (cardType > 0) {
        setState(State::BeforeFpgaPause);
        beforeFpgaTimer->start();
    } else {
        qCDebug(lcUpdate).noquote() << "KIPUpgrader: Card type empty, will attempt FPGA upgrade when valid card type is next received";
        setState(State::WaitingForCard);
    }
}

void KipUpgrader::startCodeStage(const QString &filePath)
{
    if (!checkFile(filePath, CodeFile))
        return;
    requestedFile = filePath;
    cancelledCodeFile.clear();
    setState(State::CodeStage);
    emit startARMUpdate(filePath);
}

void KipUpgrader::startFpgaStage(const QString &filePath)
{
    if (!checkFile(filePath, FpgaFile))
        return;
    requestedFile = filePath;
    setState(State::FpgaStage);
    emit startFPGAUpdate(filePath);
    // A download that was already running starts over as the same job, not announced again.
    if (!job && port && qobject_cast<FpgaUpdateJob *>(port->updateJob()))
        takeJob(port->updateJob());
}

bool KipUpgrader::checkFile(const QString &filePath, FileKind kind)
{
    const bool code = kind == CodeFile;
    QString shown = filePath;
    if (shown.isEmpty())
        shown = code ? codeFileName(cardType) : fpgaFileName(cardType);
    const QFileInfo info(filePath);
    if (filePath.isEmpty() || !info.isFile()) {
        refuse(code ? tr("Code file not found: %1").arg(shown) : tr("FPGA file not found: %1").arg(shown));
        return false;
    }
    if (info.size() == 0) {
        refuse(code ? tr("Code file is empty: %1").arg(shown) : tr("FPGA file is empty: %1").arg(shown));
        return false;
    }
    return true;
}

void KipUpgrader::dropJob()
{
    if (job)
        job->disconnect(this);
    job = nullptr;
}

void KipUpgrader::endRun()
{
    dropJob();
    afterCodeTimer->stop();
    beforeFpgaTimer->stop();
    setState(State::Idle);
}

void KipUpgrader::refuse(const QString &reason)
{
    qCDebug(lcUpdate).noquote() << "KIPUpgrader:" << reason;
    endRun();
    // Reported from the event loop: the form shows its progress bar only after the call
    // that started the update has returned, and must see the end after that.
    QMetaObject::invokeMethod(this, [this, reason]() {
        if (port)
            emit port->statusMessage(reason);
        emit updateFinished(false);
    }, Qt::QueuedConnection);
}

} // namespace EMS
