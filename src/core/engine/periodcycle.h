#pragma once

#include "core/engine/taskview.h"
#include "core/setup/taskstate.h"

#include <optional>

// The steps of one period. Each is a function of the task state that changes what the task
// window shows; the period runner's timers only sequence them:
//   Submit -> Timer1: TakeDecision (which runs EnvironmentDecision)
//   -> tmrEnvDelay: EndEnvironmentHighlight -> tmrEnvMv: EndEnvironmentPhase (processDecision)
//   -> tmrUserDelay: ApplyUserFlows -> tmrUserMv: ClosePeriod, then the data line.

// The wait before one of a period's short steps (the decision and the two moves, 1 ms by
// design): in a BATCH run every timed step waits batchPauseMs instead.
int32_t StepPause(const TaskState &state, int32_t designMs);

// Sets the environment's flows of the coming period (currentTrial + 1) where the player gives
// them; a flow left out keeps the setup's. A period past the end of the tables is ignored.
void SetEnvironmentFlows(TaskState &state, std::optional<double> inflow,
                         std::optional<double> outflow);

// Whether a decision now plays a period (false after the last one).
bool PeriodsRemain(const TaskState &state);

// Takes the decision of the next period and starts its environment phase.
void TakeDecision(TaskState &state, TaskView &view, double inflow, double outflow);

// Applies and shows the environment's flows of the period.
void EnvironmentDecision(TaskState &state, TaskView &view);
// tmrEnvDelay: the environment boxes go idle.
void EndEnvironmentHighlight(TaskState &state, TaskView &view);
// tmrEnvMv: the environment labels are cleared and the user phase begins.
void EndEnvironmentPhase(TaskState &state, TaskView &view);

// Which of the player's orders arrive in the period; shows them and updates the outstanding
// totals. Also switches the delay regime.
void processDecision(TaskState &state, TaskView &view);
// Moves the arriving orders into the tank and refreshes the status figures.
void ApplyUserFlows(TaskState &state, TaskView &view);
// tmrUserMv: clears the user labels, judges the bonus and re-enables the input.
void ClosePeriod(TaskState &state, TaskView &view);

// The four flows the status figures show once the user's flows of the period have acted:
// the environment's flows of the period and the user's orders that took effect in it (0 for
// a share of an initial order).
struct ShownFlows {
    double envInflow = 0;
    double envOutflow = 0;
    double userInflow = 0;
    double userOutflow = 0;
};
ShownFlows FlowsShown(const TaskState &state);

// Every step of a period in order, without pauses (tests and benchmarks).
void PlayPeriod(TaskState &state, TaskView &view, double inflow, double outflow);
