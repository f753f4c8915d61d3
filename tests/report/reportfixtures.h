#pragma once

#include "core/common/numbers.h"
#include "core/recording/datafile.h"
#include "support/testdatabase.h"

#include <QFile>
#include <QList>
#include <QString>
#include <QStringList>

#include <sqlite3.h>

#include <cmath>

// Data.txt's lines as the program writes them: goal 4, tolerances 0.1, the bonus following
// from the amount, user inflow equal to the trial number.
class DataLines {
public:
    QStringList lines{dataHeaderLine()};

    // Appends one period per amount, trials counting from `firstTrial`; returns the line
    // number of the first.
    qint64 addRun(const QString &subject, const QString &version, const QList<double> &amounts,
                  int firstTrial = 1) {
        const qint64 first = lines.size() + 1;
        double totalBonus = 5;
        int trial = firstTrial;
        for (const double amount : amounts) {
            const double bonus = std::abs(amount - 4) <= 0.1 + 1e-9 ? 0.05 : 0;
            totalBonus += bonus;
            lines.append(QStringList{subject,
                                     version,
                                     QString::number(trial),
                                     QStringLiteral("12/7/2026"),
                                     QStringLiteral("3:04:05 PM"),
                                     QStringLiteral("3:04:07 PM"),
                                     numbers::general(bonus),
                                     numbers::general(totalBonus),
                                     QString::number(trial),
                                     QStringLiteral("0.5"),
                                     QStringLiteral("2"),
                                     QStringLiteral("1"),
                                     numbers::general(amount),
                                     QStringLiteral("0"),
                                     QStringLiteral("0"),
                                     QStringLiteral("0"),
                                     QStringLiteral("0"),
                                     QStringLiteral("4"),
                                     QStringLiteral("1"),
                                     QStringLiteral("1"),
                                     QStringLiteral("0.1"),
                                     QStringLiteral("0.1")}
                             .join(QLatin1Char('\t')));
            ++trial;
        }
        return first;
    }
};

// A Runs.txt line for `periods` periods from Data.txt line `firstDataLine`.
inline QString runLine(const QString &subject, const QString &version, int periods,
                       const QString &ending, qint64 firstDataLine) {
    return QStringList{subject,
                       version,
                       QStringLiteral("12/7/2026"),
                       QStringLiteral("3:04:05 PM"),
                       QStringLiteral("3:09:00 PM"),
                       QString::number(periods),
                       QString::number(periods),
                       QStringLiteral("0"),
                       QStringLiteral("5"),
                       ending,
                       QString::number(firstDataLine)}
        .join(QLatin1Char('\t'));
}

inline QString runsHeaderLine() {
    return QStringLiteral("Subject\tVersion\tDate\tStartTime\tEndTime\tMaxTrial\tPeriodsPlayed\t"
                          "PeriodsInBand\tTotalBonus\tEnding\tFirstDataLine");
}

// Writes lines as the program does: latin-1, CR LF.
inline bool writeLines(const QString &path, const QStringList &lines) {
    QFile file(path);
    return file.open(QIODevice::WriteOnly) &&
           file.write((lines.join(QStringLiteral("\r\n")) + QStringLiteral("\r\n")).toLatin1()) > 0;
}
