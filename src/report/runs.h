#pragma once

#include "core/recording/problem.h"
#include "core/recording/runrecords.h"
#include "report/periods.h"

#include <QList>
#include <QString>

#include <optional>

// One run: consecutive periods of one player, with the Runs.txt record that closed it when
// there is one. A run killed mid-way has none.
struct Run {
    QList<Period> periods; // in file order, never empty
    std::optional<RunRecord> record;
    int folder = 0; // which of the report's data folders holds it

    const QString &subject() const { return periods.constFirst().subject; }
    const QString &version() const { return periods.constFirst().version; }
    // A person played it: its record's Player, or an empty Version where it has none.
    bool isPerson() const { return record ? record->playedByPerson() : version().isEmpty(); }
    // The run went to its last period; every other ending leaves it incomplete.
    bool isComplete() const;
    // "completed", "reset", ... or "no run record"
    QString endingText() const;

    qint64 firstLine() const { return periods.constFirst().line; }
    qint64 lastLine() const { return periods.constLast().line; }
    // Periods its record counts that Data.txt does not hold readable.
    qint64 missingPeriods() const;

    // Its identity from Runs.txt; empty without a record or in a Runs-v1.txt record.
    QString runId() const { return record ? record->runId : QString(); }
    QString studyCondition() const { return record ? record->studyCondition : QString(); }
    QString setupId() const { return record ? record->setupId : QString(); }
    // The seed of the run's environment noise; empty when it had none.
    QString seed() const { return record ? record->seed : QString(); }
    bool isPractice() const { return record && record->practice != 0; }

    qint64 periodsInBand() const;
    // periodsInBand over the periods read.
    double shareInBand() const;
    // Data.txt's TotalBonus of the last period read: the base payment and every bonus.
    double totalBonus() const;
    double payment() const { return totalBonus(); }
    // The payment the run started from, which TotalBonus includes: the first period's
    // TotalBonus less its own bonus (the setup's BasePayment; 5 when period 1 is not read).
    double basePayment() const;
    // The bonuses alone: the payment without the base payment.
    double bonus() const;
    // Mean over the periods of |amount - goal|.
    double meanDistanceFromGoal() const;
};

// Cuts the periods into runs, in the order of their first lines. A Runs.txt record takes the
// Data.txt lines it names (FirstDataLine and those after it, or its DataLines) when they hold
// its player's periods 1, 2, ... in order; a record that does not fit Data.txt is named in
// `problems` and ignored. The other periods form runs of their own,
// without a record: a run goes on while the player stays the same and the trial number
// grows as the line number does, so a damaged line in between does not cut it.
QList<Run> cutRuns(QList<Period> periods, const QList<RunRecord> &records, Problems &problems);
