#include "core/common/numbers.h"
#include "core/engine/cost.h"
#include "core/engine/periodcycle.h"
#include "core/engine/tankgeometry.h"
#include "core/setup/scenario.h"

#include <QFile>
#include <QTemporaryDir>
#include <QtTest>

#include <cmath>
#include <utility>
#include <vector>

using SetupValues = QMap<QString, QString>;
using Decisions = std::vector<std::pair<double, double>>; // inflow, outflow per period
using Series = std::vector<double>;                       // one value per period

namespace {

const QString userAction = QStringLiteral("User flow Action in Play");
const QString nothingArrives = QStringLiteral(
    "Ah ha! Your previous request for Inflow and OutFlow cannot be met in this time period!");
const QString environmentAction = QStringLiteral("Environment Action in Play");

struct Run {
    TaskState state;
    TaskView view;
};

SetupValues setupValues(std::initializer_list<std::pair<const char *, const char *>> pairs) {
    SetupValues values;
    for (const auto &[key, value] : pairs)
        values.insert(QLatin1String(key), QLatin1String(value));
    return values;
}

// The amount in units, as every display shows it.
double units(const TaskState &state) {
    return state.Amount / state.unitHeight;
}

// Plays one whole period per decision, without the window's pauses.
void playPeriods(Run &run, const Decisions &decisions) {
    for (const auto &[in, out] : decisions)
        PlayPeriod(run.state, run.view, in, out);
}

} // namespace

// The period engine: order pipelines, delay regimes, the environment's flows, the bonus
// and what each step shows, on runs set up as the program sets them up.
class TestEngine : public QObject {
    Q_OBJECT

private slots:
    void initTestCase();

    void multiPeriodRun_data();
    void multiPeriodRun();
    void delayRegimeSwitch_data();
    void delayRegimeSwitch();
    void userFlowsOnlyEveryNthPeriod();
    void environmentRule_data();
    void environmentRule();
    void displaySteps();
    void arrivalStatus_data();
    void arrivalStatus();
    void bonusBand_data();
    void bonusBand();
    void everyPeriodInBand();
    void periodsRemain();

private:
    // Loads the scenario from a setup file and prepares the run and the window's tank the
    // way start-up and the task window's load do.
    Run startRun(const SetupValues &values);

    QTemporaryDir m_dir;
    int m_files = 0;
};

void TestEngine::initTestCase() {
    QVERIFY(m_dir.isValid());
}

Run TestEngine::startRun(const SetupValues &values) {
    SetupValues all = setupValues({{"MaxTrial", "8"},
                                   {"InitialAmountInTank", "4"},
                                   {"GoalLinePoisition", "4"},
                                   {"InitialBackOrder", "0"},
                                   {"InitialForwardDischarge", "0"},
                                   {"MaxNumberOfAScenarioType", "10"},
                                   {"inFlowDelayValue", "1"},
                                   {"inFlowDelayLength", "8"},
                                   {"outFlowDelayValue", "1"},
                                   {"outFlowDelayLength", "8"}});
    for (auto it = values.begin(); it != values.end(); ++it)
        all[it.key()] = it.value();
    QByteArray content; // CRLF, as the lab's editors write it
    for (auto it = all.begin(); it != all.end(); ++it)
        content += QStringLiteral("%1 = %2\r\n").arg(it.key(), it.value()).toLatin1();
    const QString path = m_dir.filePath(QStringLiteral("Setup%1.txt").arg(++m_files));
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly) || file.write(content) != content.size())
        qFatal("Cannot write a setup file for the test");
    file.close();

    Run run;
    TaskState &state = run.state;
    SetupFile setup(path);
    LoadScenarioParameters(state, setup);
    LoadDelaySettings(state, setup);
    BuildDelayEndTables(state);
    if (!ValidateScenario(state).isEmpty() || !ScenarioConflict(state).isEmpty())
        qFatal("The test's scenario is refused");
    CreateOrderTables(state);
    BuildScaleLabels(state);
    state.tankCapacity = 10.0;
    SizeEnvironmentTables(state);
    InitTaskState(state);
    PlaceYMarks(state, run.view, state.numYMarks, state.yMarkLabels);
    FillTank(state, run.view, state.tankIndex, state.InitialAmountInTank);
    state.Amount = state.InitialAmountInTank;
    return run;
}

void TestEngine::multiPeriodRun_data() {
    QTest::addColumn<SetupValues>("values");
    QTest::addColumn<Decisions>("decisions");
    QTest::addColumn<Series>("amounts");
    QTest::addColumn<Series>("backOrders");
    QTest::addColumn<Series>("forwardOrders");
    QTest::addColumn<double>("totalBonus");

    // Inflow delay 3 with an initial order of 4: BackOrder(1) = BackOrder(2) = 2. The
    // outflow delay 1 makes each outflow decision act in its own period.
    //  t  in    out  | inflow acting             TotalBackOrder     outflow  amount
    //  1  1     0.5  | BackOrder(1) = 2          4 - 2 + 1  = 3     0.5      4 + 2 - 0.5 = 5.5
    //  2  3     1    | BackOrder(2) = 2          3 - 2 + 3  = 4     1        5.5 + 2 - 1 = 6.5
    //  3  0     2    | UserInflow(1) = 1         4 - 1 + 0  = 3     2        6.5 + 1 - 2 = 5.5
    //  4  2     2.5  | UserInflow(2) = 3         3 - 3 + 2  = 2     2.5      5.5 + 3 - 2.5 = 6
    //  5  0     2    | UserInflow(3) = 0: none   2 (unchanged)      2        6 - 2 = 4 (bonus)
    //  6  -1    0    | UserInflow(4) = 2         2 - 2 - 1  = -1    none     4 + 2 = 6
    //  7  0     -1   | UserInflow(5) = 0: none   -1                 -1 never 6
    //  8  0     0    | UserInflow(6) = -1 never  -1                 none     6
    // The delay regime ends at period 8, the last period, so the delay never changes.
    QTest::newRow("inflow delay 3 with initial order, outflow delay 1")
        << setupValues({{"InitialBackOrder", "4"}, {"inFlowDelayValue", "3"}})
        << Decisions{{1, 0.5}, {3, 1}, {0, 2}, {2, 2.5}, {0, 2}, {-1, 0}, {0, -1}, {0, 0}}
        << Series{5.5, 6.5, 5.5, 6, 4, 6, 6, 6} << Series{3, 4, 3, 2, 2, -1, -1, -1}
        << Series{0, 0, 0, 0, 0, 0, 0, 0} << 5.05;

    // Outflow delay 3 with an initial order of 2: ForwardDischarge(1) = ForwardDischarge(2)
    // = 1. The inflow delay 1 makes each inflow decision act in its own period.
    //  t  in    out  | inflow  outflow acting            TotalForwardDischarge  amount
    //  1  1     2    | 1       ForwardDischarge(1) = 1   2 - 1 + 2 = 3          4 + 1 - 1 = 4
    //  (bonus) 2  0.5   1    | 0.5     ForwardDischarge(2) = 1   3 - 1 + 1 = 3          4 + 0.5 - 1
    //  = 3.5 3  2     0    | 2       UserOutflow(1) = 2        3 - 2 + 0 = 1          3.5 + 2 - 2
    //  = 3.5 4  0     3    | none    UserOutflow(2) = 1        1 - 1 + 3 = 3          3.5 - 1 = 2.5
    //  5  1.5   -2   | 1.5     UserOutflow(3) = 0: none  3 (the -2 not added)   2.5 + 1.5 = 4
    //  (bonus) 6  0     0    | none    UserOutflow(4) = 3        3 - 3 + 0 = 0          4 - 3 = 1
    //  7  0     0    | none    UserOutflow(5) = -2 never 0                      1
    //  8  4     0    | 4       UserOutflow(6) = 0: none  0                      5
    // TotalBackOrder stays 0: with delay 1 each order leaves the total as it joins it.
    QTest::newRow("inflow delay 1, outflow delay 3 with initial order")
        << setupValues({{"InitialForwardDischarge", "2"}, {"outFlowDelayValue", "3"}})
        << Decisions{{1, 2}, {0.5, 1}, {2, 0}, {0, 3}, {1.5, -2}, {0, 0}, {0, 0}, {4, 0}}
        << Series{4, 3.5, 3.5, 2.5, 4, 1, 1, 5} << Series{0, 0, 0, 0, 0, 0, 0, 0}
        << Series{3, 3, 1, 3, 3, 0, 0, 0} << 5.10;

    // Both delays 3, initial orders 4 and 6: shares 2 and 3 in periods 1 and 2.
    //  t  in  out | in acting  TBO          out acting  TFD          amount
    //  1  1   1   | 2          4-2+1 = 3    3           6-3+1 = 4    4 + 2 - 3 = 3
    //  2  2   0   | 2          3-2+2 = 3    3           4-3+0 = 1    3 + 2 - 3 = 2
    //  3  0   0   | 1          3-1+0 = 2    1           1-1+0 = 0    2 + 1 - 1 = 2
    //  4  0   0   | 2          2-2+0 = 0    none        0            2 + 2 = 4 (bonus)
    QTest::newRow("both delays 3 with initial orders")
        << setupValues({{"MaxTrial", "4"},
                        {"InitialBackOrder", "4"},
                        {"InitialForwardDischarge", "6"},
                        {"inFlowDelayValue", "3"},
                        {"outFlowDelayValue", "3"},
                        {"inFlowDelayLength", "4"},
                        {"outFlowDelayLength", "4"}})
        << Decisions{{1, 1}, {2, 0}, {0, 0}, {0, 0}} << Series{3, 2, 2, 4} << Series{3, 3, 2, 0}
        << Series{4, 1, 0, 0} << 5.05;
}

void TestEngine::multiPeriodRun() {
    QFETCH(SetupValues, values);
    QFETCH(Decisions, decisions);
    QFETCH(Series, amounts);
    QFETCH(Series, backOrders);
    QFETCH(Series, forwardOrders);
    QFETCH(double, totalBonus);
    Run run = startRun(values);
    TaskState &state = run.state;
    QCOMPARE(units(state), 4.0);

    for (size_t i = 0; i < decisions.size(); ++i) {
        const int period = static_cast<int>(i) + 1;
        PlayPeriod(state, run.view, decisions[i].first, decisions[i].second);
        const QByteArray where = "period " + QByteArray::number(period);
        QVERIFY2(state.currentTrial == period, where.constData());
        QVERIFY2(qFuzzyCompare(units(state), amounts[i]), where.constData());
        QVERIFY2(qFuzzyCompare(1 + state.TotalBackOrder, 1 + backOrders[i]), where.constData());
        QVERIFY2(qFuzzyCompare(1 + state.TotalForwardDischarge, 1 + forwardOrders[i]),
                 where.constData());
        // Negative decisions are recorded as entered.
        QVERIFY2(state.UserInflow.at(i + 1) == decisions[i].first, where.constData());
        QCOMPARE(run.view.lblAmountStatusVal, numbers::figure(amounts[i]));
        QCOMPARE(run.view.lblBackOrderVal, numbers::figure(backOrders[i]));
        QCOMPARE(run.view.lblForwardOrderVal, numbers::figure(forwardOrders[i]));
        QCOMPARE(run.view.TankFill.height, static_cast<int>(std::floor(state.Amount)));
    }
    QVERIFY(!PeriodsRemain(state));
    QCOMPARE(state.TotalBonus, totalBonus);
    QCOMPARE(run.view.lblAccuBonusVal, numbers::figure(totalBonus));
}

void TestEngine::delayRegimeSwitch_data() {
    QTest::addColumn<SetupValues>("values");
    QTest::addColumn<Decisions>("decisions");
    QTest::addColumn<Series>("amounts");
    QTest::addColumn<std::vector<int>>("inDelays");  // in force after each period
    QTest::addColumn<std::vector<int>>("outDelays"); // in force after each period

    // The inflow regime ends at period 3: from period 3 on the delay is 0, so an order of
    // period t would come from period t + 1, which has not been decided yet.
    QTest::newRow("inflow delay ends before the last period")
        << setupValues({{"MaxTrial", "6"}, {"inFlowDelayLength", "3"}}) << Decisions(6, {1, 0})
        << Series{5, 6, 6, 6, 6, 6} << std::vector<int>{1, 1, 0, 0, 0, 0} << std::vector<int>(6, 1);
    QTest::newRow("inflow regime lasting MaxTrial never ends")
        << setupValues({{"MaxTrial", "6"}, {"inFlowDelayLength", "6"}}) << Decisions(6, {1, 0})
        << Series{5, 6, 7, 8, 9, 10} << std::vector<int>(6, 1) << std::vector<int>(6, 1);
    QTest::newRow("inflow regime longer than the run never ends")
        << setupValues({{"MaxTrial", "6"}, {"inFlowDelayLength", "100"}}) << Decisions(6, {1, 0})
        << Series{5, 6, 7, 8, 9, 10} << std::vector<int>(6, 1) << std::vector<int>(6, 1);
    QTest::newRow("outflow delay ends at period 2")
        << setupValues({{"MaxTrial", "6"}, {"outFlowDelayLength", "2"}}) << Decisions(6, {0, 0.5})
        << Series{3.5, 3.5, 3.5, 3.5, 3.5, 3.5} << std::vector<int>(6, 1)
        << std::vector<int>{1, 0, 0, 0, 0, 0};
    // Delay 3 switched to 0 in period 1: the initial order's shares never arrive.
    QTest::newRow("initial order stranded by the switch")
        << setupValues({{"MaxTrial", "4"},
                        {"InitialBackOrder", "4"},
                        {"inFlowDelayValue", "3"},
                        {"inFlowDelayLength", "1"}})
        << Decisions(4, {1, 0}) << Series{4, 4, 4, 4} << std::vector<int>(4, 0)
        << std::vector<int>(4, 1);
}

void TestEngine::delayRegimeSwitch() {
    QFETCH(SetupValues, values);
    QFETCH(Decisions, decisions);
    QFETCH(Series, amounts);
    QFETCH(std::vector<int>, inDelays);
    QFETCH(std::vector<int>, outDelays);
    Run run = startRun(values);
    const double backOrder = run.state.TotalBackOrder;
    for (size_t i = 0; i < decisions.size(); ++i) {
        PlayPeriod(run.state, run.view, decisions[i].first, decisions[i].second);
        const QByteArray where = "period " + QByteArray::number(static_cast<int>(i) + 1);
        QVERIFY2(qFuzzyCompare(units(run.state), amounts[i]), where.constData());
        QVERIFY2(run.state.inFlowTPAfter == inDelays[i], where.constData());
        QVERIFY2(run.state.outFlowTPAfter == outDelays[i], where.constData());
    }
    if (values.contains(QStringLiteral("InitialBackOrder")))
        QCOMPARE(run.state.TotalBackOrder, backOrder); // nothing ever arrived
}

// No setup key sets AfterEveryNTrials; with 2 the user's flows act only in even periods,
// and an order whose period is skipped never acts.
void TestEngine::userFlowsOnlyEveryNthPeriod() {
    Run run = startRun(setupValues({{"MaxTrial", "4"}}));
    run.state.AfterEveryNTrials = 2;
    //  t  in  | acts in an even period only   amount
    //  1  1   | skipped                        4
    //  2  2   | UserInflow(2) = 2              6
    //  3  1   | skipped                        6
    //  4  0   | UserInflow(4) = 0: none        6
    const Decisions decisions{{1, 0}, {2, 0}, {1, 0}, {0, 0}};
    const Series amounts{4, 6, 6, 6};
    const QStringList statuses{nothingArrives, userAction, nothingArrives, nothingArrives};
    for (size_t i = 0; i < decisions.size(); ++i) {
        TakeDecision(run.state, run.view, decisions[i].first, decisions[i].second);
        EndEnvironmentHighlight(run.state, run.view);
        EndEnvironmentPhase(run.state, run.view);
        QCOMPARE(run.view.lblStatusValue, statuses.at(static_cast<int>(i)));
        ApplyUserFlows(run.state, run.view);
        ClosePeriod(run.state, run.view);
        QCOMPARE(units(run.state), amounts[i]);
    }
}

void TestEngine::environmentRule_data() {
    QTest::addColumn<double>("envIn");
    QTest::addColumn<double>("envOut");
    QTest::addColumn<bool>("active");
    QTest::addColumn<double>("change");
    QTest::newRow("no model: both 0, active, no change") << 0.0 << 0.0 << true << 0.0;
    QTest::newRow("both -1: inactive") << -1.0 << -1.0 << false << 0.0;
    QTest::newRow("-1 and 2: active, falls 3") << -1.0 << 2.0 << true << -3.0;
    QTest::newRow("3 and -1: active, rises 4") << 3.0 << -1.0 << true << 4.0;
    QTest::newRow("3 and 1: rises 2") << 3.0 << 1.0 << true << 2.0;
    QTest::newRow("fractions") << 0.5 << 1.25 << true << -0.75;
}

void TestEngine::environmentRule() {
    QFETCH(double, envIn);
    QFETCH(double, envOut);
    QFETCH(bool, active);
    QFETCH(double, change);
    Run run = startRun({});
    TaskState &state = run.state;
    TaskView &view = run.view;
    state.EnvInflow.at(1) = envIn;
    state.EnvOutflow.at(1) = envOut;
    const FillRect fillBefore = view.TankFill;

    TakeDecision(state, view, 0, 0);
    QCOMPARE(units(state), 4 + change);
    QCOMPARE(view.lblEnvInCon.lit(), active);
    QCOMPARE(view.lblEnvOutCon.lit(), active);
    QCOMPARE(view.pipeWater, (std::array<bool, 4>{false, false, active, active}));
    QCOMPARE(view.lblStatusValue == environmentAction, active);
    if (active) {
        QCOMPARE(view.lblEnvInCon.back, Colour::Red);
        QCOMPARE(view.lblEnvOutCon.back, Colour::Green);
        QCOMPARE(view.lblEnvInCon.text, numbers::figure(envIn));
        QCOMPARE(view.lblEnvOutCon.text, numbers::figure(envOut));
        QCOMPARE(view.lblEnvInput[1].caption, QStringLiteral("ENV: ") + numbers::shortForm(envIn));
        QCOMPARE(view.lblEnvInput[1].colour, Colour::Red);
        QCOMPARE(view.lblEnvOutput[0].caption,
                 QStringLiteral("ENV: ") + numbers::shortForm(envOut));
        QCOMPARE(view.lblEnvOutput[0].colour, Colour::Green);
        QCOMPARE(view.TankFill.height, static_cast<int>(std::floor(state.Amount)));
    } else {
        QVERIFY(view.lblEnvInCon.text.isEmpty());
        QVERIFY(view.lblEnvInput[1].caption.isEmpty());
        QVERIFY(view.lblEnvOutput[0].caption.isEmpty());
        QCOMPARE(view.TankFill.height, fillBefore.height);
        QCOMPARE(view.TankFill.top, fillBefore.top);
    }

    EndEnvironmentHighlight(state, view);
    EndEnvironmentPhase(state, view);
    ApplyUserFlows(state, view);
    ClosePeriod(state, view);
    QCOMPARE(units(state), 4 + change);
    QCOMPARE(view.lblInFlowStatusEnvVal, numbers::figure(envIn));
    QCOMPARE(view.lblOutFlowStatusEnvVal, numbers::figure(envOut));
}

void TestEngine::displaySteps() {
    Run run = startRun({});
    TaskState &state = run.state;
    TaskView &view = run.view;
    state.EnvInflow.at(1) = 3;
    state.EnvOutflow.at(1) = 1;

    TakeDecision(state, view, 2, 1);
    QCOMPARE(view.lblCurrTimePeriod, QStringLiteral("1"));
    QVERIFY(!view.entryEnabled);
    QVERIFY(!view.submitEnabled);
    QCOMPARE(view.pipeWater, (std::array<bool, 4>{false, false, true, true}));
    QCOMPARE(view.lblEnvInCon.back, Colour::Red);
    QCOMPARE(view.lblEnvInCon.text, QStringLiteral("03.000"));
    QCOMPARE(view.lblEnvOutCon.back, Colour::Green);
    QCOMPARE(view.lblEnvOutCon.text, QStringLiteral("01.000"));
    QCOMPARE(view.lblEnvInput[1].caption, QStringLiteral("ENV: 3"));
    QCOMPARE(view.lblEnvOutput[0].caption, QStringLiteral("ENV: 1"));
    QCOMPARE(view.lblStatusValue, environmentAction);
    QCOMPARE(units(state), 6.0);

    EndEnvironmentHighlight(state, view);
    QVERIFY(!view.lblEnvInCon.lit());
    QVERIFY(view.lblEnvInCon.text.isEmpty());
    QVERIFY(!view.lblEnvOutCon.lit());
    QVERIFY(view.lblEnvOutCon.text.isEmpty());
    QCOMPARE(view.lblEnvInput[1].caption, QStringLiteral("ENV: 3"));

    EndEnvironmentPhase(state, view); // runs processDecision
    QVERIFY(view.lblEnvInput[1].caption.isEmpty());
    QCOMPARE(view.lblEnvInput[1].colour, Colour::Black);
    QVERIFY(view.lblEnvOutput[0].caption.isEmpty());
    QCOMPARE(view.pipeWater, (std::array<bool, 4>{true, true, false, false}));
    QCOMPARE(view.lblStatusValue, userAction);
    QCOMPARE(view.lblUsrInCon.back, Colour::Red);
    QCOMPARE(view.lblUsrInCon.text, QStringLiteral("02.000"));
    QCOMPARE(view.lblUsrOutCon.back, Colour::Green);
    QCOMPARE(view.lblUsrOutCon.text, QStringLiteral("01.000"));
    QCOMPARE(view.lblUserInput[1].caption, QStringLiteral("USER: 2"));
    QCOMPARE(view.lblUserInput[1].colour, Colour::Red);
    QCOMPARE(view.lblUserOutput[0].caption, QStringLiteral("USER: 1"));
    QCOMPARE(view.lblUserOutput[0].colour, Colour::Green);
    QVERIFY(!view.submitEnabled);
    QCOMPARE(units(state), 6.0); // shown, not yet moved

    ApplyUserFlows(state, view);
    QCOMPARE(view.pipeWater, (std::array<bool, 4>{false, false, false, false}));
    QVERIFY(!view.lblUsrInCon.lit());
    QVERIFY(view.lblUsrInCon.text.isEmpty());
    QVERIFY(!view.lblUsrOutCon.lit());
    QVERIFY(view.lblUsrOutCon.text.isEmpty());
    QCOMPARE(units(state), 7.0);
    QCOMPARE(view.lblInFlowStatusEnvVal, QStringLiteral("03.000"));
    QCOMPARE(view.lblOutFlowStatusEnvVal, QStringLiteral("01.000"));
    QCOMPARE(view.lblInFlowStatusVal, QStringLiteral("02.000"));
    QCOMPARE(view.lblOutFlowStatusVal, QStringLiteral("01.000"));
    QCOMPARE(view.lblGoalStatusVal, QStringLiteral("04.000"));
    QCOMPARE(view.lblAmountStatusVal, QStringLiteral("07.000"));
    QCOMPARE(view.lblBackOrderVal, QStringLiteral("00.000"));
    QCOMPARE(view.lblForwardOrderVal, QStringLiteral("00.000"));
    QCOMPARE(view.lblUserInput[1].caption, QStringLiteral("USER: 2"));

    ClosePeriod(state, view);
    QVERIFY(view.lblUserInput[1].caption.isEmpty());
    QCOMPARE(view.lblUserInput[1].colour, Colour::Black);
    QVERIFY(view.lblUserOutput[0].caption.isEmpty());
    QVERIFY(view.submitEnabled);
    QVERIFY(view.entryEnabled);
    QCOMPARE(view.lblCurrBonusVal, QStringLiteral("00.000"));
    QCOMPARE(view.lblAccuBonusVal, QStringLiteral("05.000"));
    QCOMPARE(view.lblCurrCostVal, QStringLiteral("00.000"));
    QCOMPARE(view.lblAccuCostVal, QStringLiteral("05.000"));
}

void TestEngine::arrivalStatus_data() {
    QTest::addColumn<SetupValues>("values");
    QTest::addColumn<double>("inflow");
    QTest::addColumn<double>("outflow");
    QTest::addColumn<QString>("status");
    QTest::addColumn<QString>("inBox"); // empty: the box stays idle
    QTest::addColumn<QString>("outBox");
    QTest::addColumn<double>("change");
    QTest::newRow("decisions of 0 do not act")
        << SetupValues() << 0.0 << 0.0 << nothingArrives << QString() << QString() << 0.0;
    QTest::newRow("negative decisions never act")
        << SetupValues() << -1.0 << -2.0 << nothingArrives << QString() << QString() << 0.0;
    QTest::newRow("only the inflow acts") << SetupValues() << 2.5 << 0.0 << userAction
                                          << QStringLiteral("02.500") << QString() << 2.5;
    QTest::newRow("only the outflow acts") << SetupValues() << 0.0 << 0.5 << userAction << QString()
                                           << QStringLiteral("00.500") << -0.5;
    // Before the first decision can arrive, the initial order's share acts whatever its value.
    QTest::newRow("a zero share of the initial order acts")
        << setupValues({{"inFlowDelayValue", "3"}}) << 0.0 << 0.0 << userAction
        << QStringLiteral("00.000") << QString() << 0.0;
}

void TestEngine::arrivalStatus() {
    QFETCH(SetupValues, values);
    QFETCH(double, inflow);
    QFETCH(double, outflow);
    QFETCH(QString, status);
    QFETCH(QString, inBox);
    QFETCH(QString, outBox);
    QFETCH(double, change);
    Run run = startRun(values);
    TaskState &state = run.state;
    TaskView &view = run.view;
    TakeDecision(state, view, inflow, outflow);
    EndEnvironmentHighlight(state, view);
    EndEnvironmentPhase(state, view);
    QCOMPARE(view.lblStatusValue, status);
    QCOMPARE(view.lblUsrInCon.lit(), !inBox.isEmpty());
    QCOMPARE(view.lblUsrInCon.text, inBox);
    QCOMPARE(view.lblUsrOutCon.lit(), !outBox.isEmpty());
    QCOMPARE(view.lblUsrOutCon.text, outBox);
    QCOMPARE(view.pipeWater[0], !inBox.isEmpty());
    QCOMPARE(view.pipeWater[1], !outBox.isEmpty());

    ApplyUserFlows(state, view);
    QCOMPARE(units(state), 4 + change);
    QCOMPARE(state.TotalBackOrder, 0.0);
}

void TestEngine::bonusBand_data() {
    QTest::addColumn<double>("amount");
    QTest::addColumn<bool>("bonus");
    QTest::newRow("3.8994 rounds to 3.899, outside") << 3.8994 << false;
    QTest::newRow("3.8996 rounds to 3.9, inside") << 3.8996 << true;
    QTest::newRow("lower edge 3.9") << 3.9 << true;
    QTest::newRow("goal") << 4.0 << true;
    QTest::newRow("upper edge 4.1") << 4.1 << true;
    QTest::newRow("4.1004 rounds to 4.1, inside") << 4.1004 << true;
    QTest::newRow("4.1006 rounds to 4.101, outside") << 4.1006 << false;
    QTest::newRow("empty tank") << 0.0 << false;
    QTest::newRow("negative amount") << -4.0 << false;
    QTest::newRow("far above") << 9.5 << false;
}

void TestEngine::bonusBand() {
    QFETCH(double, amount);
    QFETCH(bool, bonus);
    TaskState state;
    TaskView view;
    state.unitHeight = 358.5;
    state.GoalLinePoisition = 4 * state.unitHeight;
    state.TotalBonus = 5.0;
    state.accumulatedCost = 5.0;
    state.currentCost = 0;
    state.CurrentBonus = 0.05; // the previous period's bonus must not linger
    const double scaled = amount * state.unitHeight;
    CalCost(state, view, scaled);
    QCOMPARE(state.CurrentBonus, bonus ? 0.05 : 0.0);
    QCOMPARE(state.TotalBonus, bonus ? 5.05 : 5.0);
    QCOMPARE(view.lblCurrBonusVal, bonus ? QStringLiteral("00.050") : QStringLiteral("00.000"));
    QCOMPARE(view.lblAccuBonusVal, bonus ? QStringLiteral("05.050") : QStringLiteral("05.000"));
    QCOMPARE(view.lblCurrCostVal, QStringLiteral("00.000"));
    QCOMPARE(view.lblAccuCostVal, QStringLiteral("05.000"));
    QCOMPARE(state.accumulatedCost, 5.0);
    QCOMPARE(state.currentCost, 0.0);
}

// Every period of a run ends on the goal: the total is the base payment plus every bonus.
void TestEngine::everyPeriodInBand() {
    Run run = startRun({});
    QCOMPARE(run.state.TotalBonus, 5.0);
    playPeriods(run, Decisions(8, {0, 0}));
    QCOMPARE(run.state.TotalBonus, 5.0 + 0.05 * 8);
    QCOMPARE(run.view.lblAccuBonusVal, QStringLiteral("05.400"));
    QCOMPARE(run.view.lblCurrBonusVal, QStringLiteral("00.050"));
    QCOMPARE(run.view.lblAccuCostVal, QStringLiteral("05.000"));
}

void TestEngine::periodsRemain() {
    Run run = startRun(setupValues({{"MaxTrial", "2"}}));
    QVERIFY(PeriodsRemain(run.state));
    playPeriods(run, Decisions{{1, 0}});
    QVERIFY(PeriodsRemain(run.state));
    QCOMPARE(run.view.lblCurrTimePeriod, QStringLiteral("1"));
    playPeriods(run, Decisions{{1, 0}});
    QVERIFY(!PeriodsRemain(run.state));
    QCOMPARE(run.state.currentTrial, 2);
    QVERIFY(run.view.lblStatusValue.isEmpty());
}

QTEST_GUILESS_MAIN(TestEngine)
#include "test_engine.moc"
