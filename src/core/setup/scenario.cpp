#include "core/setup/scenario.h"

#include "core/common/language.h"
#include "core/common/numbers.h"
#include "core/setup/envnoise.h"
#include "core/setup/setupfile.h"

#include <QList>
#include <QSet>

#include <algorithm>
#include <cmath>
#include <limits>
#include <utility>

namespace {

// Reads the setup file's keys one by one, as Start does. A bad key is a SetupError: thrown at
// once, or, when the reader collects, kept while the reading goes on with 0 in its place, so
// that a check of the file can name every problem.
class KeyReader {
public:
    KeyReader(SetupFile &file, bool collect)
        : m_file(file)
        , m_path(file.path())
        , m_collect(collect) {
        m_file.refresh(); // once for all the keys this reader takes
    }

    const QList<SetupError> &errors() const { return m_errors; }
    // A key that failed holds 0 in its place: what depends on it is not judged.
    bool failed(const QString &key) const { return m_failed.contains(key); }

    double number(const QString &key) {
        const QString text = m_file.value(key);
        if (text.trimmed().isEmpty())
            return fail(
                key, QStringLiteral("The setup file %1 gives no value for %2.").arg(m_path, key));
        const auto value = numbers::parseNumber(text);
        if (!value)
            return fail(key, QStringLiteral("The value \"%1\" of %2 in the setup file %3 is not a "
                                            "number%4")
                                 .arg(text, key, m_path, decimalCommaHint(text)));
        return *value;
    }

    // An optional number from `low` to `high`; `absent` when the file does not give the key.
    double optionalNumber(const QString &key, double low, double high, double absent = 0) {
        if (m_file.value(key).trimmed().isEmpty())
            return absent;
        return inRange(number(key), low, high, key);
    }

    // An optional number above 0 (a band's half-width); `absent` when the file does not give
    // it.
    double optionalPositive(const QString &key, double absent) {
        const double value = optionalNumber(key, 0, MaxMagnitude, absent);
        if (value > 0 || failed(key))
            return value;
        return fail(key, QStringLiteral("The value %1 of %2 in the setup file %3 must be above 0.")
                             .arg(numbers::general(value), key, m_path));
    }

    // An optional text; `absent` when the file does not give it.
    QString text(const QString &key, const QString &absent) {
        const QString given = text(key);
        return given.isEmpty() ? absent : given;
    }

    // An optional whole number from 0 to `high`, taken as written: a fraction is refused
    // rather than rounded, as no whole number is meant more than another.
    uint64_t optionalWhole(const QString &key, uint64_t high, uint64_t absent = 0) {
        const double value =
            optionalNumber(key, 0, static_cast<double>(high), static_cast<double>(absent));
        if (value == std::floor(value))
            return static_cast<uint64_t>(value);
        fail(key, QStringLiteral("The value %1 of %2 in the setup file %3 is not a whole number.")
                      .arg(numbers::general(value), key, m_path));
        return 0;
    }

    // Optional highlight colours; the window's own red and green when the file gives none.
    HighlightColours highlights(const QString &key) {
        const QString text = m_file.value(key).trimmed();
        if (text.isEmpty())
            return {};
        QString problem;
        if (const auto colours = ParseHighlightColours(text, &problem))
            return *colours;
        fail(key, QStringLiteral("%1 in the setup file %2 %3").arg(key, m_path, problem));
        return {};
    }

    // An optional text, without the blanks around it; empty when the file does not give it.
    QString text(const QString &key) { return m_file.value(key).trimmed(); }

    // A list separated by commas, each item trimmed, empty items left out.
    QStringList list(const QString &key) {
        QStringList items;
        for (const QString &item : m_file.value(key).split(QLatin1Char(','))) {
            if (!item.trimmed().isEmpty())
                items.append(item.trimmed());
        }
        return items;
    }

    // Whole-number keys round halves to even, as the lab's setup files expect.
    template <typename Int>
    Int whole(const QString &key, Int low = std::numeric_limits<Int>::min()) {
        const double value = numbers::roundHalfEven(number(key));
        return static_cast<Int>(inRange(value, low, std::numeric_limits<Int>::max(), key));
    }

    // Amounts and orders: a larger one would overflow once the tank holds it in screen units.
    double amount(const QString &key) {
        return inRange(number(key), -MaxMagnitude, MaxMagnitude, key);
    }

    // An optional list of numbers for periods 1, 2, 3, ...: one value for every period, or
    // exactly one per period. Empty when the file does not give the key. Its length is not
    // judged while MaxTrial itself is wrong.
    std::vector<double> schedule(const QString &key, int32_t maxTrial) {
        const QString text = m_file.value(key);
        if (text.trimmed().isEmpty())
            return {};
        std::vector<double> values;
        for (const QString &item : text.split(QLatin1Char(','))) {
            const auto value = numbers::parseNumber(item);
            if (!value) {
                fail(key,
                     QStringLiteral("Value %1 (\"%2\") of %3 in the setup file %4 is not a "
                                    "number.")
                         .arg(QString::number(values.size() + 1), item.trimmed(), key, m_path));
                return {};
            }
            if (inRange(*value, -MaxMagnitude, MaxMagnitude, key) != *value)
                return {};
            values.push_back(*value);
        }
        if (values.size() != 1 && values.size() != static_cast<size_t>(maxTrial) &&
            !failed(QStringLiteral("MaxTrial"))) {
            fail(key,
                 QStringLiteral("%1 in the setup file %2 gives %3 values; it must give 1 (the "
                                "same in every period) or one per period, MaxTrial = %4.")
                     .arg(key, m_path, QString::number(values.size()), QString::number(maxTrial)));
            return {};
        }
        return values;
    }

    // An optional language the program has a translation for, in lower case; empty when the
    // file does not give the key.
    QString language(const QString &key) {
        const QString code = text(key).toLower();
        if (code.isEmpty() || LanguageAvailable(code))
            return code;
        fail(key, QStringLiteral("The language \"%1\" of %2 in the setup file %3 is not one the "
                                 "program has (%4).")
                      .arg(code, key, m_path, AvailableLanguages().join(QStringLiteral(", "))));
        return QString();
    }

    // An optional number of periods, at most `most`; not judged while MaxTrial is wrong.
    int32_t optionalPeriods(const QString &key, int32_t most) {
        const uint64_t value = optionalWhole(key, std::numeric_limits<int32_t>::max());
        if (value <= static_cast<uint64_t>(std::max(most, 0)) || failed(QStringLiteral("MaxTrial")))
            return static_cast<int32_t>(value);
        fail(key, QStringLiteral("%1 (%2) in the setup file %3 is above MaxTrial (%4): the "
                                 "practice plays the first periods of the run.")
                      .arg(key, QString::number(value), m_path, QString::number(most)));
        return 0;
    }

private:
    double inRange(double value, double low, double high, const QString &key) {
        if (value >= low && value <= high)
            return value;
        return fail(key, QStringLiteral("The value %1 of %2 in the setup file %3 is out of range "
                                        "(%4 to %5).")
                             .arg(numbers::general(value), key, m_path, numbers::general(low),
                                  numbers::general(high)));
    }

    // A value such as "2,5" was meant with a decimal point: the message shows it so.
    static QString decimalCommaHint(const QString &text) {
        const QString trimmed = text.trimmed();
        QString pointed = trimmed;
        pointed.replace(QLatin1Char(','), QLatin1Char('.'));
        if (trimmed.count(QLatin1Char(',')) != 1 || !numbers::parseNumber(pointed))
            return QStringLiteral(".");
        return QStringLiteral("; write decimals with a point: ") + pointed;
    }

    double fail(const QString &key, const QString &message) {
        if (!m_collect)
            throw SetupError(message, key);
        m_errors.append(SetupError(message, key));
        m_failed.insert(key);
        return 0;
    }

    SetupFile &m_file;
    QString m_path;
    bool m_collect;
    QList<SetupError> m_errors;
    QSet<QString> m_failed;
};

void resetMoneyAndUnit(TaskState &state) {
    const TaskState standard;
    state.basePayment = standard.basePayment;
    state.bonusPerPeriod = standard.bonusPerPeriod;
    state.goalToleranceBelow = standard.goalToleranceBelow;
    state.goalToleranceAbove = standard.goalToleranceAbove;
    state.currency = standard.currency;
    state.currencyAfter = standard.currencyAfter;
    state.unitName = standard.unitName;
}

void readParameters(TaskState &state, KeyReader &read) {
    state.MaxTrial = read.whole<int32_t>(QStringLiteral("MaxTrial"), 0);
    resetMoneyAndUnit(state); // until the optional keys are read
    state.numYMarks = 10;
    state.InitialAmountInTank = read.amount(QStringLiteral("InitialAmountInTank"));
    state.GoalLinePoisition = read.amount(QStringLiteral("GoalLinePoisition"));
    state.InitialBackOrder = read.amount(QStringLiteral("InitialBackOrder"));
    state.InitialForwardDischarge = read.amount(QStringLiteral("InitialForwardDischarge"));
    state.envFlowFactor = 1.0;
    state.AfterEveryNTrials = 1;
    state.scaledTank = true;
    state.MaxNumberOfAScenarioType =
        read.whole<int16_t>(QStringLiteral("MaxNumberOfAScenarioType"));
    state.showOrderBalances = false;
    state.showTimePeriod = true;
    state.timer2Interval = 1.0;
    state.userMoveInterval = 1;
    state.envMoveInterval = 1;
    state.currentTrial = 0;
    state.practice = false;
}

void readDelays(TaskState &state, KeyReader &read) {
    state.inFlowDelayCount = 1;
    state.outFlowDelayCount = 1;
    state.inFlowDelayValue.assign(2, 0.0);
    state.inFlowDelayLength.assign(2, 0.0);
    state.outFlowDelayValue.assign(2, 0.0);
    state.outFlowDelayLength.assign(2, 0.0);
    state.inFlowDelayValue[0] = read.whole<int16_t>(QStringLiteral("inFlowDelayValue"));
    state.inFlowDelayLength[0] = read.whole<int16_t>(QStringLiteral("inFlowDelayLength"));
    state.outFlowDelayValue[0] = read.whole<int16_t>(QStringLiteral("outFlowDelayValue"));
    state.outFlowDelayLength[0] = read.whole<int16_t>(QStringLiteral("outFlowDelayLength"));
    state.inFlowTPAfter = static_cast<int16_t>(state.inFlowDelayValue[0]);
    state.outFlowTPAfter = static_cast<int16_t>(state.outFlowDelayValue[0]);
}

void readSchedules(TaskState &state, KeyReader &read) {
    state.EnvInflowSchedule = read.schedule(QStringLiteral("EnvInflowSchedule"), state.MaxTrial);
    state.EnvOutflowSchedule = read.schedule(QStringLiteral("EnvOutflowSchedule"), state.MaxTrial);
}

// The optional keys of the payment, the band and the unit; without them, the program's own.
void readMoneyAndUnit(TaskState &state, KeyReader &read) {
    const TaskState standard;
    state.basePayment =
        read.optionalNumber(QStringLiteral("BasePayment"), 0, MaxMagnitude, standard.basePayment);
    state.bonusPerPeriod = read.optionalNumber(QStringLiteral("BonusPerPeriod"), 0, MaxMagnitude,
                                               standard.bonusPerPeriod);
    state.goalToleranceBelow =
        read.optionalPositive(QStringLiteral("ToleranceBelow"), standard.goalToleranceBelow);
    state.goalToleranceAbove =
        read.optionalPositive(QStringLiteral("ToleranceAbove"), standard.goalToleranceAbove);
    state.currency = read.text(QStringLiteral("Currency"), standard.currency);
    state.currencyAfter = read.optionalWhole(QStringLiteral("CurrencyAfter"), 1) == 1;
    state.unitName = read.text(QStringLiteral("UnitName"), standard.unitName);
}

// The keys a setup may leave out, read after the schedules in this order. PracticePeriods is
// judged against MaxTrial.
void readOptionalKeys(TaskState &state, KeyReader &read) {
    state.EnvInflowNoise = read.optionalNumber(QStringLiteral("EnvInflowNoise"), 0, MaxMagnitude);
    state.EnvOutflowNoise = read.optionalNumber(QStringLiteral("EnvOutflowNoise"), 0, MaxMagnitude);
    state.EnvSeed = read.optionalWhole(QStringLiteral("EnvSeed"), envnoise::LargestSeed);
    state.ExitPassword = read.text(QStringLiteral("ExitPassword"));
    state.ExitUsername = read.optionalWhole(QStringLiteral("ExitUsername"), 1, 1) == 1;
    state.PracticePeriods = read.optionalPeriods(QStringLiteral("PracticePeriods"), state.MaxTrial);
    state.UserHighlights = read.highlights(QStringLiteral("HighlightColours"));
    state.Language = read.language(QStringLiteral("Language"));
    state.GenderOptions = read.list(QStringLiteral("GenderOptions"));
    state.personPauseMs = static_cast<int32_t>(
        read.optionalWhole(QStringLiteral("PeriodPauseMs"), 60000, TaskState().personPauseMs));
    readMoneyAndUnit(state, read);
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

void LoadScenarioParameters(TaskState &state, SetupFile &setup) {
    KeyReader read(setup, false);
    readParameters(state, read);
}

void LoadDelaySettings(TaskState &state, SetupFile &setup) {
    KeyReader read(setup, false);
    readDelays(state, read);
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

void LoadEnvironmentSchedules(TaskState &state, SetupFile &setup) {
    KeyReader read(setup, false);
    readSchedules(state, read);
}

QList<SetupError> ScenarioErrors(TaskState &state, SetupFile &setup) {
    KeyReader read(setup, true);
    readParameters(state, read);
    readDelays(state, read);
    BuildDelayEndTables(state);
    readSchedules(state, read);
    readOptionalKeys(state, read);
    return read.errors();
}

void LoadScenario(TaskState &state, SetupFile &setup) {
    LoadScenarioParameters(state, setup);
    LoadDelaySettings(state, setup);
    BuildDelayEndTables(state);
    LoadEnvironmentSchedules(state, setup);
    KeyReader read(setup, false);
    readOptionalKeys(state, read);
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

// The environment rule is unchanged by a schedule: a period whose two flows are both
// negative is inactive, and one negative flow beside one of 0 or more counts as it is.
void ApplyEnvironmentSchedules(TaskState &state) {
    const auto fill = [&state](std::vector<double> &table, const std::vector<double> &schedule) {
        if (schedule.empty())
            return;
        for (int32_t t = 1; t <= state.MaxTrial && static_cast<size_t>(t) < table.size(); ++t)
            table[static_cast<size_t>(t)] =
                schedule.size() == 1 ? schedule[0] : schedule[static_cast<size_t>(t - 1)];
    };
    fill(state.EnvInflow, state.EnvInflowSchedule);
    fill(state.EnvOutflow, state.EnvOutflowSchedule);
}

void CreateOrderTables(TaskState &state) {
    const size_t size = tableSize(state.MaxTrial + 1);
    state.BackOrder.assign(size, 0.0);
    state.ForwardDischarge.assign(size, 0.0);
}

void BeginPractice(TaskState &state) {
    state.practice = true;
    state.MaxTrial = state.PracticePeriods;
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
    ApplyEnvironmentSchedules(state);
    ApplyEnvironmentNoise(state);
    InitTaskState(state);
}
