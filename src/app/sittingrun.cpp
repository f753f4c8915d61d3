// The person's task: the practice, the run, and leaving it through the exit window.
#include "app/runhost.h"
#include "app/sitting.h"
#include "core/common/dialogs.h"
#include "core/setup/scenario.h"
#include "gui/frmKrugel.h"
#include "gui/frmPasswordAuth.h"

#include <utility>

// A person whose setup gives PracticePeriods plays them first, as a run of its own (the
// identity given at Start); the run itself starts afterwards from the plan kept here.
void Sitting::openTask() {
    closeStep();
    emit betweenSteps(true);
    closeLogin();
    m_runAfterPractice.reset();
    if (m_plan.PracticePeriods > 0) {
        m_runAfterPractice = m_plan;
        BeginPractice(m_plan);
    }
    m_runs.prepareRecording([this, step = ++m_step](bool ready) {
        if (step != m_step)
            return;
        ready ? startPlanned() : emit failed();
    });
}

void Sitting::startPlanned() {
    PrepareTaskState(m_plan);
    m_plan.userDelayInterval = m_plan.envDelayInterval =
        m_options.pauseMs.value_or(m_plan.personPauseMs);
    // From here the run holds its state; the road keeps no copy of it.
    RunSession *run = m_runs.start(std::exchange(m_plan, TaskState()), RunPlayer::Person, true);
    connect(run, &RunSession::periodFinished, this, &Sitting::onPeriodFinished,
            Qt::QueuedConnection);
    m_seat.take(Player::PersonPlaying);
    emit betweenSteps(false);
}

void Sitting::onPeriodFinished(bool last) {
    if (!last || m_stopped)
        return;
    if (m_leaving) {
        m_completedWhileLeaving = true;
        if (m_window) // the exit window: the run is over, it has nothing left to end
            leavingOver();
        return;
    }
    if (m_runAfterPractice) {
        emit betweenSteps(true);
        m_dialogs.inform(programTitle(),
                         tr("The practice is over. The task starts now, from period 1."),
                         Dialogs::Icon::None, [this, step = ++m_step] {
                             if (step == m_step)
                                 startRunAfterPractice();
                         });
        return;
    }
    openQuestionnaire();
}

// The run starts from period 1, in a new window, with nothing of the practice in it, under a
// number and seed of its own.
void Sitting::startRunAfterPractice() {
    if (m_stopped)
        return;
    m_plan = *m_runAfterPractice;
    m_runAfterPractice.reset();
    m_runs.numberRun(m_plan);
    recordPersonsRun();
    startPlanned();
}

void Sitting::askToLeave(bool confirmFirst) {
    if (m_leaving || m_stopped || m_window)
        return;
    m_leaving = true;
    if (!confirmFirst) {
        openExitWindow();
        return;
    }
    m_dialogs.ask(frmKrugel::tr("Exit Application"),
                  frmKrugel::tr("Are you sure you want to exit?"), Dialogs::Icon::None,
                  [this, step = m_step](bool yes) {
                      if (step != m_step)
                          return;
                      if (yes && !m_completedWhileLeaving)
                          openExitWindow();
                      else
                          leavingOver();
                  });
}

void Sitting::openExitWindow() {
    const Player before = m_seat.player();
    if (m_seat.personHasProgram())
        m_seat.take(Player::PersonFinishing);
    auto *window = new frmPasswordAuth(m_dialogs);
    window->setExitPassword(m_runs.run() ? m_runs.run()->state().ExitPassword : QString());
    connect(
        window, &frmPasswordAuth::exitApproved, this,
        [this, before] {
            m_seat.take(before);
            m_leaving = false;
            closeStep();
            m_exitConfirmed = true;
            emit exitApproved();
        },
        Qt::QueuedConnection);
    connect(
        window, &QDialog::rejected, this,
        [this, before] {
            m_seat.take(before);
            leavingOver();
        },
        Qt::QueuedConnection);
    openStep(window);
}

// The person stays (or the run ended meanwhile, and the questionnaire follows).
void Sitting::leavingOver() {
    closeStep();
    m_leaving = false;
    if (m_seat.player() == Player::PersonFinishing)
        m_seat.take(Player::PersonPlaying);
    if (m_completedWhileLeaving) {
        m_completedWhileLeaving = false;
        onPeriodFinished(true);
    }
}
