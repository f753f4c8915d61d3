#pragma once

#include "core/engine/taskview.h"
#include "core/setup/taskstate.h"

#include <QObject>
#include <QTime>

#include <array>
#include <functional>
#include <optional>

class StepTimer;

// The player's orders for one period.
struct Decision {
    double inflow = 0;
    double outflow = 0;
    // A model's decision is written into the entry boxes, where a person types their own.
    bool showInEntryBoxes = false;
    // The environment's flows of this period, when the player sets them (a model's EI and
    // EO); left out, the setup's schedule and noise play.
    std::optional<double> envInflow{};
    std::optional<double> envOutflow{};
};

// The cycle of a period, played on the task state without any window: Submit takes the
// decision, then the steps follow each other through one-shot timers, in the order and with
// the pauses of the design (Timer1, tmrEnvDelay, tmrEnvMv, tmrUserDelay, tmrUserMv, each a
// child of the runner with that name). A step whose pause is 0 runs at once, so a pause-free
// period is played in one pass. Whatever shows the task draws view() on viewChanged().
class PeriodRunner : public QObject {
    Q_OBJECT
public:
    explicit PeriodRunner(TaskState &state, QObject *parent = nullptr);

    // What the task window shows when it opens; from here on the stock values are scaled.
    void load();
    const TaskView &view() const { return m_view; }
    // Whether anything draws the view; nobody does in a BATCH run, which then lays out no
    // text at all.
    void setDrawn(bool drawn) { m_view.drawn = drawn; }
    bool running() const { return m_running; }

    // Submit: plays the next period with `decision`; after the last period nothing is played
    // and nothingToPlay() follows. Refused (false) while a period runs.
    bool submit(const Decision &decision);
    // Plays what remains of a running period at once, without its pauses. False when no
    // period waits on a pause (none runs, or one of its steps is still under way).
    bool finishNow();
    // Stops a running period for good: the run is being discarded.
    void stop();
    // Called while periodClosed() is emitted: the period stays closing (input still waits)
    // until releaseClose(), as its line could not be written yet.
    void holdClose() { m_closeHeld = true; }
    void releaseClose();

    // Where the start and end times of a period come from (tests give a fixed clock).
    void setClock(std::function<QTime()> clock) { m_clock = std::move(clock); }

signals:
    void viewChanged();
    // A decision was taken in: input waits until periodFinished().
    void periodStarted();
    // The period's figures are final and EndTime is taken: its line is due now (a listener
    // that cannot write it yet holds the close).
    void periodClosed();
    // The period is over (or a decision played nothing); `lastPeriod` when it was MaxTrial.
    void periodFinished(bool lastPeriod);
    // A decision came after the last period: nothing was played.
    void nothingToPlay();

private:
    enum Step { Timer1, EnvDelay, EnvMove, UserDelay, UserMove, StepCount };

    void run(Step step);
    void next(Step step, int pauseMs);
    StepTimer *timer(Step step);
    void changed();
    void takeDecision();
    void endEnvironmentHighlight();
    void endEnvironmentPhase();
    void applyUserFlows();
    void closePeriod();
    void finishClose();
    void setEntryTexts(const QString &inflow, const QString &outflow);

    TaskState &m_state;
    TaskView m_view;
    Decision m_decision;
    std::array<StepTimer *, StepCount> m_timers{}; // made when first needed
    Step m_pending = Timer1;
    bool m_running = false;
    bool m_finishing = false;
    bool m_closeHeld = false;
    std::function<QTime()> m_clock;
};
