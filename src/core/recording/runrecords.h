#pragma once

#include "core/recording/problem.h"
#include "core/recording/recordfile.h"
#include "core/recording/runfile.h"

#include <QList>
#include <QString>
#include <QStringList>

// The records of Runs.txt's sound lines. Columns are found by the names in the header line;
// a file without all of them gives no records. Each line that cannot be read is named in
// `problems` and left out; `fileLabel` names the file in them.
QList<RunRecord> parseRunRecords(const QStringList &lines, Problems &problems,
                                 const QString &fileLabel = QStringLiteral("Runs.txt"));

// Reads the file at `path` (Runs.txt, or Runs-v1.txt of the first kind), named in problems
// by its file name; a missing file (older data folders have none) gives no records and a
// problem.
QList<RunRecord> readRunRecords(const QString &path, Problems &problems);

// Whether the last bytes of Runs.txt, without a line end, are a whole record of the current
// kind, the start of one, or neither.
TailKind classifyRunTail(QByteArrayView tail);
