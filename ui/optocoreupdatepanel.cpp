#include "ui/optocoreupdatepanel.h"

#include "ui_optocoreupdatepanel.h"
#include "update/optocoreupdater.h"

#include <QFile>

namespace EMS {

namespace {

QString textUpToZero(const QByteArray &bytes)
{
    const int zero = bytes.indexOf('\0');
    return QString::fromLatin1(zero < 0 ? bytes : bytes.left(zero));
}

} // namespace

OptocoreUpdatePanel::OptocoreUpdatePanel(KipPort *port, QWidget *parent)
    : QWidget(parent), ui(new Ui::OptocoreUpdatePanel), port(port)
{
    ui->setupUi(this);
    ui->firmwareAvailableLabel->setText(textUpToZero(OptocoreUpdater::readBuildInfo()));
    if (port) {
        port->sendOptocoreVersionRequest();
        connect(port, &KipPort::optocoreVersionReceived, this, &OptocoreUpdatePanel::versionStringReceived);
    }
}

OptocoreUpdatePanel::~OptocoreUpdatePanel()
{
    delete ui;
}

QString OptocoreUpdatePanel::missingFile()
{
    if (!QFile::exists(OptocoreUpdater::buildInfoPath()))
        return tr("Build.txt file not found");
    if (!QFile::exists(OptocoreUpdater::firstFilePath()))
        return tr("udi71221.bin file not found");
    if (!QFile::exists(OptocoreUpdater::secondFilePath()))
        return tr("pdi71221.sop file not found");
    // Present but unusable (an empty firmware file) is refused as well, before the
    // module is asked anything.
    QString problem = OptocoreUpdater::fileProblem(OptocoreUpdater::firstFilePath());
    if (problem.isEmpty())
        problem = OptocoreUpdater::fileProblem(OptocoreUpdater::secondFilePath());
    return problem;
}

void OptocoreUpdatePanel::createUpdater()
{
    if (!port)
        return;
    updater = new OptocoreUpdater(this);
    connect(updater, &OptocoreUpdater::sendMessage, port, &KipPort::sendMessage);
    connect(port, &KipPort::optocoreUpdateMessage, updater, &OptocoreUpdater::receiveMessage);
    connect(updater, &OptocoreUpdater::progress, this, &OptocoreUpdatePanel::updateProgress);
    connect(updater, &OptocoreUpdater::finished, this, &OptocoreUpdatePanel::finishUpdate);
    connect(updater, &OptocoreUpdater::statusMessage, this, &OptocoreUpdatePanel::displayMessage);
    connect(updater, &OptocoreUpdater::versionString, this, &OptocoreUpdatePanel::versionStringReceived);
    connect(updater, &OptocoreUpdater::exitLoaderAcknowledge, this, &OptocoreUpdatePanel::exitLoaderAcknowledged);
    updater->requestVersion();
}

void OptocoreUpdatePanel::on_optocoreUpdateButton_clicked()
{
    // The files are checked on every press, not only the first: they may have been
    // removed or replaced since.
    const QString problem = missingFile();
    if (!problem.isEmpty()) {
        displayMessage(problem);
        return;
    }
    if (!updater)
        createUpdater();
    if (!updater)
        return;
    updater->requestVersion();
    updateRequested = true;
    ui->optocoreUpdateButton->setEnabled(false);
}

void OptocoreUpdatePanel::versionStringReceived(QByteArray &version)
{
    ui->firmwareVersionLabel->setText(textUpToZero(version));
    ui->optocoreUpdateButton->setEnabled(true);
    if (updateRequested) {
        // The first press sends two version requests; only the first answer starts
        // the update.
        if (updater && !updater->isRunning()) {
            ui->optocoreUpdateButton->setEnabled(false);
            updater->start();
            emit updating(true);
        } else {
            ui->optocoreUpdateButton->setEnabled(false);
        }
    } else if (updater) {
        updater->exitLoader();
    }
}

void OptocoreUpdatePanel::finishUpdate(bool success)
{
    ui->optocoreUpdateButton->setEnabled(port && port->isConnectionOpen());
    updateRequested = false;
    if (success) {
        displayMessage(tr("Optocore updated successfully"));
    } else if (updater) {
        // A failure declared from outside (the form's watchdog) must also stop the
        // transfer, or a late success could follow the reported failure.
        updater->cancel();
        updater->exitLoader();
    }
    emit updating(false);
}

void OptocoreUpdatePanel::exitLoaderAcknowledged()
{
    emit cardStatus(KipPort::Optocore, QByteArray());
}

void OptocoreUpdatePanel::displayMessage(QString message)
{
    if (port)
        emit port->statusMessage(message);
}

} // namespace EMS
