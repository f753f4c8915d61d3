#pragma once

#include "core/common/language.h"
#include "core/recording/database.h"
#include "core/run/runsession.h"
#include "core/setup/questionnairefile.h"
#include "core/setup/study.h"
#include "core/setup/studyfiles.h"
#include "core/setup/taskstate.h"
#include "web/panelrecords.h"

#include <QJsonObject>
#include <QObject>
#include <QPointer>
#include <QTimer>

#include <functional>
#include <optional>

class WebStudy;

// One person's sitting in a browser, step by step as at the lab: consent, subject form,
// questions before, instructions, comprehension check, practice, the task, questionnaire and
// end screen, each recorded as the desktop records it. The sitting says what its page is to
// draw (`outgoing`), hears what the person did (`take`), and holds its own run and language.
// Whatever connection shows it may drop and come back: the current step is told again.
class WebSitting : public QObject {
    Q_OBJECT
public:
    WebSitting(WebStudy &web, PanelIdentity panel, const QString &language,
               QObject *parent = nullptr);
    ~WebSitting() override;

    // The first step: what the study gives this person, and its first page.
    void begin();
    // What the page of the current step shows, told again to a page that comes back.
    QJsonObject currentStep() const;
    // A message from the person's page; anything that does not fit the current step is
    // ignored.
    void take(const QJsonObject &message);
    // The person's page is gone: after the grace period the sitting ends, its run `left`.
    void connectionLost();
    void connectionBack();
    // The server stops: an open run is recorded with `ending`.
    void endRun(RunEnding ending);
    bool over() const { return m_over; }
    const PanelIdentity &panel() const { return m_panel; }
    // Where the person is, for the operator: the step, the condition, the period played.
    const QString &stepName() const { return m_stepName; }
    const QString &condition() const { return m_plan.studyCondition; }
    int periodsPlayed() const { return m_run ? m_run->state().currentTrial : 0; }
    bool practice() const { return m_run && m_run->state().practice; }

signals:
    void outgoing(const QJsonObject &message);
    // The sitting is over and its page gone (or its grace spent): it can be forgotten.
    void finished();

private:
    // ---- steps before the task (websitting.cpp)
    bool judgeStart();
    bool keepIdentity();
    void openConsent();
    void consentGiven(bool agreed);
    void openSubjectForm();
    void takeSubjectForm(const QJsonObject &message);
    void recordSubject(const QString &major, const QString &gender, std::optional<int> number,
                       const QString &age);
    void subjectRecorded(qint64 rowId);
    void recordPersonsRun();
    Database::Written recorded() const;
    void recordProgramAnswer(const QString &runId, const QString &subject, const QString &version,
                             int number, const QString &answer);
    void openQuestionnaireBefore();
    void openInstructions();
    void openComprehension();
    void askComprehension(const QStringList &wrong);
    void judgeComprehension(QList<StudyAnswer> answers);
    void openQuestions(const QList<StudyQuestion> &questions, const QJsonObject &page,
                       std::function<void(const QList<StudyAnswer> &)> answered);
    void takeAnswers(const QJsonObject &message);
    void recordAnswer(const StudyAnswer &answer);
    void openQuestionnaire();
    void openEndScreen();
    void openInfo(const QString &text, std::function<void()> next);
    void closeSitting(const QString &kind, const QString &text, const QString &code);
    void refuse(const QString &reason);
    QString text(const char *context, const char *source) const;
    const TaskState &closingState() const;

    // ---- the task (websittingtask.cpp)
    void openTask();
    void startPlanned();
    void sendView();
    void takeDecision(const QJsonObject &message);
    void withdraw();
    void onPeriodFinished(bool last);
    void startRunAfterPractice();
    void endBlock();
    void startNextBlock();
    bool moreBlocks() const { return m_block + 1 < m_assignment.conditions.size(); }
    void numberRun();

    void show(const QString &step, QJsonObject message);
    void sendNotice(const QString &text);

    WebStudy &m_web;
    PanelIdentity m_panel;
    QString m_requestedLanguage;
    Translation m_translation;
    QString m_sittingId;
    PersonAssignment m_assignment;
    bool m_conditionHeld = false;
    qsizetype m_block = 0;
    double m_bonusOfBlocksBefore = 0;
    double m_baseOfBlocksBefore = 0;
    int m_bandOfBlocksBefore = 0;
    TaskState m_plan;
    std::optional<TaskState> m_runAfterPractice;
    std::optional<qint64> m_subjectRowId;
    SittingQuestions m_questions; // before the task, the comprehension check, after it
    QList<StudyPage> m_instructions;
    QPointer<RunSession> m_run;
    bool m_runCompleted = false;

    // What the page shows now: its message, counted so that an answer to an earlier step
    // changes nothing.
    QString m_stepName;
    QJsonObject m_step;
    int m_stepNumber = 0;
    std::function<void()> m_next; // an info step's Continue
    QList<StudyQuestion> m_asked;
    bool m_checking = false;
    int m_attempt = 0;
    std::function<void(const QList<StudyAnswer> &)> m_answered;
    bool m_viewDue = false;
    bool m_over = false;
    QTimer m_grace;
};
