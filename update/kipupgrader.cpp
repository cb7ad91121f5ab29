#include "update/kipupgrader.h"

#include "common/logcategories.h"
#include "common/resources.h"

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

    afterCodeTimer = new QTimer(this);
    afterCodeTimer->setSingleShot(true);
    afterCodeTimer->setInterval(StageDelayMs);
    connect(afterCodeTimer, &QTimer::timeout, this, &KipUpgrader::attemptToUpgradeFPGA);

    beforeFpgaTimer = new QTimer(this);
    beforeFpgaTimer->setSingleShot(true);
    beforeFpgaTimer->setInterval(StageDelayMs);
    connect(beforeFpgaTimer, &QTimer::timeout, this, [this]() { startFpgaStage(fpgaPath); });

    if (!port)
        return;

    // The code update makes the port leave framed messages for the boot loader; it is
    // queued so that it starts from the event loop, not from inside a button's click.
    connect(this, &KipUpgrader::startARMUpdate, port, &KipPort::updateCode, Qt::QueuedConnection);
    connect(this, &KipUpgrader::startFPGAUpdate, port, &KipPort::updateFpga, Qt::DirectConnection);
    connect(this, &KipUpgrader::startARMUpdate, this, &KipUpgrader::updateStarted);
    connect(this, &KipUpgrader::startFPGAUpdate, this, &KipUpgrader::updateStarted);
    // Queued behind the port's own call, so this runs right after the port took the
    // code stage.
    connect(this, &KipUpgrader::startARMUpdate, this,
            [this]() { codeStageHandedOver = true; }, Qt::QueuedConnection);

    connect(port, &KipPort::updateProgress, this, &KipUpgrader::receiveProgress);
    connect(port, &KipPort::updateFinished, this, &KipUpgrader::receiveFinished);
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

    if (fpgaPending)
        attemptToUpgradeFPGA();
}

void KipUpgrader::upgradeAsRequired()
{
    if (!port)
        return;
    currentStage = 0;
    const KipPort::HardwareStatus &status = port->hardwareStatus();
    // A card that reports version 0 does not say what it runs: its processor is only
    // updated on the user's explicit request.
    upgradeCpu = status.firmwareVersion != 0 && availableCodeVersion > status.firmwareVersion;
    upgradeFpga = availableFpgaVersion > status.fpgaVersionText();

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
    if (upgradeCpu && upgradeFpga)
        emit updateProgress(percent / 2 + currentStage * 50);
    else
        emit updateProgress(percent);
}

void KipUpgrader::receiveFinished(bool success)
{
    if (running == NoStage || (running == CodeStage && !codeStageHandedOver)) {
        // Most often the probe the port runs on every connection: a card running its
        // application answers it, which ends that probe "unsuccessfully".
        qCDebug(lcUpdate).noquote() << "KIPUpgrader: Result" << success << "ignored, no update of ours running";
        return;
    }
    if (running == FpgaStage && port->fpgaDownloader()) {
        // The port lets go of its FPGA downloader before it reports the download's end,
        // so a result while the downloader is still there belongs to something else:
        // the probe of a link that was reopened under a running download. The download
        // itself is ended by the update page's watchdog, visibly.
        qCDebug(lcUpdate).noquote() << "KIPUpgrader: Result" << success << "ignored, the FPGA download still runs";
        return;
    }

    if (!success) {
        qCDebug(lcUpdate).noquote() << "KIPUpgrader: Upgrade failed";
        endRun();
        emit updateFinished(false);
        return;
    }

    if (running == CodeStage && upgradeCpu && upgradeFpga && currentStage == 0) {
        qCDebug(lcUpdate).noquote() << "KIPUpgrader: CPU upgrade complete, attempting to upgrade FPGA";
        currentStage = 1;
        // The card restarts with its new code; nothing of ours runs until the FPGA stage.
        running = NoStage;
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
    currentStage = 0;
    upgradeCpu = true;
    upgradeFpga = false;
    startCodeStage(filePath);
}

void KipUpgrader::upgradeFPGA(QString filePath)
{
    qCDebug(lcUpdate).noquote() << "KIPUpgrader: Manually upgrading KIP FPGA to:" << filePath;
    currentStage = 0;
    upgradeCpu = false;
    upgradeFpga = true;
    startFpgaStage(filePath);
}

void KipUpgrader::upgradeCode()
{
    // A single stage: flags left over from an earlier combined run would otherwise halve
    // its progress and start an FPGA update nobody asked for.
    currentStage = 0;
    upgradeCpu = true;
    upgradeFpga = false;
    startCodeStage(codePath);
}

void KipUpgrader::upgradeFPGA()
{
    currentStage = 0;
    upgradeCpu = false;
    upgradeFpga = true;
    if (!checkFile(fpgaPath, FpgaStage))
        return;
    emit updateStarted();
    startFpgaStage(fpgaPath);
}

void KipUpgrader::attemptToUpgradeFPGA()
{
    if (cardType > 0) {
        fpgaPending = false;
        beforeFpgaTimer->start();
    } else {
        qCDebug(lcUpdate).noquote() << "KIPUpgrader: Card type empty, will attempt FPGA upgrade when valid card type is next received";
        fpgaPending = true;
    }
}

void KipUpgrader::startCodeStage(const QString &filePath)
{
    if (!checkFile(filePath, CodeStage))
        return;
    running = CodeStage;
    codeStageHandedOver = false;
    emit startARMUpdate(filePath);
}

void KipUpgrader::startFpgaStage(const QString &filePath)
{
    if (!checkFile(filePath, FpgaStage))
        return;
    running = FpgaStage;
    emit startFPGAUpdate(filePath);
}

bool KipUpgrader::checkFile(const QString &filePath, Stage stage)
{
    const bool code = stage == CodeStage;
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

void KipUpgrader::endRun()
{
    running = NoStage;
    fpgaPending = false;
    afterCodeTimer->stop();
    beforeFpgaTimer->stop();
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
