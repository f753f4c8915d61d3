#include "core/engine/periodcycle.h"
#include "core/engine/taskload.h"
#include "core/setup/scenario.h"
#include "report/course.h"
#include "report/report.h"
#include "report/runs.h"
#include "reportfixtures.h"
#include "support/testdatabase.h"

#include <QTemporaryDir>
#include <QtTest>

using namespace Qt::StringLiterals;

namespace {

QList<Run> runsOf(const QStringList &dataLines, const QStringList &runsLines, Problems &problems) {
    return cutRuns(parsePeriods(dataLines, problems), parseRunRecords(runsLines, problems),
                   problems);
}

QList<qint64> problemLines(const Problems &problems, const QString &file) {
    QList<qint64> lines;
    for (const Problem &problem : problems) {
        if (problem.file == file)
            lines.append(problem.line);
    }
    return lines;
}

QStringList periodCounts(const QList<Run> &runs) {
    QStringList counts;
    for (const Run &run : runs)
        counts.append(u"%1:%2"_s.arg(run.subject()).arg(run.periods.size()));
    return counts;
}

// A run played through the period steps as the program plays it: its Data.txt lines and the
// player's flows each period's state message reported. Inflows act two periods after their
// order, the initial back order arrives in periods 1 and 2, and from period 6 the inflow
// delay is 0; outflows act one period after their order.
struct PlayedRun {
    QStringList lines{dataHeaderLine()};
    QList<double> reportedInflows;
    QList<double> reportedOutflows;
    std::shared_ptr<TaskState> scenario;
};

PlayedRun playRun(const QString &setupPath) {
    QFile setup(setupPath);
    setup.open(QIODevice::WriteOnly);
    setup.write("MaxTrial = 8\r\nInitialAmountInTank = 2\r\nGoalLinePoisition = 4\r\n"
                "InitialBackOrder = 4\r\nInitialForwardDischarge = 0\r\n"
                "MaxNumberOfAScenarioType = 10\r\ninFlowDelayValue = 3\r\n"
                "inFlowDelayLength = 6\r\noutFlowDelayValue = 2\r\noutFlowDelayLength = 8\r\n");
    setup.close();
    PlayedRun played;
    SetupFile file(setupPath);
    TaskState state;
    LoadScenario(state, file);
    played.scenario = std::make_shared<TaskState>(state);
    CreateOrderTables(state);
    PrepareTaskState(state);
    TaskView view;
    LoadTaskWindow(state, view);
    state.subjectName = u"Ann"_s;
    state.StartTime = state.EndTime = QTime(15, 4, 5);
    for (int t = 1; t <= 8; ++t) {
        state.EnvInflow[t] = t % 3;
        state.EnvOutflow[t] = 1;
        PlayPeriod(state, view, 0.5 * t, t % 2);
        played.reportedInflows.append(FlowsShown(state).userInflow);
        played.reportedOutflows.append(FlowsShown(state).userOutflow);
        played.lines.append(QString::fromLatin1(periodLine(state, QDate(2026, 12, 7))));
    }
    return played;
}

} // namespace

class TestReportData : public QObject {
    Q_OBJECT

private slots:
    void recordedRunsKeepTheirEndingAndAKilledRunHasNone() {
        DataLines data;
        const qint64 ann = data.addRun(u"Ann"_s, {}, {4.05, 3.5, 4.3});
        const qint64 alpha = data.addRun(u"alpha"_s, u"BATCH"_s, {4, 4});
        data.addRun(u"alpha"_s, u"BATCH"_s, {4.1, 2});
        const QStringList records = {runsHeaderLine(),
                                     runLine(u"Ann"_s, {}, 3, u"completed"_s, ann),
                                     runLine(u"alpha"_s, u"BATCH"_s, 2, u"reset"_s, alpha)};
        Problems problems;
        const QList<Run> runs = runsOf(data.lines, records, problems);

        QVERIFY2(problems.isEmpty(), qPrintable(problems.value(0).text()));
        QCOMPARE(periodCounts(runs), QStringList({u"Ann:3"_s, u"alpha:2"_s, u"alpha:2"_s}));
        QVERIFY(runs.at(0).isComplete() && runs.at(0).isPerson());
        QCOMPARE(runs.at(1).endingText(), u"reset"_s);
        QVERIFY(!runs.at(1).isComplete());
        QCOMPARE(runs.at(2).endingText(), u"no run record"_s);
        QVERIFY(!runs.at(2).isComplete());

        const Run &annRun = runs.at(0);
        QCOMPARE(annRun.periodsInBand(), 1);
        QCOMPARE(annRun.totalBonus(), 5.05);
        QCOMPARE(annRun.meanDistanceFromGoal(), (0.05 + 0.5 + 0.3) / 3);
    }

    void aRecordKeepsItsRunWhenItsFirstLineIsDamaged() {
        DataLines data;
        const qint64 first = data.addRun(u"alpha"_s, u"BATCH"_s, {4, 4, 4});
        data.lines[first - 1] = u"alpha\tBATCH"_s;
        Problems problems;
        const QList<Run> runs = runsOf(
            data.lines, {runsHeaderLine(), runLine(u"alpha"_s, u"BATCH"_s, 3, u"quit"_s, first)},
            problems);

        QCOMPARE(problemLines(problems, u"Data.txt"_s), QList<qint64>({first}));
        QCOMPARE(runs.size(), 1);
        QCOMPARE(runs.at(0).endingText(), u"quit"_s);
        QCOMPARE(runs.at(0).missingPeriods(), 1);
    }

    void withoutRecordsTrialsAndPlayersCutTheRuns() {
        DataLines data;
        data.addRun(u"alpha"_s, u"BATCH"_s, {1, 2});
        data.lines.append(u"damaged"_s);
        data.addRun(u"alpha"_s, u"BATCH"_s, {4}, 4); // goes on past the damaged period 3
        data.addRun(u"alpha"_s, u"BATCH"_s, {1, 2}); // starts again at 1
        data.addRun(u"beta"_s, u"BATCH"_s, {3}, 3);  // another player
        data.addRun(u"beta"_s, u"BATCH"_s, {3}, 5);  // skips period 4
        Problems problems;
        const QList<Run> runs = runsOf(data.lines, {}, problems);

        QCOMPARE(periodCounts(runs),
                 QStringList({u"alpha:3"_s, u"alpha:2"_s, u"beta:1"_s, u"beta:1"_s}));
        QCOMPARE(problemLines(problems, u"Data.txt"_s), QList<qint64>({4}));
        QCOMPARE(runs.at(0).lastLine(), 5);
    }

    void damagedLinesAreNamedWithTheirLine() {
        DataLines data;
        data.addRun(u"alpha"_s, u"BATCH"_s, {1, 2, 3, 4, 5, 6});
        data.lines[2] = u"alpha\tBATCH\t2"_s;
        data.lines[3].replace(u"\t4\t1\t1\t0.1"_s, u"\tfour\t1\t1\t0.1"_s);
        data.lines[4].replace(u"alpha\tBATCH\t4"_s, u"alpha\tBATCH\tx"_s);
        data.lines[5].clear();
        data.lines[6].replace(u"12/7/2026"_s, u"2026-12-07"_s);
        Problems problems;
        const QList<Period> periods = parsePeriods(data.lines, problems);

        QCOMPARE(problemLines(problems, u"Data.txt"_s), QList<qint64>({3, 4, 5, 6, 7}));
        QVERIFY(problems.at(0).text().startsWith(u"Data.txt line 3: 3 fields where 22 belong"_s));
        QVERIFY(problems.at(1).message.contains(u"GoalAmount \"four\""_s));
        QVERIFY(problems.at(2).message.contains(u"Trial \"x\""_s));
        QVERIFY(problems.at(3).message.contains(u"empty line"_s));
        QVERIFY(problems.at(4).message.contains(u"kept"_s));
        QCOMPARE(periods.size(), 2); // periods 1 and 6, the latter with its odd date
    }

    void aRecordThatDoesNotFitIsNamedAndIgnored() {
        DataLines data;
        const qint64 alpha = data.addRun(u"alpha"_s, u"BATCH"_s, {4, 4});
        const QStringList records = {runsHeaderLine(),
                                     runLine(u"alpha"_s, u"BATCH"_s, 5, u"completed"_s, alpha),
                                     runLine(u"beta"_s, u"BATCH"_s, 2, u"completed"_s, alpha),
                                     runLine(u"alpha"_s, u"BATCH"_s, 2, u"finished"_s, alpha),
                                     runLine(u"alpha"_s, u"BATCH"_s, 2, u"completed"_s, alpha),
                                     runLine(u"alpha"_s, u"BATCH"_s, 2, u"completed"_s, alpha)};
        Problems problems;
        const QList<Run> runs = runsOf(data.lines, records, problems);

        QCOMPARE(problemLines(problems, u"Runs.txt"_s), QList<qint64>({4, 2, 3, 6}));
        QVERIFY(problems.at(1).message.contains(u"Data.txt ends at line 3"_s));
        QVERIFY(problems.at(2).message.contains(u"not period 1 of \"beta\" BATCH"_s));
        QVERIFY(problems.at(3).message.contains(u"belongs to the run of Runs.txt line 5"_s));
        QCOMPARE(runs.size(), 1);
        QCOMPARE(runs.at(0).record->line, 5);

        Problems headerProblems;
        QVERIFY(parseRunRecords({u"Subject\tVersion"_s, records.at(1)}, headerProblems).isEmpty());
        QCOMPARE(problemLines(headerProblems, u"Runs.txt"_s), QList<qint64>({1}));
    }

    void theFlowsAreDrawnWhereTheStateMessageReportedThem_data() {
        QTest::addColumn<QString>("keptSetup");
        QTest::addColumn<QString>("method");
        QTest::newRow("replayed through the kept setup") << u"as played"_s << u"replayed"_s;
        QTest::newRow("no kept setup: the recorded delays") << QString() << u"delays"_s;
        QTest::newRow("a kept setup that does not fit")
            << u"initial amount 3"_s << u"Not replayed"_s;
    }
    void theFlowsAreDrawnWhereTheStateMessageReportedThem() {
        QFETCH(QString, keptSetup);
        QFETCH(QString, method);
        QTemporaryDir folder;
        const PlayedRun played = playRun(folder.filePath(u"Setup.txt"_s));
        Problems problems;
        const QList<Run> runs = cutRuns(parsePeriods(played.lines, problems), {}, problems);
        QCOMPARE(runs.size(), 1);
        KeptScenario kept{u"0123456789ab"_s, played.scenario, {}};
        if (keptSetup == u"initial amount 3"_s) {
            auto changed = std::make_shared<TaskState>(*played.scenario);
            changed->InitialAmountInTank = 3;
            kept.state = changed;
        }

        const RunCourse course = courseOf(runs.at(0), keptSetup.isEmpty() ? nullptr : &kept);

        QCOMPARE(QList<double>(course.actedInflow.begin(), course.actedInflow.end()),
                 played.reportedInflows);
        QCOMPARE(QList<double>(course.actedOutflow.begin(), course.actedOutflow.end()),
                 played.reportedOutflows);
        QCOMPARE(course.initialAmount, 2.0);
        QVERIFY2(course.method.contains(method), qPrintable(course.method));
    }

    void aFolderWithoutFilesStillGivesAReport() {
        QTemporaryDir folder;
        const Report report = readReport(folder.path());

        QVERIFY(report.runs.isEmpty());
        QStringList texts;
        for (const Problem &problem : report.problems)
            texts.append(problem.text());
        QCOMPARE(texts.size(), 3);
        QVERIFY(texts.at(0).startsWith(u"Data.txt: not found"_s));
        QVERIFY(texts.at(1).startsWith(u"Runs.txt: not found"_s));
        QVERIFY(texts.at(2).startsWith(u"Krugel.db: not found"_s));
        QVERIFY(!QFile::exists(folder.filePath(u"Krugel.db"_s))); // read-only: never created
    }

    void theDatabaseIsReadOrItsFailureNamed() {
        QTemporaryDir folder;
        const QString path = folder.filePath(u"Krugel.db"_s);
        QVERIFY(writeLines(path, {u"not a database"_s}));
        Problems problems;
        QVERIFY(!readPeople(path, problems).isRead);
        QCOMPARE(problems.size(), 2);
        QVERIFY(problems.at(0).text().startsWith(u"Krugel.db: datSubject cannot be read"_s));

        QVERIFY(QFile::remove(path) && createTestDatabase(path));
        QVERIFY(executeSql(
            path, "INSERT INTO datSubject (Subject, Version, Condition, Major, Gender, Age, "
                  "Date, Time) VALUES ('Ann', '', 'A', 'Art', 'Female', 23,"
                  " '2026-12-07', '15:03:00');"
                  "INSERT INTO datQuestionnaire VALUES ('Ann', '', 2, 'Second'),"
                  " ('Bob', '', 1, 'Other'), ('Ann', '', 1, 'First');"));
        problems.clear();
        const People people = readPeople(path, problems);
        QVERIFY(problems.isEmpty() && people.isRead);
        QCOMPARE(people.subjectRecordsOf(u"Ann"_s).value(0).age, u"23"_s);
        const QList<QuestionnaireAnswer> answers = people.answersOf(u"Ann"_s);
        QCOMPARE(answers.size(), 2);
        QCOMPARE(answers.at(0).answer, u"First"_s);
    }
};

QTEST_GUILESS_MAIN(TestReportData)
#include "test_reportdata.moc"
