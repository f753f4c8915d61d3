#include "report/report.h"

#include "core/common/paths.h"

#include <QFileInfo>

namespace {

DataFolder readFolder(const QString &label, const QString &path, const QString &labelPrefix,
                      int index, QList<Run> &runs, Problems &problems) {
    DataFolder folder{label, path, {}, {}};
    Problems found;
    QList<Period> periods = readPeriods(paths::dataFile(path), found);
    QList<RunRecord> records;
    for (const QString &runFile : paths::runFiles(path)) {
        // Only Runs.txt is missed when it is missing: the earlier kinds are kept where they
        // were.
        if (runFile == paths::runFile(path) || QFileInfo::exists(runFile))
            records += readRunRecords(runFile, found);
    }
    QList<Run> folderRuns = cutRuns(std::move(periods), records, found);
    QStringList setupIds;
    for (Run &run : folderRuns) {
        run.folder = index;
        setupIds.append(run.setupId());
    }
    folder.scenarios = readKeptScenarios(path, setupIds, found);
    folder.people = readPeople(paths::database(path), found);
    for (Problem &problem : found)
        problem.file.prepend(labelPrefix);
    problems += found;
    runs += std::move(folderRuns);
    return folder;
}

} // namespace

const KeptScenario *Report::scenarioOf(const Run &run) const {
    const QHash<QString, KeptScenario> &scenarios = folderOf(run).scenarios;
    const auto found = scenarios.constFind(run.setupId());
    return found == scenarios.cend() ? nullptr : &*found;
}

Report readReport(const QStringList &labels, const QStringList &paths) {
    Report report;
    for (qsizetype index = 0; index < paths.size(); ++index) {
        const QString prefix = paths.size() > 1 ? labels.at(index) + QLatin1Char('/') : QString();
        report.folders.append(readFolder(labels.at(index), paths.at(index), prefix,
                                         static_cast<int>(index), report.runs, report.problems));
    }
    return report;
}

Report readReport(const QString &dataDirectory) {
    return readReport({dataDirectory}, {dataDirectory});
}
