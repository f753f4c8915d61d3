// The end of the person's road: the questionnaire and the end screen.
#include "app/runhost.h"
#include "app/sitting.h"
#include "core/common/dialogs.h"
#include "core/common/language.h"
#include "core/recording/database.h"
#include "core/recording/questionnaire.h"
#include "core/setup/study.h"
#include "gui/StudyQuestionnaire.h"
#include "gui/Tasks1.h"
#include "gui/frmEndScreen.h"

// What the closing windows show: the run just played, or the setup a failed check stopped.
const TaskState &Sitting::closingState() const {
    return m_runs.run() ? m_runs.run()->state() : m_plan;
}

void Sitting::openQuestionnaire() {
    ++m_step;
    m_seat.take(Player::PersonFinishing);
    if (!m_dialogs.someoneCanAnswer()) {
        printError(QStringLiteral("The run is over. Nobody can answer the closing questionnaire "
                                  "without a screen, so the program ends without it."));
        finish();
        return;
    }
    emit betweenSteps(false); // a model is answered while the questionnaire waits
    const TaskState &run = closingState();
    const QString runId = run.runId;
    QDialog *window = nullptr;
    if (!m_questions.after.isEmpty()) {
        auto *questionnaire = new StudyQuestionnaire(m_questions.after, m_dialogs);
        connect(questionnaire, &StudyQuestionnaire::answerGiven, this,
                [this, runId](const StudyAnswer &answer) {
                    RecordStudyAnswer(m_database, studyAnswerRow(runId, answer),
                                      [this](bool written, qint64) { recorded(written); });
                });
        window = questionnaire;
    } else {
        const double goal = run.GoalLinePoisition / run.unitHeight;
        auto *questionnaire = new Tasks1(goal, run.goalToleranceBelow, run.goalToleranceAbove,
                                         m_dialogs, nullptr, run.unitName);
        const QString subject = run.subjectName;
        const QString version = run.versionTag;
        connect(questionnaire, &Tasks1::answerGiven, this,
                [this, runId, subject, version](int number, const QString &answer) {
                    RecordQuestionnaireAnswer(
                        m_database, questionnaireRow(subject, version, number, answer),
                        [this, runId](bool written, qint64 rowId) {
                            if (written)
                                RecordRunQuestionnaire(
                                    m_database, runQuestionnaireRow(runId, rowId),
                                    [this](bool linked, qint64) { recorded(linked); });
                            else
                                recorded(false);
                        });
                });
        window = questionnaire;
    }
    connect(window, &QDialog::finished, this, &Sitting::openEndScreen, Qt::QueuedConnection);
    openStep(window);
}

// The study's end screen waits for the experimenter; a folder without one ends as always.
void Sitting::openEndScreen() {
    closeStep();
    const TaskState &run = closingState();
    const QString path = m_study.endScreenPath(run.studyCondition, m_translation.code());
    if (path.isEmpty() || m_stopped || !m_dialogs.someoneCanAnswer()) {
        finish();
        return;
    }
    StudyPage page;
    QString error;
    if (!ReadStudyPage(m_study.dataDirectory(), path, &page, &error)) {
        printError(QStringLiteral("The end screen is not shown: ") + error);
        finish();
        return;
    }
    // In a within-person design the earlier blocks' bonuses are paid too.
    const double bonus = run.TotalBonus - run.basePayment + m_bonusOfBlocksBefore;
    const double payment = run.basePayment + m_baseOfBlocksBefore + bonus;
    page.html = FillEndScreen(
        page.html, {payment, bonus, run.periodsInBand + m_bandOfBlocksBefore, run.subjectName},
        {run.currency, run.currencyAfter, m_translation.code()});
    auto *window = new frmEndScreen(page);
    connect(window, &QDialog::finished, this, &Sitting::finish, Qt::QueuedConnection);
    openStep(window);
}

// The road is over once every answer is in the database.
void Sitting::finish() {
    closeStep();
    if (m_stopped)
        return;
    if (!m_database.idle()) {
        connect(&m_database, &Database::drained, this, &Sitting::finish, Qt::SingleShotConnection);
        return;
    }
    emit over();
}
