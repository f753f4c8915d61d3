#include "core/run/runsession.h"

#include <QElapsedTimer>

#include <algorithm>
#include <chrono>

std::function<QTime()> steadyTimeOfDay() {
    return [start = QTime::currentTime(), elapsed = QElapsedTimer()]() mutable {
        if (!elapsed.isValid())
            elapsed.start();
        return start.addMSecs(static_cast<int>(elapsed.elapsed() % (24 * 3600 * 1000)));
    };
}

RunSession::RunSession(RunRecorder *records, TaskState state, RunPlayer player, QObject *parent)
    : QObject(parent)
    , m_records(records)
    , m_state(std::move(state))
    , m_player(player)
    , m_runner(m_state)
    , m_decisionClock([] {
        using namespace std::chrono;
        return duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count();
    }) {
    // Direct, always: the run may be played on a thread other than the one it was made on
    // (a vector of runs shared out over the cores), and its period must close in the call.
    const auto direct = Qt::DirectConnection;
    // Before periodFinished is passed on: whoever hears it may submit at once.
    if (timed())
        connect(&m_runner, &PeriodRunner::periodFinished, this, &RunSession::takeInput, direct);
    connect(&m_runner, &PeriodRunner::viewChanged, this, &RunSession::viewChanged, direct);
    connect(&m_runner, &PeriodRunner::periodStarted, this, &RunSession::periodStarted, direct);
    connect(&m_runner, &PeriodRunner::periodClosed, this, &RunSession::onPeriodClosed, direct);
    connect(&m_runner, &PeriodRunner::periodFinished, this, &RunSession::periodFinished, direct);
    connect(&m_runner, &PeriodRunner::nothingToPlay, this, &RunSession::nothingToPlay, direct);
}

void RunSession::load() {
    m_runner.load();
    if (timed())
        takeInput();
}

bool RunSession::submit(const Decision &decision) {
    if (busy())
        return false;
    if (timed())
        m_decisionMs = std::max<qint64>(m_decisionClock() - m_inputSince, 0);
    // The flows a player sets travel with the decision into the period they play.
    SetEnvironmentFlows(m_state, decision.envInflow, decision.envOutflow);
    return m_runner.submit(decision);
}

PeriodReport RunSession::report(bool withFlows) const {
    PeriodReport report;
    report.time = m_state.currentTrial;
    report.goalUnits = m_state.GoalLinePoisition / m_state.unitHeight;
    report.amountUnits = m_state.Amount / m_state.unitHeight;
    if (withFlows)
        report.flows = FlowsShown(m_state);
    report.last = m_state.currentTrial >= m_state.MaxTrial;
    return report;
}

// A run never goes on without its line: the period stays closing until the line is written.
void RunSession::onPeriodClosed() {
    // A run that records nothing needs no date; one that does reads it again only when the
    // time of day has gone back (midnight, a clock set back): reading it costs a system call.
    if (m_records && (!m_lineDate.isValid() || m_state.EndTime < m_lineTime))
        m_lineDate = QDate::currentDate();
    m_lineTime = m_state.EndTime;
    QString error;
    if (writeLine(&error)) {
        lineWritten();
        return;
    }
    m_runner.holdClose();
    emit recordingFailed(
        m_held != Held::Record
            ? QStringLiteral("Period %1 could not be written").arg(m_state.currentTrial)
            : QStringLiteral("The run record could not be written"),
        error);
}

// The line, a person's decision time, then for the last period the record: whichever fails
// is the one held, and a retry goes on from there.
bool RunSession::writeLine(QString *error) {
    if (!m_records)
        return true;
    if (m_held != Held::DecisionTime) {
        m_held = Held::Line;
        if (!m_records->writePeriod(m_tally, m_player, m_state, m_lineDate, error))
            return false;
    }
    if (timed()) {
        m_held = Held::DecisionTime;
        if (!m_records->writeDecisionTime(m_state.runId, m_state.currentTrial, m_decisionMs, error))
            return false;
    }
    m_held = Held::Nothing;
    return m_state.currentTrial != m_state.MaxTrial || writeRecord(RunEnding::Completed, error);
}

bool RunSession::writeRecord(RunEnding ending, QString *error) {
    m_held = Held::Record;
    if (!m_records->writeRunRecord(m_tally, m_state, ending, error))
        return false;
    m_held = Held::Nothing;
    emit ended(ending);
    return true;
}

void RunSession::lineWritten() {
    emit periodRecorded(report(true));
    m_runner.releaseClose();
}

bool RunSession::retryWrite(QString *error) {
    if (m_held == Held::Nothing)
        return true;
    const bool written =
        m_held != Held::Record ? writeLine(error) : writeRecord(RunEnding::Completed, error);
    if (written)
        lineWritten();
    return written;
}

bool RunSession::end(RunEnding ending, QString *error) {
    m_runner.stop();
    m_held = Held::Nothing;
    if (!m_records)
        return true;
    if (!m_tally.open) // nothing to record, but a sync may still be due
        return m_records->writeRunRecord(m_tally, m_state, ending, error);
    return writeRecord(ending, error);
}
