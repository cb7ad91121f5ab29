#pragma once

#include <QDialog>
#include <QString>

namespace Ui {
class LogDialog;
}

namespace EMS {
class KipPort;
}

// Shows, one line each, what one slot's card port sends and receives, from the moment
// the dialog opens.
class LogDialog : public QDialog
{
    Q_OBJECT

public:
    LogDialog(EMS::KipPort *port, QWidget *parent);
    ~LogDialog() override;

public slots:
    void LogTransmitted(QString message);
    void LogReceived(QString message);

private:
    Ui::LogDialog *ui;
};
