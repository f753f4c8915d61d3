#include "report/summarycsv.h"

#include "core/common/numbers.h"

#include <QStringList>

namespace {

const char rowEnd[] = "\r\n";

QStringList runFields(qsizetype number, const Run &run, const QStringList &folderLabels) {
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
            QString::number(run.lastLine()),
            numbers::general(run.payment()),
            numbers::general(run.bonus()),
            numbers::general(run.shareInBand()),
            run.runId(),
            run.studyCondition(),
            run.setupId(),
            run.isPractice() ? QStringLiteral("TRUE") : QStringLiteral("FALSE"),
            folderLabels.value(run.folder),
            run.seed()};
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

std::string csvFields(const QStringList &fields) {
    QStringList quoted;
    for (const QString &field : fields)
        quoted.append(csvField(field));
    return quoted.join(QLatin1Char(',')).toStdString();
}

QByteArray summaryCsv(const QList<Run> &runs, const QStringList &folderLabels) {
    std::string text = csvFields({QStringLiteral("Run"),
                                  QStringLiteral("Subject"),
                                  QStringLiteral("Version"),
                                  QStringLiteral("Date"),
                                  QStringLiteral("StartTime"),
                                  QStringLiteral("Periods"),
                                  QStringLiteral("PeriodsInBand"),
                                  QStringLiteral("TotalBonus"),
                                  QStringLiteral("MeanAbsDistance"),
                                  QStringLiteral("Complete"),
                                  QStringLiteral("Ending"),
                                  QStringLiteral("FirstDataLine"),
                                  QStringLiteral("LastDataLine"),
                                  QStringLiteral("Payment"),
                                  QStringLiteral("Bonus"),
                                  QStringLiteral("ShareInBand"),
                                  QStringLiteral("RunId"),
                                  QStringLiteral("StudyCondition"),
                                  QStringLiteral("SetupId"),
                                  QStringLiteral("Practice"),
                                  QStringLiteral("Folder"),
                                  QStringLiteral("Seed")}) +
                       rowEnd;
    for (qsizetype index = 0; index < runs.size(); ++index)
        text += csvFields(runFields(index + 1, runs.at(index), folderLabels)) + rowEnd;
    return QByteArray::fromStdString(text);
}

QByteArray summaryCsv(const Report &report) {
    QStringList labels;
    for (const DataFolder &folder : report.folders)
        labels.append(folder.label);
    return summaryCsv(report.runs, labels);
}
