#include "report/svgplot.h"

#include "core/common/numbers.h"

#include <QBuffer>
#include <QFontMetricsF>
#include <QPainter>
#include <QSvgGenerator>

#include <algorithm>
#include <cmath>

namespace {

constexpr double plotWidth = 820;
constexpr double plotHeight = 330;
constexpr double left = 70;
constexpr double right = 16;
constexpr double top = 12;
constexpr double bottom = 78; // tick labels, the axis title and the legend
constexpr int wantedTicks = 6;
constexpr int fontPixels = 13;
// The generator states the size in millimetres; at the CSS pixel's resolution they are the
// plot's pixels in a browser.
constexpr int cssPixelsPerInch = 96;
// A text drawn in a box spills over it rather than be cut.
constexpr int spill = Qt::TextDontClip;

// 1, 2 or 5 times a power of ten, near a `wantedTicks`th of `span`.
double tickStep(double span) {
    const double rough = span / wantedTicks;
    const double power = std::pow(10.0, std::floor(std::log10(rough)));
    for (const double factor : {1.0, 2.0, 5.0}) {
        if (factor * power >= rough)
            return factor * power;
    }
    return 10.0 * power;
}

QString tickText(double value) {
    return numbers::general(std::abs(value) < 1e-12 ? 0.0 : value);
}

// A tenth of a pixel is finer than any screen or printer shows, and the page of many long
// runs stays small.
double snapped(double pixel) {
    return std::round(pixel * 10) / 10;
}

// A generic family, so that every browser shows the texts in a font it has.
QFont plotFont(bool bold = false) {
    QFont font(QStringLiteral("sans-serif"));
    font.setStyleHint(QFont::SansSerif);
    font.setPixelSize(fontPixels);
    font.setBold(bold);
    return font;
}

QPen linePen(const SvgPlot::Style &style) {
    QPen pen(QColor(QLatin1String(style.color)), style.width, Qt::SolidLine, Qt::FlatCap,
             Qt::RoundJoin);
    if (!style.dash.empty()) {
        QList<qreal> pattern; // in pen widths
        for (const double length : style.dash)
            pattern.append(length / style.width);
        pen.setDashPattern(pattern);
    }
    return pen;
}

// The generator writes a whole file; a page holds the element alone, as an image.
QString inlineElement(const QString &document) {
    const qsizetype start = document.indexOf(QLatin1String("<svg"));
    return QStringLiteral("<svg role=\"img\"") + document.mid(start + 4) + QLatin1Char('\n');
}

} // namespace

SvgPlot::SvgPlot(Range x, Range y, QString xTitle, QString yTitle)
    : m_x(x)
    , m_y(y)
    , m_xTitle(std::move(xTitle))
    , m_yTitle(std::move(yTitle)) {
    // Beyond any amount the program takes in; a wider range would overflow the tick steps.
    constexpr double widest = 1e100;
    for (Range *range : {&m_x, &m_y}) {
        if (!(std::abs(range->low) < widest && std::abs(range->high) < widest))
            *range = {0, 1};
    }
    if (!(m_x.high > m_x.low))
        m_x = {m_x.low - 0.5, m_x.low + 0.5};
    if (!(m_y.high > m_y.low))
        m_y = {m_y.low - std::max(std::abs(m_y.low) * 0.1, 0.5),
               m_y.low + std::max(std::abs(m_y.low) * 0.1, 0.5)};
    m_yStep = tickStep(m_y.high - m_y.low);
    m_y = {std::floor(m_y.low / m_yStep) * m_yStep, std::ceil(m_y.high / m_yStep) * m_yStep};
}

SvgPlot::Range SvgPlot::extentOf(const std::vector<double> &values, Range start) {
    Range range = start;
    for (const double value : values) {
        if (std::isfinite(value)) {
            range.low = std::min(range.low, value);
            range.high = std::max(range.high, value);
        }
    }
    return range.low <= range.high ? range : Range{0, 1};
}

QPointF SvgPlot::pixel(double x, double y) const {
    return {snapped(left + (x - m_x.low) / (m_x.high - m_x.low) * (plotWidth - left - right)),
            snapped(plotHeight - bottom -
                    (y - m_y.low) / (m_y.high - m_y.low) * (plotHeight - bottom - top))};
}

void SvgPlot::addLine(const QString &name, const std::vector<double> &xs,
                      const std::vector<double> &ys, const Style &style) {
    QPainterPath path;
    bool drawing = false;
    for (size_t i = 0; i < xs.size() && i < ys.size(); ++i) {
        if (!std::isfinite(xs[i]) || !std::isfinite(ys[i])) {
            drawing = false;
            continue;
        }
        if (drawing)
            path.lineTo(pixel(xs[i], ys[i]));
        else
            path.moveTo(pixel(xs[i], ys[i]));
        drawing = true;
    }
    m_series.append({name, linePen(style), Qt::NoBrush, path, {}});
}

void SvgPlot::addArea(const QString &name, const std::vector<double> &xs,
                      const std::vector<double> &lows, const std::vector<double> &highs,
                      const char *color) {
    QPainterPath path;
    path.setFillRule(Qt::WindingFill);
    size_t start = 0;
    // One closed shape per stretch of finite points: along the highs, back along the lows.
    const auto closeStretch = [&](size_t end) {
        if (end <= start)
            return;
        path.moveTo(pixel(xs[start], highs[start]));
        for (size_t i = start + 1; i < end; ++i)
            path.lineTo(pixel(xs[i], highs[i]));
        for (size_t i = end; i-- > start;)
            path.lineTo(pixel(xs[i], lows[i]));
        path.closeSubpath();
    };
    const size_t count = std::min({xs.size(), lows.size(), highs.size()});
    for (size_t i = 0; i < count; ++i) {
        if (!std::isfinite(xs[i]) || !std::isfinite(lows[i]) || !std::isfinite(highs[i])) {
            closeStretch(i);
            start = i + 1;
        }
    }
    closeStretch(count);
    m_series.append({name, Qt::NoPen, QColor(QLatin1String(color)), path, {}});
}

void SvgPlot::addBars(const QString &name, const std::vector<double> &xs,
                      const std::vector<double> &heights, double width, const char *color) {
    QList<QRectF> bars;
    const double base = std::max(m_y.low, 0.0);
    for (size_t i = 0; i < xs.size() && i < heights.size(); ++i) {
        if (std::isfinite(heights[i]) && heights[i] != 0)
            bars.append(QRectF(pixel(xs[i] - width / 2, heights[i]), pixel(xs[i] + width / 2, base))
                            .normalized());
    }
    m_series.append({name, QPen(Qt::white, 0.5), QColor(QLatin1String(color)), {}, bars});
}

QList<double> SvgPlot::yTicks() const {
    QList<double> ticks;
    for (double k = std::round(m_y.low / m_yStep); k * m_yStep <= m_y.high + m_yStep * 1e-9; ++k)
        ticks.append(k * m_yStep);
    return ticks;
}

QList<double> SvgPlot::xTicks() const {
    // Whole periods: a step of at least 1.
    const double step = std::max(1.0, tickStep(m_x.high - m_x.low));
    QList<double> ticks;
    for (double k = std::ceil(m_x.low / step); k * step <= m_x.high + 1e-9; ++k)
        ticks.append(k * step);
    return ticks;
}

QRectF SvgPlot::frame() const {
    return {pixel(m_x.low, m_y.high), pixel(m_x.high, m_y.low)};
}

void SvgPlot::drawGrid(QPainter &painter) const {
    QPainterPath grid;
    for (const double y : yTicks()) {
        grid.moveTo(frame().left(), pixel(m_x.low, y).y());
        grid.lineTo(frame().right(), pixel(m_x.low, y).y());
    }
    for (const double x : xTicks()) {
        grid.moveTo(pixel(x, m_y.low).x(), frame().bottom());
        grid.lineTo(pixel(x, m_y.low).x(), frame().top());
    }
    painter.setBrush(Qt::NoBrush);
    painter.setPen(QPen(QColor(0xdd, 0xdd, 0xdd), 1, Qt::SolidLine, Qt::FlatCap));
    painter.drawPath(grid);
    painter.setPen(QPen(QColor(0x88, 0x88, 0x88), 1, Qt::SolidLine, Qt::SquareCap, Qt::MiterJoin));
    painter.drawRect(frame());
}

void SvgPlot::drawTickLabels(QPainter &painter) const {
    painter.setPen(Qt::black);
    for (const double y : yTicks())
        painter.drawText(QRectF(0, pixel(m_x.low, y).y() - 10, frame().left() - 6, 20),
                         Qt::AlignRight | Qt::AlignVCenter | spill, tickText(y));
    for (const double x : xTicks())
        painter.drawText(QRectF(pixel(x, m_y.low).x() - 50, frame().bottom() + 4, 100, 16),
                         Qt::AlignHCenter | Qt::AlignTop | spill, tickText(x));
}

void SvgPlot::drawSeries(QPainter &painter) const {
    for (const Series &series : m_series) {
        painter.setPen(series.pen);
        painter.setBrush(series.brush);
        if (series.bars.isEmpty())
            painter.drawPath(series.path);
        else
            painter.drawRects(series.bars);
    }
}

void SvgPlot::drawTitles(QPainter &painter) const {
    painter.setFont(plotFont(true));
    painter.setPen(Qt::black);
    painter.drawText(QRectF(frame().left(), frame().bottom() + 22, frame().width(), 18),
                     Qt::AlignHCenter | Qt::AlignTop | spill, m_xTitle);
    // Up the y axis, read from below.
    painter.save();
    painter.translate(18, frame().center().y());
    painter.rotate(-90);
    painter.drawText(QRectF(-frame().height() / 2, -14, frame().height(), 18),
                     Qt::AlignHCenter | Qt::AlignTop | spill, m_yTitle);
    painter.restore();
    painter.setFont(plotFont());
}

// In a row beneath the plot: each series' swatch, then its name. The swatches first and the
// names after, so that the pen changes, each of which the generator writes out, stay few.
void SvgPlot::drawLegend(QPainter &painter) const {
    const QFontMetricsF metrics(painter.font());
    const double y = plotHeight - 16;
    QList<double> starts{left};
    for (const Series &series : m_series)
        starts.append(starts.last() + 48 + metrics.horizontalAdvance(series.name));
    for (qsizetype i = 0; i < m_series.size(); ++i) {
        painter.setPen(m_series[i].pen);
        painter.setBrush(m_series[i].brush);
        if (m_series[i].brush.style() == Qt::NoBrush)
            painter.drawLine(QPointF(starts[i], y), QPointF(starts[i] + 24, y));
        else
            painter.drawRect(QRectF(starts[i], y - 6, 24, 12));
    }
    painter.setPen(Qt::black);
    for (qsizetype i = 0; i < m_series.size(); ++i)
        painter.drawText(QRectF(starts[i] + 30, y - 10, starts[i + 1] - starts[i] - 30, 20),
                         Qt::AlignLeft | Qt::AlignVCenter | spill, m_series[i].name);
}

QString SvgPlot::svg(const QString &title) const {
    QBuffer buffer;
    QSvgGenerator generator;
    generator.setOutputDevice(&buffer);
    generator.setSize(QSize(static_cast<int>(plotWidth), static_cast<int>(plotHeight)));
    generator.setViewBox(QRectF(0, 0, plotWidth, plotHeight));
    generator.setResolution(cssPixelsPerInch);
    generator.setTitle(title.toHtmlEscaped()); // the generator writes it as it is given
    generator.setDescription(QString());       // rather than the generator's own name
    QPainter painter(&generator);
    painter.setFont(plotFont());
    drawGrid(painter);
    drawSeries(painter);
    drawTickLabels(painter);
    drawTitles(painter);
    drawLegend(painter);
    painter.end();
    return inlineElement(QString::fromUtf8(buffer.data()));
}
