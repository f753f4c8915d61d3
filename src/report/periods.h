#pragma once

#include "core/recording/problem.h"

#include <QList>
#include <QString>
#include <QStringList>

// One period as Data.txt records it: the fields the report uses.
struct Period {
    qint64 line = 0; // line number in Data.txt
    QString subject;
    QString version; // "BATCH", "NONBATCH" (a model) or empty (a person)
    qint64 trial = 0;
    QString date;      // 12/7/2026
    QString startTime; // 3:04:05 PM
    QString endTime;
    double currentBonus = 0;
    double totalBonus = 0;
    double userInflow = 0;
    double userOutflow = 0;
    double envInflow = 0;
    double envOutflow = 0;
    double amount = 0;
    double goal = 0;
    double toleranceBelow = 0; // column GoalUpperBound
    double toleranceAbove = 0; // column GoalLowerBound
};

// The periods of Data.txt's sound lines, in file order. Each line that cannot be read is
// named in `problems` and left out; a period whose date or time is malformed is kept, and
// named too.
QList<Period> parsePeriods(const QStringList &lines, Problems &problems);

// Reads the file at `path`; a missing or unreadable file gives no periods and a problem.
QList<Period> readPeriods(const QString &path, Problems &problems);
