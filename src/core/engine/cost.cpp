#include "core/engine/cost.h"

#include "core/common/numbers.h"

void CalCost(TaskState &state, TaskView &view, double AmtInTank) {
    using numbers::RoundToFactor;
    const double goal = state.GoalLinePoisition / state.unitHeight;
    const double lower = RoundToFactor(goal - state.goalToleranceBelow, 1000);
    const double upper = RoundToFactor(goal + state.goalToleranceAbove, 1000);
    const double amount = RoundToFactor(AmtInTank / state.unitHeight, 1000);
    if (lower <= amount && amount <= upper) {
        state.CurrentBonus = state.bonusPerPeriod;
        state.TotalBonus += state.CurrentBonus;
        ++state.periodsInBand;
    } else {
        state.CurrentBonus = 0;
    }
    if (!view.drawn)
        return;
    view.lblCurrBonusVal = view.figureText(state.CurrentBonus);
    view.lblAccuBonusVal = view.figureText(state.TotalBonus);
    view.lblCurrCostVal = view.figureText(state.currentCost);
    view.lblAccuCostVal = view.figureText(state.accumulatedCost);
}
