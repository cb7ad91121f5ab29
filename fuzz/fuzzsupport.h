#pragma once

#include <QByteArray>
#include <QString>
#include <QVector>

#include <cstddef>
#include <cstdint>

// What every fuzz target needs around the controller's classes: one application object
// for the whole run, quiet logging, files to update from, and a way to cut the input
// into the chunks a serial port or socket would deliver.
namespace FuzzSupport {

// Creates the application object once (a QApplication on the offscreen platform when
// widgets are fuzzed) and silences debug and warning output, which would otherwise
// dominate the run time. Fatal messages still print and abort.
void startApplication(bool widgets);

// A directory of this process that lives until exit.
QString scratchDir();
// Writes contents to scratchDir()/name (once per process) and returns the path.
QString scratchFile(const QString &name, const QByteArray &contents);

// Writes build.txt, udi71221.bin and pdi71221.sop into the program's folder, where the
// Optocore updater looks for them, unless they are there with the expected sizes.
void provideOptocoreFiles();

// The files the updater targets update from, picked by a choice byte of the input; the
// seed generator uses the same ones. Code files: 100 bytes, empty, 200 bytes, missing
// (choice & 3). FPGA images: 128, 0, 1, 300, 129, 1000, 127, 256 bytes (choice & 7).
QString codeFile(int choice);
QString fpgaImageFile(int choice);

// Deterministic file contents of the given size (a byte pattern, no randomness).
QByteArray patternBytes(int size, quint8 seed = 0);

// Delivers what the targets queued for the event loop (deleteLater, zero-delay
// single shots) without waiting for any timer.
void deliverPostedEvents();

// Splits bytes into chunks of chunkSize (1 ... 256), the last one shorter.
QVector<QByteArray> chunks(const QByteArray &bytes, int chunkSize);

// The controller's messages to an updater, written by the seed generator and read by
// the targets as records: parameter byte, payload length byte, payload.
struct Record
{
    int param = 0;
    QByteArray payload;
};
QVector<Record> readRecords(const QByteArray &bytes);
QByteArray writeRecord(int param, const QByteArray &payload);

inline QByteArray bytesOf(const uint8_t *data, size_t size)
{
    return QByteArray(reinterpret_cast<const char *>(data), int(size));
}

} // namespace FuzzSupport
