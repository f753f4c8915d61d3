#include "report/htmlreport.h"

#include <QStringList>

namespace {

// Plain and print-friendly; the plots shrink with the page.
const QLatin1String styleSheet(R"(
body { font-family: sans-serif; color: #222; margin: 1.5em auto; max-width: 62em; padding: 0 1em; }
h1 { font-size: 1.6em; } h2 { font-size: 1.3em; } h3 { font-size: 1.05em; margin-bottom: 0.3em; }
table { border-collapse: collapse; margin: 0.4em 0 1em; }
th, td { border: 1px solid #999; padding: 0.2em 0.6em; text-align: left; vertical-align: top; }
th { background: #eee; }
td.number { text-align: right; font-variant-numeric: tabular-nums; }
td.answer { white-space: pre-wrap; }
.problems li { color: #8a1c00; }
.incomplete { color: #8a1c00; }
section.run { border-top: 2px solid #999; margin-top: 2em; break-inside: avoid-page; }
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

QString money(double value) {
    return QStringLiteral("$") + QString::number(value, 'f', 2);
}

QString distance(double value) {
    return QString::number(value, 'f', 3);
}

QString player(const Run &run) {
    return run.isPerson() ? QStringLiteral("person") : QStringLiteral("model, ") + run.version();
}

QString completeness(const Run &run) {
    return run.isComplete() ? QStringLiteral("yes")
                            : QStringLiteral("no (%1)").arg(run.endingText());
}

QString runAnchor(int number) {
    return QStringLiteral("run-%1").arg(number);
}

QString problemsSection(const Problems &problems) {
    if (problems.isEmpty())
        return element("p", QStringLiteral("No problems found in the data folder."));
    QString items;
    for (const Problem &problem : problems)
        items += element("li", escaped(problem.text()));
    return element("h2", QStringLiteral("Problems (%1)").arg(problems.size())) +
           element("ul", items, "problems");
}

QString summaryRow(int number, const Run &run) {
    const QString link =
        QStringLiteral("<a href=\"#%1\">%2</a>").arg(runAnchor(number)).arg(number);
    const QString complete = run.isComplete()
                                 ? textCell(completeness(run))
                                 : element("td", escaped(completeness(run)), "incomplete");
    return element("tr", element("td", link) + textCell(run.subject()) + textCell(run.version()) +
                             textCell(run.periods.constFirst().date) +
                             numberCell(QString::number(run.periods.size())) +
                             numberCell(QString::number(run.periodsInBand())) +
                             numberCell(money(run.totalBonus())) +
                             numberCell(distance(run.meanDistanceFromGoal())) + complete);
}

QString summarySection(const QList<Run> &runs) {
    if (runs.isEmpty())
        return element("h2", QStringLiteral("Runs")) +
               element("p", QStringLiteral("No runs found."));
    QString rows =
        headerRow({QStringLiteral("Run"), QStringLiteral("Subject"), QStringLiteral("Version"),
                   QStringLiteral("Date"), QStringLiteral("Periods"), QStringLiteral("In band"),
                   QStringLiteral("Total bonus"), QStringLiteral("Mean |amount &#8722; goal|"),
                   QStringLiteral("Complete")});
    for (int index = 0; index < runs.size(); ++index)
        rows += summaryRow(index + 1, runs.at(index));
    return element("h2", QStringLiteral("Runs (%1)").arg(runs.size())) +
           element("table", rows, "summary");
}

QString runFacts(const Run &run) {
    const Period &first = run.periods.constFirst();
    // One arg() for all: a later one would replace markers such as %1 in a subject's text.
    QString facts =
        QStringLiteral("%1, %2 to %3. Data.txt lines %4&#8211;%5. Ending: %6.")
            .arg(escaped(first.date), escaped(first.startTime),
                 escaped(run.periods.constLast().endTime), QString::number(run.firstLine()),
                 QString::number(run.lastLine()), escaped(run.endingText()));
    if (run.missingPeriods() > 0)
        facts += QStringLiteral(" %1 of the %2 periods Runs.txt counts could not be read.")
                     .arg(run.missingPeriods())
                     .arg(run.record->periodsPlayed);
    return element("p", facts);
}

QString subjectTable(const QList<SubjectRecord> &records) {
    QString rows =
        headerRow({QStringLiteral("Version"), QStringLiteral("Condition"), QStringLiteral("Major"),
                   QStringLiteral("Gender"), QStringLiteral("Age"), QStringLiteral("Date"),
                   QStringLiteral("Time")});
    for (const SubjectRecord &record : records)
        rows += element("tr", textCell(record.version) + textCell(record.condition) +
                                  textCell(record.major) + textCell(record.gender) +
                                  numberCell(record.age) + textCell(record.date) +
                                  textCell(record.time));
    return element("table", rows);
}

QString answerTable(const QList<QuestionnaireAnswer> &answers) {
    QString rows = headerRow({QStringLiteral("Question"), QStringLiteral("Answer")});
    for (const QuestionnaireAnswer &answer : answers)
        rows += element("tr", numberCell(answer.questionNumber) +
                                  element("td", escaped(answer.answer), "answer"));
    return element("table", rows);
}

QString personPart(const Run &run, const People &people) {
    if (!people.isRead)
        return element("p", QStringLiteral("Krugel.db could not be read; see the problems."));
    const QList<SubjectRecord> records = people.subjectRecordsOf(run.subject());
    const QList<QuestionnaireAnswer> answers = people.answersOf(run.subject());
    QString part = element("h3", QStringLiteral("Subject record"));
    part += records.isEmpty() ? element("p", QStringLiteral("None in datSubject."))
                              : subjectTable(records);
    part += element("h3", QStringLiteral("Questionnaire"));
    part += answers.isEmpty() ? element("p", QStringLiteral("No answers in datQuestionnaire."))
                              : answerTable(answers);
    return part;
}

// The SVG document without its XML declaration, which has no place inside a page.
QString inlineSvg(const QString &svg) {
    const qsizetype root = svg.indexOf(QStringLiteral("<svg"));
    return root < 0 ? QString() : svg.mid(root);
}

QString figure(const QString &caption, const QString &svg) {
    if (svg.isEmpty())
        return {};
    return element("figure", element("figcaption", caption) + inlineSvg(svg));
}

QString runSection(int number, const Run &run, const People &people, const RunPlots &plots) {
    QString content = element(
        "h2", QStringLiteral("Run %1: %2 (%3)")
                  .arg(QString::number(number), escaped(run.subject()), escaped(player(run))));
    content += runFacts(run);
    if (run.isPerson())
        content += personPart(run, people);
    content += figure(QStringLiteral("Amount against the goal band"), plots.amountSvg);
    content += figure(QStringLiteral("Flows"), plots.flowsSvg);
    return QStringLiteral("<section class=\"run\" id=\"%1\">%2</section>\n")
        .arg(runAnchor(number), content);
}

} // namespace

QString reportHtml(const Report &report, const QList<RunPlots> &plots, const QDateTime &madeAt) {
    QString body = element("h1", QStringLiteral("Fluxmere report"));
    body += element("p", QStringLiteral("Data folder: <code>%1</code>. Made %2.")
                             .arg(escaped(report.dataDirectory),
                                  madeAt.toString(QStringLiteral("yyyy-MM-dd HH:mm"))));
    body += problemsSection(report.problems) + QLatin1Char('\n');
    body += summarySection(report.runs) + QLatin1Char('\n');
    for (int index = 0; index < report.runs.size(); ++index)
        body += runSection(index + 1, report.runs.at(index), report.people,
                           index < plots.size() ? plots.at(index) : RunPlots());
    return QStringLiteral("<!DOCTYPE html>\n<html lang=\"en\">\n<head>\n<meta charset=\"utf-8\"/>\n"
                          "<title>Fluxmere report</title>\n<style>%1</style>\n</head>\n"
                          "<body>\n%2</body>\n</html>\n")
        .arg(styleSheet, body);
}
