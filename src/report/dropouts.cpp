#include "report/dropouts.h"

#include <QHash>

#include <algorithm>

namespace {

// What a folder's runs are known by: their RunIds, and the persons' runs no datRun row claims
// by their subject's name.
struct FolderRuns {
    QHash<QString, qsizetype> byRunId;
    QHash<QString, QList<qsizetype>> unlinkedBySubject;
};

FolderRuns runsOfFolder(const Report &report, int folder) {
    const People &people = report.folders.at(folder).people;
    FolderRuns found;
    for (qsizetype index = 0; index < report.runs.size(); ++index) {
        const Run &run = report.runs.at(index);
        if (run.folder != folder)
            continue;
        if (!run.runId().isEmpty())
            found.byRunId.insert(run.runId(), index);
        if (run.isPerson() && !people.subjectRowOfRun.contains(run.runId()))
            found.unlinkedBySubject[run.subject()].append(index);
    }
    return found;
}

QString stopText(const Run &run) {
    const QString stage =
        run.isPractice() ? QStringLiteral("in the practice") : QStringLiteral("in the task");
    if (!run.record)
        return QStringLiteral("%1: cut off after period %2 (no run record)")
            .arg(stage)
            .arg(run.periods.constLast().trial);
    return QStringLiteral("%1: %2 after period %3 of %4")
        .arg(stage, run.endingText())
        .arg(run.record->periodsPlayed)
        .arg(run.record->maxTrial);
}

// Where the person stopped: in or after the last run played (a datRun row without lines in
// Data.txt is a run that never played a period).
QString whereStopped(const Report &report, const QList<qsizetype> &runs) {
    if (runs.isEmpty())
        return QStringLiteral("before the first period");
    const Run &last = report.runs.at(runs.constLast());
    if (last.isPractice() && last.isComplete())
        return QStringLiteral("after the practice, before the task's first period");
    return stopText(last);
}

bool hasCompletedRun(const Report &report, const QList<qsizetype> &runs) {
    return std::any_of(runs.cbegin(), runs.cend(), [&report](qsizetype index) {
        const Run &run = report.runs.at(index);
        return run.isComplete() && !run.isPractice();
    });
}

void addDropoutsOf(const Report &report, int folder, QList<Dropout> &dropouts) {
    const People &people = report.folders.at(folder).people;
    const FolderRuns runs = runsOfFolder(report, folder);
    QHash<qint64, QList<const RunLink *>> linksOfSubject;
    for (const RunLink &link : people.runLinks)
        linksOfSubject[link.subjectRowId].append(&link);
    for (const SubjectRecord &record : people.subjects) {
        const QList<const RunLink *> links = linksOfSubject.value(record.rowId);
        Dropout dropout{folder, {}, record, {}, {}};
        if (links.isEmpty()) {
            dropout.runs = runs.unlinkedBySubject.value(record.subject);
        } else {
            dropout.condition = links.constLast()->studyCondition;
            for (const RunLink *link : links) {
                const auto run = runs.byRunId.constFind(link->runId);
                if (run != runs.byRunId.cend())
                    dropout.runs.append(*run);
            }
        }
        if (hasCompletedRun(report, dropout.runs))
            continue;
        if (links.isEmpty() && !dropout.runs.isEmpty())
            dropout.condition = report.runs.at(dropout.runs.constLast()).studyCondition();
        dropout.stopped = whereStopped(report, dropout.runs);
        dropouts.append(dropout);
    }
}

} // namespace

QList<Dropout> findDropouts(const Report &report) {
    QList<Dropout> dropouts;
    for (qsizetype folder = 0; folder < report.folders.size(); ++folder) {
        if (report.folders.at(folder).people.isRead)
            addDropoutsOf(report, static_cast<int>(folder), dropouts);
    }
    return dropouts;
}
