#pragma once

#include "setup/taskstate.h"

#include <QStringList>

// Loading and checking a scenario from the setup file. Every loader throws SetupError with
// a message that names the key and the file when a key is missing, is not a number, or is
// out of its range (a negative MaxTrial, an amount or order beyond MaxMagnitude), and
// SetupFileMissing when there is no setup file or it cannot be read.

void LoadScenarioParameters(TaskState &state, const QString &setupPath);
void LoadDelaySettings(TaskState &state, const QString &setupPath);
void BuildDelayEndTables(TaskState &state);
void BuildScaleLabels(TaskState &state);
void SizeEnvironmentTables(TaskState &state);
// BackOrder and ForwardDischarge, zero-filled, for periods 0 to MaxTrial + 1.
void CreateOrderTables(TaskState &state);

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
// capacity, environment tables and the task state.
void PrepareTaskState(TaskState &state);
