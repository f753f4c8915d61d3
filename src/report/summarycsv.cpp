#include "report/summarycsv.h"

#include "core/common/numbers.h"

#include <QRegularExpression>
#include <QStringList>

namespace {

const char rowEnd[] = "\r\n";

// A text a spreadsheet would read as a formula starts with one of these.
bool startsLikeAFormula(const QString &text) {
    static const QString leads = QStringLiteral("=+-@\t\r");
    return !text.isEmpty() && leads.contains(text.front());
}

// A plain number such as -0.5, +3 or 1E-05: a spreadsheet reads it as a number, never as a
// formula.
bool isPlainNumber(const QString &text) {
    static const QRegularExpression number(
        QStringLiteral("^[+-]?([0-9]+[.]?[0-9]*|[.][0-9]+)([eE][+-]?[0-9]+)?$"));
    return number.match(text).hasMatch();
}

// A practice run pays nothing: its money fields are empty.
QString paid(const Run &run, double amount) {
    return run.isPractice() ? QString() : numbers::general(amount);
}

// When the run ended: its record's EndTime, else its last period's.
QString endTime(const Run &run) {
    return isoTime(run.record ? run.record->endTime : run.periods.constLast().endTime);
}

QStringList runFields(qsizetype number, const Run &run, const DataFolder *folder) {
    const Period &first = run.periods.constFirst();
    const SubjectRecord *person =
        folder != nullptr ? folder->people.tiedSubjectOf(run.runId()) : nullptr;
    return {QString::number(number),
            run.subject(),
            run.version(),
            isoDate(first.date),
            isoTime(first.startTime),
            QString::number(run.periods.size()),
            QString::number(run.periodsInBand()),
            paid(run, run.totalBonus()),
            numbers::general(run.meanDistanceFromGoal()),
            run.isComplete() ? QStringLiteral("TRUE") : QStringLiteral("FALSE"),
            run.endingText(),
            QString::number(run.firstLine()),
            QString::number(run.lastLine()),
            paid(run, run.payment()),
            paid(run, run.bonus()),
            numbers::general(run.shareInBand()),
            run.runId(),
            run.studyCondition(),
            run.setupId(),
            run.isPractice() ? QStringLiteral("TRUE") : QStringLiteral("FALSE"),
            folder != nullptr ? folder->label : QString(),
            run.seed(),
            endTime(run),
            person != nullptr ? person->gender : QString(),
            person != nullptr ? person->genderNumber : QString(),
            person != nullptr ? person->age : QString(),
            person != nullptr ? person->major : QString(),
            folder != nullptr ? folder->people.studyFilesOfRun.value(run.runId()) : QString()};
}

QByteArray runsCsv(const QList<Run> &runs, const QList<DataFolder> &folders) {
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
                                  QStringLiteral("Seed"),
                                  QStringLiteral("EndTime"),
                                  QStringLiteral("Gender"),
                                  QStringLiteral("GenderNumber"),
                                  QStringLiteral("Age"),
                                  QStringLiteral("Major"),
                                  QStringLiteral("StudyFilesId")}) +
                       rowEnd;
    for (qsizetype index = 0; index < runs.size(); ++index) {
        const Run &run = runs.at(index);
        const DataFolder *folder = run.folder < folders.size() ? &folders.at(run.folder) : nullptr;
        text += csvFields(runFields(index + 1, run, folder)) + rowEnd;
    }
    return QByteArray::fromStdString(text);
}

} // namespace

QString csvField(const QString &text) {
    QString field = text;
    // As spreadsheet guides advise: a leading apostrophe makes such a text plain text.
    if (startsLikeAFormula(text) && !isPlainNumber(text))
        field.prepend(QLatin1Char('\''));
    const bool needsQuotes = field.contains(QLatin1Char(',')) || field.contains(QLatin1Char('"')) ||
                             field.contains(QLatin1Char('\r')) || field.contains(QLatin1Char('\n'));
    if (!needsQuotes)
        return field;
    field.replace(QLatin1Char('"'), QStringLiteral("\"\""));
    return QLatin1Char('"') + field + QLatin1Char('"');
}

std::string csvFields(const QStringList &fields) {
    QStringList quoted;
    for (const QString &field : fields)
        quoted.append(csvField(field));
    return quoted.join(QLatin1Char(',')).toStdString();
}

QByteArray summaryCsv(const QList<Run> &runs, const QStringList &folderLabels) {
    QList<DataFolder> folders;
    for (const QString &label : folderLabels) {
        DataFolder folder;
        folder.label = label;
        folders.append(folder);
    }
    return runsCsv(runs, folders);
}

QByteArray summaryCsv(const Report &report) {
    return runsCsv(report.runs, report.folders);
}
