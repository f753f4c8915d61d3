#pragma once

#include <QList>
#include <QString>

// Something in the data folder the report could not take as it stands. The report names
// every one of them, so that a reader knows which figures rest on less than the whole file.
struct Problem {
    QString file;    // "Data.txt", "Runs.txt" or "Krugel.db"
    qint64 line = 0; // counted from 1, the header included; 0 for the file as a whole
    QString message;

    // "Data.txt line 7: 21 fields where 22 belong"
    QString text() const {
        const QString place = line > 0 ? QStringLiteral("%1 line %2").arg(file).arg(line) : file;
        return place + QStringLiteral(": ") + message;
    }
};
using Problems = QList<Problem>;
