#pragma once

#include "core/engine/taskview.h"
#include "core/recording/datacolumns.h"
#include "core/setup/taskstate.h"

#include <QByteArray>
#include <QList>
#include <QString>
#include <QStringList>

// The replay check: every run that Runs.txt (and the earlier kinds, Runs-v1.txt and
// Runs-v2.txt) record is played again, from the setup text it used and the decisions and
// environment flows its lines in Data.txt record, through the engine the program plays with,
// and every figure of each of its lines is compared with the figure the replay gives. Each
// record is compared with its lines too (periods in the band, payment, ending, start, seed,
// player), and every line that no record names is named. It only reads: it takes no lock, so
// it can run beside a program that is recording in the same folder.

// A figure of Data.txt that the replay of its period does not give.
struct FigureDifference {
    qint64 line = 0; // in Data.txt, the header being line 1
    DataColumn column = Trial;
    QByteArray recorded; // the field as the file holds it
    double recomputed = 0;

    // "line 7, Amount: recorded 3.5, recomputed 3.25"
    QString text() const;
};

// What a run's record, or a line's player, says that its lines do not.
struct RecordDifference {
    QString place;    // "Runs.txt line 3", "line 7"
    QString column;   // "TotalBonus", "Subject"
    QString recorded; // as the file holds it
    QString expected; // "its lines give 5.05"

    // "Runs.txt line 3, TotalBonus: recorded 5.1, its lines give 5.05"
    QString text() const;
};

struct ReplayCheck {
    qint64 runs = 0;    // runs replayed to their last line
    qint64 periods = 0; // lines compared
    QList<FigureDifference> differences;
    QList<RecordDifference> recordDifferences;
    // Why nothing could be verified: no data folder, no Runs.txt, an unreadable Data.txt.
    QString failure;
    // Runs that could not be replayed, wholly or in part.
    QStringList problems;
    // Runs replayed from the current Setup.txt, having no kept setup of their own.
    QStringList notes;

    bool clean() const {
        return failure.isEmpty() && differences.isEmpty() && recordDifferences.isEmpty() &&
               problems.isEmpty();
    }
    // "3 runs, 300 periods verified, 0 differences"
    QString summary() const;
    // Every difference, the figures' first, as the check prints them.
    QStringList differenceTexts() const;
};

// A loaded scenario made ready to be played again as the program played it: its order
// tables, the first PracticePeriods periods alone for a practice run, the task state as
// start-up prepares it, and the steps laid out for no window.
void PrepareReplay(TaskState &state, TaskView &view, bool practice = false);

// One recorded period played again: its environment flows set as a model's EI and EO set
// them (a person's scheduled flows are recorded alike), then its decision.
void ReplayPeriod(TaskState &state, TaskView &view, double userInflow, double userOutflow,
                  double envInflow, double envOutflow);

// Replays every recorded run of the data folder `dataDir`.
ReplayCheck CheckReplay(const QString &dataDir);

// Whether a recorded figure and the one recomputed differ: by more than 1e-9 of the larger
// magnitude, and below magnitude 1 by more than 1e-9; a figure that is not finite always
// differs. The replay repeats the program's
// arithmetic exactly, but a decision is recorded to 15 significant digits, so a figure may
// come out a few units in the 15th digit of the flows that made it; where those flows nearly
// cancel (an amount brought back to 0) that is no small part of the figure itself. Figures
// are units, dollars or periods, and the program judges an amount to 1e-3 units, so 1e-9
// below 1 tells apart every figure that the task could. Not-a-number matches only itself.
bool FiguresDiffer(double recorded, double recomputed);
