#pragma once

#include "core/engine/taskview.h"
#include "core/setup/taskstate.h"

// Judges the bonus of a period on the amount after all of its flows (scaled amount) and
// shows the money figures. Amount and band edges are rounded to three decimals first, so an
// amount off an edge only by the screen-unit conversion's error counts as on the edge.
void CalCost(TaskState &state, TaskView &view, double AmtInTank);
