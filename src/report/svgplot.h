#pragma once

#include <QBrush>
#include <QList>
#include <QPainterPath>
#include <QPen>
#include <QRectF>
#include <QString>

#include <vector>

class QPainter;

// A plot drawn with QPainter into an SVG generator: axes with ticks and titles, a legend
// beneath, and each line or area as one path, so that a page of many long runs stays small
// and quick to draw. The generator escapes the texts drawn; the plot escapes its title.
// Drawing needs the application object of a GUI (QGuiApplication), for the fonts.
class SvgPlot {
public:
    struct Range {
        double low;
        double high;
    };
    struct Style {
        const char *color;
        std::vector<double> dash = {}; // dash and gap lengths in pixels, or none for a solid line
        double width = 2;
    };

    // The x and y ranges to cover; the y range is widened to round ticks (and made wider
    // when it is a single value), the x range is kept.
    SvgPlot(Range x, Range y, QString xTitle, QString yTitle);

    // A line through (xs[i], ys[i]); a point that is not finite breaks it.
    void addLine(const QString &name, const std::vector<double> &xs, const std::vector<double> &ys,
                 const Style &style);
    // The area between two lines over the same xs, filled with a pale `color` (added before
    // the lines it lies under); a point that is not finite breaks it.
    void addArea(const QString &name, const std::vector<double> &xs,
                 const std::vector<double> &lows, const std::vector<double> &highs,
                 const char *color);
    // One bar per x, from 0 up to its height, `width` wide in x units.
    void addBars(const QString &name, const std::vector<double> &xs,
                 const std::vector<double> &heights, double width, const char *color);

    // The SVG element, to be placed in a page, with `title` as its accessible title.
    QString svg(const QString &title) const;

    // The ranges every plot of the page starts from: the finite values' extent (0 to 1 when
    // there is none).
    static Range extentOf(const std::vector<double> &values, Range start = {+1e300, -1e300});

private:
    // What is drawn for one series, and its swatch in the legend: a line when it has no fill.
    struct Series {
        QString name;
        QPen pen;
        QBrush brush;
        QPainterPath path;
        QList<QRectF> bars;
    };

    QPointF pixel(double x, double y) const;
    QList<double> yTicks() const;
    QList<double> xTicks() const;
    // The plotting area, in pixels.
    QRectF frame() const;
    void drawGrid(QPainter &painter) const;
    void drawTickLabels(QPainter &painter) const;
    void drawSeries(QPainter &painter) const;
    void drawTitles(QPainter &painter) const;
    void drawLegend(QPainter &painter) const;

    Range m_x;
    Range m_y;
    double m_yStep = 1;
    QString m_xTitle;
    QString m_yTitle;
    QList<Series> m_series;
};
