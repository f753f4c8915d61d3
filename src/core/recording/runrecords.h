#pragma once

#include "core/recording/problem.h"
#include "core/recording/runfile.h"

#include <QList>
#include <QString>
#include <QStringList>

// The records of Runs.txt's sound lines. Columns are found by the names in the header line;
// a file without all of them gives no records. Each line that cannot be read is named in
// `problems` and left out.
QList<RunRecord> parseRunRecords(const QStringList &lines, Problems &problems);

// Reads the file at `path`; a missing file (older data folders have none) gives no records
// and a problem.
QList<RunRecord> readRunRecords(const QString &path, Problems &problems);
