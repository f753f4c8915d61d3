#include "core/recording/runfile.h"

#include "core/common/numbers.h"
#include "core/recording/datafile.h"

#include <QStringList>

namespace {

constexpr RunEnding allEndings[] = {RunEnding::Completed, RunEnding::Reset,  RunEnding::Quit,
                                    RunEnding::Exited,    RunEnding::Failed, RunEnding::Signal};

} // namespace

QString runHeaderLineV1() {
    return QStringLiteral("Subject\tVersion\tDate\tStartTime\tEndTime\tMaxTrial\tPeriodsPlayed\t"
                          "PeriodsInBand\tTotalBonus\tEnding\tFirstDataLine");
}

QString runHeaderLine() {
    return runHeaderLineV1() + QStringLiteral("\tRunId\tStudyCondition\tSetupId\tSeed\tPractice");
}

QString makeRunId(const QDateTime &start, qint64 sequence) {
    return start.toString(QStringLiteral("yyyyMMdd-HHmmss-")) + QString::number(sequence);
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
    case RunEnding::Signal:
        return QStringLiteral("signal");
    case RunEnding::Failed:
        break;
    }
    return QStringLiteral("failed");
}

std::optional<RunEnding> runEndingFrom(const QString &text) {
    for (RunEnding ending : allEndings) {
        if (runEndingText(ending) == text)
            return ending;
    }
    return std::nullopt;
}

QString runLine(const RunRecord &record) {
    return QStringList{fieldText(record.subject),
                       fieldText(record.version),
                       record.date,
                       record.startTime,
                       record.endTime,
                       QString::number(record.maxTrial),
                       QString::number(record.periodsPlayed),
                       QString::number(record.periodsInBand),
                       numbers::general(record.totalBonus),
                       runEndingText(record.ending),
                       QString::number(record.firstDataLine),
                       fieldText(record.runId),
                       fieldText(record.studyCondition),
                       record.setupId,
                       fieldText(record.seed),
                       QString::number(record.practice)}
        .join(QLatin1Char('\t'));
}
