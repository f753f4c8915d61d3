#include "report/report.h"

#include "core/common/paths.h"
#include "core/common/platform.h"
#include "core/recording/decisiontimes.h"
#include "core/recording/tabfile.h"

#include <QFileInfo>
#include <QLockFile>
#include <QSysInfo>

#include <algorithm>

namespace {

// Whether a live process of this machine holds the folder's lock: the program, or a run in
// process, records there now. A lock file that cannot be read, or was taken on another
// machine, is taken as held.
bool isRecording(const QString &folder) {
    const QString lockPath = paths::lockFile(folder);
    if (!QFileInfo::exists(lockPath))
        return false;
    QLockFile lock(lockPath);
    qint64 pid = 0;
    QString host;
    QString application;
    if (!lock.getLockInfo(&pid, &host, &application) || host != QSysInfo::machineHostName())
        return true;
    return platform::processRuns(pid);
}

// The records of one run file. While the program records, a last line without its end is
// a record being written: it is left out.
QList<RunRecord> readRecords(const QString &runFile, bool recording, Problems &problems) {
    if (!recording)
        return readRunRecords(runFile, problems);
    const QString label = QFileInfo(runFile).fileName();
    std::optional<QByteArray> bytes = tabfile::readBytes(
        runFile, label,
        QStringLiteral("runs are cut from Data.txt alone, and none counts as complete"), problems);
    if (!bytes)
        return {};
    bytes->truncate(bytes->lastIndexOf('\n') + 1);
    QStringList lines;
    tabfile::forEachLine(*bytes, [&lines](QString line) { lines.append(std::move(line)); });
    return parseRunRecords(lines, problems, label);
}

// The records of every run file of the folder, the earliest kind first.
QList<RunRecord> readAllRecords(const QString &path, bool recording, Problems &problems) {
    QList<RunRecord> records;
    for (const QString &runFile : paths::runFiles(path)) {
        // Only Runs.txt is missed when it is missing: the earlier kinds are kept where they
        // were.
        if (runFile == paths::runFile(path) || QFileInfo::exists(runFile))
            records += readRecords(runFile, recording, problems);
    }
    return records;
}

DataFolder readFolder(const QString &label, const QString &path, const QString &labelPrefix,
                      int index, QList<Run> &runs, Problems &problems) {
    DataFolder folder;
    folder.label = label;
    folder.path = path;
    Problems found;
    const bool recording = isRecording(path);
    Problems recordProblems; // named after those of Data.txt, as the files are listed
    const QList<RunRecord> records = readAllRecords(path, recording, recordProblems);
    folder.lastRecordedLine = 1;
    for (const RunRecord &record : records)
        folder.lastRecordedLine = std::max(folder.lastRecordedLine, record.lastDataLine());
    PeriodReading reading =
        readPeriods(paths::dataFile(path), found, recording ? folder.lastRecordedLine : -1);
    folder.linesInProgress = reading.linesLeftOut;
    found += recordProblems;
    QList<Run> folderRuns = cutRuns(std::move(reading.periods), records, found);
    QStringList setupIds;
    for (Run &run : folderRuns) {
        run.folder = index;
        setupIds.append(run.setupId());
    }
    folder.scenarios = readKeptScenarios(path, setupIds, found);
    folder.decisionTimes = readDecisionTimes(decisionTimesPath(path), found);
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
