#include "report/plots.h"

#include "report/svgplot.h"

#include <algorithm>
#include <cmath>

namespace {

const char *const blue = "#1f4eb4";
const char *const red = "#c02828";
const char *const green = "#2c8c3c";
const char *const orange = "#d07010";
// The areas' fills: pale, so that the lines over them and the grid stay readable.
const char *const paleBlue = "#c9d6f2";
const char *const paleGreen = "#bfe3c6";

QString periodTitle() {
    return QStringLiteral("period");
}

// Each period's value held across the whole period, as the goal and its band are.
void addStep(std::vector<double> &xs, std::vector<double> &ys, double period, double value) {
    xs.push_back(period - 0.5);
    ys.push_back(value);
    xs.push_back(period + 0.5);
    ys.push_back(value);
}

// A long run's lines are drawn thinner, so that its periods stay apart.
double lineWidth(const Run &run) {
    return run.periods.size() > 200 ? 1.0 : 2.0;
}

} // namespace

QString amountPlot(const Run &run, const RunCourse &course, const QString &unit) {
    std::vector<double> periods;
    std::vector<double> amounts;
    std::vector<double> bandXs;
    std::vector<double> bandLows;
    std::vector<double> bandHighs;
    std::vector<double> goalXs;
    std::vector<double> goals;
    const auto addPeriod = [&](double trial, double amount, const Period &period) {
        periods.push_back(trial);
        amounts.push_back(amount);
        addStep(goalXs, goals, trial, period.goal);
        addStep(bandXs, bandLows, trial, period.goal - period.toleranceBelow);
        bandHighs.insert(bandHighs.end(), 2, period.goal + period.toleranceAbove);
    };
    // Period 0 holds the initial amount, under the first period's band.
    const Period &first = run.periods.constFirst();
    if (first.trial == 1 && std::isfinite(course.initialAmount))
        addPeriod(0, course.initialAmount, first);
    for (const Period &period : run.periods)
        addPeriod(static_cast<double>(period.trial), period.amount, period);
    const SvgPlot::Range y = SvgPlot::extentOf(bandHighs, SvgPlot::extentOf(bandLows));
    SvgPlot plot({periods.front() - 0.5, periods.back() + 0.5}, SvgPlot::extentOf(amounts, y),
                 periodTitle(), unit);
    plot.addArea(QStringLiteral("Goal band"), bandXs, bandLows, bandHighs, paleGreen);
    plot.addLine(QStringLiteral("Goal"), goalXs, goals, {green, {6, 4}, 1});
    plot.addLine(QStringLiteral("Amount"), periods, amounts, {blue, {}, lineWidth(run)});
    return plot.svg(QStringLiteral("The amount from period 0 against the goal band"));
}

QString flowsPlot(const Run &run, const RunCourse &course, const QString &unit) {
    std::vector<double> periods;
    std::vector<double> envIn;
    std::vector<double> envOut;
    for (const Period &period : run.periods) {
        periods.push_back(static_cast<double>(period.trial));
        envIn.push_back(period.envInflow);
        envOut.push_back(period.envOutflow);
    }
    SvgPlot::Range y{0, 0}; // flows are measured from zero; the axis keeps it in sight
    for (const std::vector<double> &values :
         {course.actedInflow, course.actedOutflow, envIn, envOut})
        y = SvgPlot::extentOf(values, y);
    const double width = lineWidth(run);
    SvgPlot plot({periods.front() - 0.5, periods.back() + 0.5}, y, periodTitle(),
                 unit + QStringLiteral(" per period"));
    plot.addLine(QStringLiteral("Player's inflow"), periods, course.actedInflow, {blue, {}, width});
    plot.addLine(QStringLiteral("Player's outflow"), periods, course.actedOutflow,
                 {red, {}, width});
    plot.addLine(QStringLiteral("Environment inflow"), periods, envIn, {green, {6, 4}, width});
    plot.addLine(QStringLiteral("Environment outflow"), periods, envOut,
                 {orange, {8, 3, 2, 3}, width});
    return plot.svg(QStringLiteral("The four flows of each period"));
}

QString distancePlot(const ConditionGroup &group, const QString &unit) {
    std::vector<double> periods;
    std::vector<double> means;
    std::vector<double> lows;
    std::vector<double> highs;
    const double nan = std::nan("");
    for (size_t i = 0; i < group.meanDistance.size(); ++i) {
        const bool played = group.runsInPeriod[i] > 0;
        periods.push_back(static_cast<double>(i + 1));
        means.push_back(played ? group.meanDistance[i] : nan);
        // A distance is never below 0, so neither is the band.
        lows.push_back(played ? std::max(0.0, group.meanDistance[i] - group.sdDistance[i]) : nan);
        highs.push_back(played ? group.meanDistance[i] + group.sdDistance[i] : nan);
    }
    SvgPlot plot({0.5, static_cast<double>(periods.size()) + 0.5}, SvgPlot::extentOf(highs, {0, 0}),
                 periodTitle(), unit + QStringLiteral(" from the goal"));
    plot.addArea(QStringLiteral("Mean \u00b1 1 SD across runs"), periods, lows, highs, paleBlue);
    plot.addLine(QStringLiteral("Mean |amount \u2212 goal|"), periods, means, {blue, {}, 2});
    return plot.svg(QStringLiteral("Mean distance from the goal per period"));
}

QString shareInBandPlot(const ConditionGroup &group) {
    // Twenty bins of 5 %; a share of 100 % falls into the last.
    constexpr int bins = 20;
    std::vector<double> counts(bins, 0.0);
    for (const double share : group.shareInBand)
        counts[static_cast<size_t>(std::clamp(static_cast<int>(share * bins), 0, bins - 1))] += 1;
    std::vector<double> centres;
    for (int bin = 0; bin < bins; ++bin)
        centres.push_back((bin + 0.5) * 100.0 / bins);
    SvgPlot plot({0, 100}, SvgPlot::extentOf(counts, {0, 1}),
                 QStringLiteral("share of the periods in the band (%)"), QStringLiteral("runs"));
    plot.addBars(QStringLiteral("Runs"), centres, counts, 100.0 / bins, blue);
    return plot.svg(QStringLiteral("Share of each run's periods in the band"));
}
