#pragma once

#include "report/report.h"

#include <QDateTime>
#include <QList>
#include <QString>

// A run's two plots as SVG documents: the amount against the goal band, and the flows.
struct RunPlots {
    QString amountSvg;
    QString flowsSvg;
};

// The report as one HTML page that needs nothing else: the problems, the summary table, and
// for each run its facts, the person's subject record and answers, and its plots (`plots`
// in the order of the runs; a run without an entry has none). Every text from the data
// folder is escaped. The page is well-formed XML as well, so a tool can read it back.
QString reportHtml(const Report &report, const QList<RunPlots> &plots, const QDateTime &madeAt);
