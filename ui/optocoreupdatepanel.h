#pragma once

#include "link/kipport.h"

#include <QByteArray>
#include <QPointer>
#include <QString>
#include <QWidget>

namespace Ui {
class OptocoreUpdatePanel;
}

namespace EMS {

class OptocoreUpdater;

// The Optocore part of a slot's update page: the module's running version, the version
// in the program's "build.txt", and the button that loads the module's firmware.
class OptocoreUpdatePanel : public QWidget
{
    Q_OBJECT

public:
    OptocoreUpdatePanel(KipPort *port, QWidget *parent);
    ~OptocoreUpdatePanel() override;

    // For tests: the updater, absent until the first press of the button.
    OptocoreUpdater *optocoreUpdater() const { return updater; }

signals:
    void updating(bool updating);
    void updateProgress(int percent);
    void cardStatus(KipPort::KipCardType cardType, QByteArray data);

public slots:
    void displayMessage(QString message);
    void versionStringReceived(QByteArray &version);
    void finishUpdate(bool success);
    void exitLoaderAcknowledged();

private slots:
    void on_optocoreUpdateButton_clicked();

private:
    // Why the update cannot run with the files in the program's folder, or empty.
    static QString missingFile();
    void createUpdater();

    Ui::OptocoreUpdatePanel *ui;
    QPointer<KipPort> port;
    OptocoreUpdater *updater = nullptr;
    bool updateRequested = false;
};

} // namespace EMS
