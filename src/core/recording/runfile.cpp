#include "core/recording/runfile.h"

#include "core/common/numbers.h"
#include "core/recording/datafile.h"

#include <QStringList>

namespace {

constexpr RunEnding allEndings[] = {RunEnding::Completed, RunEnding::Reset,  RunEnding::Quit,
                                    RunEnding::Exited,    RunEnding::Failed, RunEnding::Signal,
                                    RunEnding::Left};

std::optional<qint64> lineNumber(QStringView text) {
    bool ok = false;
    const qint64 value = text.toLongLong(&ok);
    // Digits only: no sign, blank or other form a line number is never written in.
    for (const QChar c : text) {
        if (c < QLatin1Char('0') || c > QLatin1Char('9'))
            return std::nullopt;
    }
    return ok && value >= 1 ? std::optional<qint64>(value) : std::nullopt;
}

std::optional<LineSpan> parseSpan(QStringView text) {
    LineSpan span;
    const qsizetype slash = text.indexOf(QLatin1Char('/'));
    if (slash >= 0) {
        const std::optional<qint64> step = lineNumber(text.mid(slash + 1));
        if (!step)
            return std::nullopt;
        span.step = *step;
        text = text.left(slash);
    }
    const qsizetype dash = text.indexOf(QLatin1Char('-'));
    const std::optional<qint64> first = lineNumber(dash < 0 ? text : text.left(dash));
    const std::optional<qint64> last = dash < 0 ? first : lineNumber(text.mid(dash + 1));
    if (!first || !last || *last < *first || (*last - *first) % span.step != 0 ||
        (dash < 0 && slash >= 0))
        return std::nullopt;
    span.first = *first;
    span.last = *last;
    return span;
}

} // namespace

void LineSpanBuilder::add(qint64 line) {
    if (!m_spans.isEmpty()) {
        LineSpan &open = m_spans.last();
        if (open.first == open.last && line > open.last) {
            open.step = line - open.first;
            open.last = line;
            return;
        }
        if (line == open.last + open.step) {
            open.last = line;
            return;
        }
    }
    m_spans.append({line, line, 1});
}

QString lineSpansText(const LineSpans &spans) {
    QStringList parts;
    for (const LineSpan &span : spans) {
        if (span.first == span.last)
            parts.append(QString::number(span.first));
        else if (span.count() == 2 && span.step != 1)
            parts << QString::number(span.first) << QString::number(span.last);
        else if (span.step == 1)
            parts.append(QStringLiteral("%1-%2").arg(span.first).arg(span.last));
        else
            parts.append(QStringLiteral("%1-%2/%3").arg(span.first).arg(span.last).arg(span.step));
    }
    return parts.join(QLatin1Char(','));
}

std::optional<LineSpans> parseLineSpans(const QString &text) {
    LineSpans spans;
    for (const QStringView part : QStringView(text).split(QLatin1Char(','))) {
        const std::optional<LineSpan> span = parseSpan(part);
        if (!span || (!spans.isEmpty() && span->first <= spans.constLast().last))
            return std::nullopt;
        spans.append(*span);
    }
    return spans;
}

LineSpans RunRecord::lineSpans() const {
    if (!dataLines.isEmpty())
        return parseLineSpans(dataLines).value_or(LineSpans{});
    return {{firstDataLine, firstDataLine + periodsPlayed - 1, 1}};
}

qint64 RunRecord::lastDataLine() const {
    const LineSpans spans = lineSpans();
    return spans.isEmpty() ? firstDataLine : spans.constLast().last;
}

bool RunRecord::playedByPerson() const {
    if (!player.isEmpty())
        return player == runPlayerText(RunPlayer::Person);
    return version.isEmpty();
}

QString runHeaderLineV1() {
    return QStringLiteral("Subject\tVersion\tDate\tStartTime\tEndTime\tMaxTrial\tPeriodsPlayed\t"
                          "PeriodsInBand\tTotalBonus\tEnding\tFirstDataLine");
}

QString runHeaderLineV2() {
    return runHeaderLineV1() + QStringLiteral("\tRunId\tStudyCondition\tSetupId\tSeed\tPractice");
}

QString runHeaderLine() {
    return runHeaderLineV2() + QStringLiteral("\tDataLines\tPlayer");
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
    case RunEnding::Left:
        return QStringLiteral("left");
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

QString runPlayerText(RunPlayer player) {
    return player == RunPlayer::Person ? QStringLiteral("person") : QStringLiteral("model");
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
                       QString::number(record.practice),
                       record.dataLines,
                       record.player}
        .join(QLatin1Char('\t'));
}
