// A model's runs: its login starts one, its reset or departure ends it.
#include "app/modZelph.h"
#include "app/program.h"
#include "core/model/modelserver.h"
#include "core/setup/scenario.h"
#include "gui/frmLogin.h"
#include "gui/frmZelph.h"

#include <QLineEdit>
#include <QTimer>

// A model that logs in after a reconnect, while a run is open, starts a fresh run: the open
// one was left.
void Program::modelStart() {
    m_zelph->setBetweenSteps(true);
    m_runs.endRun(RunEnding::Quit, [this](bool recorded) {
        if (recorded)
            startModelRun();
        else
            end(1, RunEnding::Failed);
    });
}

void Program::startModelRun() {
    m_seat.take(Player::Model);
    m_exitConfirmed = false;
    if (m_sitting->login())
        m_sitting->login()->nameBox()->setText(m_zelph->login());
    TaskState plan;
    plan.batchPauseMs = m_options.batchPauseMs;
    protocol::playInMode(m_zelph->mode(), plan);
    plan.subjectName = m_zelph->login().trimmed();
    plan.studyCondition = m_study.conditionForRun(m_study.modelCondition(), false);
    const StartJudgement start = m_study.judgeStart(plan, Starter::Model);
    if (start.outcome == StartOutcome::EndsProgram) {
        m_dialogs.inform(start.title(), start.reason, start.icon());
        end(1, RunEnding::Failed);
        return;
    }
    if (start.outcome == StartOutcome::Refused) {
        refuseModel(start.reason);
        return;
    }
    for (const QString &failure : start.checkFailures)
        m_dialogs.inform(programTitle(), failure); // a model plays on
    m_modelPlan = std::move(plan);
    m_starting = true;
    // The run's identity: the setup text it plays, kept, then its number and seed.
    m_runs.keepSetup(m_study.setupText(m_modelPlan->studyCondition),
                     [this](std::optional<QString> setupId) {
                         if (!setupId) {
                             end(1, RunEnding::Failed);
                             return;
                         }
                         if (!m_modelPlan)
                             return; // the model left or reset meanwhile
                         m_modelPlan->setupId = *setupId;
                         m_runs.numberRun(*m_modelPlan, m_zelph->loginSeed());
                         m_study.warnAboutSilentDelays(*m_modelPlan);
                         // Leave the login's handler (a socket's) before the task opens.
                         QTimer::singleShot(0, this, &Program::continueModelRun);
                     });
}

void Program::continueModelRun() {
    m_sitting->closeLogin();
    if (!m_modelPlan || m_lifetime.ending())
        return; // the model left or reset meanwhile
    PrepareTaskState(*m_modelPlan);
    m_runs.prepareRecording([this](bool ready) {
        if (!ready) {
            end(1, RunEnding::Failed);
            return;
        }
        if (!m_modelPlan)
            return;
        // A BATCH run plays hidden: it needs no window at all.
        const bool shown =
            m_modelPlan->versionTag != protocol::Batch && m_dialogs.someoneCanAnswer();
        m_runs.start(std::move(*m_modelPlan), RunPlayer::Model, shown);
        m_modelPlan.reset();
        m_starting = false;
        if (!m_zelph->login().isEmpty())
            m_zelph->SendToModel(QString(protocol::InitialStateRequest));
        m_zelph->setBetweenSteps(false);
    });
}

// A model's run that cannot start is answered at once, since no period can be played, and
// the reason goes where its operator looks.
void Program::refuseModel(const QString &reason) {
    printError(QStringLiteral("The login of %1 was refused: %2").arg(m_zelph->login(), reason));
    if (m_connectionWindow)
        m_connectionWindow->appendNote(QStringLiteral("Login refused: ") + reason);
    m_zelph->SendToModel(QString(protocol::EndProgramAnswer));
    m_zelph->logOut();
    m_seat.take(Player::Nobody);
    m_zelph->setBetweenSteps(false);
}

// A model that leaves ends its run there: the run is recorded at once, with the time it left,
// and the program waits for the next model.
void Program::modelLeft() {
    if (!m_seat.modelPlays() || m_stopping || m_lifetime.ending())
        return;
    RunSession *run = m_runs.run();
    if (run && run->busy()) {
        m_modelGone = true; // its period closes first, with its line
        return;
    }
    m_modelGone = false;
    m_modelPlan.reset(); // a run about to start does not
    m_starting = false;
    m_runs.endRun(RunEnding::Quit, [this](bool recorded) { afterRun(recorded); });
}

void Program::onPeriodFinished(bool last) {
    if (m_pendingEnd) {
        end(m_pendingEnd->status, m_pendingEnd->ending);
        return;
    }
    if (!m_seat.modelPlays())
        return;
    if (m_modelGone && !last) {
        modelLeft();
        return;
    }
    // A model's run leaves the program open for the model's next message, unless the model
    // has already gone: then its closing windows follow, as after a person's run.
    if (last && !m_zelph->Linked()) {
        m_modelRunClosing = true;
        m_sitting->closeRoad();
    }
}

// The connection stays open; the model is logged out and start-up runs again.
void Program::ResetSimulation() {
    m_modelPlan.reset();
    m_starting = false;
    m_runs.endRun(RunEnding::Reset, [this](bool recorded) {
        if (recorded) {
            m_zelph->logOut();
            m_sitting->closeLogin();
            m_zelph->SendToModel(QString(protocol::ResetAnswer));
        }
        afterRun(recorded);
    });
}

// The run is recorded and its window closed: start-up runs again, once the handler that
// ended it has returned.
void Program::afterRun(bool recorded) {
    if (!recorded) {
        end(1, RunEnding::Failed);
        return;
    }
    m_seat.take(Player::Nobody);
    m_zelph->setBetweenSteps(true);
    QTimer::singleShot(0, this, &Program::Main);
}
