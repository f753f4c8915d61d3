#include "report/summarycsv.h"

#include "core/common/numbers.h"

#include <QDate>
#include <QStringList>

namespace {

const QLatin1String rowEnd("\r\n");

QString isoDate(const QString &usDate) {
    const QDate date = QDate::fromString(usDate, QStringLiteral("M/d/yyyy"));
    return date.isValid() ? date.toString(Qt::ISODate) : usDate;
}

QString csvRow(const QStringList &fields) {
    QStringList quoted;
    for (const QString &field : fields)
        quoted.append(csvField(field));
    return quoted.join(QLatin1Char(',')) + rowEnd;
}

QStringList runFields(int number, const Run &run) {
    const Period &first = run.periods.constFirst();
    return {QString::number(number),
            run.subject(),
            run.version(),
            isoDate(first.date),
            first.startTime,
            QString::number(run.periods.size()),
            QString::number(run.periodsInBand()),
            numbers::general(run.totalBonus()),
            numbers::general(run.meanDistanceFromGoal()),
            run.isComplete() ? QStringLiteral("TRUE") : QStringLiteral("FALSE"),
            run.endingText(),
            QString::number(run.firstLine()),
            QString::number(run.lastLine())};
}

} // namespace

QString csvField(const QString &text) {
    const bool needsQuotes = text.contains(QLatin1Char(',')) || text.contains(QLatin1Char('"')) ||
                             text.contains(QLatin1Char('\r')) || text.contains(QLatin1Char('\n'));
    if (!needsQuotes)
        return text;
    QString doubled = text;
    doubled.replace(QLatin1Char('"'), QStringLiteral("\"\""));
    return QLatin1Char('"') + doubled + QLatin1Char('"');
}

QByteArray summaryCsv(const QList<Run> &runs) {
    QString text = csvRow(
        {QStringLiteral("Run"), QStringLiteral("Subject"), QStringLiteral("Version"),
         QStringLiteral("Date"), QStringLiteral("StartTime"), QStringLiteral("Periods"),
         QStringLiteral("PeriodsInBand"), QStringLiteral("TotalBonus"),
         QStringLiteral("MeanAbsDistance"), QStringLiteral("Complete"), QStringLiteral("Ending"),
         QStringLiteral("FirstDataLine"), QStringLiteral("LastDataLine")});
    for (int index = 0; index < runs.size(); ++index)
        text += csvRow(runFields(index + 1, runs.at(index)));
    return text.toUtf8();
}
