#pragma once

#include "report/conditions.h"
#include "report/course.h"
#include "report/runs.h"

#include <QString>

// The report's plots as SVG elements (see SvgPlot). No text from the data folder goes into
// them: a condition's or a person's name is the page's to show, escaped.

// The amount from period 0 against the goal band, in `unit`s.
QString amountPlot(const Run &run, const RunCourse &course, const QString &unit);
// The four flows of each period, the player's in the periods they acted in.
QString flowsPlot(const Run &run, const RunCourse &course, const QString &unit);
// The mean distance from the goal per period across a condition's runs, with a band of one
// standard deviation either side.
QString distancePlot(const ConditionGroup &group, const QString &unit);
// How many of a condition's runs kept each share of their periods in the band.
QString shareInBandPlot(const ConditionGroup &group);
