#pragma once

#include <QDate>
#include <QString>

struct TaskState;

// The period data file: a tab-separated text file with a header of 22 column names and one line
// per played period, shared by every run started from the same program directory. The file is
// opened for one write and closed again, so another program may read it between periods.

// The 22 column names joined with TAB.
QString dataHeaderLine();

// The 22 fields of the line of period `currentTrial`, joined with TAB. A flow whose entry box
// was empty when the line is written records 0. A TAB or line break in the subject's name
// becomes a blank, so that every line keeps its 22 fields.
QString periodLine(const TaskState &state, const QDate &date, bool inflowBoxHasText,
                   bool outflowBoxHasText);

// Creates the file with the header line and CR LF when no file of that name exists; an
// existing file is left as it is. False, with the reason in `error`, when it cannot be written.
bool WriteDataHeader(const QString &path, QString *error = nullptr);

// Appends `line` and CR LF, creating the file without a header when it is missing. The line
// goes out in one write and the file is closed again. False, with the reason in `error`, when
// the file cannot be opened or written.
bool WritePeriodLine(const QString &path, const QString &line, QString *error = nullptr);
