#pragma once

#include "report/report.h"

#include <QByteArray>

// The report's tables for R (read.csv) and pandas (read_csv): a header row, UTF-8, CR LF,
// fields quoted as RFC 4180 asks, numbers with a point and no thousands separator, and an
// empty field where a value is missing. Run is the run's number on the page and in the
// summary table; Folder its data folder as the command line named it.

// One row per period: RunId, StudyCondition, Subject, PeriodEnd (the period's end as an ISO
// 8601 date-time), every figure of its Data.txt line under the file's column names (Trial,
// CurrentBonus, ... GoalLowerBound; CurrentBonus and TotalBonus empty in a practice run, which
// pays nothing), then Version, Run, Folder, Seed and DecisionMs (the person's decision time in
// milliseconds from DecisionTimes.txt, joined by RunId and Trial; empty for a run without).
QByteArray periodsCsv(const Report &report);

// One row per person's run: RunId, Subject, the first question's rating (a number) and its
// reasons, the answers to the other two, then StudyCondition, Run, Folder and Matched: "run"
// when the database ties the answers to the run (a study's own answers always are), "name"
// when the three answers were found by the subject's name, "ambiguous" when that name gave
// several answers to a question (the answer fields are then left empty), "none" without any
// answers. When the runs answered a
// study's own questionnaire (datAnswer), one column per question id follows, in the order the
// ids first appear: a rating's point as a number, a choice's option or a text as given.
QByteArray answersCsv(const Report &report);
