#include "report/report.h"

#include "core/common/paths.h"

Report readReport(const QString &dataDirectory) {
    Report report;
    report.dataDirectory = dataDirectory;
    const QList<Period> periods = readPeriods(paths::dataFile(dataDirectory), report.problems);
    const QList<RunRecord> records =
        readRunRecords(dataDirectory + QStringLiteral("/Runs.txt"), report.problems);
    report.runs = cutRuns(periods, records, report.problems);
    report.people = readPeople(paths::database(dataDirectory), report.problems);
    return report;
}
