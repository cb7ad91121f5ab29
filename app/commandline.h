#pragma once

#include <QCommandLineOption>
#include <QCommandLineParser>
#include <QStringList>

// The controller's command line. Every option is declared here once, so a new one is a
// line in CommandLine's constructor and a member read after parsing.
class CommandLine
{
public:
    CommandLine();

    QCommandLineParser &parser() { return commandParser; }

    // --help and --version print and end the program before any window (or display) is
    // needed: call with the raw arguments before the QApplication exists. A
    // QCoreApplication lives for the call so the parser can print. Returns only when
    // neither was asked for.
    static void handleInformationOptions(int argc, char *argv[]);

private:
    QCommandLineParser commandParser;
};
