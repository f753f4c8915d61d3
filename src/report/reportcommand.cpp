#include "report/reportcommand.h"

#include "core/common/paths.h"
#include "report/exports.h"
#include "report/htmlreport.h"
#include "report/outputs.h"
#include "report/payments.h"
#include "report/report.h"
#include "report/summarycsv.h"

#include <QCommandLineParser>
#include <QDateTime>
#include <QDir>
#include <QFileInfo>
#include <QSaveFile>

#include <cstdio>
#include <functional>
#include <new>

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
// until the new one is complete. `landing` is where `path` leads, its links followed.
bool writeFile(const QString &path, const QString &landing, const QByteArray &bytes,
               QString &error) {
    QSaveFile file(landing);
    if (file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size() && file.commit())
        return true;
    error = QStringLiteral("cannot write %1: %2").arg(path, file.errorString());
    return false;
}

struct Output {
    OutputFile file;
    std::function<QByteArray(const Report &)> contents;
};

QList<Output> outputsOf(const ReportOptions &options) {
    QList<Output> outputs{{{QStringLiteral("-o"), options.output}, [](const Report &report) {
                               return reportHtml(report, QDateTime::currentDateTime()).toUtf8();
                           }}};
    if (!options.csv.isEmpty())
        outputs.append({{QStringLiteral("--csv"), options.csv}, [](const Report &report) {
                            return summaryCsv(report);
                        }});
    if (!options.periodsCsv.isEmpty())
        outputs.append({{QStringLiteral("--periods-csv"), options.periodsCsv}, periodsCsv});
    if (!options.answersCsv.isEmpty())
        outputs.append({{QStringLiteral("--answers-csv"), options.answersCsv}, answersCsv});
    if (!options.paymentsCsv.isEmpty())
        outputs.append({{QStringLiteral("--payments-csv"), options.paymentsCsv}, paymentsCsv});
    return outputs;
}

// A folder given twice would count its runs twice.
QString repeatedFolder(const QStringList &folders) {
    QStringList seen;
    for (const QString &folder : folders) {
        const QString landing = landingPath(folder);
        if (seen.contains(landing))
            return QStringLiteral("the data folder %1 is given twice").arg(folder);
        seen.append(landing);
    }
    return {};
}

} // namespace

std::optional<ReportOptions> parseCommandLine(const QStringList &arguments) {
    QCommandLineParser parser;
    parser.setApplicationDescription(
        QStringLiteral("Writes one self-contained HTML page on the runs recorded in one or more "
                       "data folders: per study condition the distance from the goal and the "
                       "share of periods in the band, and each run with its scenario, its "
                       "person's record and answers, and plots. Optionally CSV tables of the "
                       "runs, the periods and the answers."));
    const QCommandLineOption helpOption = parser.addHelpOption();
    const QCommandLineOption versionOption = parser.addVersionOption();
    const QCommandLineOption dataOption(
        QStringLiteral("data-dir"),
        QStringLiteral("A data folder to read; give it again for each further folder "
                       "(default: data/ beside this program)."),
        QStringLiteral("DIR"));
    const QCommandLineOption outputOption(
        {QStringLiteral("o"), QStringLiteral("output")},
        QStringLiteral("The HTML file to write (default: report.html)."), QStringLiteral("FILE"),
        QStringLiteral("report.html"));
    const QCommandLineOption csvOption(
        QStringLiteral("csv"), QStringLiteral("Also write the table of runs as CSV to FILE."),
        QStringLiteral("FILE"));
    const QCommandLineOption periodsOption(
        QStringLiteral("periods-csv"), QStringLiteral("Also write one CSV row per period to FILE."),
        QStringLiteral("FILE"));
    const QCommandLineOption answersOption(
        QStringLiteral("answers-csv"),
        QStringLiteral("Also write one CSV row of questionnaire answers per person's run to "
                       "FILE."),
        QStringLiteral("FILE"));
    const QCommandLineOption paymentsOption(
        QStringLiteral("payments-csv"),
        QStringLiteral("Also write one CSV row per person with what to pay to FILE."),
        QStringLiteral("FILE"));
    const QList<QCommandLineOption> valued{dataOption,    outputOption,  csvOption,
                                           periodsOption, answersOption, paymentsOption};
    parser.addOptions(valued);

    if (!parser.parse(arguments))
        return usageError(parser, parser.errorText());
    if (parser.isSet(helpOption))
        parser.showHelp(ReportWritten);
    if (parser.isSet(versionOption))
        parser.showVersion();
    if (!parser.positionalArguments().isEmpty())
        return usageError(parser, QStringLiteral("unexpected argument: %1")
                                      .arg(parser.positionalArguments().constFirst()));
    for (const QCommandLineOption &option : valued) {
        for (const QString &value : parser.values(option)) {
            if (value.isEmpty())
                return usageError(
                    parser, QStringLiteral("empty value for --%1").arg(option.names().constLast()));
        }
    }
    for (const QCommandLineOption &option :
         {outputOption, csvOption, periodsOption, answersOption, paymentsOption}) {
        if (parser.values(option).size() > 1)
            return usageError(
                parser,
                QStringLiteral("--%1 is given more than once").arg(option.names().constLast()));
    }
    QStringList folders = parser.values(dataOption);
    if (folders.isEmpty())
        folders.append(paths::dataDirectory());
    return ReportOptions{folders,
                         parser.value(outputOption),
                         parser.value(csvOption),
                         parser.value(periodsOption),
                         parser.value(answersOption),
                         parser.value(paymentsOption)};
}

namespace {

void sayRunsInProgress(const Report &report) {
    for (const DataFolder &folder : report.folders) {
        if (folder.linesInProgress > 0)
            say(QStringLiteral("%1: the program records there now: the %2 Data.txt lines after "
                               "line %3, of runs in progress, are left out")
                    .arg(folder.label)
                    .arg(folder.linesInProgress)
                    .arg(folder.lastRecordedLine));
    }
}

QString writtenBefore(const QStringList &written) {
    return written.isEmpty() ? QStringLiteral("; nothing written")
                             : QStringLiteral("; written before the failure: ") +
                                   written.join(QStringLiteral(", "));
}

ExitStatus readAndWrite(const ReportOptions &options, const QStringList &paths,
                        const QList<Output> &outputs, QStringList &written) {
    const Report report = readReport(options.dataDirectories, paths);
    for (const Problem &problem : report.problems)
        say(problem.text());
    sayRunsInProgress(report);
    for (const Output &output : outputs) {
        QString error;
        if (!writeFile(output.file.path, landingPath(output.file.path), output.contents(report),
                       error)) {
            say(error + writtenBefore(written));
            return NoReport;
        }
        written.append(output.file.path);
    }
    say(QStringLiteral("wrote %1: %2 runs, %3 problems")
            .arg(written.join(QStringLiteral(", ")))
            .arg(report.runs.size())
            .arg(report.problems.size()));
    return ReportWritten;
}

} // namespace

ExitStatus writeReport(const ReportOptions &options) {
    QStringList paths;
    for (const QString &folder : options.dataDirectories) {
        if (!QFileInfo(folder).isDir()) {
            say(QStringLiteral("no data folder %1; no report written").arg(folder));
            return NoReport;
        }
        paths.append(QDir(folder).absolutePath());
    }
    const QList<Output> outputs = outputsOf(options);
    QList<OutputFile> files;
    for (const Output &output : outputs)
        files.append(output.file);
    QString refusal = repeatedFolder(options.dataDirectories);
    if (refusal.isEmpty())
        refusal = outputsRefusal(files, options.dataDirectories);
    if (!refusal.isEmpty()) {
        say(refusal + QStringLiteral("; nothing written"));
        return BadUsage;
    }

    QStringList written;
    try {
        return readAndWrite(options, paths, outputs, written);
    } catch (const std::bad_alloc &) {
        // The data folders hold more than this machine's memory takes: say so, rather than
        // write a report that leaves runs out.
        say(QStringLiteral("the data folders are too large for the memory available") +
            writtenBefore(written));
        return NoReport;
    }
}
