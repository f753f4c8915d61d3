#include "core/engine/periodrunner.h"
#include "core/engine/steptimer.h"
#include "core/setup/scenario.h"
#include "support/testsupport.h"

#include <QSignalSpy>
#include <QTemporaryDir>
#include <QtTest>

#include <memory>

namespace {

// Pauses long enough that a test steps each phase by hand.
constexpr int longPause = 60000;

} // namespace

// The cycle of a period without any window: its steps' pauses and order, what it says when,
// and the pause-free pass of a model's fastest runs.
class TestPeriodRunner : public QObject {
    Q_OBJECT

private slots:
    void init();

    void pausesDefaultToThePacedLength();
    void aPeriodClosesBeforeItIsReportedFinished();
    void aDecisionWhileAPeriodRunsIsRefused();
    void lastPeriodIsReportedAndThenNothingIsPlayed();
    void aPauseFreePeriodIsOnePass();
    void finishNowPlaysTheRestWithoutItsPauses();
    void aModelsDecisionShowsInTheEntryBoxes();

private:
    void start(const QMap<QString, QString> &setup = {}, int pause = longPause);
    // A step's timer is made when the step first waits.
    bool waiting(const char *name) const {
        auto *timer = m_runner->findChild<StepTimer *>(QLatin1String(name));
        return timer && timer->isActive();
    }
    // Fires the step waiting on `name` now.
    void fire(const char *name) {
        auto *timer = m_runner->findChild<StepTimer *>(QLatin1String(name));
        QVERIFY2(timer && timer->isActive(), name);
        timer->start(0);
    }

    std::unique_ptr<QTemporaryDir> m_folder;
    TaskState m_state;
    std::unique_ptr<PeriodRunner> m_runner;
    QStringList m_events;
};

void TestPeriodRunner::init() {
    m_folder = std::make_unique<QTemporaryDir>();
    m_state = TaskState{};
    m_events.clear();
}

void TestPeriodRunner::start(const QMap<QString, QString> &setup, int pause) {
    m_runner = runnerFor(m_state, m_folder->path(), setup, pause);
    connect(m_runner.get(), &PeriodRunner::periodClosed, this, [this] {
        m_events << QStringLiteral("closed %1 at %2, status \"%3\"")
                        .arg(m_state.currentTrial)
                        .arg(m_state.EndTime.toString(QStringLiteral("HH:mm:ss")),
                             m_runner->view().lblStatusValue);
    });
    connect(m_runner.get(), &PeriodRunner::periodFinished, this,
            [this](bool last) { m_events << QStringLiteral("finished, last %1").arg(last); });
    connect(m_runner.get(), &PeriodRunner::nothingToPlay, this,
            [this] { m_events << QStringLiteral("nothing to play"); });
    m_runner->load();
}

void TestPeriodRunner::pausesDefaultToThePacedLength() {
    start({}, -1);
    QVERIFY(m_runner->submit({}));
    QTRY_VERIFY(waiting("tmrEnvDelay"));
    QCOMPARE(m_runner->findChild<StepTimer *>(QStringLiteral("tmrEnvDelay"))->interval(), 2000);
    fire("tmrEnvDelay");
    QTRY_VERIFY(waiting("tmrUserDelay"));
    QCOMPARE(m_runner->findChild<StepTimer *>(QStringLiteral("tmrUserDelay"))->interval(), 2000);
}

// The close's figures are final when the period's line is due, and the status line still
// tells the phase; only then is the period over and input taken again.
void TestPeriodRunner::aPeriodClosesBeforeItIsReportedFinished() {
    start();
    QVERIFY(m_runner->submit({1.5, 0.5}));
    QVERIFY(m_runner->running());
    QCOMPARE(m_state.StartTime, QTime(15, 4, 5));
    QTRY_VERIFY(waiting("tmrEnvDelay"));
    QCOMPARE(m_state.currentTrial, 1);
    fire("tmrEnvDelay");
    QTRY_VERIFY(waiting("tmrUserDelay"));
    QVERIFY(m_events.isEmpty());
    fire("tmrUserDelay");
    QTRY_COMPARE(m_events.size(), 2);
    QCOMPARE(m_events, (QStringList{QStringLiteral("closed 1 at 15:04:05, status \"User flow "
                                                   "Action in Play\""),
                                    QStringLiteral("finished, last 0")}));
    QVERIFY(!m_runner->running());
    QCOMPARE(m_runner->view().lblStatusValue, QString());
    QCOMPARE(m_runner->view().entryText[0], QStringLiteral("0"));
    QCOMPARE(m_state.UserInflow[1], 1.5);
    QCOMPARE(m_runner->view().lblAmountStatusVal, QStringLiteral("03.000"));
}

void TestPeriodRunner::aDecisionWhileAPeriodRunsIsRefused() {
    start();
    QVERIFY(m_runner->submit({1, 0}));
    QVERIFY(!m_runner->submit({2, 0}));
    QTRY_VERIFY(waiting("tmrEnvDelay"));
    fire("tmrEnvDelay");
    QTRY_VERIFY(waiting("tmrUserDelay"));
    fire("tmrUserDelay");
    QTRY_VERIFY(!m_runner->running());
    QCOMPARE(m_state.currentTrial, 1);
    QCOMPARE(m_state.UserInflow[2], 0.0);
}

void TestPeriodRunner::lastPeriodIsReportedAndThenNothingIsPlayed() {
    start({{QStringLiteral("MaxTrial"), QStringLiteral("2")}}, 1);
    for (int period = 1; period <= 2; ++period) {
        QVERIFY(m_runner->submit({}));
        QTRY_VERIFY(!m_runner->running());
    }
    QCOMPARE(m_events.last(), QStringLiteral("finished, last 1"));
    QVERIFY(m_runner->submit({3, 0}));
    QTRY_COMPARE(m_events.last(), QStringLiteral("finished, last 0"));
    QCOMPARE(m_events.at(m_events.size() - 2), QStringLiteral("nothing to play"));
    QCOMPARE(m_state.currentTrial, 2);
}

// A BATCH run without pauses plays the whole period before submit() returns: it goes back
// to the event loop once a period, and every step runs as with pauses, in the same order.
void TestPeriodRunner::aPauseFreePeriodIsOnePass() {
    start();
    m_state.versionTag = QStringLiteral("BATCH");
    m_state.batchPauseMs = 0;
    m_state.envDelayInterval = m_state.userDelayInterval = 0;
    QSignalSpy views(m_runner.get(), &PeriodRunner::viewChanged);
    QVERIFY(m_runner->submit({2, 0}));
    QCOMPARE(m_events.size(), 2);
    QVERIFY(!m_runner->running());
    QCOMPARE(views.count(), 7); // submit, the five steps, the emptied status line
    QCOMPARE(m_runner->view().lblAmountStatusVal, QStringLiteral("04.000"));
    QCOMPARE(m_runner->view().lblCurrBonusVal, QStringLiteral("00.050"));
}

void TestPeriodRunner::finishNowPlaysTheRestWithoutItsPauses() {
    start();
    QVERIFY(!m_runner->finishNow());
    QVERIFY(m_runner->submit({1, 0}));
    QTRY_VERIFY(waiting("tmrEnvDelay"));
    QVERIFY(m_runner->finishNow());
    QCOMPARE(m_events.size(), 2);
    QVERIFY(!m_runner->running());
    QCOMPARE(m_runner->view().lblAmountStatusVal, QStringLiteral("03.000"));
}

void TestPeriodRunner::aModelsDecisionShowsInTheEntryBoxes() {
    start();
    const int before = m_runner->view().entryRevision;
    QVERIFY(m_runner->submit({2.5, 0.1, true}));
    QCOMPARE(m_runner->view().entryText[0], QStringLiteral("2.5"));
    QCOMPARE(m_runner->view().entryText[1], QStringLiteral("0.1"));
    QVERIFY(m_runner->view().entryRevision > before);
}

QTEST_MAIN(TestPeriodRunner)
#include "test_periodrunner.moc"
