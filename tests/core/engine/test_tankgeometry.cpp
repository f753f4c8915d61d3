#include "core/engine/tankgeometry.h"
#include "core/setup/scenario.h"

#include <QtTest>

#include <array>
#include <limits>
#include <vector>

using Amounts = std::vector<double>;
using Pipes = std::array<bool, 4>;

// The tank's scale, its fill, the goal line and the pipes, in twips.
class TestTankGeometry : public QObject {
    Q_OBJECT

private slots:
    void scaleConvertsStockValues();
    void marks_data();
    void marks();
    void marksWithFewerLabels();
    void fillTank_data();
    void fillTank();
    void fillOfOtherTankIndex();
    void scaledAmountsOnTheScale();
    void goalLine_data();
    void goalLine();
    void pipeWater_data();
    void pipeWater();
};

namespace {

// The scale as the task window lays it out at load, with the usual ten labels.
TaskState laidOutState(TaskView &view) {
    TaskState state;
    BuildScaleLabels(state);
    state.GoalLinePoisition = 4;
    state.InitialAmountInTank = 2;
    state.Amount = 3;
    PlaceYMarks(state, view, state.numYMarks, state.yMarkLabels);
    return state;
}

} // namespace

void TestTankGeometry::scaleConvertsStockValues() {
    TaskView view;
    const TaskState state = laidOutState(view);
    QCOMPARE(state.unitsPerMark, 1.0);
    QCOMPARE(state.unitHeight, 358.5);
    QCOMPARE(state.GoalLinePoisition, 4 * 358.5);
    QCOMPARE(state.InitialAmountInTank, 2 * 358.5);
    QCOMPARE(state.Amount, 3 * 358.5);
    // Flows and money stay in units.
    QCOMPARE(state.TotalBonus, 0.0);
    QCOMPARE(view.markY.size(), size_t{10});
    QCOMPARE(view.lblMarkYTop.size(), size_t{10});
    QCOMPARE(view.lblMarkYCaption.size(), 10);
}

void TestTankGeometry::marks_data() {
    QTest::addColumn<int>("index");
    QTest::addColumn<double>("y");
    QTest::addColumn<QString>("caption");
    QTest::newRow("mark 1") << 0 << 5986.5 << QStringLiteral("1");
    QTest::newRow("mark 4, level with a goal of 4") << 3 << 4911.0 << QStringLiteral("4");
    QTest::newRow("mark 5") << 4 << 4552.5 << QStringLiteral("5");
    QTest::newRow("mark 10 at the tank's top edge") << 9 << 2760.0 << QStringLiteral("10");
}

void TestTankGeometry::marks() {
    QFETCH(int, index);
    QFETCH(double, y);
    QFETCH(QString, caption);
    TaskView view;
    laidOutState(view);
    const auto i = static_cast<size_t>(index);
    QCOMPARE(view.markY.at(i), static_cast<float>(y));
    // The caption is centred on its mark.
    QCOMPARE(view.lblMarkYTop.at(i), static_cast<float>(y - tank::markLabelHeight / 2.0));
    QCOMPARE(view.lblMarkYCaption.at(index), caption);
}

void TestTankGeometry::marksWithFewerLabels() {
    TaskState state;
    TaskView view;
    view.markY = {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12};
    PlaceYMarks(state, view, 5, QStringList{QStringLiteral("a"), QStringLiteral("b")});
    QCOMPARE(state.unitHeight, 717.0);
    QCOMPARE(state.unitsPerMark, 2.0);
    QCOMPARE(view.markY, (std::vector<float>{5628, 4911, 4194, 3477, 2760}));
    QCOMPARE(view.lblMarkYCaption, (QStringList{QStringLiteral("a"), QStringLiteral("b"), QString(),
                                                QString(), QString()}));
}

void TestTankGeometry::fillTank_data() {
    QTest::addColumn<Amounts>("amounts"); // scaled amounts drawn one after the other
    QTest::addColumn<int>("height");
    QTest::addColumn<int>("top");
    // The load-time fill is 3615 high with its top at 2760, so its bottom edge is at 6375.
    QTest::newRow("4 units from the load-time fill") << Amounts{1434} << 1434 << 4941;
    QTest::newRow("fractional twips drawn at the floor") << Amounts{1434.9} << 1434 << 4941;
    QTest::newRow("zero keeps the bottom edge") << Amounts{0} << 0 << 6375;
    QTest::newRow("negative amount empties the tank") << Amounts{-1434} << 0 << 6345;
    QTest::newRow("amount just below zero empties the tank") << Amounts{-0.25} << 0 << 6345;
    QTest::newRow("4 units after a negative amount") << Amounts{-1, 1434} << 1434 << 4911;
    QTest::newRow("same amount twice changes nothing") << Amounts{1434, 1434.5} << 1434 << 4941;
    QTest::newRow("rising and falling") << Amounts{1434, 2151, 717} << 717 << 5658;
    QTest::newRow("15-twip fill does not shrink") << Amounts{15, 10} << 15 << 6360;
    QTest::newRow("15-twip fill does not shrink to zero") << Amounts{15, 0} << 15 << 6360;
    QTest::newRow("15-twip fill grows") << Amounts{15, 20} << 20 << 6355;
    QTest::newRow("15-twip fill emptied by a negative amount") << Amounts{15, -1} << 0 << 6345;
    QTest::newRow("shrinking onto 15 twips, then no further")
        << Amounts{16, 15, 14, 1} << 15 << 6360;
    QTest::newRow("shrinking past 15 twips in one step") << Amounts{16, 14} << 14 << 6361;
    QTest::newRow("above capacity is not clipped") << Amounts{5000} << 5000 << 1375;
    QTest::newRow("absurd amount drawn far off the window")
        << Amounts{1e12} << 1000000000 << 6375 - 1000000000;
    QTest::newRow("infinite amount drawn far off the window")
        << Amounts{std::numeric_limits<double>::infinity()} << 1000000000 << 6375 - 1000000000;
    QTest::newRow("minus infinity empties the tank")
        << Amounts{-std::numeric_limits<double>::infinity()} << 0 << 6345;
    QTest::newRow("not a number draws an empty tank")
        << Amounts{1434, std::numeric_limits<double>::quiet_NaN()} << 0 << 6345;
}

void TestTankGeometry::fillTank() {
    QFETCH(Amounts, amounts);
    QFETCH(int, height);
    QFETCH(int, top);
    TaskView view;
    const TaskState state = laidOutState(view);
    view.TankFill.visible = false;
    for (double amount : amounts)
        FillTank(state, view, state.tankIndex, amount);
    QCOMPARE(view.TankFill.height, height);
    QCOMPARE(view.TankFill.top, top);
    QVERIFY(view.TankFill.visible);
    QCOMPARE(view.TankFill.left, tank::left);
    QCOMPARE(view.TankFill.width, 9360);
}

void TestTankGeometry::fillOfOtherTankIndex() {
    TaskView view;
    const TaskState state = laidOutState(view);
    view.TankFill.visible = false;
    FillTank(state, view, 1, 1434);
    QCOMPARE(view.TankFill.height, 3615);
    QCOMPARE(view.TankFill.top, 2760);
    QVERIFY(!view.TankFill.visible);
}

// The stock values, once scaled, meet the scale: a tank on the goal sits level with it.
void TestTankGeometry::scaledAmountsOnTheScale() {
    TaskView view;
    TaskState state = laidOutState(view);
    state.Amount = (state.Amount / state.unitHeight + 1) * state.unitHeight; // 3 + 1 units
    FillTank(state, view, state.tankIndex, state.Amount);
    PlaceGoalLine(view, state.GoalLinePoisition / state.unitsPerMark);
    QCOMPARE(view.TankFill.height, 1434);
    QCOMPARE(view.lineGoalY, 4911.0f);
    QCOMPARE(view.lineGoalY, view.markY.at(3));
    // The load-time fill's bottom edge lies 30 twips below the tank's outline.
    QCOMPARE(view.TankFill.top, 4941);
    FillTank(state, view, state.tankIndex, -state.unitHeight);
    FillTank(state, view, state.tankIndex, state.Amount);
    QCOMPARE(view.TankFill.top, 4911);
}

void TestTankGeometry::goalLine_data() {
    QTest::addColumn<double>("height");
    QTest::addColumn<float>("y");
    QTest::newRow("goal of 4 units") << 1434.0 << 4911.0f;
    QTest::newRow("bottom edge") << 0.0 << 6345.0f;
    QTest::newRow("top edge") << 3585.0 << 2760.0f;
    QTest::newRow("half a twip") << 717.25 << 5627.75f;
    QTest::newRow("below the tank") << -100.0 << 6445.0f;
}

void TestTankGeometry::goalLine() {
    QFETCH(double, height);
    QFETCH(float, y);
    TaskView view;
    PlaceGoalLine(view, height);
    QCOMPARE(view.lineGoalY, y);
}

void TestTankGeometry::pipeWater_data() {
    QTest::addColumn<int>("pipe");
    QTest::addColumn<bool>("visible");
    QTest::addColumn<Pipes>("pipes");
    // Each row starts from user inflow and environment inflow shown.
    QTest::newRow("show user outflow") << 1 << true << Pipes{true, true, true, false};
    QTest::newRow("hide user inflow") << 0 << false << Pipes{false, false, true, false};
    QTest::newRow("show environment outflow") << 3 << true << Pipes{true, false, true, true};
    QTest::newRow("show a shown pipe") << 2 << true << Pipes{true, false, true, false};
    QTest::newRow("pipe 4 does nothing") << 4 << true << Pipes{true, false, true, false};
    QTest::newRow("pipe -1 does nothing") << -1 << false << Pipes{true, false, true, false};
    QTest::newRow("pipe 1000 does nothing") << 1000 << true << Pipes{true, false, true, false};
}

void TestTankGeometry::pipeWater() {
    QFETCH(int, pipe);
    QFETCH(bool, visible);
    QFETCH(Pipes, pipes);
    TaskView view;
    view.pipeWater = {true, false, true, false};
    const FillRect fill = view.TankFill;
    PipeWater(view, pipe, visible);
    QCOMPARE(view.pipeWater, pipes);
    QCOMPARE(view.TankFill.height, fill.height);
}

QTEST_GUILESS_MAIN(TestTankGeometry)
#include "test_tankgeometry.moc"
