#pragma once

#include <QString>
#include <QStringList>

#include <optional>

// What the command line asks for.
struct ReportOptions {
    QStringList dataDirectories; // as given, at least one
    QString output;              // the HTML file
    QString csv;                 // the summary table; empty: none
    QString periodsCsv;          // one row per period; empty: none
    QString answersCsv;          // one row per person's run; empty: none
    QString paymentsCsv;         // one row per person; empty: none
};

// Exit statuses: a report was written, none could be, or the command line was wrong.
enum ExitStatus { ReportWritten = 0, NoReport = 1, BadUsage = 2 };

// Reads the command line. --help and --version print to standard output and end the
// program; bad usage prints what was wrong and the usage to standard error and gives nothing.
// Needs the application object, whose name and version the help shows.
std::optional<ReportOptions> parseCommandLine(const QStringList &arguments);

// Reads the data folders and writes the report and the CSV files asked for; every problem
// goes to standard error as well. Outputs that would land in a data folder, on something
// that is not a regular file, or on each other are refused (BadUsage) before anything is
// written. A report that cannot be held in memory writes nothing and gives NoReport. Returns
// the exit status.
ExitStatus writeReport(const ReportOptions &options);
