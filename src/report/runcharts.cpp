#include "report/runcharts.h"

#include <QAreaSeries>
#include <QBuffer>
#include <QChart>
#include <QGraphicsScene>
#include <QLegendMarker>
#include <QLineSeries>
#include <QPainter>
#include <QRegularExpression>
#include <QSvgGenerator>
#include <QValueAxis>

#include <algorithm>
#include <cmath>
#include <functional>
#include <memory>

namespace {

const QSize plotSize(820, 320);
// Below this many periods each one gets a marker, so that a short run is visible at all;
// above the other, lines are thinner, so that a long run's swings stay apart.
constexpr int mostPeriodsWithMarkers = 40;
constexpr int mostPeriodsWithThickLines = 200;

using PeriodValue = std::function<double(const Period &)>;

PeriodValue field(double Period::*member) {
    return [member](const Period &period) {
        return period.*member;
    };
}

QFont plotFont(int pixelSize, bool bold = false) {
    // A generic family, so that a browser shows the SVG's text in a font it has.
    QFont font(QStringLiteral("sans-serif"));
    font.setPixelSize(pixelSize);
    font.setBold(bold);
    return font;
}

std::unique_ptr<QChart> newChart() {
    auto chart = std::make_unique<QChart>();
    chart->setTheme(QChart::ChartThemeLight);
    chart->setDropShadowEnabled(false);
    chart->setBackgroundRoundness(0);
    chart->setMargins(QMargins(4, 4, 4, 4));
    chart->legend()->setAlignment(Qt::AlignBottom);
    chart->legend()->setFont(plotFont(14));
    // Lines in the legend show each series' dash pattern, which tells them apart in grey print.
    chart->legend()->setMarkerShape(QLegend::MarkerShapeFromSeries);
    return chart;
}

// 1, 2 or 5 times a power of ten, near a tenth of `span`.
double tickInterval(double span) {
    const double rough = std::max(span / 10.0, 1.0);
    const double power = std::pow(10.0, std::floor(std::log10(rough)));
    for (const double factor : {1.0, 2.0, 5.0}) {
        if (factor * power >= rough)
            return factor * power;
    }
    return 10.0 * power;
}

QValueAxis *newAxis(const QString &title) {
    auto *axis = new QValueAxis;
    axis->setTitleText(title);
    axis->setTitleFont(plotFont(14, true));
    axis->setLabelsFont(plotFont(13));
    return axis;
}

// Whole periods from the first to the last, with half a period to spare at both ends so the
// band of the first and last period shows.
QValueAxis *periodAxis(const Run &run) {
    QValueAxis *axis = newAxis(QStringLiteral("Period"));
    const double first = static_cast<double>(run.periods.constFirst().trial);
    const double last = static_cast<double>(run.periods.constLast().trial);
    axis->setRange(first - 0.5, last + 0.5);
    axis->setTickType(QValueAxis::TicksDynamic);
    axis->setTickAnchor(0);
    axis->setTickInterval(tickInterval(last - first));
    axis->setLabelFormat(QStringLiteral("%.0f"));
    return axis;
}

QValueAxis *valueAxis(const QString &title, double low, double high) {
    QValueAxis *axis = newAxis(title);
    const double span = high - low;
    if (!std::isfinite(span)) {
        axis->setRange(low, high);
        return axis;
    }
    const double margin = span > 0 ? span * 0.05 : std::max(std::abs(low) * 0.05, 0.5);
    axis->setRange(low - margin, high + margin);
    axis->applyNiceNumbers();
    return axis;
}

QLineSeries *lineSeries(const QString &name, const QColor &color, Qt::PenStyle style, int width) {
    auto *series = new QLineSeries;
    series->setName(name);
    QPen pen(color, width, style);
    series->setPen(pen);
    return series;
}

QLineSeries *periodSeries(const Run &run, const QString &name, const QColor &color,
                          Qt::PenStyle style, const PeriodValue &value) {
    const int width = run.periods.size() <= mostPeriodsWithThickLines ? 2 : 1;
    QLineSeries *series = lineSeries(name, color, style, width);
    for (const Period &period : run.periods)
        series->append(static_cast<double>(period.trial), value(period));
    series->setPointsVisible(run.periods.size() <= mostPeriodsWithMarkers);
    return series;
}

// A line that holds each period's value across the whole period, as the goal and its band do.
QLineSeries *stepSeries(const Run &run, const QString &name, const QColor &color,
                        Qt::PenStyle style, const PeriodValue &value) {
    QLineSeries *series = lineSeries(name, color, style, 1);
    for (const Period &period : run.periods) {
        const double middle = static_cast<double>(period.trial);
        series->append(middle - 0.5, value(period));
        series->append(middle + 0.5, value(period));
    }
    return series;
}

struct Axes {
    QValueAxis *period;
    QValueAxis *value;
};

Axes addAxes(QChart &chart, const Run &run, QValueAxis *valueAxis) {
    const Axes axes{periodAxis(run), valueAxis};
    chart.addAxis(axes.period, Qt::AlignBottom);
    chart.addAxis(axes.value, Qt::AlignLeft);
    return axes;
}

void addSeries(QChart &chart, QAbstractSeries *series, const Axes &axes) {
    chart.addSeries(series);
    series->attachAxis(axes.period);
    series->attachAxis(axes.value);
}

std::pair<double, double> rangeOf(const Run &run, const QList<PeriodValue> &values) {
    double low = values.constFirst()(run.periods.constFirst());
    double high = low;
    for (const Period &period : run.periods) {
        for (const PeriodValue &value : values) {
            low = std::min(low, value(period));
            high = std::max(high, value(period));
        }
    }
    return {low, high};
}

// Each SVG writer numbers its ids from 1; in one page they must differ from plot to plot,
// or every plot would use the first plot's gradients.
QString withIdPrefix(QString svg, const QString &prefix) {
    static const QRegularExpression reference(QStringLiteral("(id=\"|url\\(#|href=\"#)"));
    return svg.replace(reference, QStringLiteral("\\1") + prefix);
}

QString svgOf(std::unique_ptr<QChart> chart, const QString &title, const QString &idPrefix) {
    QGraphicsScene scene;
    chart->resize(plotSize);
    scene.addItem(chart.release());
    QBuffer buffer;
    buffer.open(QIODevice::WriteOnly);
    QSvgGenerator generator;
    generator.setOutputDevice(&buffer);
    generator.setSize(plotSize);
    generator.setViewBox(QRect(QPoint(0, 0), plotSize));
    generator.setTitle(title);
    QPainter painter(&generator);
    scene.render(&painter, QRectF(QPoint(0, 0), plotSize), QRectF(QPoint(0, 0), plotSize));
    painter.end();
    return withIdPrefix(QString::fromUtf8(buffer.data()), idPrefix);
}

QString amountPlot(const Run &run) {
    const PeriodValue amount = field(&Period::amount);
    const PeriodValue goal = field(&Period::goal);
    const PeriodValue bandTop = [](const Period &p) {
        return p.goal + p.toleranceAbove;
    };
    const PeriodValue bandBottom = [](const Period &p) {
        return p.goal - p.toleranceBelow;
    };
    auto chart = newChart();
    const auto [low, high] = rangeOf(run, {amount, bandTop, bandBottom});
    const Axes axes = addAxes(*chart, run, valueAxis(QStringLiteral("Amount"), low, high));

    const QColor green(0x2c, 0x8c, 0x3c);
    auto *band = new QAreaSeries(stepSeries(run, {}, green, Qt::SolidLine, bandTop),
                                 stepSeries(run, {}, green, Qt::SolidLine, bandBottom));
    band->setName(QStringLiteral("Goal band"));
    band->setBrush(QColor(0x2c, 0x8c, 0x3c, 0x50));
    band->setPen(QPen(green, 1));
    addSeries(*chart, band, axes);
    // The area series leaves its two lines without an owner; the chart now owns the area.
    band->upperSeries()->setParent(band);
    band->lowerSeries()->setParent(band);
    // A line would not show that the band is an area.
    for (QLegendMarker *marker : chart->legend()->markers(band))
        marker->setShape(QLegend::MarkerShapeRectangle);
    addSeries(*chart, stepSeries(run, QStringLiteral("Goal"), green, Qt::DashLine, goal), axes);
    addSeries(*chart,
              periodSeries(run, QStringLiteral("Amount"), QColor(0x1f, 0x4e, 0xb4), Qt::SolidLine,
                           amount),
              axes);
    return svgOf(std::move(chart), QStringLiteral("Amount against the goal band"),
                 QStringLiteral("line%1-amount-").arg(run.firstLine()));
}

QString flowsPlot(const Run &run) {
    struct Flow {
        QString name;
        QColor color;
        Qt::PenStyle style;
        PeriodValue value;
    };
    const QList<Flow> flows = {
        {QStringLiteral("User inflow"), QColor(0x1f, 0x4e, 0xb4), Qt::SolidLine,
         field(&Period::userInflow)},
        {QStringLiteral("User outflow"), QColor(0xc0, 0x28, 0x28), Qt::SolidLine,
         field(&Period::userOutflow)},
        {QStringLiteral("Environment inflow"), QColor(0x2c, 0x8c, 0x3c), Qt::DashLine,
         field(&Period::envInflow)},
        {QStringLiteral("Environment outflow"), QColor(0xd0, 0x70, 0x10), Qt::DashDotLine,
         field(&Period::envOutflow)},
    };
    QList<PeriodValue> values;
    for (const Flow &flow : flows)
        values.append(flow.value);
    auto chart = newChart();
    const auto [low, high] = rangeOf(run, values);
    // Flows are measured from zero; the axis keeps it in sight.
    const Axes axes = addAxes(
        *chart, run, valueAxis(QStringLiteral("Flow"), std::min(low, 0.0), std::max(high, 0.0)));
    for (const Flow &flow : flows)
        addSeries(*chart, periodSeries(run, flow.name, flow.color, flow.style, flow.value), axes);
    return svgOf(std::move(chart), QStringLiteral("Flows"),
                 QStringLiteral("line%1-flows-").arg(run.firstLine()));
}

} // namespace

RunPlots plotRun(const Run &run) {
    return {amountPlot(run), flowsPlot(run)};
}
