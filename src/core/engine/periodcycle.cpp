#include "core/engine/periodcycle.h"

#include "core/common/numbers.h"
#include "core/engine/cost.h"
#include "core/engine/tankgeometry.h"

#include <QCoreApplication>

namespace {

// The task window's texts, in the participant's language; none where nobody draws the view
// (looking a text up in the translations takes a lock that every run's thread would share).
QString shown(const TaskView &view, const char *text) {
    return view.drawn ? QCoreApplication::translate("frmKrugel", text) : QString();
}

QString userActionText(const TaskView &view) {
    return shown(view, QT_TRANSLATE_NOOP("frmKrugel", "User flow Action in Play"));
}

void hideAllPipes(const TaskState &state, TaskView &view) {
    for (int pipe : {state.pipeUserIn, state.pipeUserOut, state.pipeEnvIn, state.pipeEnvOut})
        PipeWater(view, pipe, false);
}

bool environmentActive(const TaskState &state) {
    const int t = state.currentTrial;
    return periodValue(state.EnvInflow, t) >= 0 || periodValue(state.EnvOutflow, t) >= 0;
}

bool userFlowsDue(const TaskState &state) {
    // Refused at Start; should a run go on regardless, no period is divisible by 0.
    return state.AfterEveryNTrials > 0 && state.currentTrial % state.AfterEveryNTrials == 0;
}

// The order that arrives in the period through one pipeline, if any: the share of the
// initial order while the source period lies before period 1, otherwise the decision of
// the source period when it is greater than 0.
struct Arrival {
    bool arrives = false;
    bool fromInitialOrder = false;
    double quantity = 0;
    int source = 0;
};

Arrival arrivalOf(const TaskState &state, int delay, const std::vector<double> &decisions,
                  const std::vector<double> &initialShares) {
    Arrival a;
    const int t = state.currentTrial;
    a.source = t - (delay - 1);
    if (a.source < 1) {
        a.arrives = true;
        a.fromInitialOrder = true;
        a.quantity = periodValue(initialShares, t);
    } else if (periodValue(decisions, a.source) > 0) {
        a.arrives = true;
        a.quantity = periodValue(decisions, a.source);
    }
    return a;
}

Arrival inflowArrival(const TaskState &s) {
    return arrivalOf(s, s.inFlowTPAfter, s.UserInflow, s.BackOrder);
}

Arrival outflowArrival(const TaskState &s) {
    return arrivalOf(s, s.outFlowTPAfter, s.UserOutflow, s.ForwardDischarge);
}

// Amounts are held scaled; every change is made in units and scaled back, in exactly this
// order of operations, so that the recorded digits match the design's.
void changeAmount(TaskState &state, double units) {
    state.Amount = (state.Amount / state.unitHeight + units) * state.unitHeight;
}

void switchDelayRegime(int t, int32_t maxTrial, int16_t count, const std::vector<int16_t> &ends,
                       const std::vector<double> &values, int16_t &delay) {
    for (int k = 0; k < count && k < static_cast<int>(ends.size()); ++k) {
        if (t == ends[static_cast<size_t>(k)] && t != maxTrial)
            delay = static_cast<int16_t>(numbers::roundHalfEven(periodValue(values, k + 1)));
    }
}

void showEnvironmentFlows(TaskView &view, double in, double out) {
    view.lblEnvInCon = {Colour::Red, view.figureText(in)};
    view.lblEnvOutCon = {Colour::Green, view.figureText(out)};
    view.lblStatusValue = shown(view, QT_TRANSLATE_NOOP("frmKrugel", "Environment Action in Play"));
    view.lblEnvOutput[0] = {
        view.flowCaption(shown(view, QT_TRANSLATE_NOOP("frmKrugel", "ENV: ")), out), Colour::Green};
    view.lblEnvInput[1] = {
        view.flowCaption(shown(view, QT_TRANSLATE_NOOP("frmKrugel", "ENV: ")), in), Colour::Red};
}

void showStatusFigures(const TaskState &state, TaskView &view) {
    const ShownFlows shown = FlowsShown(state);
    view.lblInFlowStatusEnvVal = view.figureText(shown.envInflow);
    view.lblOutFlowStatusEnvVal = view.figureText(shown.envOutflow);
    view.lblInFlowStatusVal = view.figureText(shown.userInflow);
    view.lblOutFlowStatusVal = view.figureText(shown.userOutflow);
    view.lblGoalStatusVal = view.figureText(state.GoalLinePoisition / state.unitHeight);
    view.lblAmountStatusVal = view.figureText(state.Amount / state.unitHeight);
    view.lblBackOrderVal = view.figureText(state.TotalBackOrder);
    view.lblForwardOrderVal = view.figureText(state.TotalForwardDischarge);
}

} // namespace

int32_t StepPause(const TaskState &state, int32_t designMs) {
    return state.versionTag == QLatin1String("BATCH") ? state.batchPauseMs : designMs;
}

// The tables reach MaxTrial + 1, so flows given after the last period name a period without a
// place and are dropped.
void SetEnvironmentFlows(TaskState &state, std::optional<double> inflow,
                         std::optional<double> outflow) {
    const int64_t period = static_cast<int64_t>(state.currentTrial) + 1;
    const auto set = [period](std::vector<double> &table, std::optional<double> value) {
        if (value && period >= 1 && period < static_cast<int64_t>(table.size()))
            table[static_cast<size_t>(period)] = *value;
    };
    set(state.EnvInflow, inflow);
    set(state.EnvOutflow, outflow);
}

bool PeriodsRemain(const TaskState &state) {
    return state.currentTrial < state.MaxTrial;
}

void TakeDecision(TaskState &state, TaskView &view, double inflow, double outflow) {
    state.currentTrial += 1;
    if (view.drawn)
        view.lblCurrTimePeriod = QString::number(state.currentTrial);
    view.entryEnabled = false;
    const auto t = static_cast<size_t>(state.currentTrial);
    state.UserInflow.at(t) = inflow;
    state.UserOutflow.at(t) = outflow;
    EnvironmentDecision(state, view);
}

void EnvironmentDecision(TaskState &state, TaskView &view) {
    hideAllPipes(state, view);
    if (environmentActive(state)) {
        const int t = state.currentTrial;
        const double in = periodValue(state.EnvInflow, t);
        const double out = periodValue(state.EnvOutflow, t);
        PipeWater(view, state.pipeUserIn, false);
        PipeWater(view, state.pipeUserOut, false);
        PipeWater(view, state.pipeEnvIn, true);
        PipeWater(view, state.pipeEnvOut, true);
        state.Amount =
            ((in - out) * state.envFlowFactor + state.Amount / state.unitHeight) * state.unitHeight;
        FillTank(state, view, state.tankIndex, state.Amount);
        if (view.drawn)
            showEnvironmentFlows(view, state.envFlowFactor * in, state.envFlowFactor * out);
    }
    view.submitEnabled = false;
}

void EndEnvironmentHighlight(TaskState &state, TaskView &view) {
    if (view.drawn && environmentActive(state)) {
        view.lblEnvInCon = FlowBox{};
        view.lblEnvOutCon = FlowBox{};
    }
}

void EndEnvironmentPhase(TaskState &state, TaskView &view) {
    if (view.drawn && environmentActive(state)) {
        view.lblEnvInput = {};
        view.lblEnvOutput = {};
    }
    processDecision(state, view);
}

void processDecision(TaskState &state, TaskView &view) {
    const int t = state.currentTrial;
    hideAllPipes(state, view);
    switchDelayRegime(t, state.MaxTrial, state.inFlowDelayCount, state.inFlowDelayEnd,
                      state.inFlowDelayValue, state.inFlowTPAfter);
    switchDelayRegime(t, state.MaxTrial, state.outFlowDelayCount, state.outFlowDelayEnd,
                      state.outFlowDelayValue, state.outFlowTPAfter);
    if (view.drawn)
        view.lblStatusValue = shown(
            view, QT_TRANSLATE_NOOP("frmKrugel", "Ah ha! Your previous request for Inflow and "
                                                 "OutFlow cannot be met in this time period!"));
    if (userFlowsDue(state)) {
        const Arrival in = inflowArrival(state);
        if (in.arrives) {
            PipeWater(view, state.pipeUserIn, true);
            if (view.drawn) {
                view.lblStatusValue = userActionText(view);
                view.lblUserInput[1] = {
                    view.flowCaption(shown(view, QT_TRANSLATE_NOOP("frmKrugel", "USER: ")),
                                     in.quantity),
                    Colour::Red};
                view.lblUsrInCon = {Colour::Red, view.figureText(in.quantity)};
            }
            state.TotalBackOrder =
                state.TotalBackOrder - in.quantity + periodValue(state.UserInflow, t);
        }
        const Arrival out = outflowArrival(state);
        if (out.arrives) {
            PipeWater(view, state.pipeUserOut, true);
            if (view.drawn) {
                view.lblUserOutput[0] = {
                    view.flowCaption(shown(view, QT_TRANSLATE_NOOP("frmKrugel", "USER: ")),
                                     out.quantity),
                    Colour::Green};
                view.lblUsrOutCon = {Colour::Green, view.figureText(out.quantity)};
                view.lblStatusValue = userActionText(view);
            }
            state.TotalForwardDischarge =
                state.TotalForwardDischarge - out.quantity + periodValue(state.UserOutflow, t);
        }
    }
    view.submitEnabled = false;
}

ShownFlows FlowsShown(const TaskState &state) {
    const int t = state.currentTrial;
    const Arrival in = inflowArrival(state);
    const Arrival out = outflowArrival(state);
    return {periodValue(state.EnvInflow, t), periodValue(state.EnvOutflow, t),
            in.source < 1 ? 0.0 : periodValue(state.UserInflow, in.source),
            out.source < 1 ? 0.0 : periodValue(state.UserOutflow, out.source)};
}

void ApplyUserFlows(TaskState &state, TaskView &view) {
    hideAllPipes(state, view);
    const Arrival in = inflowArrival(state);
    const Arrival out = outflowArrival(state);
    if (userFlowsDue(state) && in.arrives) {
        changeAmount(state, in.quantity);
        FillTank(state, view, state.tankIndex, state.Amount);
        if (view.drawn)
            view.lblUsrInCon = FlowBox{};
    }
    if (userFlowsDue(state) && out.arrives) {
        changeAmount(state, -out.quantity);
        FillTank(state, view, state.tankIndex, state.Amount);
        if (view.drawn)
            view.lblUsrOutCon = FlowBox{};
    }
    if (view.drawn)
        showStatusFigures(state, view);
}

void ClosePeriod(TaskState &state, TaskView &view) {
    if (view.drawn) {
        view.lblUserInput = {};
        view.lblUserOutput = {};
    }
    CalCost(state, view, state.Amount);
    view.submitEnabled = true;
    view.entryEnabled = true;
}

void PlayPeriod(TaskState &state, TaskView &view, double inflow, double outflow) {
    TakeDecision(state, view, inflow, outflow);
    EndEnvironmentHighlight(state, view);
    EndEnvironmentPhase(state, view);
    ApplyUserFlows(state, view);
    ClosePeriod(state, view);
    view.lblStatusValue.clear();
}
