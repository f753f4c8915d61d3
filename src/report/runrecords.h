#pragma once

#include "report/problem.h"

#include <QList>
#include <QString>
#include <QStringList>

// One line of Runs.txt: a run that played at least one period, written when it ended.
struct RunRecord {
    qint64 line = 0; // line number in Runs.txt
    QString subject;
    QString version;
    QString date;
    QString startTime;
    QString endTime;
    qint64 maxTrial = 0;
    qint64 periodsPlayed = 0;
    qint64 periodsInBand = 0;
    double totalBonus = 0;
    QString ending; // completed, reset, quit, exited or failed
    qint64 firstDataLine = 0;

    qint64 lastDataLine() const { return firstDataLine + periodsPlayed - 1; }
};

// The records of Runs.txt's sound lines. Columns are found by the names in the header line;
// a file without all of them gives no records. Each line that cannot be read is named in
// `problems` and left out.
QList<RunRecord> parseRunRecords(const QStringList &lines, Problems &problems);

// Reads the file at `path`; a missing file (older data folders have none) gives no records
// and a problem.
QList<RunRecord> readRunRecords(const QString &path, Problems &problems);
