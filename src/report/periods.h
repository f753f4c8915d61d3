#pragma once

#include "core/recording/datacolumns.h"
#include "core/recording/problem.h"

#include <QByteArray>
#include <QHash>
#include <QList>
#include <QString>
#include <QStringList>

#include <optional>

// One period as Data.txt records it: every field of its line.
struct Period {
    qint64 line = 0; // line number in Data.txt
    QString subject;
    QString version; // "BATCH", "NONBATCH" (a model) or empty (a person)
    qint64 trial = 0;
    QString date;      // 12/7/2026
    QString startTime; // 3:04:05 PM
    QString endTime;
    double currentBonus = 0;
    double totalBonus = 0; // the payment so far: the base payment and the bonuses
    double userInflow = 0; // the orders placed in the period, not those that acted in it
    double userOutflow = 0;
    double envInflow = 0;
    double envOutflow = 0;
    double amount = 0;
    double backOrder = 0; // the initial inflow order's share of the period
    double totalBackOrder = 0;
    double forwardDischarge = 0;
    double totalForwardDischarge = 0;
    double goal = 0;
    double delayUI = 0; // the delays in force in the period
    double delayUO = 0;
    double toleranceBelow = 0; // column GoalUpperBound
    double toleranceAbove = 0; // column GoalLowerBound

    // The number in column `column`, Trial or one from CurrentBonus on; 0 for a text column.
    double figure(DataColumn column) const;
    // Date and EndTime as one ISO 8601 date-time (2026-12-07T15:04:07), or empty text when
    // either cannot be read.
    QString endDateTime() const;
};

// The periods of Data.txt's sound lines, in file order. Each line that cannot be read is
// named in `problems` and left out; a period whose date or time is malformed is kept, and
// named too.
QList<Period> parsePeriods(const QStringList &lines, Problems &problems);

// The periods read from a file, and how many of its lines were left out unread.
struct PeriodReading {
    QList<Period> periods;
    qint64 linesLeftOut = 0;
};

// Reads the file at `path` line by line, whatever its size; a missing or unreadable file gives
// no periods and a problem. With `lastLine` 0 or more, the lines after it are counted in
// `linesLeftOut` and not read.
PeriodReading readPeriods(const QString &path, Problems &problems, qint64 lastLine = -1);

// DecisionTimes.txt: how long a person took over each decision, by RunId and period.
struct DecisionTimes {
    QHash<QString, QHash<qint64, qint64>> msByRun;

    // The milliseconds of period `trial` of run `runId`, or none.
    std::optional<qint64> of(const QString &runId, qint64 trial) const;
};
// Reads the file at `path`. A folder without one has no times and no problem: its runs were
// models', or were recorded before decisions were timed. A line that cannot be read is named
// in `problems` and left out.
DecisionTimes readDecisionTimes(const QString &path, Problems &problems);

// The data file's date (12/7/2026) as yyyy-MM-dd, or the text as it is when it is no date.
QString isoDate(const QString &text);
// The data file's time (3:04:05 PM) as HH:mm:ss, or the text as it is when it is no time.
QString isoTime(const QString &text);
