#pragma once

#include <QString>
#include <QStringList>

#include <optional>

// What the command line asks for.
struct ReportOptions {
    QString dataDirectory;
    QString output; // the HTML file
    QString csv;    // empty: no CSV
};

// Exit statuses: a report was written, none could be, or the command line was wrong.
enum ExitStatus { ReportWritten = 0, NoReport = 1, BadUsage = 2 };

// Reads the command line. --help and --version print to standard output and end the
// program; bad usage prints what was wrong and the usage to standard error and gives nothing.
// Needs the application object, whose name and version the help shows.
std::optional<ReportOptions> parseCommandLine(const QStringList &arguments);

// Reads the data folder and writes the report (and the CSV when asked); every problem goes to
// standard error as well. Returns the exit status.
ExitStatus writeReport(const ReportOptions &options);
