#pragma once

#include "core/engine/periodcycle.h"
#include "core/engine/periodrunner.h"
#include "core/recording/runrecorder.h"
#include "core/setup/taskstate.h"

#include <QObject>

#include <optional>

// What a period's STATE message tells: its time, the goal and the amount in units, and the
// four flows the status figures show (none before the first period).
struct PeriodReport {
    int time = 0;
    double goalUnits = 0;
    double amountUnits = 0;
    std::optional<ShownFlows> flows;
    bool last = false; // the run's last period
};

// The time of day from a steady clock, read once now: for runs that play many periods a
// second, where reading the local time anew would cost a look at the time zone twice a period.
std::function<QTime()> steadyTimeOfDay();

// One run: its task state, its period runner and its tally in the data folder's records. It
// takes decisions, plays each through the period's steps, writes the period's line and only
// then says what happened; the last period's line is followed by the run's record, on the
// disk before anybody hears that the run is over. Who plays is given at the start and goes
// into the record as it is. Several runs may exist at once, each on its folder's recorder. A
// run without a recorder is played and reported alike, and leaves no files.
//
// A person's run times each decision on a steady clock, from the moment the run takes input
// (loaded, or its previous period over) to the Submit that plays the period; the time goes
// into DecisionTimes.txt with the period's line. A model's run is not timed: its pace is the
// model's.
//
// A write that fails holds the run where it is (input keeps waiting) and is announced by
// recordingFailed(); whoever decides what to do then calls retryWrite() or ends the run.
class RunSession : public QObject {
    Q_OBJECT
public:
    RunSession(RunRecorder *records, TaskState state, RunPlayer player, QObject *parent = nullptr);

    const TaskState &state() const { return m_state; }
    const TaskView &view() const { return m_runner.view(); }
    RunPlayer player() const { return m_tally.open ? m_tally.player : m_player; }
    // Lays out the view (the stock values are scaled from here on) and shows it; the first
    // decision is timed from here.
    void load();
    // Whether anything draws the view; nothing does in a hidden run.
    void setDrawn(bool drawn) { m_runner.setDrawn(drawn); }
    void setClock(std::function<QTime()> clock) { m_runner.setClock(std::move(clock)); }
    // Where a person's decisions are timed from: milliseconds on a steady clock (tests give
    // one of their own).
    void setDecisionClock(std::function<qint64()> clock) { m_decisionClock = std::move(clock); }

    // Plays the next period with `decision`. A pause-free period is over, its line written,
    // when the call returns. False, with nothing changed, while a period runs or a write is
    // held.
    bool submit(const Decision &decision);
    // A period under way, or one whose line waits for a retry.
    bool busy() const { return m_runner.running() || m_held != Held::Nothing; }
    // Plays what remains of a running period at once; false when none waits on a pause.
    bool finishNow() { return m_runner.finishNow(); }
    // The description of the current report, as STATE gives it.
    PeriodReport report(bool withFlows) const;

    // Tries the held write again; the run goes on when it succeeds. False, with the reason.
    bool retryWrite(QString *error);
    // Whether the run has lines that its record does not yet cover.
    bool recordDue() const { return m_tally.open; }
    // Stops a running period for good, recording nothing: the run is being put away.
    void stop() { m_runner.stop(); }
    // Ends the run with `ending`: a running period is stopped, and the record is written when
    // one is due. False, with the reason, when the record could not be written.
    bool end(RunEnding ending, QString *error);

signals:
    void viewChanged();
    void periodStarted();
    // The period's line is in Data.txt (and, for the last period, the record in Runs.txt).
    void periodRecorded(const PeriodReport &report);
    // The period is over; input may follow. `last` when it was the run's last period.
    void periodFinished(bool last);
    // A decision came after the last period: nothing was played.
    void nothingToPlay();
    // `what` could not be written (`error`): the run waits.
    void recordingFailed(const QString &what, const QString &error);
    // The run's record was written with `ending`.
    void ended(RunEnding ending);

private:
    enum class Held { Nothing, Line, DecisionTime, Record };
    void onPeriodClosed();
    bool writeLine(QString *error);
    bool writeRecord(RunEnding ending, QString *error);
    void lineWritten();
    bool timed() const { return m_player == RunPlayer::Person; }
    void takeInput() { m_inputSince = m_decisionClock(); }

    RunRecorder *m_records; // none: nothing is recorded
    TaskState m_state;
    RunPlayer m_player;
    PeriodRunner m_runner;
    RunTally m_tally;
    Held m_held = Held::Nothing;
    QDate m_lineDate;
    QTime m_lineTime; // the end of the period the date was last read for
    std::function<qint64()> m_decisionClock;
    qint64 m_inputSince = 0; // when the run last took input, on m_decisionClock
    qint64 m_decisionMs = 0; // the period's decision time
};
