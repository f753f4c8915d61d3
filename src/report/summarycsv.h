#pragma once

#include "report/report.h"

#include <QByteArray>
#include <QList>
#include <QString>
#include <QStringList>

#include <string>

// The summary table as CSV for R or pandas: a header row and one row per run, UTF-8, CR LF,
// fields quoted as RFC 4180 asks. Numbers keep the data file's precision; Complete is TRUE
// or FALSE; Date is yyyy-MM-dd when the data file's date can be read. TotalBonus is the
// payment (the base payment and the bonuses); Payment repeats it and Bonus is the bonuses
// alone. Folder names each run's data folder as `folderLabels` give them.
QByteArray summaryCsv(const QList<Run> &runs, const QStringList &folderLabels = {});
QByteArray summaryCsv(const Report &report);

// One field, quoted when it holds a comma, a quote or a line break.
QString csvField(const QString &text);
// The fields quoted where they must be and joined with commas, UTF-8, without the row's end.
std::string csvFields(const QStringList &fields);
