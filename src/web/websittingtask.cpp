// A browser's task: the practice, the run and its blocks, played by the same run object as at
// the lab; the page draws each view it is sent and sends the person's decisions.
#include "core/setup/scenario.h"
#include "web/webjson.h"
#include "web/websitting.h"
#include "web/webstudy.h"

#include <QTimer>

#include <utility>

// A setup with PracticePeriods has them played first, as a run of their own; the run itself
// follows from the plan kept here.
void WebSitting::openTask() {
    m_runAfterPractice.reset();
    if (m_plan.PracticePeriods > 0) {
        m_runAfterPractice = m_plan;
        BeginPractice(m_plan);
    }
    QStringList notes;
    QString error;
    if (!m_web.records().prepareFiles(&notes, &error)) {
        refuse(error);
        return;
    }
    for (const QString &note : std::as_const(notes))
        printError(note);
    startPlanned();
}

void WebSitting::startPlanned() {
    PrepareTaskState(m_plan);
    const int pause = m_web.settings().pauseMs;
    m_plan.userDelayInterval = m_plan.envDelayInterval = pause >= 0 ? pause : m_plan.personPauseMs;
    delete m_run;
    m_run = new RunSession(&m_web.records(), std::exchange(m_plan, TaskState()), RunPlayer::Person,
                           this);
    RunSession *run = m_run;
    connect(run, &RunSession::viewChanged, this, [this] {
        // The steps of a period change the view many times in one go: the page gets the last.
        if (!std::exchange(m_viewDue, true))
            QTimer::singleShot(0, this, &WebSitting::sendView);
    });
    connect(run, &RunSession::periodFinished, this, &WebSitting::onPeriodFinished,
            Qt::QueuedConnection);
    connect(run, &RunSession::ended, this, [this, run](RunEnding ending) {
        if (ending == RunEnding::Completed && !run->state().practice) {
            m_web.study().countCompleted(run->state().studyCondition, true);
            m_runCompleted = true;
        }
    });
    connect(run, &RunSession::recordingFailed, this,
            [this](const QString &what, const QString &error) {
                printError(what + QStringLiteral(": ") + error);
                sendNotice(text("WebSitting", "Your answer could not be recorded just now. "
                                              "Please wait a moment and submit again."));
                QTimer::singleShot(2000, this, [this] {
                    QString retryError;
                    if (m_run && !m_run->retryWrite(&retryError))
                        printError(retryError);
                });
            });
    run->load();
    const TaskView &view = run->view();
    QJsonObject task{
        {QStringLiteral("captions"), TaskCaptionsJson(view, m_translation)},
        {QStringLiteral("withdraw"), text("WebSitting", "Withdraw from the study")},
        {QStringLiteral("confirmWithdraw"), text("frmKrugel", "Are you sure you want to exit?")}};
    show(QStringLiteral("task"), task);
    m_viewDue = true;
    sendView();
}

void WebSitting::sendView() {
    if (!std::exchange(m_viewDue, false) || !m_run || m_stepName != QLatin1String("task"))
        return;
    emit outgoing(
        {{QStringLiteral("view"), ViewJson(m_run->view())}, {QStringLiteral("at"), m_stepNumber}});
}

// The entry boxes are read as at the lab: digits and a point, empty for 0.
void WebSitting::takeDecision(const QJsonObject &message) {
    if (!m_run || m_run->busy() || !m_run->view().submitEnabled)
        return;
    const std::optional<double> inflow =
        EntryNumber(message.value(QStringLiteral("inflow")).toString());
    const std::optional<double> outflow =
        EntryNumber(message.value(QStringLiteral("outflow")).toString());
    if (!inflow || !outflow) {
        sendNotice(inflow
                       ? text("frmKrugel", "The outflow must be a number. Please enter it again.")
                       : text("frmKrugel", "The inflow must be a number. Please enter it again."));
        return;
    }
    Decision decision;
    decision.inflow = *inflow;
    decision.outflow = *outflow;
    m_run->submit(decision);
}

// Withdrawing is leaving through the exit window at the lab: the run ends `exited`.
void WebSitting::withdraw() {
    endRun(RunEnding::Exited);
    closeSitting(QStringLiteral("withdrawn"),
                 text("WebSitting", "You have withdrawn from the study. Thank you for your "
                                    "time."),
                 QString());
}

void WebSitting::onPeriodFinished(bool last) {
    if (!last || m_over)
        return;
    if (m_runAfterPractice) {
        openInfo(text("Sitting", "The practice is over. The task starts now, from period 1."),
                 [this] { startRunAfterPractice(); });
        return;
    }
    if (moreBlocks()) {
        endBlock();
        return;
    }
    if (m_web.study().design().withinPerson())
        m_web.study().countPersonCompleted(m_assignment.conditions);
    openQuestionnaire();
}

// The run starts from period 1 under a number and seed of its own, tied to the person.
void WebSitting::startRunAfterPractice() {
    m_plan = *std::exchange(m_runAfterPractice, std::nullopt);
    numberRun();
    recordPersonsRun();
    startPlanned();
}

// A block of a within-person design is over: its bonus is kept for the end screen.
void WebSitting::endBlock() {
    const TaskState &run = m_run->state();
    const bool basePerBlock = m_web.study().design().basePaymentPerBlock;
    m_bonusOfBlocksBefore += run.TotalBonus - run.basePayment;
    m_baseOfBlocksBefore += basePerBlock ? run.basePayment : 0;
    m_bandOfBlocksBefore += run.periodsInBand;
    openInfo(text("Sitting", "Part %1 of %2 is over. The next part starts now, from period 1.")
                 .arg(m_block + 1)
                 .arg(m_assignment.conditions.size()),
             [this] { startNextBlock(); });
}

// The next block plays its condition's setup as read now; only the first has a practice.
void WebSitting::startNextBlock() {
    ++m_block;
    const QString subject = closingState().subjectName;
    m_plan = TaskState();
    m_plan.batchPauseMs = 1;
    m_plan.subjectName = subject;
    m_plan.studyCondition = m_assignment.conditions.value(m_block);
    if (!judgeStart())
        return;
    m_plan.PracticePeriods = 0;
    if (!keepIdentity())
        return;
    recordPersonsRun();
    openInstructions();
}
