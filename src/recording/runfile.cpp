#include "recording/runfile.h"

#include "recording/datafile.h"
#include "setup/numbers.h"

#include <QStringList>

QString runHeaderLine() {
    return QStringLiteral("Subject\tVersion\tDate\tStartTime\tEndTime\tMaxTrial\tPeriodsPlayed\t"
                          "PeriodsInBand\tTotalBonus\tEnding\tFirstDataLine");
}

QString runEndingText(RunEnding ending) {
    switch (ending) {
    case RunEnding::Completed:
        return QStringLiteral("completed");
    case RunEnding::Reset:
        return QStringLiteral("reset");
    case RunEnding::Quit:
        return QStringLiteral("quit");
    case RunEnding::Exited:
        return QStringLiteral("exited");
    case RunEnding::Failed:
        break;
    }
    return QStringLiteral("failed");
}

QString runLine(const FinishedRun &record) {
    return QStringList{fieldText(record.subject),
                       fieldText(record.version),
                       numbers::usShortDate(record.date),
                       numbers::usLongTime(record.startTime),
                       numbers::usLongTime(record.endTime),
                       QString::number(record.maxTrial),
                       QString::number(record.periodsPlayed),
                       QString::number(record.periodsInBand),
                       numbers::general(record.totalBonus),
                       runEndingText(record.ending),
                       QString::number(record.firstDataLine)}
        .join(QLatin1Char('\t'));
}
