#pragma once

#include "report/runs.h"

#include <QList>
#include <QString>

#include <vector>

// The runs of one study condition, and how far from the goal they kept the amount.
struct ConditionGroup {
    QString name;          // StudyCondition; empty for the runs without one
    QList<qsizetype> runs; // indices into the report's runs, in order
    // The figures below leave practice runs out.
    int practiceRuns = 0;
    // Per period 1, 2, ... (index 0 is period 1): over the runs that have the period, the
    // number of them, the mean of |amount - goal| and its standard deviation (0 for one run).
    std::vector<int> runsInPeriod;
    std::vector<double> meanDistance;
    std::vector<double> sdDistance;
    // Each run's share of periods in the band.
    std::vector<double> shareInBand;
};

// The runs grouped by StudyCondition, in the order each condition first appears.
QList<ConditionGroup> groupByCondition(const QList<Run> &runs);
