#include "report/conditions.h"

#include <cmath>

namespace {

// Beyond any scenario's MaxTrial: a damaged line's odd period number must not size the tables.
constexpr qint64 mostPeriods = 1 << 20;

// Mean and spread in one pass (Welford), per period.
struct Accumulator {
    std::vector<int> count;
    std::vector<double> mean;
    std::vector<double> squares; // sum of squared deviations from the mean

    void add(qint64 period, double value) {
        if (period < 1 || period > mostPeriods)
            return;
        const auto index = static_cast<size_t>(period - 1);
        if (index >= count.size()) {
            count.resize(index + 1, 0);
            mean.resize(index + 1, 0.0);
            squares.resize(index + 1, 0.0);
        }
        ++count[index];
        const double delta = value - mean[index];
        mean[index] += delta / count[index];
        squares[index] += delta * (value - mean[index]);
    }
};

void summarise(ConditionGroup &group, const QList<Run> &runs) {
    Accumulator distances;
    for (const qsizetype index : group.runs) {
        const Run &run = runs.at(index);
        if (run.isPractice()) {
            ++group.practiceRuns;
            continue;
        }
        for (const Period &period : run.periods)
            distances.add(period.trial, std::abs(period.amount - period.goal));
        group.shareInBand.push_back(run.shareInBand());
    }
    group.runsInPeriod = distances.count;
    group.meanDistance = distances.mean;
    group.sdDistance.resize(distances.count.size());
    for (size_t i = 0; i < distances.count.size(); ++i) {
        const int n = distances.count[i];
        group.sdDistance[i] = n > 1 ? std::sqrt(distances.squares[i] / (n - 1)) : 0.0;
    }
}

} // namespace

QList<ConditionGroup> groupByCondition(const QList<Run> &runs) {
    QList<ConditionGroup> groups;
    QHash<QString, qsizetype> groupOf;
    for (qsizetype index = 0; index < runs.size(); ++index) {
        const QString condition = runs.at(index).studyCondition();
        if (!groupOf.contains(condition)) {
            groupOf.insert(condition, groups.size());
            groups.append({condition, {}, 0, {}, {}, {}, {}});
        }
        groups[groupOf.value(condition)].runs.append(index);
    }
    for (ConditionGroup &group : groups)
        summarise(group, runs);
    return groups;
}
