#pragma once

#include "history/slotevent.h"

#include <QFile>
#include <QObject>
#include <QString>

namespace EMS {

// The event history on disk, one JSON line per event, so the events of last night's
// show are still there after the program (or the computer) restarts. The file turns
// over at a fixed size and only a few old ones are kept: "events.log" is the newest,
// then "events.log.1", "events.log.2". Each line is flushed as it is written, so a
// crash loses nothing that was shown.
class EventLogFile : public QObject
{
    Q_OBJECT

public:
    static constexpr qint64 DefaultMaxBytes = 2 * 1024 * 1024;
    static constexpr int DefaultFileCount = 3;

    explicit EventLogFile(const QString &folder, QObject *parent = nullptr, qint64 maxBytes = DefaultMaxBytes,
                          int fileCount = DefaultFileCount);

    // The folder the program's log goes to: QStandardPaths::AppDataLocation.
    static QString defaultFolder();

    QString filePath() const { return path; }
    // The file at the given age: 0 the newest, then .1, .2.
    QString filePath(int age) const;
    bool isOpen() const { return file.isOpen(); }
    QString errorString() const { return file.errorString(); }

public slots:
    // Appends the event; false when the file cannot be written (the history in memory
    // goes on regardless).
    bool append(const EMS::SlotEvent &event);

private:
    bool open();
    void turnOver();

    QString path;
    qint64 maxBytes;
    int fileCount;
    QFile file;
    bool warned = false;
};

} // namespace EMS
