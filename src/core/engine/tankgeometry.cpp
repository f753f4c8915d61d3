#include "core/engine/tankgeometry.h"

#include <algorithm>
#include <cmath>

void PlaceYMarks(TaskState &state, TaskView &view, int marks, const QStringList &labels) {
    state.unitsPerMark = state.tankCapacity / marks;
    state.unitHeight = double{tank::height} / marks;
    state.GoalLinePoisition *= state.unitHeight;
    state.InitialAmountInTank *= state.unitHeight;
    state.Amount *= state.unitHeight;
    view.markY.clear();
    view.lblMarkYTop.clear();
    view.lblMarkYCaption.clear();
    for (int i = 0; i < marks; ++i) {
        const double y = tank::bottom - (i + 1) * state.unitHeight;
        view.markY.push_back(static_cast<float>(y));
        view.lblMarkYTop.push_back(static_cast<float>(y - tank::markLabelHeight / 2.0));
        view.lblMarkYCaption.append(labels.value(i));
    }
}

void FillTank(const TaskState &state, TaskView &view, int index, double amount) {
    if (index != 0)
        return;
    FillRect &fill = view.TankFill;
    // Heights are whole twips; an absurd amount is drawn far off the window, never wrapped.
    const double h = std::min(std::floor(amount / state.unitsPerMark), 1e9);
    fill.visible = true;
    if (!(h >= 0)) { // below zero, or not a number after an overflowing flow
        fill.height = 0;
        fill.top = tank::bottom;
        return;
    }
    const int d = static_cast<int>(h) - fill.height;
    if (fill.height == tank::smallestFill && d < 0)
        return;
    // Only the top moves: the bottom edge stays where the last placement left it.
    fill.height += d;
    fill.top -= d;
}

void PlaceGoalLine(TaskView &view, double height) {
    view.lineGoalY = static_cast<float>(tank::bottom - height);
}

void PipeWater(TaskView &view, int pipe, bool visible) {
    if (pipe >= 0 && pipe < static_cast<int>(view.pipeWater.size()))
        view.pipeWater[static_cast<size_t>(pipe)] = visible;
}
