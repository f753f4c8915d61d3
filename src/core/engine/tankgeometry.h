#pragma once

#include "core/engine/taskview.h"
#include "core/setup/taskstate.h"

// The tank drawing's fixed geometry, in twips from the window's top-left corner.
namespace tank {
constexpr int left = 2880;
constexpr int top = 2760;
constexpr int width = 9375;
constexpr int height = 3585;
constexpr int bottom = top + height; // 6345
constexpr int markLabelHeight = 255;
constexpr int smallestFill = 15; // a fill this low never shrinks further
} // namespace tank

// Computes the scale, converts the three stock values to screen units (once per load) and
// places the marks and their captions.
void PlaceYMarks(TaskState &state, TaskView &view, int marks, const QStringList &labels);
// Redraws the fill for a scaled amount.
void FillTank(const TaskState &state, TaskView &view, int index, double amount);
// Puts the goal line `height` twips above the tank's bottom edge.
void PlaceGoalLine(TaskView &view, double height);
// Shows or hides a pipe's water; a pipe number other than 0 to 3 does nothing.
void PipeWater(TaskView &view, int pipe, bool visible);
