#include "core/run/runsession.h"
#include "core/setup/scenario.h"
#include "support/testsupport.h"

#include <QSignalSpy>
#include <QTemporaryDir>
#include <QtTest>

#include <memory>

namespace {

// A pause-free run of the test scenario in its own data folder, as a model plays it.
struct FolderRun {
    QTemporaryDir folder;
    std::unique_ptr<RunRecorder> records;
    std::unique_ptr<RunSession> run;

    FolderRun(const QString &subject, uint64_t seed, RunPlayer player = RunPlayer::Model,
              std::function<qint64()> decisionClock = {}) {
        TaskState state;
        SetupFile setup(
            writeSetup(folder.path(), {{QStringLiteral("EnvInflowNoise"), QStringLiteral("0.5")}}));
        LoadScenario(state, setup);
        CreateOrderTables(state);
        state.subjectName = subject;
        state.versionTag = QStringLiteral("BATCH");
        state.runId = subject;
        state.runSeed = seed;
        PrepareTaskState(state);
        state.envDelayInterval = state.userDelayInterval = 0;
        state.batchPauseMs = 0;
        records = std::make_unique<RunRecorder>(dataDir());
        QStringList notes;
        QString error;
        QVERIFY2(records->prepareFiles(&notes, &error), qPrintable(error));
        run = std::make_unique<RunSession>(records.get(), state, player);
        run->setClock([] { return QTime(15, 4, 5); });
        if (decisionClock)
            run->setDecisionClock(std::move(decisionClock));
        run->setDrawn(false);
        run->load();
    }
    QString dataDir() const { return folder.path() + QStringLiteral("/data"); }
    // The lines of a record file, with the columns that hold the wall clock's time left out.
    QStringList lines(const char *name) const {
        QStringList lines;
        QFile file(dataDir() + QLatin1Char('/') + QLatin1String(name));
        if (file.open(QIODevice::ReadOnly)) {
            const QStringList rows =
                QString::fromLatin1(file.readAll()).split(u"\r\n"_qs, Qt::SkipEmptyParts);
            const QStringList header = rows.value(0).split(QLatin1Char('\t'));
            for (const QString &row : rows) {
                QStringList fields = row.split(QLatin1Char('\t'));
                for (int column = 0; column < fields.size(); ++column) {
                    if (header.value(column).contains(QLatin1String("Time")) ||
                        header.value(column) == QLatin1String("Date"))
                        fields[column].clear();
                }
                lines << fields.join(QLatin1Char('\t'));
            }
        }
        return lines;
    }
    QStringList files() const { return lines("Data.txt") + lines("Runs.txt"); }
};

Decision order(int period) {
    Decision decision;
    decision.inflow = period % 3;
    decision.envOutflow = period == 2 ? std::optional<double>(1.5) : std::nullopt;
    return decision;
}

} // namespace

// One run as an object: played synchronously when it has no pauses, its line written before
// it is reported, its record when the last line is in, and several at once in one process.
class TestRunSession : public QObject {
    Q_OBJECT

private slots:
    void aPauseFreePeriodIsRecordedWhenSubmitReturns();
    void interleavedRunsGiveTheFilesOfLoneRuns();
    void aFailedLineHoldsTheRunUntilItIsWritten();
    void aPersonsDecisionsAreTimedFromInputToSubmit();
    void aFailedDecisionTimeIsRetriedWithoutASecondLine();
};

void TestRunSession::aPauseFreePeriodIsRecordedWhenSubmitReturns() {
    FolderRun model(QStringLiteral("m1"), 7);
    QSignalSpy recorded(model.run.get(), &RunSession::periodRecorded);
    QSignalSpy ended(model.run.get(), &RunSession::ended);
    for (int period = 1; period <= 5; ++period) {
        QVERIFY(model.run->submit(order(period)));
        QCOMPARE(recorded.size(), period);
        QCOMPARE(model.lines("Data.txt").size(), period + 1); // the header and the lines
    }
    const auto last = recorded.last().first().value<PeriodReport>();
    QVERIFY(last.last && last.flows);
    QCOMPARE(last.flows->envOutflow, 0.0); // period 5 plays the setup's schedule
    QCOMPARE(ended.size(), 1);
    QCOMPARE(ended.first().first().value<RunEnding>(), RunEnding::Completed);
    QVERIFY(!model.run->recordDue());
    QCOMPARE(model.lines("Runs.txt").size(), 2);
    QVERIFY(model.lines("Runs.txt").constLast().endsWith(u"\tmodel"_qs));
}

// Two runs stepped in turn, each in its own folder, leave exactly what each leaves alone.
void TestRunSession::interleavedRunsGiveTheFilesOfLoneRuns() {
    FolderRun aloneA(QStringLiteral("a"), 11);
    FolderRun aloneB(QStringLiteral("b"), 12);
    for (int period = 1; period <= 5; ++period)
        QVERIFY(aloneA.run->submit(order(period)));
    for (int period = 1; period <= 5; ++period)
        QVERIFY(aloneB.run->submit(order(period)));
    FolderRun togetherA(QStringLiteral("a"), 11);
    FolderRun togetherB(QStringLiteral("b"), 12);
    for (int period = 1; period <= 5; ++period) {
        QVERIFY(togetherB.run->submit(order(period)));
        QVERIFY(togetherA.run->submit(order(period)));
    }
    QCOMPARE(aloneA.files().size(), 1 + 5 + 2);
    QCOMPARE(togetherA.files(), aloneA.files());
    QCOMPARE(togetherB.files(), aloneB.files());
    QVERIFY(aloneA.files() != aloneB.files()); // the seeds differ
}

// A line that cannot be written keeps the period closing: no report, no input, until a retry
// writes it.
void TestRunSession::aFailedLineHoldsTheRunUntilItIsWritten() {
    FolderRun model(QStringLiteral("m2"), 3);
    QSignalSpy failed(model.run.get(), &RunSession::recordingFailed);
    QSignalSpy recorded(model.run.get(), &RunSession::periodRecorded);
    // A folder in the file's place: no write can reach it, whoever runs the test.
    const QString data = model.dataDir() + QStringLiteral("/Data.txt");
    QVERIFY(QFile::rename(data, data + QStringLiteral(".kept")) && QDir().mkdir(data));
    QVERIFY(model.run->submit(order(1)));
    QCOMPARE(failed.size(), 1);
    QCOMPARE(failed.first().first().toString(), QStringLiteral("Period 1 could not be written"));
    QVERIFY(model.run->busy());
    QVERIFY(!model.run->submit(order(2)));
    QString error;
    QVERIFY(!model.run->retryWrite(&error));
    QVERIFY(QDir().rmdir(data) && QFile::rename(data + QStringLiteral(".kept"), data));
    QVERIFY2(model.run->retryWrite(&error), qPrintable(error));
    QCOMPARE(recorded.size(), 1);
    QVERIFY(!model.run->busy());
    QCOMPARE(model.lines("Data.txt").size(), 2);
}

// Each period's time runs from the moment input is taken (the load, then the end of the
// period before) to its Submit; a model's run leaves no times.
void TestRunSession::aPersonsDecisionsAreTimedFromInputToSubmit() {
    qint64 now = 5000;
    FolderRun person(QStringLiteral("p1"), 7, RunPlayer::Person, [&now] { return now; });
    const qint64 thinking[] = {250, 1200, 0, 31, 4000};
    for (int period = 1; period <= 5; ++period) {
        now += thinking[period - 1];
        QVERIFY(person.run->submit(order(period)));
        now += 7; // the period itself, which is no decision's
    }
    QCOMPARE(person.lines("DecisionTimes.txt"),
             QStringList({u"RunId\tPeriod\tDecisionMs"_qs, u"p1\t1\t250"_qs, u"p1\t2\t1207"_qs,
                          u"p1\t3\t7"_qs, u"p1\t4\t38"_qs, u"p1\t5\t4007"_qs}));
    QCOMPARE(person.lines("Data.txt").constFirst().count(QLatin1Char('\t')), 21); // as ever
    FolderRun model(QStringLiteral("m3"), 7);
    QVERIFY(model.run->submit(order(1)));
    QVERIFY(!QFileInfo::exists(model.dataDir() + QStringLiteral("/DecisionTimes.txt")));
}

// The period's Data.txt line is in; only its time waits, and the retry writes only that.
void TestRunSession::aFailedDecisionTimeIsRetriedWithoutASecondLine() {
    FolderRun person(QStringLiteral("p3"), 7, RunPlayer::Person, [] { return 0; });
    QSignalSpy failed(person.run.get(), &RunSession::recordingFailed);
    const QString times = person.dataDir() + QStringLiteral("/DecisionTimes.txt");
    QVERIFY(QDir().mkdir(times));
    QVERIFY(person.run->submit(order(1)));
    QCOMPARE(failed.size(), 1);
    QVERIFY(person.run->busy() && QDir().rmdir(times));
    QString error;
    QVERIFY2(person.run->retryWrite(&error), qPrintable(error));
    QVERIFY(!person.run->busy());
    QCOMPARE(person.lines("Data.txt").size(), 2);
    QCOMPARE(person.lines("DecisionTimes.txt").size(), 2);
}

QTEST_MAIN(TestRunSession)
#include "test_runsession.moc"
