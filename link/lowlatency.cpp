#include "link/lowlatency.h"

#include "common/logcategories.h"

#ifdef Q_OS_LINUX
#include <cerrno>
#include <cstring>
#include <linux/serial.h>
#include <sys/ioctl.h>
#endif

namespace EMS {

#ifdef Q_OS_LINUX

bool LowLatencyRequest::apply(qintptr descriptor, const QString &portName)
{
    restore();
    const int fd = int(descriptor);
    struct serial_struct serial;
    std::memset(&serial, 0, sizeof serial);
    if (::ioctl(fd, TIOCGSERIAL, &serial) == 0) {
        const bool wasSet = serial.flags & ASYNC_LOW_LATENCY;
        serial.flags |= ASYNC_LOW_LATENCY;
        if (wasSet || ::ioctl(fd, TIOCSSERIAL, &serial) == 0) {
            // Set by someone else before: theirs to clear, not ours.
            if (!wasSet)
                appliedTo = descriptor;
            refusalLoggedFor.clear();
            qCDebug(lcLink).noquote() << portName << "low latency set";
            return true;
        }
    }
    const int error = errno;
    if (refusalLoggedFor != portName) {
        refusalLoggedFor = portName;
        qCInfo(lcLink).noquote() << portName << "keeps its driver's latency: low latency refused:"
                                 << std::strerror(error);
    }
    return false;
}

void LowLatencyRequest::restore()
{
    if (appliedTo < 0)
        return;
    struct serial_struct serial;
    std::memset(&serial, 0, sizeof serial);
    const int fd = int(appliedTo);
    if (::ioctl(fd, TIOCGSERIAL, &serial) == 0) {
        serial.flags &= ~ASYNC_LOW_LATENCY;
        if (::ioctl(fd, TIOCSSERIAL, &serial) != 0)
            qCDebug(lcLink) << "low latency flag not put back:" << std::strerror(errno);
    }
    appliedTo = -1;
}

#else

bool LowLatencyRequest::apply(qintptr, const QString &)
{
    return false;
}

void LowLatencyRequest::restore()
{
}

#endif

} // namespace EMS
