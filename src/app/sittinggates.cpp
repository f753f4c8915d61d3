// The study's gates around the task: the consent page before the subject form, a
// questionnaire before the task, and the comprehension check after the instructions.
#include "app/sitting.h"
#include "core/common/dialogs.h"
#include "core/recording/database.h"
#include "core/recording/questionnaire.h"
#include "core/setup/conditions.h"
#include "core/setup/study.h"
#include "gui/StudyQuestionnaire.h"
#include "gui/frmConsent.h"

#include <QDateTime>

// The consent page comes first; a person who declines is thanked and the sitting ends. Either
// answer is recorded under the sitting's identity, as no subject record exists yet.
void Sitting::openConsent() {
    QString error;
    const std::optional<StudyPage> page =
        m_study.consentPage(m_plan.studyCondition, m_translation.code(), &error);
    if (!page) {
        if (error.isEmpty())
            openSubjectForm();
        else
            refuse(error);
        return;
    }
    m_translation.install();
    auto *window = new frmConsent(*page);
    connect(
        window, &frmConsent::agreed, this, [this] { consentGiven(true); }, Qt::QueuedConnection);
    connect(
        window, &frmConsent::declined, this, [this] { consentGiven(false); }, Qt::QueuedConnection);
    openStep(window);
}

void Sitting::consentGiven(bool agreed) {
    closeStep();
    m_database.appendRow(
        QStringLiteral("datConsent"), QStringLiteral("Recording the consent"),
        [row = consentRow(m_sittingId, agreed, QDateTime::currentDateTime())] { return row; },
        [this](bool written, qint64) { recorded(written); });
    if (agreed) {
        openSubjectForm();
        return;
    }
    m_seat.take(Player::PersonFinishing);
    TellConsentDeclined(m_dialogs, [this, step = ++m_step] {
        if (step == m_step)
            finish();
    });
}

// Answers to the study's questions, tied to the run the person is about to play.
void Sitting::recordAnswersOf(StudyQuestionnaire *window) {
    connect(window, &StudyQuestionnaire::answerGiven, this,
            [this, runId = m_plan.runId](const StudyAnswer &answer) {
                RecordStudyAnswer(m_database, studyAnswerRow(runId, answer),
                                  [this](bool written, qint64) { recorded(written); });
            });
}

void Sitting::openQuestionnaireBefore() {
    if (m_questions.before.isEmpty() || !m_dialogs.someoneCanAnswer()) {
        openInstructions();
        return;
    }
    auto *window = new StudyQuestionnaire(m_questions.before, m_dialogs);
    recordAnswersOf(window);
    connect(window, &QDialog::finished, this, &Sitting::openInstructions, Qt::QueuedConnection);
    openStep(window);
}

// Every attempt is recorded; after the study's last wrong one the sitting ends, or the person
// plays on when the study says so.
void Sitting::openComprehension() {
    if (m_block > 0 || m_questions.comprehension.isEmpty() || !m_dialogs.someoneCanAnswer()) {
        openTask();
        return;
    }
    QuestionnairePage page;
    page.title = tr("Before you start");
    page.intro = tr("Please answer these questions about the instructions.");
    page.check = true;
    auto *window = new StudyQuestionnaire(m_questions.comprehension, page, m_dialogs);
    recordAnswersOf(window);
    connect(window, &StudyQuestionnaire::checked, this,
            [this, window](const QList<StudyAnswer> &, const QStringList &wrong) {
                if (wrong.isEmpty() || window->attempts() < m_study.design().comprehensionAttempts)
                    return;
                closeStep();
                if (m_study.design().playAfterFailedComprehension) {
                    openTask();
                    return;
                }
                m_seat.take(Player::PersonFinishing);
                m_dialogs.inform(programTitle(),
                                 tr("Thank you. The study ends here, since the questions about "
                                    "the instructions were not answered rightly."),
                                 Dialogs::Icon::None, [this, step = ++m_step] {
                                     if (step == m_step)
                                         finish();
                                 });
            });
    connect(window, &QDialog::accepted, this, &Sitting::openTask, Qt::QueuedConnection);
    openStep(window);
}
