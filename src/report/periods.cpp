#include "report/periods.h"

#include "core/common/numbers.h"
#include "core/recording/datacolumns.h"
#include "core/recording/datafile.h"
#include "core/recording/tabfile.h"

#include <QDate>
#include <QTime>

#include <limits>
#include <optional>

namespace {

const QString fileLabel = QStringLiteral("Data.txt");

// Every column from CurrentBonus on holds a number, even those the report does not use:
// a line with a broken one is not what the program wrote.
constexpr int firstNumberColumn = CurrentBonus;

struct LineReading {
    std::optional<Period> period;
    QString damage;  // why the line was left out
    QString warning; // what is wrong in a line that was kept
};

QString numberDamage(const QStringList &fields, const QStringList &names) {
    QStringList broken;
    for (int column = firstNumberColumn; column < DataColumnCount; ++column) {
        if (!numbers::parseNumber(fields.at(column)))
            broken.append(names.at(column) + QLatin1Char(' ') + tabfile::quoted(fields.at(column)));
    }
    if (broken.isEmpty())
        return {};
    return QStringLiteral("not a number: ") + broken.join(QStringLiteral(", "));
}

QString dateAndTimeWarning(const Period &period) {
    QStringList malformed;
    if (!QDate::fromString(period.date, QStringLiteral("M/d/yyyy")).isValid())
        malformed.append(QStringLiteral("Date ") + tabfile::quoted(period.date));
    for (const QString &time : {period.startTime, period.endTime}) {
        if (!QTime::fromString(time, QStringLiteral("h:mm:ss AP")).isValid())
            malformed.append(QStringLiteral("time ") + tabfile::quoted(time));
    }
    if (malformed.isEmpty())
        return {};
    return QStringLiteral("malformed ") + malformed.join(QStringLiteral(", ")) +
           QStringLiteral("; the period is kept");
}

double number(const QStringList &fields, DataColumn column) {
    return numbers::parseNumber(fields.at(column)).value_or(0.0);
}

Period periodOf(const QStringList &fields, qint64 line, qint64 trial) {
    Period period;
    period.line = line;
    period.subject = fields.at(Subject);
    period.version = fields.at(Version);
    period.trial = trial;
    period.date = fields.at(Date);
    period.startTime = fields.at(StartTime);
    period.endTime = fields.at(EndTime);
    period.currentBonus = number(fields, CurrentBonus);
    period.totalBonus = number(fields, TotalBonus);
    period.userInflow = number(fields, UserInflow);
    period.userOutflow = number(fields, UserOutflow);
    period.envInflow = number(fields, EnvInflow);
    period.envOutflow = number(fields, EnvOutflow);
    period.amount = number(fields, Amount);
    period.goal = number(fields, GoalAmount);
    period.toleranceBelow = number(fields, GoalUpperBound);
    period.toleranceAbove = number(fields, GoalLowerBound);
    return period;
}

LineReading readLine(const QString &text, qint64 line, const QStringList &names) {
    if (text.isEmpty())
        return {std::nullopt, QStringLiteral("empty line"), {}};
    const QStringList fields = tabfile::fields(text);
    if (fields.size() != DataColumnCount)
        return {std::nullopt,
                QStringLiteral("%1 fields where %2 belong").arg(fields.size()).arg(DataColumnCount),
                {}};
    const std::optional<qint64> trial =
        tabfile::wholeNumber(fields.at(Trial), 1, std::numeric_limits<int>::max());
    if (!trial)
        return {std::nullopt,
                QStringLiteral("Trial %1 is not a period number")
                    .arg(tabfile::quoted(fields.at(Trial))),
                {}};
    const QString damage = numberDamage(fields, names);
    if (!damage.isEmpty())
        return {std::nullopt, damage, {}};
    Period period = periodOf(fields, line, *trial);
    const QString warning = dateAndTimeWarning(period);
    return {period, {}, warning};
}

} // namespace

QList<Period> parsePeriods(const QStringList &lines, Problems &problems) {
    const QString header = dataHeaderLine();
    const QStringList names = tabfile::fields(header);
    QList<Period> periods;
    for (qint64 index = 0; index < lines.size(); ++index) {
        const qint64 line = index + 1;
        const QString &text = lines.at(index);
        if (line == 1 && text == header)
            continue;
        const LineReading reading = readLine(text, line, names);
        if (line == 1 && reading.period)
            problems.append({fileLabel, line, QStringLiteral("no header line; read as a period")});
        else if (line == 1)
            problems.append(
                {fileLabel, line, QStringLiteral("not the header line the program writes")});
        else if (!reading.damage.isEmpty())
            problems.append({fileLabel, line, reading.damage + QStringLiteral("; line left out")});
        if (!reading.warning.isEmpty())
            problems.append({fileLabel, line, reading.warning});
        if (reading.period)
            periods.append(*reading.period);
    }
    return periods;
}

QList<Period> readPeriods(const QString &path, Problems &problems) {
    const std::optional<QStringList> lines =
        tabfile::readLines(path, fileLabel, QStringLiteral("no periods to report"), problems);
    return lines ? parsePeriods(*lines, problems) : QList<Period>();
}
