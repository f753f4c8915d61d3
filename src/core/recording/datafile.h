#pragma once

#include "core/recording/datacolumns.h"
#include "core/recording/recordfile.h"

#include <QByteArray>
#include <QDate>
#include <QString>

#include <array>

struct TaskState;

// The period data file: a tab-separated text file with a header of 22 column names and one line
// per played period, shared by every run started from the same program directory. The file is
// opened for one write and closed again (RecordFile), so another program may read it between
// periods.

// The 22 column names joined with TAB.
QString dataHeaderLine();

// The figure of every column of the line of period `currentTrial`, as periodLine writes it:
// the replay check compares a recomputed period with what the file holds through it. The
// columns that are not figures (isFigureColumn) hold 0.
using PeriodFigures = std::array<double, DataColumnCount>;
PeriodFigures periodFigures(const TaskState &state);

// The 22 fields of the line of period `currentTrial`, joined with TAB. A TAB or line break in
// the subject's name becomes a blank, so that every line keeps its 22 fields.
// Latin-1, as the file holds it.
QByteArray periodLine(const TaskState &state, const QDate &date);

// Whether the last bytes of Data.txt, without a line end, are a whole period line as
// periodLine writes it (every field in its column's form), the start of one, or neither.
TailKind classifyDataTail(QByteArrayView tail);

// Whether a line of the data file was played by `subject` (its first field, as written).
bool SubjectInDataFile(const QString &path, const QString &subject);

// Whether a text can be written as it is into Data.txt and Runs.txt, which keep Latin-1 as
// the lab's files and scripts expect, so that every file and the database hold the same name.
bool FitsDataFiles(const QString &text);

// A TAB or line break in a text field would split the line: each becomes a blank.
QString fieldText(QString text);
