#include "cli/progressprinter.h"

#ifdef Q_OS_UNIX
#include <unistd.h>
#endif

namespace Cli {

ProgressPrinter::ProgressPrinter(QTextStream &out, const QString &label, bool terminal)
    : out(out), label(label), terminal(terminal)
{
}

bool ProgressPrinter::stdoutIsTerminal()
{
#ifdef Q_OS_UNIX
    return ::isatty(STDOUT_FILENO) == 1;
#else
    return false;
#endif
}

void ProgressPrinter::show(int percent)
{
    percent = qBound(0, percent, 100);
    if (terminal) {
        if (percent == shown)
            return;
        shown = percent;
        drawBar();
        return;
    }
    // Lines only when a step is crossed (and at the end), however often the card reports.
    if (shown >= 0 && percent / LineStep == shown / LineStep && percent != 100)
        return;
    if (percent == shown)
        return;
    shown = percent;
    out << QStringLiteral("%1 update %2 %").arg(label).arg(percent) << '\n';
    out.flush();
}

void ProgressPrinter::message(const QString &text)
{
    if (terminal && barOnScreen)
        out << "\r\x1b[K";
    out << label << ": " << text << '\n';
    out.flush();
    if (terminal && shown >= 0)
        drawBar();
    else
        barOnScreen = false;
}

void ProgressPrinter::finish()
{
    if (terminal && barOnScreen) {
        out << '\n';
        out.flush();
        barOnScreen = false;
    }
}

void ProgressPrinter::drawBar()
{
    const int filled = shown * BarWidth / 100;
    out << '\r' << label << " [" << QString(filled, QLatin1Char('#')) << QString(BarWidth - filled, QLatin1Char(' '))
        << "] " << QStringLiteral("%1 %").arg(shown, 3);
    out.flush();
    barOnScreen = true;
}

} // namespace Cli
