#include "report/course.h"

#include "core/engine/periodcycle.h"
#include "core/replay/replaycheck.h"
#include "core/setup/scenario.h"

#include <cmath>
#include <limits>
#include <optional>
#include <stdexcept>

namespace {

constexpr double unknown = std::numeric_limits<double>::quiet_NaN();

// The amounts Data.txt keeps have 15 significant digits; a replay of the same run agrees
// with them far closer than this.
bool sameAmount(double replayed, double recorded) {
    return std::abs(replayed - recorded) <= 1e-6 * std::max(1.0, std::abs(recorded));
}

bool periodsComplete(const Run &run) {
    for (qsizetype index = 0; index < run.periods.size(); ++index) {
        if (run.periods.at(index).trial != index + 1)
            return false;
    }
    return true;
}

// Plays the run again as the program did, from the kept scenario. Nothing when the
// scenario cannot hold the run or the replay parts from what Data.txt recorded.
std::optional<RunCourse> replay(const Run &run, const TaskState &scenario, QString &why) {
    TaskState state = scenario;
    if (run.periods.size() > state.MaxTrial || !ScenarioConflict(state).isEmpty()) {
        why = QStringLiteral("the kept setup cannot hold the run");
        return std::nullopt;
    }
    TaskView view;
    PrepareReplay(state, view);
    RunCourse course{state.Amount / state.unitHeight, {}, {}, {}};
    for (const Period &period : run.periods) {
        ReplayPeriod(state, view, period.userInflow, period.userOutflow, period.envInflow,
                     period.envOutflow);
        if (!sameAmount(state.Amount / state.unitHeight, period.amount)) {
            why = QStringLiteral("a replay with the kept setup parts from the recorded amount "
                                 "in period %1")
                      .arg(period.trial);
            return std::nullopt;
        }
        const ShownFlows shown = FlowsShown(state);
        course.actedInflow.push_back(shown.userInflow);
        course.actedOutflow.push_back(shown.userOutflow);
    }
    course.method = QStringLiteral("The player's flows are drawn in the periods they acted in, "
                                   "replayed through the kept setup.");
    return course;
}

// The order placed in period `source` of the run, as the state message shows it in the
// period it is due: 0 before period 1 (an initial order's share) and after `period` (not
// yet ordered), NaN when that period's line cannot be read.
double orderShown(const QHash<qint64, const Period *> &byTrial, double source, qint64 period,
                  double Period::*order) {
    if (!std::isfinite(source) || source != std::floor(source))
        return unknown; // no delay the program writes
    if (source < 1 || source > static_cast<double>(period))
        return 0;
    const Period *ordering = byTrial.value(static_cast<qint64>(source), nullptr);
    return ordering == nullptr ? unknown : ordering->*order;
}

// What arrived in period 1 through one pipeline: the initial order's share while the delay
// reaches before period 1, else the period's own order when it is greater than 0.
double arrivalInFirstPeriod(double delay, double order, double share) {
    const double source = 1 - (delay - 1);
    if (source < 1)
        return share;
    return source == 1 && order > 0 ? order : 0;
}

RunCourse byRecordedDelays(const Run &run, const KeptScenario *scenario) {
    QHash<qint64, const Period *> byTrial;
    for (const Period &period : run.periods)
        byTrial.insert(period.trial, &period);
    RunCourse course{unknown, {}, {}, {}};
    for (const Period &period : run.periods) {
        const auto source = [&period](double delay) {
            return static_cast<double>(period.trial) - (delay - 1);
        };
        course.actedInflow.push_back(
            orderShown(byTrial, source(period.delayUI), period.trial, &Period::userInflow));
        course.actedOutflow.push_back(
            orderShown(byTrial, source(period.delayUO), period.trial, &Period::userOutflow));
    }
    if (scenario != nullptr && scenario->state) {
        course.initialAmount = scenario->state->InitialAmountInTank;
    } else if (const Period *first = byTrial.value(1, nullptr); first != nullptr) {
        const bool environmentActs = first->envInflow >= 0 || first->envOutflow >= 0;
        const double environment = environmentActs ? first->envInflow - first->envOutflow : 0;
        course.initialAmount =
            first->amount - environment -
            arrivalInFirstPeriod(first->delayUI, first->userInflow, first->backOrder) +
            arrivalInFirstPeriod(first->delayUO, first->userOutflow, first->forwardDischarge);
    }
    course.method = QStringLiteral("The player's flows are drawn in the periods they acted in, "
                                   "placed by the delays Data.txt records.");
    return course;
}

} // namespace

RunCourse courseOf(const Run &run, const KeptScenario *scenario) {
    QString why;
    if (scenario != nullptr && scenario->state && periodsComplete(run)) {
        try {
            if (std::optional<RunCourse> replayed = replay(run, *scenario->state, why))
                return *replayed;
        } catch (const std::exception &) { // a table the scenario sized too small
            why = QStringLiteral("the kept setup cannot hold the run");
        }
    }
    RunCourse course = byRecordedDelays(run, why.isEmpty() ? scenario : nullptr);
    if (!why.isEmpty())
        course.method += QStringLiteral(" (Not replayed: %1.)").arg(why);
    return course;
}
