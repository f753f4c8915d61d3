#pragma once

#include "report/report.h"

#include <QByteArray>
#include <QList>
#include <QString>
#include <QStringList>

#include <string>

// The summary table as CSV for R or pandas: a header row and one row per run, UTF-8, CR LF,
// fields quoted as RFC 4180 asks. Numbers keep the data file's precision; Complete is TRUE
// or FALSE; Date is yyyy-MM-dd and StartTime and EndTime HH:mm:ss when the data file's
// texts can be read. TotalBonus is the payment (the base payment and the bonuses); Payment
// repeats it and Bonus is the bonuses alone; all three are empty for a practice run, which
// pays nothing. Folder names each run's data folder as `folderLabels` give them; Gender,
// GenderNumber (the setup's gender option by its number), Age and Major come from the subject
// record datRun ties to the run, StudyFilesId (the study files it showed, studyfiles/STUDYFILESID/)
// from its datRun row.
QByteArray summaryCsv(const QList<Run> &runs, const QStringList &folderLabels = {});
QByteArray summaryCsv(const Report &report);

// One field, quoted when it holds a comma, a quote or a line break. A text that begins with
// =, +, -, @, a tab or a carriage return gets a leading apostrophe, so that a spreadsheet
// never takes it for a formula; a plain number (-0.5) stays as it is.
QString csvField(const QString &text);
// The fields quoted where they must be and joined with commas, UTF-8, without the row's end.
std::string csvFields(const QStringList &fields);
