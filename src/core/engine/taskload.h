#pragma once

#include "core/engine/taskview.h"
#include "core/setup/taskstate.h"

// What the task window shows when it is loaded: counters, money and order figures, the
// scale (from here on the stock values are scaled), the fill, the goal line and the status.
void LoadTaskWindow(TaskState &state, TaskView &view);
