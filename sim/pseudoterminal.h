#pragma once

#include <QByteArray>
#include <QObject>
#include <QString>

class QSocketNotifier;

// The far end of a simulated serial link: the master side of a pseudo-terminal,
// served on the Qt event loop. The controller opens slavePath() with its ordinary
// QSerialPort, so the bytes pass through the same kernel tty layer as with a real
// USB serial adapter.
//
// The slave side is held open by this object as well, for two reasons: with no
// slave open, reads on the master fail with EIO and the read notifier would fire
// without end; and the slave must be in raw mode from the start, or the tty layer
// would echo the simulator's own replies back to it before the controller has
// opened (and configured) the port.
//
// close() makes the far end vanish the way an unplugged adapter does for the
// controller: its QSerialPort then reports ReadError until it closes the port.
// reopen() creates a new pseudo-terminal; its slave path may differ from the old
// one, so give setLinkPath() a path when the controller must find the card again
// under the same port name: a symbolic link there always points at the current
// slave, and is gone while the far end is closed.
class PseudoTerminal : public QObject
{
    Q_OBJECT

public:
    // Bytes queued for the host beyond this are dropped (with a warning): a host that
    // never reads must not make the simulator grow without bound.
    static constexpr int MaxPendingBytes = 1 << 20;

    explicit PseudoTerminal(QObject *parent = nullptr);
    ~PseudoTerminal() override;

    bool isOpen() const { return masterFd >= 0; }
    // The device path to give QSerialPort::setPortName (a /dev/pts/N path, or the
    // link path if one is set).
    QString slavePath() const;
    // The real /dev/pts/N path, even when a link path is set.
    QString devicePath() const { return device; }
    QString linkPath() const { return link; }
    // Keeps a symbolic link at this path pointing at the current slave device; it is
    // removed when this object is destroyed. An empty path removes the link.
    bool setLinkPath(const QString &path);

    QString errorString() const { return lastError; }
    // Bytes accepted by write() that the tty has not taken yet.
    int pendingBytes() const { return pending.size(); }

    // Queues bytes for the host; returns false when the far end is closed.
    bool write(const QByteArray &bytes);
    // Throws away what the host has not read yet, as a card power cycle would.
    void discardUnreadByHost();

public slots:
    bool open();
    void close();
    bool reopen();

signals:
    void bytesReceived(QByteArray bytes);
    // Open or closed, by close(), reopen() or a failure of the master side.
    void openChanged(bool open);

private:
    void readMaster();
    void flushPending();
    void fail(const QString &what, int error);
    void updateLink();

    int masterFd = -1;
    int slaveFd = -1;
    QString device;
    QString link;
    QString lastError;
    QByteArray pending;
    QSocketNotifier *readNotifier = nullptr;
    QSocketNotifier *writeNotifier = nullptr;
};
