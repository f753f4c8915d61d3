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
    if (moreBlocks()) {
        endBlock();
        return;
    }
    if (m_study.design().withinPerson())
        m_study.countPersonCompleted(m_assignment.conditions);
    openQuestionnaire();
}

// A block of a within-person design is over: its bonus is kept for the end screen, and the
// next block's run follows after a word to the person.
void Sitting::endBlock() {
    emit betweenSteps(true);
    const TaskState &run = m_runs.run()->state();
    const bool basePerBlock = m_study.design().basePaymentPerBlock;
    m_bonusOfBlocksBefore += run.TotalBonus - run.basePayment;
    m_baseOfBlocksBefore += basePerBlock ? run.basePayment : 0;
    m_bandOfBlocksBefore += run.periodsInBand;
    m_dialogs.inform(programTitle(),
                     tr("Part %1 of %2 is over. The next part starts now, from period 1.")
                         .arg(m_block + 1)
                         .arg(m_assignment.conditions.size()),
                     Dialogs::Icon::None, [this, step = ++m_step] {
                         if (step == m_step)
                             startNextBlock();
                     });
}

// The next block plays its condition's setup as read now, as a run of its own tied to the
// same person; only the first block has a practice.
void Sitting::startNextBlock() {
    if (m_stopped)
        return;
    ++m_block;
    const QString subject = closingState().subjectName;
    m_plan = TaskState();
    m_plan.batchPauseMs = m_options.batchPauseMs;
    m_plan.subjectName = subject;
    m_plan.studyCondition = m_assignment.conditions.value(m_block);
    const StartJudgement start = m_study.judgeStart(m_plan, Starter::Person);
    if (!start.plays() || !start.checkFailures.isEmpty()) {
        const QString reason = start.plays() ? start.checkFailures.constFirst() : start.reason;
        printError(
            QStringLiteral("The block %1 cannot start: %2").arg(m_plan.studyCondition, reason));
        m_dialogs.inform(programTitle(), reason, Dialogs::Icon::None,
                         [this] { openQuestionnaire(); });
        return;
    }
    m_plan.PracticePeriods = 0;
    m_runs.keepSetup(m_study.setupText(m_plan.studyCondition),
                     [this, step = ++m_step](std::optional<QString> setupId) {
                         if (step == m_step)
                             afterBlockIdentity(setupId);
                     });
}

void Sitting::afterBlockIdentity(const std::optional<QString> &setupId) {
    if (!setupId) {
        emit failed();
        return;
    }
    m_plan.setupId = *setupId;
    m_runs.numberRun(m_plan);
    keepStudyFiles([this] { openBlock(); });
}

// The next block's run is tied to the person; its condition's own pages come first.
void Sitting::openBlock() {
    recordPersonsRun();
    m_instructions.clear();
    QString error;
    if (m_study.hasOwnInstructions(m_plan.studyCondition) &&
        !m_study.instructionPages(m_plan.studyCondition, m_translation.code(), &m_instructions,
                                  &error))
        printError(QStringLiteral("The block's instructions are not shown: ") + error);
    openInstructions();
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
    window->setAskUsername(!m_runs.run() || m_runs.run()->state().ExitUsername);
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
