#include "core/engine/periodrunner.h"

#include "core/common/numbers.h"
#include "core/engine/periodcycle.h"
#include "core/engine/steptimer.h"
#include "core/engine/taskload.h"

PeriodRunner::PeriodRunner(TaskState &state, QObject *parent)
    : QObject(parent)
    , m_state(state)
    , m_clock([] { return QTime::currentTime(); }) {}

// A step's timer is made when the step first waits: a pause-free run needs none (a vector of
// thousands of runs would otherwise hold five kernel timers each).
StepTimer *PeriodRunner::timer(Step step) {
    StepTimer *&timer = m_timers[static_cast<size_t>(step)];
    if (!timer) {
        const char *names[StepCount] = {"Timer1", "tmrEnvDelay", "tmrEnvMv", "tmrUserDelay",
                                        "tmrUserMv"};
        timer = new StepTimer(names[step], this);
        connect(timer, &StepTimer::timeout, this, [this, step] { run(step); });
    }
    return timer;
}

// Only a view that somebody draws is announced: nobody looks at a hidden run's.
void PeriodRunner::changed() {
    if (m_view.drawn)
        emit viewChanged();
}

void PeriodRunner::load() {
    LoadTaskWindow(m_state, m_view);
    emit viewChanged();
}

bool PeriodRunner::submit(const Decision &decision) {
    if (m_running)
        return false;
    m_running = true;
    m_decision = decision;
    m_view.submitEnabled = false;
    if (decision.showInEntryBoxes && m_view.drawn)
        setEntryTexts(numbers::roundTrip(decision.inflow), numbers::roundTrip(decision.outflow));
    m_state.StartTime = m_clock();
    changed();
    emit periodStarted();
    next(Timer1, StepPause(m_state, 1));
    return true;
}

bool PeriodRunner::finishNow() {
    StepTimer *waiting = m_timers[m_pending];
    if (!m_running || m_finishing || !waiting || !waiting->isActive())
        return false;
    m_finishing = true;
    waiting->stop();
    run(m_pending);
    return true;
}

void PeriodRunner::stop() {
    for (StepTimer *timer : m_timers) {
        if (timer)
            timer->stop();
    }
    m_running = false;
    m_finishing = false;
    m_closeHeld = false;
}

// A step without a pause follows at once: a pause-free period is one pass, and returns to the
// event loop only when it is over.
void PeriodRunner::next(Step step, int pauseMs) {
    m_pending = step;
    if (pauseMs <= 0 || m_finishing)
        run(step);
    else
        timer(step)->start(pauseMs);
}

void PeriodRunner::run(Step step) {
    switch (step) {
    case Timer1:
        takeDecision();
        break;
    case EnvDelay:
        endEnvironmentHighlight();
        break;
    case EnvMove:
        endEnvironmentPhase();
        break;
    case UserDelay:
        applyUserFlows();
        break;
    case UserMove:
        closePeriod();
        break;
    case StepCount:
        break;
    }
}

void PeriodRunner::takeDecision() {
    if (!PeriodsRemain(m_state)) {
        m_running = m_finishing = false;
        emit nothingToPlay();
        emit periodFinished(false);
        return;
    }
    TakeDecision(m_state, m_view, m_decision.inflow, m_decision.outflow);
    changed();
    // Each pause is counted from the moment its step starts, so drawing takes none of it.
    next(EnvDelay, m_state.envDelayInterval);
}

void PeriodRunner::endEnvironmentHighlight() {
    EndEnvironmentHighlight(m_state, m_view);
    changed();
    next(EnvMove, StepPause(m_state, m_state.envMoveInterval));
}

void PeriodRunner::endEnvironmentPhase() {
    EndEnvironmentPhase(m_state, m_view);
    changed();
    next(UserDelay, m_state.userDelayInterval);
}

void PeriodRunner::applyUserFlows() {
    ApplyUserFlows(m_state, m_view);
    changed();
    next(UserMove, StepPause(m_state, m_state.userMoveInterval));
}

void PeriodRunner::closePeriod() {
    ClosePeriod(m_state, m_view);
    if (m_view.drawn)
        setEntryTexts(QStringLiteral("0"), QStringLiteral("0"));
    m_state.EndTime = m_clock();
    changed();
    emit periodClosed();
    if (!m_closeHeld)
        finishClose();
}

void PeriodRunner::releaseClose() {
    if (!m_closeHeld)
        return;
    m_closeHeld = false;
    finishClose();
}

void PeriodRunner::finishClose() {
    m_view.lblStatusValue.clear();
    changed();
    m_running = m_finishing = false;
    emit periodFinished(m_state.currentTrial == m_state.MaxTrial);
}

void PeriodRunner::setEntryTexts(const QString &inflow, const QString &outflow) {
    m_view.entryText = {inflow, outflow};
    ++m_view.entryRevision;
}
