#pragma once

#include <QString>
#include <QTextStream>

namespace Cli {

// Shows an update's progress: a bar redrawn in place on a terminal, plain lines
// ("KIP 1 update 35 %") every 5 % otherwise, so a log file or a pipe gets a readable
// record instead of carriage returns.
class ProgressPrinter
{
public:
    static constexpr int BarWidth = 40;
    static constexpr int LineStep = 5;

    ProgressPrinter(QTextStream &out, const QString &label, bool terminal);

    // Whether the stream's file is a terminal (stdout on POSIX; never elsewhere).
    static bool stdoutIsTerminal();

    void show(int percent);
    // A message between progress: on a terminal, the bar is drawn again under it.
    void message(const QString &text);
    // Ends the bar's line.
    void finish();

private:
    void drawBar();

    QTextStream &out;
    QString label;
    bool terminal;
    int shown = -1;
    bool barOnScreen = false;
};

} // namespace Cli
