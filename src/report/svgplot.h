#pragma once

#include <QString>
#include <QStringList>

#include <vector>

// A plot written straight as SVG: axes with ticks and titles, a legend beneath, and each
// series as one path, so that a page of many long runs stays small and quick to draw. Every
// text it is given must be the report's own: none is escaped.
class SvgPlot {
public:
    struct Range {
        double low;
        double high;
    };
    struct Style {
        const char *color;
        const char *dash = nullptr; // an SVG dash array ("6 4"), or none for a solid line
        double width = 2;
    };

    // The x and y ranges to cover; the y range is widened to round ticks (and made wider
    // when it is a single value), the x range is kept.
    SvgPlot(Range x, Range y, QString xTitle, QString yTitle);

    // A line through (xs[i], ys[i]); a point that is not finite breaks it.
    void addLine(const QString &name, const std::vector<double> &xs, const std::vector<double> &ys,
                 Style style);
    // The area between two lines over the same xs, filled with a pale `color` (added before
    // the lines it lies under); a point that is not finite breaks it.
    void addArea(const QString &name, const std::vector<double> &xs,
                 const std::vector<double> &lows, const std::vector<double> &highs,
                 const char *color);
    // One bar per x, from 0 up to its height, `width` wide in x units.
    void addBars(const QString &name, const std::vector<double> &xs,
                 const std::vector<double> &heights, double width, const char *color);

    // The SVG element, with `title` as its accessible title.
    QString svg(const QString &title) const;

    // The ranges every plot of the page starts from: the finite values' extent (0 to 1 when
    // there is none).
    static Range extentOf(const std::vector<double> &values, Range start = {+1e300, -1e300});

private:
    double xPixel(double x) const;
    double yPixel(double y) const;
    QString axes() const;
    QString legend() const;

    Range m_x;
    Range m_y;
    double m_yStep = 1;
    QString m_xTitle;
    QString m_yTitle;
    QString m_body;
    struct LegendEntry {
        QString name;
        QString swatch; // an SVG element drawn at the origin
    };
    QList<LegendEntry> m_legend;
};
