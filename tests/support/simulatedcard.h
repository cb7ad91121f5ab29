#pragma once

#include <QSerialPort>
#include <QString>

// Helpers for tests that talk to a CardSimulator over its pseudo-terminal.
namespace SimTest {

// Opens a port at the card link's settings (115200 8N1, no flow control).
bool openCardPort(QSerialPort &port, const QString &portName);

} // namespace SimTest
