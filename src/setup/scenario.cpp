#include "setup/scenario.h"

#include "setup/numbers.h"
#include "setup/setupfile.h"

#include <limits>

namespace {

double readNumber(const QString &path, const QString &key) {
    const QString text = ReadSetupValue(path, key);
    if (text.trimmed().isEmpty())
        throw SetupError(QStringLiteral("The setup file %1 gives no value for %2.").arg(path, key));
    const auto value = numbers::parseNumber(text);
    if (!value)
        throw SetupError(
            QStringLiteral("The value \"%1\" of %2 in the setup file %3 is not a number.")
                .arg(text, key, path));
    return *value;
}

void requireRange(double value, double low, double high, const QString &path, const QString &key) {
    if (value < low || value > high)
        throw SetupError(QStringLiteral("The value %1 of %2 in the setup file %3 is out of range "
                                        "(%4 to %5).")
                             .arg(numbers::general(value), key, path, numbers::general(low),
                                  numbers::general(high)));
}

// Whole-number keys round halves to even, as the lab's setup files expect.
template <typename Int>
Int readWhole(const QString &path, const QString &key, Int low = std::numeric_limits<Int>::min()) {
    const double value = numbers::roundHalfEven(readNumber(path, key));
    requireRange(value, low, std::numeric_limits<Int>::max(), path, key);
    return static_cast<Int>(value);
}

// Amounts and orders: a larger one would overflow once the tank holds it in screen units.
double readAmount(const QString &path, const QString &key) {
    const double value = readNumber(path, key);
    requireRange(value, -MaxMagnitude, MaxMagnitude, path, key);
    return value;
}

// Writes the initial order's share of period t only where the table holds t.
size_t tableSize(int32_t lastIndex) {
    return lastIndex < 0 ? 0 : static_cast<size_t>(lastIndex) + 1;
}

QString spreadConflict(const char *orderKey, double order, const char *delayKey, int delay,
                       int32_t maxTrial) {
    if (order == 0 || delay - 1 <= maxTrial + 1)
        return QString();
    return QStringLiteral("%1 (%2) would spread %3 (%4) over periods 1 to %5, past the last "
                          "period the tables hold (MaxTrial + 1 = %6).")
        .arg(QLatin1String(delayKey))
        .arg(delay)
        .arg(QLatin1String(orderKey), numbers::general(order))
        .arg(delay - 1)
        .arg(maxTrial + 1);
}

} // namespace

void LoadScenarioParameters(TaskState &state, const QString &setupPath) {
    state.MaxTrial = readWhole<int32_t>(setupPath, QStringLiteral("MaxTrial"), 0);
    state.basePayment = 5.0;
    state.numYMarks = 10;
    state.InitialAmountInTank = readAmount(setupPath, QStringLiteral("InitialAmountInTank"));
    state.GoalLinePoisition = readAmount(setupPath, QStringLiteral("GoalLinePoisition"));
    state.InitialBackOrder = readAmount(setupPath, QStringLiteral("InitialBackOrder"));
    state.InitialForwardDischarge =
        readAmount(setupPath, QStringLiteral("InitialForwardDischarge"));
    state.envFlowFactor = 1.0;
    state.AfterEveryNTrials = 1;
    state.bonusPerPeriod = 0.05;
    state.unitName = QStringLiteral("Gallons");
    state.scaledTank = true;
    state.goalToleranceAbove = 0.1;
    state.goalToleranceBelow = 0.1;
    state.MaxNumberOfAScenarioType =
        readWhole<int16_t>(setupPath, QStringLiteral("MaxNumberOfAScenarioType"));
    state.showOrderBalances = false;
    state.showTimePeriod = true;
    state.timer2Interval = 1.0;
    state.userMoveInterval = 1;
    state.envMoveInterval = 1;
    state.currentTrial = 0;
}

void LoadDelaySettings(TaskState &state, const QString &setupPath) {
    state.inFlowDelayCount = 1;
    state.outFlowDelayCount = 1;
    state.inFlowDelayValue.assign(2, 0.0);
    state.inFlowDelayLength.assign(2, 0.0);
    state.outFlowDelayValue.assign(2, 0.0);
    state.outFlowDelayLength.assign(2, 0.0);
    state.inFlowDelayValue[0] = readWhole<int16_t>(setupPath, QStringLiteral("inFlowDelayValue"));
    state.inFlowDelayLength[0] = readWhole<int16_t>(setupPath, QStringLiteral("inFlowDelayLength"));
    state.outFlowDelayValue[0] = readWhole<int16_t>(setupPath, QStringLiteral("outFlowDelayValue"));
    state.outFlowDelayLength[0] =
        readWhole<int16_t>(setupPath, QStringLiteral("outFlowDelayLength"));
    state.inFlowTPAfter = static_cast<int16_t>(state.inFlowDelayValue[0]);
    state.outFlowTPAfter = static_cast<int16_t>(state.outFlowDelayValue[0]);
}

void BuildDelayEndTables(TaskState &state) {
    const auto build = [&](std::vector<int16_t> &ends, const std::vector<double> &lengths,
                           int count) {
        ends.assign(tableSize(state.MaxNumberOfAScenarioType), 0);
        if (ends.empty())
            return;
        ends[0] = static_cast<int16_t>(lengths[0]);
        for (int k = 1; k < count && k < static_cast<int>(ends.size()); ++k)
            ends[k] = static_cast<int16_t>(ends[k - 1] + lengths[k]);
    };
    build(state.inFlowDelayEnd, state.inFlowDelayLength, state.inFlowDelayCount);
    build(state.outFlowDelayEnd, state.outFlowDelayLength, state.outFlowDelayCount);
}

void BuildScaleLabels(TaskState &state) {
    state.yMarkLabels.clear();
    for (int i = 0; i < state.numYMarks; ++i)
        state.yMarkLabels.append(QString::number(i + 1));
    state.yMarkLabels.append(QString());
}

void SizeEnvironmentTables(TaskState &state) {
    const size_t size = tableSize(int32_t{state.MaxNumberOfAScenarioType} + 1);
    state.EnvInflow.assign(size, 0.0);
    state.EnvOutflow.assign(size, 0.0);
}

void CreateOrderTables(TaskState &state) {
    const size_t size = tableSize(state.MaxTrial + 1);
    state.BackOrder.assign(size, 0.0);
    state.ForwardDischarge.assign(size, 0.0);
}

QStringList ValidateScenario(const TaskState &state) {
    QStringList failures;
    if (state.AfterEveryNTrials < 1)
        failures << QStringLiteral("Value of AfterEveryNTrials should be greater than 0");
    if ((state.InitialBackOrder != 0 && state.inFlowTPAfter == 1) ||
        (state.InitialForwardDischarge != 0 && state.outFlowTPAfter == 1))
        failures << QStringLiteral("Value of inFlowTPAfter or outFlowTPAfter is 1 and your "
                                   "initial Back or Forward orders are not set to 0");
    return failures;
}

QString ScenarioConflict(const TaskState &state) {
    if (state.MaxNumberOfAScenarioType < state.MaxTrial)
        return QStringLiteral("MaxNumberOfAScenarioType (%1) must not be below MaxTrial (%2): "
                              "the environment tables must hold every period.")
            .arg(state.MaxNumberOfAScenarioType)
            .arg(state.MaxTrial);
    QString conflict = spreadConflict("InitialBackOrder", state.InitialBackOrder,
                                      "inFlowDelayValue", state.inFlowTPAfter, state.MaxTrial);
    if (conflict.isEmpty())
        conflict = spreadConflict("InitialForwardDischarge", state.InitialForwardDischarge,
                                  "outFlowDelayValue", state.outFlowTPAfter, state.MaxTrial);
    return conflict;
}

QString NothingToPlay(const TaskState &state) {
    if (state.MaxTrial > 0)
        return QString();
    return QStringLiteral("MaxTrial is 0 in the setup file: there is no period to play.");
}

void PrepareTaskState(TaskState &state) {
    if (state.scaledTank) {
        BuildScaleLabels(state);
        state.tankCapacity = 10.0;
    }
    SizeEnvironmentTables(state);
    InitTaskState(state);
}
