#pragma once

#include <QString>
#include <QtGlobal>

namespace EMS {

// Asks the driver of an open serial port to pass received bytes on at once. An FTDI
// adapter holds what it receives until 62 bytes are in or its latency timer (16 ms by
// default) runs out, and every request/reply exchange with the card waits for that
// timer; with the tty's low-latency flag set, the Linux ftdi_sio driver sets the timer to
// 1 ms. The flag goes when the port closes, as it was before, since the driver keeps it
// for the next program that opens the adapter.
//
// A driver that refuses (a pseudo-terminal, another make of adapter, no permission) is
// no error: the port works as it is. The refusal is logged once per port name, not at
// every reopen. Elsewhere than on Linux this does nothing; there the adapter's driver
// settings hold the timer.
class LowLatencyRequest
{
public:
    // Sets the flag on the open descriptor of portName; true when the driver took it.
    bool apply(qintptr descriptor, const QString &portName);
    // Clears the flag again if apply() set it; call while the port is still open.
    void restore();
    bool isApplied() const { return appliedTo >= 0; }

private:
    qintptr appliedTo = -1;
    QString refusalLoggedFor;
};

} // namespace EMS
