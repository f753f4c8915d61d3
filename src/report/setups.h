#pragma once

#include "core/recording/problem.h"
#include "core/setup/taskstate.h"

#include <QHash>
#include <QString>
#include <QStringList>

#include <memory>

// The scenario a run played, from the setup text the program kept for it under
// setups/SETUPID.txt.
struct KeptScenario {
    QString setupId;
    // The scenario as Start loads it (amounts in units), or none when the text is missing or
    // cannot be loaded; `problem` then says why.
    std::shared_ptr<const TaskState> state;
    QString problem;

    // The figures of the scenario in a few words each: periods, initial amount, goal and
    // band, delays, initial orders, the environment's schedule. Empty without a state.
    QStringList summary() const;
};

// The kept scenarios of `setupIds`, by identity, read from the data folder `dataDir`. An
// identity that is not 12 hex digits is never looked up; a missing or unusable text is
// named in `problems`.
QHash<QString, KeptScenario> readKeptScenarios(const QString &dataDir, const QStringList &setupIds,
                                               Problems &problems);
