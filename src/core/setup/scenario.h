#pragma once

#include "core/setup/setupfile.h"
#include "core/setup/taskstate.h"

#include <QStringList>

// Loading and checking a scenario from the setup file. Every loader throws SetupError with
// a message that names the key and the file when a key is missing, is not a number, or is
// out of its range (a negative MaxTrial, an amount or order beyond MaxMagnitude), and
// SetupFileMissing when there is no setup file or it cannot be read (and SetupError when it
// is not a regular file or too large, see SetupFile).

void LoadScenarioParameters(TaskState &state, SetupFile &setup);
void LoadDelaySettings(TaskState &state, SetupFile &setup);
void BuildDelayEndTables(TaskState &state);
// The optional keys EnvInflowSchedule and EnvOutflowSchedule: a comma-separated list of the
// environment's flow in periods 1, 2, 3, ..., one value (every period) or MaxTrial values.
void LoadEnvironmentSchedules(TaskState &state, SetupFile &setup);
// Everything Start reads from the setup file, in Start's order, then the optional
// EnvInflowNoise, EnvOutflowNoise and EnvSeed, the optional ExitPassword, and last the
// optional PracticePeriods (at most MaxTrial), HighlightColours and Language (one the
// program has).
void LoadScenario(TaskState &state, SetupFile &setup);
// Reads as LoadScenario does but goes on past a bad key, 0 in its place: every error, in
// order, each key at most once; a check that depends on a bad key (the length of a schedule
// on MaxTrial) is skipped. Throws SetupFileMissing like the loaders.
QList<SetupError> ScenarioErrors(TaskState &state, SetupFile &setup);
void BuildScaleLabels(TaskState &state);
void SizeEnvironmentTables(TaskState &state);
// Fills the environment tables from the schedules, at the start of every run; a model's
// EI and EO still override the periods they name.
void ApplyEnvironmentSchedules(TaskState &state);
// BackOrder and ForwardDischarge, zero-filled, for periods 0 to MaxTrial + 1.
void CreateOrderTables(TaskState &state);

// Makes the run a practice: the first PracticePeriods periods of the scenario. Between
// CreateOrderTables and PrepareTaskState, so that the initial orders spread as in the run.
void BeginPractice(TaskState &state);

// The messages of the design's two scenario checks that fail, in order.
QStringList ValidateScenario(const TaskState &state);

// Combinations the task cannot be played with (tables too small for the run, an initial
// order spread past the end of the period tables): a message naming the values in
// conflict, or empty text when the scenario can be played.
QString ScenarioConflict(const TaskState &state);

// MaxTrial 0 is a run without periods: a model logs in and is told the run is over, but a
// person must not be sent through the subject form for nothing. A message, or empty text.
QString NothingToPlay(const TaskState &state);

// Start-up's preparation of the task once the login has closed: scale labels, tank
// capacity, environment tables with their schedules and the noise of state.runSeed, and the
// task state.
void PrepareTaskState(TaskState &state);
