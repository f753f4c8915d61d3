#pragma once

#include "core/recording/problem.h"
#include "report/people.h"
#include "report/runs.h"
#include "report/setups.h"

#include <QHash>
#include <QList>
#include <QString>

// One data folder the report reads.
struct DataFolder {
    QString label; // as the command line gave it, to tell folders apart on the page
    QString path;  // absolute
    People people;
    QHash<QString, KeptScenario> scenarios; // by SetupId
    DecisionTimes decisionTimes{}; // DecisionTimes.txt: a person's decisions, by RunId and period
    // While the program records in the folder, the Data.txt lines after the last one a run
    // record names belong to runs in progress: they are left out, and counted here.
    qint64 linesInProgress = 0;
    qint64 lastRecordedLine = 0; // the last line a run record names (1: none)
};

// All the report says about its data folders.
struct Report {
    QList<DataFolder> folders;
    QList<Run> runs; // folder by folder, each in file order
    Problems problems;

    const DataFolder &folderOf(const Run &run) const { return folders.at(run.folder); }
    // The run's kept scenario, or none when it names no setup.
    const KeptScenario *scenarioOf(const Run &run) const;
};

// Reads Runs.txt (and Runs-v1.txt, Runs-v2.txt when there are), then Data.txt, the kept setups
// and Krugel.db from each folder, `labels` giving what the page calls each. The records come
// first, so that every run they name has its lines in Data.txt; while the program records in
// a folder (a live process holds its lock), a Runs.txt line being written and the Data.txt
// lines after the last recorded run's are left out: a report sees only whole runs. What is missing
// or cannot be read becomes a problem; the rest is reported all the same. With more than one folder
// each problem's file is named with its folder's label.
Report readReport(const QStringList &labels, const QStringList &paths);
// One folder, labelled with its path.
Report readReport(const QString &dataDirectory);
