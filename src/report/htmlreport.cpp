#include "report/htmlreport.h"

#include "core/common/numbers.h"
#include "core/recording/questionnaire.h"
#include "report/conditions.h"
#include "report/course.h"
#include "report/dropouts.h"
#include "report/plots.h"

#include <QMap>
#include <QStringList>

#include <algorithm>

namespace {

// Plain and print-friendly; the plots shrink with the page.
const QLatin1String styleSheet(R"(
body { font-family: sans-serif; color: #222; margin: 1.5em auto; max-width: 66em; padding: 0 1em; }
h1 { font-size: 1.6em; } h2 { font-size: 1.35em; } h3 { font-size: 1.15em; }
h4 { font-size: 1em; margin-bottom: 0.3em; }
table { border-collapse: collapse; margin: 0.4em 0 1em; }
th, td { border: 1px solid #999; padding: 0.2em 0.6em; text-align: left; vertical-align: top; }
th { background: #eee; }
td.number { text-align: right; font-variant-numeric: tabular-nums; }
td.answer { white-space: pre-wrap; }
td.question { max-width: 28em; font-size: 0.9em; }
.problems li, .incomplete { color: #8a1c00; }
.note { font-style: italic; }
tr.practice td { color: #666; }
section.condition { border-top: 3px solid #666; margin-top: 2.5em; }
section.run { border-top: 1px solid #999; margin-top: 2em; break-inside: avoid-page; }
figure { margin: 0.5em 0; }
figure svg { width: 100%; height: auto; }
figcaption { font-weight: bold; }
@media print { body { margin: 0; max-width: none; } a { color: inherit; text-decoration: none; } }
)");

QString escaped(const QString &text) {
    return text.toHtmlEscaped();
}

QString element(const char *tag, const QString &content, const char *cssClass = nullptr) {
    const QString name = QLatin1String(tag);
    const QString classAttribute =
        cssClass == nullptr ? QString()
                            : QStringLiteral(" class=\"%1\"").arg(QLatin1String(cssClass));
    return QStringLiteral("<%1%2>%3</%1>").arg(name, classAttribute, content);
}

QString textCell(const QString &text) {
    return element("td", escaped(text));
}

QString numberCell(const QString &text) {
    return element("td", escaped(text), "number");
}

QString headerRow(const QStringList &names) {
    QString cells;
    for (const QString &name : names)
        cells += element("th", name);
    return element("tr", cells);
}

QString distance(double value) {
    return QString::number(value, 'f', 3);
}

QString percent(double share) {
    return QString::number(share * 100, 'f', 1) + QLatin1Char('%');
}

QString player(const Run &run) {
    if (run.isPerson())
        return run.isPractice() ? QStringLiteral("person, practice") : QStringLiteral("person");
    return run.version().isEmpty() ? QStringLiteral("model")
                                   : QStringLiteral("model, ") + run.version();
}

QString completeness(const Run &run) {
    return run.isComplete() ? QStringLiteral("yes")
                            : QStringLiteral("no (%1)").arg(run.endingText());
}

QString runCount(qsizetype count) {
    return count == 1 ? QStringLiteral("1 run") : QStringLiteral("%1 runs").arg(count);
}

QString runAnchor(qsizetype number) {
    return QStringLiteral("run-%1").arg(number);
}

QString conditionName(const ConditionGroup &group) {
    return group.name.isEmpty() ? QStringLiteral("Runs without a study condition")
                                : QStringLiteral("Condition ") + escaped(group.name);
}

// The unit the scenario names, as the task window shows it.
QString unitOf(const KeptScenario *scenario) {
    static const QString standard = TaskState().unitName;
    return scenario != nullptr && scenario->state ? scenario->state->unitName : standard;
}

// Money with the currency the scenario names, in English as the report writes it.
numbers::MoneyStyle moneyStyleOf(const KeptScenario *scenario) {
    if (scenario == nullptr || !scenario->state)
        return {};
    return {scenario->state->currency, scenario->state->currencyAfter, QString()};
}

class Page {
public:
    Page(const Report &report, int mostPlottedRuns)
        : m_report(report)
        , m_mostPlotted(mostPlottedRuns)
        , m_manyFolders(report.folders.size() > 1) {}

    QString body(const QDateTime &madeAt) const {
        QString body = element("h1", QStringLiteral("Fluxmere report"));
        body += foldersPart(madeAt);
        body += problemsSection() + QLatin1Char('\n');
        body += runsInProgressNote();
        if (m_report.runs.isEmpty())
            return body + element("h2", QStringLiteral("Runs")) +
                   element("p", QStringLiteral("No runs found."));
        if (m_report.runs.size() > m_mostPlotted)
            body += element("p",
                            QStringLiteral("%1 runs: the plots of single runs show the first %2; "
                                           "every run is in the tables and in the plots of its "
                                           "condition.")
                                .arg(m_report.runs.size())
                                .arg(m_mostPlotted),
                            "note");
        const QList<ConditionGroup> groups = groupByCondition(m_report.runs);
        body += conditionsOverview(groups);
        body += dropoutsSection(groups);
        for (qsizetype index = 0; index < groups.size(); ++index)
            body += conditionSection(index, groups.at(index));
        return body;
    }

private:
    numbers::MoneyStyle moneyOf(const Run &run) const {
        return moneyStyleOf(m_report.scenarioOf(run));
    }

    // A condition's means in the currency of its first run.
    numbers::MoneyStyle groupMoney(const ConditionGroup &group) const {
        return group.runs.isEmpty() ? numbers::MoneyStyle{}
                                    : moneyOf(m_report.runs.at(group.runs.at(0)));
    }

    QString foldersPart(const QDateTime &madeAt) const {
        QStringList folders;
        for (const DataFolder &folder : m_report.folders)
            folders.append(folder.label == folder.path
                               ? QStringLiteral("<code>%1</code>").arg(escaped(folder.label))
                               : QStringLiteral("<code>%1</code> (%2)")
                                     .arg(escaped(folder.label), escaped(folder.path)));
        return element("p", QStringLiteral("Data folder%1: %2. Made %3.")
                                .arg(m_manyFolders ? QStringLiteral("s") : QString(),
                                     folders.join(QStringLiteral(", ")),
                                     madeAt.toString(QStringLiteral("yyyy-MM-dd HH:mm"))));
    }

    QString problemsSection() const {
        if (m_report.problems.isEmpty())
            return element("p", QStringLiteral("No problems found in the data folder."));
        QString items;
        for (const Problem &problem : m_report.problems)
            items += element("li", escaped(problem.text()));
        return element("h2", QStringLiteral("Problems (%1)").arg(m_report.problems.size())) +
               element("ul", items, "problems");
    }

    QString runsInProgressNote() const {
        QString notes;
        for (const DataFolder &folder : m_report.folders) {
            if (folder.linesInProgress > 0)
                notes += element("p",
                                 QStringLiteral("The program records in <code>%1</code> now: the "
                                                "%2 lines of Data.txt after line %3 belong to "
                                                "runs in progress and are left out.")
                                     .arg(escaped(folder.label))
                                     .arg(folder.linesInProgress)
                                     .arg(folder.lastRecordedLine),
                                 "note");
        }
        return notes;
    }

    // How many of the runs that the means take ended as `ending`.
    int runsEnded(const ConditionGroup &group, RunEnding ending) const {
        int count = 0;
        for (const qsizetype index : group.runs) {
            const Run &run = m_report.runs.at(index);
            count += !run.isPractice() && run.record && run.record->ending == ending ? 1 : 0;
        }
        return count;
    }

    QString conditionsOverview(const QList<ConditionGroup> &groups) const {
        QString rows = headerRow({QStringLiteral("Condition"), QStringLiteral("Runs"),
                                  QStringLiteral("Practice runs"), QStringLiteral("Completed*"),
                                  QStringLiteral("Exited*"), QStringLiteral("Mean share in band*"),
                                  QStringLiteral("Mean payment*")});
        for (qsizetype index = 0; index < groups.size(); ++index) {
            const ConditionGroup &group = groups.at(index);
            double shares = 0;
            for (const double share : group.shareInBand)
                shares += share;
            double payments = 0;
            for (const qsizetype run : group.runs) {
                if (!m_report.runs.at(run).isPractice())
                    payments += m_report.runs.at(run).payment();
            }
            const auto counted = static_cast<double>(group.shareInBand.size());
            rows += element(
                "tr",
                element("td", QStringLiteral("<a href=\"#condition-%1\">%2</a>")
                                  .arg(QString::number(index + 1), conditionName(group))) +
                    numberCell(QString::number(group.runs.size())) +
                    numberCell(QString::number(group.practiceRuns)) +
                    numberCell(QString::number(runsEnded(group, RunEnding::Completed))) +
                    numberCell(QString::number(runsEnded(group, RunEnding::Exited))) +
                    numberCell(counted > 0 ? percent(shares / counted) : QString()) +
                    numberCell(counted > 0 ? numbers::money(payments / counted, groupMoney(group))
                                           : QString()));
        }
        return element("h2", QStringLiteral("Conditions (%1)").arg(groups.size())) +
               element("table", rows) +
               element("p",
                       QStringLiteral("* Over the runs that are not practice runs, whatever "
                                      "their ending: completed, exited and every other run "
                                      "alike (the runs marked \"yes\" under \"In means\")."),
                       "note") +
               QLatin1Char('\n');
    }

    // The dropouts in the order of the conditions on the page, then of the others by name.
    static QList<Dropout> inConditionOrder(QList<Dropout> dropouts,
                                           const QList<ConditionGroup> &groups) {
        const auto place = [&groups](const Dropout &dropout) {
            for (qsizetype index = 0; index < groups.size(); ++index) {
                if (groups.at(index).name == dropout.condition)
                    return index;
            }
            return groups.size();
        };
        std::stable_sort(
            dropouts.begin(), dropouts.end(), [&place](const Dropout &one, const Dropout &other) {
                const qsizetype first = place(one);
                const qsizetype second = place(other);
                return first != second ? first < second : one.condition < other.condition;
            });
        return dropouts;
    }

    QString dropoutRow(const Dropout &dropout) const {
        QStringList runLinks;
        for (const qsizetype run : dropout.runs)
            runLinks.append(QStringLiteral("<a href=\"#%1\">%2</a>")
                                .arg(runAnchor(run + 1), QString::number(run + 1)));
        QString cells;
        if (m_manyFolders)
            cells += textCell(m_report.folders.at(dropout.folder).label);
        cells += textCell(dropout.condition) + textCell(dropout.record.subject) +
                 textCell(dropout.record.date + QLatin1Char(' ') + dropout.record.time) +
                 textCell(dropout.stopped) + element("td", runLinks.join(QStringLiteral(", ")));
        return element("tr", cells);
    }

    QString dropoutsSection(const QList<ConditionGroup> &groups) const {
        const bool anyRecord =
            std::any_of(m_report.folders.cbegin(), m_report.folders.cend(),
                        [](const DataFolder &folder) { return !folder.people.subjects.isEmpty(); });
        if (!anyRecord)
            return {};
        const QList<Dropout> dropouts = inConditionOrder(findDropouts(m_report), groups);
        QString content = element("h2", QStringLiteral("Dropouts (%1)").arg(dropouts.size()));
        if (dropouts.isEmpty())
            return content +
                   element("p", QStringLiteral("Every subject record has a completed run.")) +
                   QLatin1Char('\n');
        QMap<QString, int> perCondition;
        for (const Dropout &dropout : dropouts)
            ++perCondition[dropout.condition];
        QStringList counts;
        for (auto count = perCondition.cbegin(); count != perCondition.cend(); ++count)
            counts.append(QStringLiteral("%1: %2").arg(
                count.key().isEmpty() ? QStringLiteral("no study condition") : escaped(count.key()),
                QString::number(count.value())));
        content += element("p", QStringLiteral("Persons with a subject record and no completed "
                                               "run (practice runs do not count), and where the "
                                               "records say they stopped. Per condition: %1.")
                                    .arg(counts.join(QStringLiteral("; "))));
        QStringList names;
        if (m_manyFolders)
            names << QStringLiteral("Folder");
        names << QStringLiteral("Condition") << QStringLiteral("Subject")
              << QStringLiteral("Subject record") << QStringLiteral("Stopped")
              << QStringLiteral("Runs");
        QString rows = headerRow(names);
        for (const Dropout &dropout : dropouts)
            rows += dropoutRow(dropout);
        return content + element("table", rows, "dropouts") + QLatin1Char('\n');
    }

    QString conditionSection(qsizetype index, const ConditionGroup &group) const {
        QString content = element(
            "h2", QStringLiteral("%1 (%2)").arg(conditionName(group), runCount(group.runs.size())));
        if (group.practiceRuns > 0)
            content += element(
                "p", QStringLiteral("The plots of the condition leave its %1 practice runs out.")
                         .arg(group.practiceRuns));
        content += element("p",
                           QStringLiteral("Its means and plots take %1: every run but practice "
                                          "runs, exited and other incomplete runs included.")
                               .arg(runCount(static_cast<qsizetype>(group.shareInBand.size()))),
                           "note");
        if (!group.shareInBand.empty()) {
            const QString unit = unitOf(m_report.scenarioOf(m_report.runs.at(group.runs.at(0))));
            content += figure(QStringLiteral("Mean distance from the goal per period, with one "
                                             "standard deviation either side (%1)")
                                  .arg(runCount(static_cast<qsizetype>(group.shareInBand.size()))),
                              distancePlot(group, unit));
            content += figure(QStringLiteral("Share of each run's periods in the goal band"),
                              shareInBandPlot(group));
        }
        content += runsTable(group);
        for (const qsizetype run : group.runs)
            content += runSection(run + 1, m_report.runs.at(run));
        return QStringLiteral("<section class=\"condition\" id=\"condition-%1\">%2</section>\n")
            .arg(QString::number(index + 1), content);
    }

    QString runsTable(const ConditionGroup &group) const {
        QStringList names{QStringLiteral("Run")};
        if (m_manyFolders)
            names << QStringLiteral("Folder");
        names << QStringLiteral("Run ID") << QStringLiteral("Subject") << QStringLiteral("Version")
              << QStringLiteral("Date") << QStringLiteral("Periods") << QStringLiteral("In band")
              << QStringLiteral("Share in band") << QStringLiteral("Payment")
              << QStringLiteral("Bonus") << QStringLiteral("Mean |amount &#8722; goal|")
              << QStringLiteral("Complete") << QStringLiteral("In means");
        QString rows = headerRow(names);
        for (const qsizetype run : group.runs)
            rows += summaryRow(run + 1, m_report.runs.at(run));
        return element("table", rows, "summary") + QLatin1Char('\n');
    }

    QString summaryRow(qsizetype number, const Run &run) const {
        QString cells = element("td", QStringLiteral("<a href=\"#%1\">%2</a>")
                                          .arg(runAnchor(number), QString::number(number)));
        if (m_manyFolders)
            cells += textCell(m_report.folderOf(run).label);
        cells +=
            textCell(run.runId()) + textCell(run.subject()) + textCell(run.version()) +
            textCell(isoDate(run.periods.constFirst().date)) +
            numberCell(QString::number(run.periods.size())) +
            numberCell(QString::number(run.periodsInBand())) +
            numberCell(percent(run.shareInBand())) +
            numberCell(run.isPractice() ? QStringLiteral("not paid")
                                        : numbers::money(run.payment(), moneyOf(run))) +
            numberCell(run.isPractice() ? QString() : numbers::money(run.bonus(), moneyOf(run))) +
            numberCell(distance(run.meanDistanceFromGoal()));
        cells += run.isComplete() ? textCell(completeness(run))
                                  : element("td", escaped(completeness(run)), "incomplete");
        cells +=
            textCell(run.isPractice() ? QStringLiteral("no (practice)") : QStringLiteral("yes"));
        return element("tr", cells, run.isPractice() ? "practice" : nullptr);
    }

    QString runFacts(const Run &run) const {
        const Period &first = run.periods.constFirst();
        QStringList identity;
        if (m_manyFolders)
            identity << QStringLiteral("Folder <code>%1</code>.")
                            .arg(escaped(m_report.folderOf(run).label));
        if (!run.runId().isEmpty())
            identity << QStringLiteral("Run ID <code>%1</code>.").arg(escaped(run.runId()));
        if (run.isPractice())
            identity << QStringLiteral("A practice run: not paid, and left out of the "
                                       "condition's means.");
        // One arg() for all: a later one would replace markers such as %1 in a subject's text.
        QString facts = QStringLiteral("%1 %2, %3 to %4. Data.txt lines %5&#8211;%6. Ending: %7.")
                            .arg(identity.join(QLatin1Char(' ')), escaped(isoDate(first.date)),
                                 escaped(isoTime(first.startTime)),
                                 escaped(isoTime(run.periods.constLast().endTime)),
                                 QString::number(run.firstLine()), QString::number(run.lastLine()),
                                 escaped(run.endingText()))
                            .trimmed();
        if (run.missingPeriods() > 0)
            facts += QStringLiteral(" %1 of the %2 periods Runs.txt counts could not be read.")
                         .arg(run.missingPeriods())
                         .arg(run.record->periodsPlayed);
        if (run.isPractice())
            facts +=
                QStringLiteral(" %1 of %2 periods in the band.")
                    .arg(QString::number(run.periodsInBand()), QString::number(run.periods.size()));
        else
            facts +=
                QStringLiteral(" Payment %1: the base payment %2 and a bonus of %3 for %4 "
                               "of %5 periods in the band.")
                    .arg(numbers::money(run.payment(), moneyOf(run)),
                         numbers::money(run.basePayment(), moneyOf(run)),
                         numbers::money(run.bonus(), moneyOf(run)),
                         QString::number(run.periodsInBand()), QString::number(run.periods.size()));
        return element("p", facts);
    }

    QString scenarioPart(const Run &run) const {
        if (!run.record)
            return element("p", QStringLiteral("Scenario: unknown (the run has no record in "
                                               "Runs.txt)."));
        if (run.setupId().isEmpty())
            return element("p", QStringLiteral("Scenario: no kept setup (the run was recorded "
                                               "before setups were kept)."));
        const KeptScenario *scenario = m_report.scenarioOf(run);
        const QString setup = QStringLiteral("<code>%1</code>").arg(escaped(run.setupId()));
        if (scenario == nullptr || !scenario->state)
            return element("p", QStringLiteral("Scenario: setup %1 could not be read; see the "
                                               "problems.")
                                    .arg(setup));
        return element("p",
                       QStringLiteral("Scenario (setup %1): %2.")
                           .arg(setup, escaped(scenario->summary().join(QStringLiteral("; ")))));
    }

    QString subjectTable(const QList<SubjectRecord> &records) const {
        QString rows =
            headerRow({QStringLiteral("Version"), QStringLiteral("Condition"),
                       QStringLiteral("Major"), QStringLiteral("Gender"), QStringLiteral("Age"),
                       QStringLiteral("Date"), QStringLiteral("Time")});
        for (const SubjectRecord &record : records)
            rows += element("tr", textCell(record.version) + textCell(record.condition) +
                                      textCell(record.major) + textCell(record.gender) +
                                      numberCell(record.age) + textCell(record.date) +
                                      textCell(record.time));
        return element("table", rows);
    }

    QString answerTable(const Run &run, const QList<QuestionnaireAnswer> &answers) const {
        const Period &first = run.periods.constFirst();
        QString rows = headerRow({QStringLiteral("No."), QStringLiteral("Question"),
                                  QStringLiteral("Rating"), QStringLiteral("Answer")});
        for (const QuestionnaireAnswer &answer : answers) {
            const int number = answer.questionNumber.toInt();
            QString rating;
            QString text = answer.answer;
            if (number == 1) {
                const questionnaire::RatedAnswer rated =
                    questionnaire::splitRatingAnswer(answer.answer);
                rating = rated.rating ? numbers::general(*rated.rating) : QString();
                text = rated.reasons;
            }
            rows += element(
                "tr", numberCell(answer.questionNumber) +
                          element("td",
                                  escaped(questionnaire::questionText(
                                      number, first.goal, first.toleranceBelow,
                                      first.toleranceAbove, unitOf(m_report.scenarioOf(run)))),
                                  "question") +
                          numberCell(rating) + element("td", escaped(text), "answer"));
        }
        return element("table", rows);
    }

    static QString studyAnswerTable(const QList<StudyAnswerRecord> &answers) {
        QString rows = headerRow({QStringLiteral("Id"), QStringLiteral("Question"),
                                  QStringLiteral("Rating"), QStringLiteral("Answer")});
        for (const StudyAnswerRecord &answer : answers)
            rows += element("tr", textCell(answer.questionId) +
                                      element("td", escaped(answer.questionText), "question") +
                                      numberCell(answer.answerNumber) +
                                      element("td", escaped(answer.answer), "answer"));
        return element("table", rows);
    }

    QString personPart(const Run &run) const {
        const People &people = m_report.folderOf(run).people;
        if (!people.isRead)
            return element("p", QStringLiteral("Krugel.db could not be read; see the problems."));
        const RunPeople found = people.ofRun(run.runId(), run.subject());
        QString part;
        if (found.match == RunPeople::Match::Name)
            part += element("p",
                            people.hasRunLinks
                                ? QStringLiteral("The database ties no record to this run: "
                                                 "shown are the records of this name that no "
                                                 "run claims.")
                                : QStringLiteral("The database ties no record to a run: shown "
                                                 "are all records of this name."),
                            "note");
        part += element("h4", QStringLiteral("Subject record"));
        part += found.records.isEmpty() ? element("p", QStringLiteral("None in datSubject."))
                                        : subjectTable(found.records);
        if (!found.studyAnswers.isEmpty()) {
            part += element("h4", QStringLiteral("The study's questionnaire"));
            part += studyAnswerTable(found.studyAnswers);
            if (found.answers.isEmpty())
                return part;
        }
        part += element("h4", QStringLiteral("Questionnaire"));
        part += found.answers.isEmpty()
                    ? element("p", QStringLiteral("No answers in datQuestionnaire."))
                    : answerTable(run, found.answers);
        return part;
    }

    static QString figure(const QString &caption, const QString &svg) {
        return element("figure", element("figcaption", caption) + svg);
    }

    QString plotsPart(qsizetype number, const Run &run) const {
        if (number > m_mostPlotted)
            return element(
                "p",
                QStringLiteral("Not plotted: the page plots the first %1 runs.").arg(m_mostPlotted),
                "note");
        const KeptScenario *scenario = m_report.scenarioOf(run);
        const RunCourse course = courseOf(run, scenario);
        const QString unit = unitOf(scenario);
        return figure(QStringLiteral("Amount (%1) from period 0 against the goal band").arg(unit),
                      amountPlot(run, course, unit)) +
               figure(QStringLiteral("Flows (%1 per period); the player's in the periods they "
                                     "acted in")
                          .arg(unit),
                      flowsPlot(run, course, unit)) +
               element("p", escaped(course.method), "note");
    }

    QString runSection(qsizetype number, const Run &run) const {
        QString content = element(
            "h3", QStringLiteral("Run %1: %2 (%3)")
                      .arg(QString::number(number), escaped(run.subject()), escaped(player(run))));
        content += runFacts(run);
        content += scenarioPart(run);
        if (run.isPerson())
            content += personPart(run);
        content += plotsPart(number, run);
        return QStringLiteral("<section class=\"run\" id=\"%1\">%2</section>\n")
            .arg(runAnchor(number), content);
    }

    const Report &m_report;
    int m_mostPlotted;
    bool m_manyFolders;
};

} // namespace

QString reportHtml(const Report &report, const QDateTime &madeAt, int mostPlottedRuns) {
    return QStringLiteral("<!DOCTYPE html>\n<html lang=\"en\">\n<head>\n<meta charset=\"utf-8\"/>\n"
                          "<title>Fluxmere report</title>\n<style>%1</style>\n</head>\n"
                          "<body>\n%2</body>\n</html>\n")
        .arg(styleSheet, Page(report, mostPlottedRuns).body(madeAt));
}
