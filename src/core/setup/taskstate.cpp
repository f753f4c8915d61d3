#include "core/setup/taskstate.h"

#include <algorithm>

namespace {

// An initial order arrives in equal parts over the periods 1 to d - 1, in which no decision
// of the player can arrive yet. The start-up checks refuse a non-zero order that would reach
// past the table; a zero order's shares past it are zero and need no place.
void spreadInitialOrder(std::vector<double> &schedule, double order, int delay) {
    const int last = delay < 2 ? 1 : delay - 1;
    const double share = delay < 2 ? order : order / (delay - 1);
    for (int t = 1; t <= last && t < static_cast<int>(schedule.size()); ++t)
        schedule[static_cast<size_t>(t)] = share;
}

} // namespace

void InitTaskState(TaskState &state) {
    if (state.currentTrial == 0) {
        state.accumulatedCost = state.basePayment;
        state.TotalBonus = state.basePayment;
        state.currentCost = 0;
        state.CurrentBonus = 0;
        state.periodsInBand = 0;
        if (!state.BackOrder.empty())
            state.BackOrder[0] = 0;
        spreadInitialOrder(state.BackOrder, state.InitialBackOrder, state.inFlowTPAfter);
        state.TotalBackOrder = state.InitialBackOrder;
        spreadInitialOrder(state.ForwardDischarge, state.InitialForwardDischarge,
                           state.outFlowTPAfter);
        state.TotalForwardDischarge = state.InitialForwardDischarge;
    }
    state.pipeUserIn = 0;
    state.pipeUserOut = 1;
    state.pipeEnvIn = 2;
    state.pipeEnvOut = 3;
    state.tankIndex = 0;
    // Periods 0 to MaxTrial + 1; a refused negative MaxTrial gets no table rather than one
    // of nearly SIZE_MAX elements.
    const auto periods = static_cast<size_t>(std::max<int64_t>(int64_t{state.MaxTrial} + 2, 0));
    state.UserInflow.assign(periods, 0.0);
    state.UserOutflow.assign(periods, 0.0);
}
