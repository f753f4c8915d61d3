#include "report/setups.h"

#include "core/common/numbers.h"
#include "core/recording/tabfile.h"
#include "core/setup/envnoise.h"
#include "core/setup/keptsetup.h"
#include "core/setup/scenario.h"
#include "core/setup/setupfile.h"

#include <QFileInfo>

#include <algorithm>

namespace {

KeptScenario keptScenario(const QString &dataDir, const QString &setupId) {
    KeptScenario kept;
    kept.setupId = setupId;
    if (!isSetupId(setupId)) {
        kept.problem = QStringLiteral("is no setup identity (12 hex digits)");
        return kept;
    }
    const QString path = keptSetupPath(dataDir, setupId);
    if (!QFileInfo::exists(path)) {
        kept.problem = QStringLiteral("not found");
        return kept;
    }
    try {
        SetupFile file(path);
        auto state = std::make_shared<TaskState>();
        LoadScenario(*state, file);
        kept.state = std::move(state);
    } catch (const SetupError &error) {
        kept.problem = QStringLiteral("cannot be loaded (%1)").arg(error.message());
    }
    return kept;
}

QString gallons(double value, const QString &unit) {
    return numbers::general(value) + QLatin1Char(' ') + unit;
}

// "1 throughout", or "3, 0 from period 40 on" when the regime ends before the last period.
QString delayText(double value, double length, int32_t maxTrial) {
    const QString delay = numbers::general(value);
    if (length >= maxTrial || length < 1)
        return delay + QStringLiteral(" throughout");
    return QStringLiteral("%1, 0 from period %2 on").arg(delay, numbers::general(length));
}

QString scheduleText(const std::vector<double> &schedule, const QString &unit) {
    if (schedule.empty())
        return QStringLiteral("not scheduled (a model's flows, else 0)");
    if (schedule.size() == 1)
        return gallons(schedule.front(), unit) + QStringLiteral(" in every period");
    const auto [low, high] = std::minmax_element(schedule.begin(), schedule.end());
    return QStringLiteral("%1 values, one per period, from %2 to %3")
        .arg(QString::number(schedule.size()), numbers::general(*low), gallons(*high, unit));
}

} // namespace

QStringList KeptScenario::summary() const {
    if (!state)
        return {};
    const TaskState &s = *state;
    const QString unit = s.unitName;
    QStringList summary = {
        QStringLiteral("%1 periods").arg(s.MaxTrial),
        QStringLiteral("initial amount %1").arg(gallons(s.InitialAmountInTank, unit)),
        QStringLiteral("goal %1 (band %2 to %3)")
            .arg(gallons(s.GoalLinePoisition, unit),
                 numbers::general(s.GoalLinePoisition - s.goalToleranceBelow),
                 numbers::general(s.GoalLinePoisition + s.goalToleranceAbove)),
        QStringLiteral("inflow delay %1")
            .arg(delayText(s.inFlowDelayValue.at(0), s.inFlowDelayLength.at(0), s.MaxTrial)),
        QStringLiteral("outflow delay %1")
            .arg(delayText(s.outFlowDelayValue.at(0), s.outFlowDelayLength.at(0), s.MaxTrial)),
        QStringLiteral("initial orders: inflow %1, outflow %2")
            .arg(numbers::general(s.InitialBackOrder), numbers::general(s.InitialForwardDischarge)),
        QStringLiteral("environment inflow %1").arg(scheduleText(s.EnvInflowSchedule, unit)),
        QStringLiteral("environment outflow %1").arg(scheduleText(s.EnvOutflowSchedule, unit)),
    };
    if (EnvironmentIsNoisy(s))
        summary.append(
            QStringLiteral("environment noise: standard deviation %1 on the inflow, "
                           "%2 on the outflow; %3")
                .arg(numbers::general(s.EnvInflowNoise), numbers::general(s.EnvOutflowNoise),
                     s.EnvSeed != 0 ? QStringLiteral("seed %1 in every run").arg(s.EnvSeed)
                                    : QStringLiteral("a fresh seed for every run")));
    return summary;
}

QHash<QString, KeptScenario> readKeptScenarios(const QString &dataDir, const QStringList &setupIds,
                                               Problems &problems) {
    QHash<QString, KeptScenario> scenarios;
    for (const QString &setupId : setupIds) {
        if (setupId.isEmpty() || scenarios.contains(setupId))
            continue;
        const KeptScenario kept = keptScenario(dataDir, setupId);
        if (!kept.state && isSetupId(setupId))
            problems.append({QStringLiteral("setups/%1.txt").arg(setupId), 0,
                             kept.problem + QStringLiteral("; its runs show no scenario")});
        else if (!kept.state)
            problems.append({QStringLiteral("Runs.txt"), 0,
                             QStringLiteral("SetupId %1 %2; its runs show no scenario")
                                 .arg(tabfile::quoted(setupId), kept.problem)});
        scenarios.insert(setupId, kept);
    }
    return scenarios;
}
