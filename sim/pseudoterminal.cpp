#include "sim/pseudoterminal.h"

#include "common/logcategories.h"
#include <QDebug>
#include <QFile>
#include <QSocketNotifier>

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <pty.h>
#include <termios.h>
#include <unistd.h>

PseudoTerminal::PseudoTerminal(QObject *parent) : QObject(parent)
{
    open();
}

PseudoTerminal::~PseudoTerminal()
{
    close();
    if (!link.isEmpty())
        QFile::remove(link);
}

QString PseudoTerminal::slavePath() const
{
    return link.isEmpty() ? device : link;
}

bool PseudoTerminal::setLinkPath(const QString &path)
{
    if (!link.isEmpty())
        QFile::remove(link);
    link = path;
    if (link.isEmpty())
        return true;
    updateLink();
    return QFile::symLinkTarget(link) == device;
}

void PseudoTerminal::updateLink()
{
    if (link.isEmpty() || device.isEmpty())
        return;
    QFile::remove(link);
    if (!QFile::link(device, link))
        qCWarning(lcSim) << "PseudoTerminal: cannot link" << link << "to" << device;
}

bool PseudoTerminal::open()
{
    if (isOpen())
        return true;

    int master = -1;
    int slave = -1;
    char name[256] = {};
    if (::openpty(&master, &slave, name, nullptr, nullptr) != 0) {
        fail(QStringLiteral("openpty"), errno);
        return false;
    }

    // Raw on both sides: every byte value passes unchanged, nothing is echoed.
    struct termios settings;
    for (int fd : {master, slave}) {
        if (::tcgetattr(fd, &settings) == 0) {
            ::cfmakeraw(&settings);
            ::tcsetattr(fd, TCSANOW, &settings);
        }
    }
    ::fcntl(master, F_SETFL, ::fcntl(master, F_GETFL) | O_NONBLOCK);
    ::fcntl(master, F_SETFD, FD_CLOEXEC);
    ::fcntl(slave, F_SETFD, FD_CLOEXEC);

    masterFd = master;
    slaveFd = slave;
    device = QString::fromLocal8Bit(name);
    lastError.clear();

    readNotifier = new QSocketNotifier(masterFd, QSocketNotifier::Read, this);
    connect(readNotifier, &QSocketNotifier::activated, this, &PseudoTerminal::readMaster);
    writeNotifier = new QSocketNotifier(masterFd, QSocketNotifier::Write, this);
    writeNotifier->setEnabled(false);
    connect(writeNotifier, &QSocketNotifier::activated, this, &PseudoTerminal::flushPending);

    updateLink();
    emit openChanged(true);
    return true;
}

void PseudoTerminal::close()
{
    if (!isOpen())
        return;
    // close() may run inside a notifier's own activation (a reply handler dropping the
    // link), so the notifiers are switched off now and deleted later.
    for (QSocketNotifier *notifier : {readNotifier, writeNotifier}) {
        notifier->setEnabled(false);
        notifier->deleteLater();
    }
    readNotifier = nullptr;
    writeNotifier = nullptr;
    ::close(masterFd);
    masterFd = -1;
    if (slaveFd >= 0) {
        ::close(slaveFd);
        slaveFd = -1;
    }
    pending.clear();
    // The device number goes back to the system and may soon be another program's
    // pseudo-terminal: a port opened through the link must fail, not land there.
    if (!link.isEmpty())
        QFile::remove(link);
    emit openChanged(false);
}

bool PseudoTerminal::reopen()
{
    close();
    return open();
}

bool PseudoTerminal::write(const QByteArray &bytes)
{
    if (!isOpen())
        return false;
    if (pending.size() + bytes.size() > MaxPendingBytes) {
        qCWarning(lcSim) << "PseudoTerminal: host is not reading, dropped" << bytes.size() << "bytes";
        return false;
    }
    pending.append(bytes);
    flushPending();
    return true;
}

void PseudoTerminal::discardUnreadByHost()
{
    pending.clear();
    if (writeNotifier)
        writeNotifier->setEnabled(false);
    if (slaveFd >= 0)
        ::tcflush(slaveFd, TCIFLUSH);
}

void PseudoTerminal::flushPending()
{
    while (isOpen() && !pending.isEmpty()) {
        const ssize_t written = ::write(masterFd, pending.constData(), size_t(pending.size()));
        if (written > 0) {
            pending.remove(0, int(written));
            continue;
        }
        if (written < 0 && errno == EINTR)
            continue;
        if (written < 0 && (errno == EAGAIN || errno == EWOULDBLOCK))
            break; // the tty buffer is full until the host reads
        fail(QStringLiteral("write"), errno);
        return;
    }
    if (writeNotifier)
        writeNotifier->setEnabled(!pending.isEmpty());
}

void PseudoTerminal::readMaster()
{
    QByteArray received;
    char buffer[4096];
    for (;;) {
        const ssize_t count = ::read(masterFd, buffer, sizeof buffer);
        if (count > 0) {
            received.append(buffer, int(count));
            continue;
        }
        if (count < 0 && errno == EINTR)
            continue;
        if (count < 0 && (errno == EAGAIN || errno == EWOULDBLOCK))
            break;
        // EOF or a real error: stop listening, or the notifier would fire forever.
        if (!received.isEmpty())
            emit bytesReceived(received);
        fail(QStringLiteral("read"), count < 0 ? errno : EIO);
        return;
    }
    if (!received.isEmpty())
        emit bytesReceived(received);
}

void PseudoTerminal::fail(const QString &what, int error)
{
    lastError = QStringLiteral("%1: %2").arg(what, QString::fromLocal8Bit(std::strerror(error)));
    qCWarning(lcSim) << "PseudoTerminal:" << lastError;
    close();
}
