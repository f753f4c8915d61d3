#pragma once

#include "report/report.h"

#include <QDateTime>
#include <QString>

// How many runs the page draws: each plotted run adds two plots, and a page of thousands of
// them would be too large to open. Every run stays in the tables.
inline constexpr int MostPlottedRuns = 200;

// The report as one HTML page that needs nothing else: the problems; the conditions with
// what their means take (every run but practice runs) and the dropouts (persons with a
// subject record and no completed run, and where they stopped); then per study condition
// the mean distance from the goal per period with its spread, the share of periods in the
// band per run, the table of its runs (practice runs marked) and each run's facts, scenario,
// subject record and answers, and plots (for the first `mostPlottedRuns` runs). Every text
// from the data folders is escaped. The page is well-formed XML as well, so a tool can read
// it back. The plots are drawn with fonts: it needs the application object of a GUI.
QString reportHtml(const Report &report, const QDateTime &madeAt,
                   int mostPlottedRuns = MostPlottedRuns);
