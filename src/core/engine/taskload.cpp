#include "core/engine/taskload.h"

#include "core/common/numbers.h"
#include "core/engine/tankgeometry.h"

#include <QCoreApplication>

void LoadTaskWindow(TaskState &state, TaskView &view) {
    using numbers::figure;
    view = TaskView{};
    view.unitName = state.unitName;
    view.currency = state.currency;
    view.showTimePeriod = state.showTimePeriod;
    view.showOrderBalances = state.showOrderBalances;
    view.practice = state.practice;
    view.userHighlights = state.UserHighlights;
    view.lblCurrTimePeriod = QString::number(state.currentTrial);
    view.lblTotTimePeriod = QString::number(state.MaxTrial);
    view.lblCurrBonusVal = figure(state.CurrentBonus);
    view.lblAccuBonusVal = figure(state.TotalBonus);
    view.lblStatusValue =
        QCoreApplication::translate("frmKrugel", "Try to meet the goal line on the tank by "
                                                 "adjusting Inflow and Outflow");
    PlaceYMarks(state, view, state.numYMarks, state.yMarkLabels);
    if (state.currentTrial != 0) {
        FillTank(state, view, state.tankIndex, state.Amount);
        view.lblInFlowStatusEnvVal = figure(periodValue(state.EnvInflow, state.currentTrial));
        view.lblOutFlowStatusEnvVal = figure(periodValue(state.EnvOutflow, state.currentTrial));
    } else {
        FillTank(state, view, state.tankIndex, state.InitialAmountInTank);
        state.Amount = state.InitialAmountInTank;
    }
    for (int pipe : {state.pipeUserIn, state.pipeUserOut, state.pipeEnvIn, state.pipeEnvOut})
        PipeWater(view, pipe, false);
    PlaceGoalLine(view, state.GoalLinePoisition / state.unitsPerMark);
    view.lblGoalStatusVal = figure(state.GoalLinePoisition / state.unitHeight);
    view.lblAmountStatusVal = figure(state.Amount / state.unitHeight);
    view.lblBackOrderVal = figure(state.TotalBackOrder);
    view.lblForwardOrderVal = figure(state.TotalForwardDischarge);
}
