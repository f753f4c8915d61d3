#include "report/reportcommand.h"

#include "core/common/paths.h"
#include "report/htmlreport.h"
#include "report/report.h"
#include "report/runcharts.h"
#include "report/summarycsv.h"

#include <QCommandLineParser>
#include <QDateTime>
#include <QDir>
#include <QFileInfo>
#include <QSaveFile>

#include <cstdio>

namespace {

void say(const QString &text) {
    std::fprintf(stderr, "fluxmere-report: %s\n", qUtf8Printable(text));
}

std::nullopt_t usageError(const QCommandLineParser &parser, const QString &what) {
    say(what);
    std::fputs(qUtf8Printable(parser.helpText()), stderr);
    return std::nullopt;
}

// The whole file or nothing: a reader never finds half a report, and an older one stays
// until the new one is complete.
bool writeFile(const QString &path, const QByteArray &bytes) {
    QSaveFile file(path);
    if (file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size() && file.commit())
        return true;
    say(QStringLiteral("cannot write %1: %2").arg(path, file.errorString()));
    return false;
}

} // namespace

std::optional<ReportOptions> parseCommandLine(const QStringList &arguments) {
    QCommandLineParser parser;
    parser.setApplicationDescription(
        QStringLiteral("Writes one self-contained HTML page on the runs recorded in a data "
                       "folder: a summary table, each person's answers, and plots of every run."));
    const QCommandLineOption helpOption = parser.addHelpOption();
    const QCommandLineOption versionOption = parser.addVersionOption();
    const QCommandLineOption dataOption(
        QStringLiteral("data-dir"),
        QStringLiteral("The data folder to read (default: data/ beside this program)."),
        QStringLiteral("DIR"), paths::dataDirectory());
    const QCommandLineOption outputOption(
        {QStringLiteral("o"), QStringLiteral("output")},
        QStringLiteral("The HTML file to write (default: report.html)."), QStringLiteral("FILE"),
        QStringLiteral("report.html"));
    const QCommandLineOption csvOption(
        QStringLiteral("csv"), QStringLiteral("Also write the summary table as CSV to FILE."),
        QStringLiteral("FILE"));
    parser.addOptions({dataOption, outputOption, csvOption});

    if (!parser.parse(arguments))
        return usageError(parser, parser.errorText());
    if (parser.isSet(helpOption))
        parser.showHelp(ReportWritten);
    if (parser.isSet(versionOption))
        parser.showVersion();
    if (!parser.positionalArguments().isEmpty())
        return usageError(parser, QStringLiteral("unexpected argument: %1")
                                      .arg(parser.positionalArguments().constFirst()));
    for (const QCommandLineOption &option : {dataOption, outputOption, csvOption}) {
        if (parser.isSet(option) && parser.value(option).isEmpty())
            return usageError(
                parser, QStringLiteral("empty value for --%1").arg(option.names().constLast()));
    }
    return ReportOptions{parser.value(dataOption), parser.value(outputOption),
                         parser.value(csvOption)};
}

ExitStatus writeReport(const ReportOptions &options) {
    if (!QFileInfo(options.dataDirectory).isDir()) {
        say(QStringLiteral("no data folder %1; no report written").arg(options.dataDirectory));
        return NoReport;
    }
    const Report report = readReport(QDir(options.dataDirectory).absolutePath());
    for (const Problem &problem : report.problems)
        say(problem.text());
    QList<RunPlots> plots;
    for (const Run &run : report.runs)
        plots.append(plotRun(run));
    const QString html = reportHtml(report, plots, QDateTime::currentDateTime());
    if (!writeFile(options.output, html.toUtf8()))
        return NoReport;
    if (!options.csv.isEmpty() && !writeFile(options.csv, summaryCsv(report.runs)))
        return NoReport;
    say(QStringLiteral("wrote %1: %2 runs, %3 problems")
            .arg(options.output)
            .arg(report.runs.size())
            .arg(report.problems.size()));
    return ReportWritten;
}
