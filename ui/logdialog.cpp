#include "ui/logdialog.h"

#include "link/kipport.h"
#include "ui_logdialog.h"

LogDialog::LogDialog(EMS::KipPort *port, QWidget *parent)
    : QDialog(parent)
    , ui(new Ui::LogDialog)
{
    ui->setupUi(this);
    if (!port)
        return;
    setWindowTitle(tr("KIP %1 Serial Log").arg(port->slotIndex() + 1));
    connect(port, &EMS::KipPort::logDataTransmitted, this, &LogDialog::LogTransmitted);
    connect(port, &EMS::KipPort::logDataReceived, this, &LogDialog::LogReceived);
}

LogDialog::~LogDialog()
{
    delete ui;
}

void LogDialog::LogTransmitted(QString message)
{
    ui->textBrowser->append(tr("Tx ") + message);
}

void LogDialog::LogReceived(QString message)
{
    ui->textBrowser->append(tr("Rx ") + message);
}
