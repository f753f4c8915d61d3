#include "report/exports.h"

#include "core/common/numbers.h"
#include "core/recording/datacolumns.h"
#include "core/recording/questionnaire.h"
#include "core/setup/questionnairefile.h"
#include "report/summarycsv.h"

#include <QSet>
#include <QStringList>

#include <string>

namespace {

const char rowEnd[] = "\r\n";

// The columns of Data.txt that hold numbers, in the file's order.
QList<DataColumn> figureColumns() {
    QList<DataColumn> columns;
    for (int column = 0; column < DataColumnCount; ++column) {
        if (isFigureColumn(column))
            columns.append(static_cast<DataColumn>(column));
    }
    return columns;
}

// The study's question ids in the order they first appear in the report's runs.
QStringList studyQuestionIds(const Report &report) {
    QStringList ids;
    for (const Run &run : report.runs) {
        for (const StudyAnswerRecord &answer :
             report.folderOf(run).people.studyAnswersOf(run.runId())) {
            if (!ids.contains(answer.questionId))
                ids.append(answer.questionId);
        }
    }
    return ids;
}

// The ids of those answered by options (a choice, a multiple) in any run: each gets a column
// ID.Options beside, the options' numbers, the same in every language the options are in.
QStringList optionQuestionIds(const Report &report, const QStringList &ids) {
    QSet<QString> withOptions;
    for (const Run &run : report.runs) {
        for (const StudyAnswerRecord &answer :
             report.folderOf(run).people.studyAnswersOf(run.runId())) {
            if (!answer.answerOptions.isEmpty())
                withOptions.insert(answer.questionId);
        }
    }
    QStringList found;
    for (const QString &id : ids) {
        if (withOptions.contains(id))
            found.append(id);
    }
    return found;
}

QString optionsColumn(const QString &id) {
    return id + QStringLiteral(".Options"); // no question id holds a "."
}

// A rating, slider or number as its number, any other answer as its text, then the options'
// numbers; empty for a question not asked. A check's later attempts take the place of the
// earlier ones.
QStringList studyAnswerFields(const QStringList &ids, const QStringList &optionIds,
                              const QList<StudyAnswerRecord> &answers) {
    QStringList fields(ids.size() + optionIds.size());
    for (const StudyAnswerRecord &answer : answers) {
        const qsizetype column = ids.indexOf(answer.questionId);
        const bool byNumber = !answer.answerNumber.isEmpty() && answer.answerOptions.isEmpty();
        fields[column] = byNumber ? answer.answerNumber : answer.answer;
        const qsizetype options = optionIds.indexOf(answer.questionId);
        if (options >= 0)
            fields[ids.size() + options] = answer.answerOptions;
    }
    return fields;
}

// How the row's answers were found. datAnswer ties each answer to its RunId, so a run with
// only a study's own answers has them by its run.
QString matchedText(const RunPeople &found) {
    if (!found.answers.isEmpty() && !found.answersAreTheRunsOwn())
        return QStringLiteral("ambiguous");
    if (!found.answers.isEmpty())
        return found.match == RunPeople::Match::Run ? QStringLiteral("run")
                                                    : QStringLiteral("name");
    return found.studyAnswers.isEmpty() ? QStringLiteral("none") : QStringLiteral("run");
}

// A practice run pays nothing: its bonus and payment fields are empty.
bool isMoneyColumn(DataColumn column) {
    return column == CurrentBonus || column == TotalBonus;
}

} // namespace

QByteArray periodsCsv(const Report &report) {
    const QList<DataColumn> figures = figureColumns();
    QStringList header{QStringLiteral("RunId"), QStringLiteral("StudyCondition"),
                       QStringLiteral("Subject"), QStringLiteral("PeriodEnd")};
    for (const DataColumn column : figures)
        header.append(QLatin1String(dataColumnNames.at(column)));
    header << QStringLiteral("Version") << QStringLiteral("Run") << QStringLiteral("Folder")
           << QStringLiteral("Seed") << QStringLiteral("DecisionMs");
    std::string text = csvFields(header) + rowEnd;
    for (qsizetype index = 0; index < report.runs.size(); ++index) {
        const Run &run = report.runs.at(index);
        // A run's texts are the same on each of its rows.
        const std::string lead = csvFields({run.runId(), run.studyCondition(), run.subject()});
        const std::string tail = ',' + csvFields({run.version(), QString::number(index + 1),
                                                  report.folderOf(run).label, run.seed()});
        const DecisionTimes &times = report.folderOf(run).decisionTimes;
        for (const Period &period : run.periods) {
            text += lead;
            text += ',';
            text += period.endDateTime().toStdString();
            for (const DataColumn column : figures) {
                text += ',';
                if (!run.isPractice() || !isMoneyColumn(column))
                    numbers::appendGeneral(text, period.figure(column));
            }
            text += tail;
            text += ',';
            if (const std::optional<qint64> ms = times.of(run.runId(), period.trial))
                text += std::to_string(*ms);
            text += rowEnd;
        }
    }
    return QByteArray::fromStdString(text);
}

QByteArray answersCsv(const Report &report) {
    const QStringList studyIds = studyQuestionIds(report);
    const QStringList optionIds = optionQuestionIds(report, studyIds);
    QStringList header = FixedAnswerColumns() + studyIds;
    for (const QString &id : optionIds)
        header.append(optionsColumn(id));
    std::string text = csvFields(header) + rowEnd;
    for (qsizetype index = 0; index < report.runs.size(); ++index) {
        const Run &run = report.runs.at(index);
        if (!run.isPerson())
            continue;
        const RunPeople found = report.folderOf(run).people.ofRun(run.runId(), run.subject());
        const QString matched = matchedText(found);
        QStringList answers(questionnaire::QuestionCount);
        if (matched != QLatin1String("ambiguous")) {
            for (const QuestionnaireAnswer &answer : found.answers) {
                const int number = answer.questionNumber.toInt();
                if (number >= 1 && number <= questionnaire::QuestionCount)
                    answers[number - 1] = answer.answer;
            }
        }
        const questionnaire::RatedAnswer first = questionnaire::splitRatingAnswer(answers.at(0));
        text +=
            csvFields(QStringList{run.runId(), run.subject(),
                                  first.rating ? numbers::general(*first.rating) : QString(),
                                  first.reasons, answers.at(1), answers.at(2), run.studyCondition(),
                                  QString::number(index + 1), report.folderOf(run).label, matched} +
                      studyAnswerFields(studyIds, optionIds, found.studyAnswers)) +
            rowEnd;
    }
    return QByteArray::fromStdString(text);
}
