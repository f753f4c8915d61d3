#pragma once

#include "core/recording/datacolumns.h"

#include <QByteArray>
#include <QDate>
#include <QString>

#include <array>

struct TaskState;

// The period data file: a tab-separated text file with a header of 22 column names and one line
// per played period, shared by every run started from the same program directory. The file is
// opened for one write and closed again, so another program may read it between periods.

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

// Creates the file with the header line and CR LF when no file of that name exists; an
// existing file is left as it is. False, with the reason in `error`, when it cannot be written.
bool WriteDataHeader(const QString &path, QString *error = nullptr);

// Appends `line` and CR LF, creating the file without a header when it is missing. The line
// goes out in one write and the file is closed again; a write that fails part-way is taken
// back, so the file never holds part of a line. False, with the reason in `error`, when the
// file cannot be opened or written.
bool WritePeriodLine(const QString &path, const QByteArray &line, QString *error = nullptr);
bool WritePeriodLine(const QString &path, const QString &line, QString *error = nullptr);

// Whether a line of the data file was played by `subject` (its first field, as written).
bool SubjectInDataFile(const QString &path, const QString &subject);

// The same two writes for any file kept like the data file (the run record).
bool WriteHeaderIfNew(const QString &path, const QString &header, QString *error = nullptr);
bool AppendLine(const QString &path, const QByteArray &line, QString *error = nullptr);
bool AppendLine(const QString &path, const QString &line, QString *error = nullptr);

// A file whose last line has no line end (a write cut short by an earlier program, killed
// or out of disk) loses that part, so the next line starts a line of its own; `note` then
// says what was removed. False, with the reason in `error`, when the file cannot be mended.
bool RepairTornEnd(const QString &path, QString *note, QString *error);

// Whether a text can be written as it is into Data.txt and Runs.txt, which keep Latin-1 as
// the lab's files and scripts expect, so that every file and the database hold the same name.
bool FitsDataFiles(const QString &text);

// A TAB or line break in a text field would split the line: each becomes a blank.
QString fieldText(QString text);

// The number of lines of a file that only grows by appends. The file is counted again only
// when it is not the size that the last count and the appends since would give it, so a
// long run of runs does not read a large file over and over.
class LineCount {
public:
    qint64 of(const QString &path);
    // One line of `bytes` bytes, line end included, was appended.
    void appended(qint64 bytes);

private:
    qint64 m_size = -1;
    qint64 m_lines = 0;
};
