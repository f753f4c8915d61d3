#include "report/runs.h"

#include "core/recording/tabfile.h"
#include "core/setup/taskstate.h"

#include <QMap>

#include <algorithm>
#include <cmath>
#include <iterator>

namespace {

using PeriodsByLine = QMap<qint64, const Period *>;
using ClaimedLines = QMap<qint64, qint64>; // Data.txt line -> the Runs.txt line that took it

bool samePlayer(const Period &period, const QString &subject, const QString &version) {
    return period.subject == subject && period.version == version;
}

QString playerName(const QString &subject, const QString &version) {
    return tabfile::quoted(subject) + (version.isEmpty() ? QString() : QLatin1Char(' ') + version);
}

// Why `record` cannot have the lines it names, or an empty text when it can.
QString misfit(const RunRecord &record, const PeriodsByLine &periodsByLine, qint64 lastDataLine,
               const ClaimedLines &claimed) {
    const QString lines = QStringLiteral("names Data.txt lines %1-%2, but ")
                              .arg(record.firstDataLine)
                              .arg(record.lastDataLine());
    if (record.lastDataLine() > lastDataLine)
        return lines + QStringLiteral("Data.txt ends at line %1").arg(lastDataLine);
    bool anyPeriod = false;
    for (qint64 line = record.firstDataLine; line <= record.lastDataLine(); ++line) {
        if (claimed.contains(line))
            return lines + QStringLiteral("line %1 belongs to the run of Runs.txt line %2")
                               .arg(line)
                               .arg(claimed.value(line));
        const Period *period = periodsByLine.value(line, nullptr);
        if (period == nullptr)
            continue; // a damaged line, named already
        anyPeriod = true;
        const qint64 trial = line - record.firstDataLine + 1;
        if (!samePlayer(*period, record.subject, record.version) || period->trial != trial)
            return lines + QStringLiteral("line %1 is not period %2 of %3")
                               .arg(line)
                               .arg(trial)
                               .arg(playerName(record.subject, record.version));
    }
    if (!anyPeriod)
        return lines + QStringLiteral("none of them is readable");
    return {};
}

// The records that fit Data.txt, by the line of their first period; the others are named.
QMap<qint64, RunRecord> fittingRecords(const QList<Period> &periods,
                                       const QList<RunRecord> &records, Problems &problems) {
    PeriodsByLine periodsByLine;
    for (const Period &period : periods)
        periodsByLine.insert(period.line, &period);
    const qint64 lastDataLine = periods.isEmpty() ? 1 : periods.constLast().line;
    ClaimedLines claimed;
    QMap<qint64, RunRecord> byFirstLine;
    for (const RunRecord &record : records) {
        const QString reason = misfit(record, periodsByLine, lastDataLine, claimed);
        if (!reason.isEmpty()) {
            problems.append({QStringLiteral("Runs.txt"), record.line,
                             reason + QStringLiteral("; the record is ignored")});
            continue;
        }
        for (qint64 line = record.firstDataLine; line <= record.lastDataLine(); ++line)
            claimed.insert(line, record.line);
        byFirstLine.insert(record.firstDataLine, record);
    }
    return byFirstLine;
}

// A period without a record continues the run before it when nothing came between them but
// damaged lines.
bool continues(const Run &run, const Period &period) {
    const Period &last = run.periods.constLast();
    return !run.record && samePlayer(period, last.subject, last.version) &&
           period.trial - last.trial == period.line - last.line;
}

// The record whose lines include `line`; its first line may be a damaged one.
const RunRecord *recordHolding(const QMap<qint64, RunRecord> &recordByFirstLine, qint64 line) {
    auto after = recordByFirstLine.upperBound(line);
    if (after == recordByFirstLine.cbegin())
        return nullptr;
    const RunRecord &candidate = *std::prev(after);
    return line <= candidate.lastDataLine() ? &candidate : nullptr;
}

// Records of Runs-v1.txt and Runs.txt share line numbers, never Data.txt lines.
bool isRunOf(const Run &run, const RunRecord &record) {
    return run.record && run.record->firstDataLine == record.firstDataLine;
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

double basePayment() {
    static const double base = TaskState().basePayment;
    return base;
}

double Run::meanDistanceFromGoal() const {
    double sum = 0;
    for (const Period &period : periods)
        sum += std::abs(period.amount - period.goal);
    return sum / static_cast<double>(periods.size());
}

QList<Run> cutRuns(QList<Period> periods, const QList<RunRecord> &records, Problems &problems) {
    const QMap<qint64, RunRecord> recordByFirstLine = fittingRecords(periods, records, problems);
    QList<Run> runs;
    for (Period &period : periods) {
        const RunRecord *record = recordHolding(recordByFirstLine, period.line);
        if (record != nullptr) {
            if (runs.isEmpty() || !isRunOf(runs.constLast(), *record))
                runs.append({{}, *record});
            runs.last().periods.append(std::move(period));
        } else if (!runs.isEmpty() && continues(runs.constLast(), period)) {
            runs.last().periods.append(std::move(period));
        } else {
            runs.append({{std::move(period)}, std::nullopt});
        }
    }
    return runs;
}
