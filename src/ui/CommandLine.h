#pragma once
// The program's command line: R310Conf [/pr] [--port DEVICE] [--demo] [--screenshot DIR] [--view FILE].
#include <QString>
#include <QStringList>

namespace r310::ui {

struct CommandLine {
    bool help = false;
    bool demo = false;
    QString port;          // --port DEVICE: added to the port list and preselected
    QString screenshotDir; // --screenshot DIR: one picture per tab, then exit
    QString records;       // --records URL: where the service records are kept
    bool noRecords = false; // --no-records: nothing is recorded this run
    // --view FILE (once or twice: a data logger and an event log file): the
    // log viewer with export files, without the main window.
    QStringList viewFiles;
    QString levels; // --levels A1,A2,A3,STEL,TWA for the viewer
    QString error;         // a usage error; empty when the line is good
};

// arguments: the program's arguments, its name first. A first argument that
// is not an option ("/pr" or anything else) is left to the window.
CommandLine ParseCommandLine(const QStringList &arguments);

QString UsageText();

} // namespace r310::ui
