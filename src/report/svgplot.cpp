#include "report/svgplot.h"

#include "core/common/numbers.h"

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

QString px(double value) {
    return QString::number(value, 'f', 1);
}

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

QString strokeOf(const SvgPlot::Style &style) {
    QString stroke = QStringLiteral("fill=\"none\" stroke=\"%1\" stroke-width=\"%2\"")
                         .arg(QLatin1String(style.color), numbers::general(style.width));
    if (style.dash != nullptr)
        stroke += QStringLiteral(" stroke-dasharray=\"%1\"").arg(QLatin1String(style.dash));
    return stroke + QStringLiteral(" stroke-linejoin=\"round\"");
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

double SvgPlot::xPixel(double x) const {
    return left + (x - m_x.low) / (m_x.high - m_x.low) * (plotWidth - left - right);
}

double SvgPlot::yPixel(double y) const {
    return plotHeight - bottom - (y - m_y.low) / (m_y.high - m_y.low) * (plotHeight - bottom - top);
}

void SvgPlot::addLine(const QString &name, const std::vector<double> &xs,
                      const std::vector<double> &ys, Style style) {
    QString path;
    bool drawing = false;
    for (size_t i = 0; i < xs.size() && i < ys.size(); ++i) {
        if (!std::isfinite(xs[i]) || !std::isfinite(ys[i])) {
            drawing = false;
            continue;
        }
        path += (drawing ? QLatin1Char('L') : QLatin1Char('M')) + px(xPixel(xs[i])) +
                QLatin1Char(' ') + px(yPixel(ys[i]));
        drawing = true;
    }
    if (!path.isEmpty())
        m_body += QStringLiteral("<path d=\"%1\" %2/>\n").arg(path, strokeOf(style));
    m_legend.append(
        {name,
         QStringLiteral("<line x1=\"0\" y1=\"0\" x2=\"24\" y2=\"0\" %1/>").arg(strokeOf(style))});
}

void SvgPlot::addArea(const QString &name, const std::vector<double> &xs,
                      const std::vector<double> &lows, const std::vector<double> &highs,
                      const char *color) {
    QString path;
    size_t start = 0;
    // One closed shape per stretch of finite points: along the highs, back along the lows.
    const auto closeStretch = [&](size_t end) {
        if (end <= start)
            return;
        for (size_t i = start; i < end; ++i)
            path += (i == start ? QLatin1Char('M') : QLatin1Char('L')) + px(xPixel(xs[i])) +
                    QLatin1Char(' ') + px(yPixel(highs[i]));
        for (size_t i = end; i-- > start;)
            path += QLatin1Char('L') + px(xPixel(xs[i])) + QLatin1Char(' ') + px(yPixel(lows[i]));
        path += QLatin1Char('Z');
    };
    const size_t count = std::min({xs.size(), lows.size(), highs.size()});
    for (size_t i = 0; i < count; ++i) {
        if (!std::isfinite(xs[i]) || !std::isfinite(lows[i]) || !std::isfinite(highs[i])) {
            closeStretch(i);
            start = i + 1;
        }
    }
    closeStretch(count);
    const QString fill = QStringLiteral("fill=\"%1\" stroke=\"none\"").arg(QLatin1String(color));
    if (!path.isEmpty())
        m_body += QStringLiteral("<path d=\"%1\" %2/>\n").arg(path, fill);
    m_legend.append(
        {name, QStringLiteral("<rect x=\"0\" y=\"-6\" width=\"24\" height=\"12\" %1/>").arg(fill)});
}

void SvgPlot::addBars(const QString &name, const std::vector<double> &xs,
                      const std::vector<double> &heights, double width, const char *color) {
    QString path;
    const double base = yPixel(std::max(m_y.low, 0.0));
    for (size_t i = 0; i < xs.size() && i < heights.size(); ++i) {
        if (!std::isfinite(heights[i]) || heights[i] == 0)
            continue;
        const double x0 = xPixel(xs[i] - width / 2);
        const double x1 = xPixel(xs[i] + width / 2);
        path += QStringLiteral("M%1 %2H%3V%4H%1Z")
                    .arg(px(x0), px(base), px(x1), px(yPixel(heights[i])));
    }
    const QString fill = QStringLiteral("fill=\"%1\" stroke=\"white\" stroke-width=\"0.5\"")
                             .arg(QLatin1String(color));
    if (!path.isEmpty())
        m_body += QStringLiteral("<path d=\"%1\" %2/>\n").arg(path, fill);
    m_legend.append(
        {name, QStringLiteral("<rect x=\"0\" y=\"-6\" width=\"24\" height=\"12\" %1/>").arg(fill)});
}

QString SvgPlot::axes() const {
    const double x0 = xPixel(m_x.low);
    const double x1 = xPixel(m_x.high);
    const double y0 = yPixel(m_y.low);
    const double y1 = yPixel(m_y.high);
    QString grid;
    QString labels;
    for (double k = std::round(m_y.low / m_yStep); k * m_yStep <= m_y.high + m_yStep * 1e-9; ++k) {
        const double y = yPixel(k * m_yStep);
        grid += QStringLiteral("M%1 %2H%3").arg(px(x0), px(y), px(x1));
        labels += QStringLiteral("<text x=\"%1\" y=\"%2\" text-anchor=\"end\">%3</text>")
                      .arg(px(x0 - 6), px(y + 4), tickText(k * m_yStep));
    }
    // Whole periods: a step of at least 1.
    const double xStep = std::max(1.0, tickStep(m_x.high - m_x.low));
    for (double k = std::ceil(m_x.low / xStep); k * xStep <= m_x.high + 1e-9; ++k) {
        const double x = xPixel(k * xStep);
        grid += QStringLiteral("M%1 %2V%3").arg(px(x), px(y0), px(y1));
        labels += QStringLiteral("<text x=\"%1\" y=\"%2\" text-anchor=\"middle\">%3</text>")
                      .arg(px(x), px(y0 + 16), tickText(k * xStep));
    }
    const double middleY = (y0 + y1) / 2;
    return QStringLiteral("<path d=\"%1\" stroke=\"#ddd\" stroke-width=\"1\" fill=\"none\"/>\n"
                          "<rect x=\"%2\" y=\"%3\" width=\"%4\" height=\"%5\" fill=\"none\" "
                          "stroke=\"#888\"/>\n%6\n"
                          "<text x=\"%7\" y=\"%8\" text-anchor=\"middle\" "
                          "font-weight=\"bold\">%9</text>\n")
               .arg(grid, px(x0), px(y1), px(x1 - x0), px(y0 - y1), labels, px((x0 + x1) / 2),
                    px(y0 + 34), m_xTitle) +
           QStringLiteral("<text transform=\"translate(%1 %2) rotate(-90)\" "
                          "text-anchor=\"middle\" font-weight=\"bold\">%3</text>\n")
               .arg(px(18), px(middleY), m_yTitle);
}

QString SvgPlot::legend() const {
    QString entries;
    double x = left;
    const double y = plotHeight - 16;
    for (const LegendEntry &entry : m_legend) {
        entries += QStringLiteral("<g transform=\"translate(%1 %2)\">%3<text x=\"30\" "
                                  "y=\"4\">%4</text></g>")
                       .arg(px(x), px(y), entry.swatch, entry.name);
        x += 48 + 7 * static_cast<double>(entry.name.size());
    }
    return entries;
}

QString SvgPlot::svg(const QString &title) const {
    return QStringLiteral("<svg xmlns=\"http://www.w3.org/2000/svg\" viewBox=\"0 0 %1 %2\" "
                          "width=\"%1\" height=\"%2\" font-family=\"sans-serif\" "
                          "font-size=\"13\" role=\"img\">\n<title>%3</title>\n%4%5%6</svg>\n")
        .arg(px(plotWidth), px(plotHeight), title, axes(), m_body, legend());
}
