#pragma once

#include "core/recording/recordfile.h"

#include <QByteArray>
#include <QByteArrayView>
#include <QString>

// How long a person took over each decision, DecisionTimes.txt in the data folder: one line
// per period of a person's run, in whole milliseconds from the moment the task took input
// (the run loaded for period 1, the previous period over for the others) to the Submit that
// played the period. Kept like Data.txt (TAB-separated, CR LF, a header once, only appended
// to), in a file of its own so that Data.txt keeps its columns. A model's runs have no lines.

QString decisionTimesPath(const QString &dataDir);

// "RunId", "Period", "DecisionMs" joined with TAB.
QString decisionTimesHeaderLine();

// The line of one period, without its line end: the RunId as Runs.txt has it, the period and
// the milliseconds. Latin-1, as the file holds it.
QByteArray decisionTimeLine(const QString &runId, int period, qint64 decisionMs);

// Whether the last bytes of DecisionTimes.txt, without a line end, are a whole line as
// decisionTimeLine writes it, the start of one, or neither.
TailKind classifyDecisionTimesTail(QByteArrayView tail);
