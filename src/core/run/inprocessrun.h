#pragma once

#include "core/recording/runrecorder.h"
#include "core/run/runsession.h"

#include <QString>

#include <cstdint>
#include <memory>
#include <optional>
#include <vector>

// What a period leaves, at full precision: the figures of its Data.txt line before they are
// written with 15 digits.
struct StepFigures {
    int time = 0;
    double amount = 0; // in units
    double goal = 0;
    double envInflow = 0;
    double envOutflow = 0;
    double userInflow = 0; // the orders that arrived in the period
    double userOutflow = 0;
    bool inBand = false;
    double totalBonus = 0; // the payment so far: base payment and bonus
    bool last = false;
};

struct FolderRecords;

// A model's run played in this process, as the program plays a pause-free BATCH run: the
// same run object, the same steps in the same order, and (when a data folder is given) the
// same lines and record. A setup that cannot be played throws SetupError. Runs of this
// process that record in one folder share its lock and its records: their lines interleave
// in Data.txt as they are played, each run's found by its record's DataLines.
class InProcessRun {
public:
    // `setupPath` is the setup file; `recordFolder`, when not empty, a data folder that gets
    // each period's line and each run's record, as the program's own runs; `name` is the
    // subject of its lines.
    InProcessRun(const QString &setupPath, const QString &recordFolder, const QString &name);
    // Another run of `sibling`'s setup (one of a vector of runs), recording where it records.
    InProcessRun(const InProcessRun &sibling, std::optional<uint64_t> seed);
    ~InProcessRun();

    // A fresh run of the setup: with `seed` (1 to 2^53 - 1) its environment's noise, else
    // the setup's EnvSeed or a fresh seed, as the program chooses. The run before is
    // recorded as reset when it had lines.
    void reset(std::optional<uint64_t> seed = std::nullopt);
    // Plays one period; environment flows left out follow the setup's schedule and noise.
    // Throws std::runtime_error after the last period or when a line cannot be written.
    StepFigures step(double userInflow, double userOutflow,
                     std::optional<double> envInflow = std::nullopt,
                     std::optional<double> envOutflow = std::nullopt);
    // The orders still to arrive, one for each coming period up to the longest delay the
    // setup can have (index 0: the coming period).
    std::vector<double> pipeline(bool inflow) const;
    // The figures of the period played last; before the first, the run's start (time 0, the
    // starting amount, no flows, the base payment).
    StepFigures figures() const;
    const TaskState &state() const { return m_run ? m_run->state() : m_state; }
    // Ends the run (recorded as quit when it has lines) and puts every line on the disk; no
    // period is played after it.
    void close();

private:
    void finishRun(RunEnding ending);
    RunRecorder *records() const;

    TaskState m_scenario;                    // the setup as read, before any run
    std::shared_ptr<FolderRecords> m_folder; // none: nothing is recorded
    std::unique_ptr<RunSession> m_run;       // a recording run's object
    TaskState m_state;                       // else the run's state and view, played by its steps
    TaskView m_view;
    QString m_writeError; // why the last period's line or record could not be written
    bool m_closed = false;
    int m_longestDelay = 0;
};
