#include "report/runs.h"

#include "core/recording/tabfile.h"
#include "core/setup/taskstate.h"

#include <QHash>

#include <algorithm>
#include <cmath>
#include <iterator>

namespace {

using PeriodsByLine = QHash<qint64, const Period *>;
using ClaimedLines = QHash<qint64, qint64>; // Data.txt line -> the Runs.txt line that took it

bool samePlayer(const Period &period, const QString &subject, const QString &version) {
    return period.subject == subject && period.version == version;
}

QString playerName(const QString &subject, const QString &version) {
    return tabfile::quoted(subject) + (version.isEmpty() ? QString() : QLatin1Char(' ') + version);
}

// Why `record` cannot have the lines it names, or an empty text when it can.
QString misfit(const RunRecord &record, const PeriodsByLine &periodsByLine, qint64 lastDataLine,
               const ClaimedLines &claimed) {
    const QString lines =
        QStringLiteral("names Data.txt lines %1, but ").arg(lineSpansText(record.lineSpans()));
    if (record.lastDataLine() > lastDataLine)
        return lines + QStringLiteral("Data.txt ends at line %1").arg(lastDataLine);
    bool anyPeriod = false;
    qint64 trial = 0;
    for (const LineSpan &span : record.lineSpans()) {
        for (qint64 line = span.first; line <= span.last; line += span.step) {
            ++trial;
            if (claimed.contains(line))
                return lines + QStringLiteral("line %1 belongs to the run of Runs.txt line %2")
                                   .arg(line)
                                   .arg(claimed.value(line));
            const Period *period = periodsByLine.value(line, nullptr);
            if (period == nullptr)
                continue; // a damaged line, named already
            anyPeriod = true;
            if (!samePlayer(*period, record.subject, record.version) || period->trial != trial)
                return lines + QStringLiteral("line %1 is not period %2 of %3")
                                   .arg(line)
                                   .arg(trial)
                                   .arg(playerName(record.subject, record.version));
        }
    }
    if (!anyPeriod)
        return lines + QStringLiteral("none of them is readable");
    return {};
}

// Which record takes each Data.txt line: the index in `records` of every record that fits
// Data.txt; the others are named.
QHash<qint64, qsizetype> linesOfRecords(const QList<Period> &periods,
                                        const QList<RunRecord> &records, Problems &problems) {
    PeriodsByLine periodsByLine;
    for (const Period &period : periods)
        periodsByLine.insert(period.line, &period);
    const qint64 lastDataLine = periods.isEmpty() ? 1 : periods.constLast().line;
    ClaimedLines claimed;
    QHash<qint64, qsizetype> recordOfLine;
    for (qsizetype index = 0; index < records.size(); ++index) {
        const RunRecord &record = records.at(index);
        const QString reason = misfit(record, periodsByLine, lastDataLine, claimed);
        if (!reason.isEmpty()) {
            problems.append({QStringLiteral("Runs.txt"), record.line,
                             reason + QStringLiteral("; the record is ignored")});
            continue;
        }
        for (const LineSpan &span : record.lineSpans()) {
            for (qint64 line = span.first; line <= span.last; line += span.step) {
                claimed.insert(line, record.line);
                recordOfLine.insert(line, index);
            }
        }
    }
    return recordOfLine;
}

// A period without a record continues the run before it when nothing came between them but
// damaged lines.
bool continues(const Run &run, const Period &period) {
    const Period &last = run.periods.constLast();
    return !run.record && samePlayer(period, last.subject, last.version) &&
           period.trial - last.trial == period.line - last.line;
}

} // namespace

bool Run::isComplete() const {
    return record && record->ending == RunEnding::Completed;
}

QString Run::endingText() const {
    return record ? runEndingText(record->ending) : QStringLiteral("no run record");
}

qint64 Run::missingPeriods() const {
    return record ? std::max<qint64>(0, record->periodsPlayed - periods.size()) : 0;
}

qint64 Run::periodsInBand() const {
    return std::count_if(periods.cbegin(), periods.cend(),
                         [](const Period &period) { return period.currentBonus > 0; });
}

double Run::shareInBand() const {
    return static_cast<double>(periodsInBand()) / static_cast<double>(periods.size());
}

double Run::totalBonus() const {
    return periods.constLast().totalBonus;
}

double Run::bonus() const {
    // Rounded to a millionth of a dollar: the difference of the sums would otherwise show
    // their rounding errors (0.0999999999999996).
    return std::round((payment() - basePayment()) * 1e6) / 1e6;
}

double Run::basePayment() const {
    // A run whose first period could not be read keeps the program's own base.
    const Period &first = periods.constFirst();
    if (first.trial != 1)
        return TaskState().basePayment;
    return std::round((first.totalBonus - first.currentBonus) * 1e6) / 1e6;
}

double Run::meanDistanceFromGoal() const {
    double sum = 0;
    for (const Period &period : periods)
        sum += std::abs(period.amount - period.goal);
    return sum / static_cast<double>(periods.size());
}

QList<Run> cutRuns(QList<Period> periods, const QList<RunRecord> &records, Problems &problems) {
    const QHash<qint64, qsizetype> recordOfLine = linesOfRecords(periods, records, problems);
    QHash<qsizetype, qsizetype> runOfRecord; // runs of one folder may interleave in Data.txt
    QList<Run> runs;
    for (Period &period : periods) {
        const auto record = recordOfLine.constFind(period.line);
        if (record != recordOfLine.cend()) {
            auto run = runOfRecord.constFind(*record);
            if (run == runOfRecord.cend()) {
                run = runOfRecord.insert(*record, runs.size());
                runs.append({{}, records.at(*record)});
            }
            runs[*run].periods.append(std::move(period));
        } else if (!runs.isEmpty() && continues(runs.constLast(), period)) {
            runs.last().periods.append(std::move(period));
        } else {
            runs.append({{std::move(period)}, std::nullopt});
        }
    }
    return runs;
}
