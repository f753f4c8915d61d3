#pragma once

#include "app/seat.h"
#include "core/common/language.h"
#include "core/recording/runfile.h"
#include "core/setup/questionnairefile.h"
#include "core/setup/study.h"
#include "core/setup/studyfiles.h"
#include "core/setup/taskstate.h"

#include <QObject>
#include <QPointer>

#include <functional>
#include <optional>

class Database;
class Dialogs;
class QDialog;
class QWidget;
class RunHost;
class Study;
class StudyQuestionnaire;
#include "gui/frmLogin.h"
struct SubjectEntries;

// The person's road, one step after the other: the login, "name used before?", the subject
// form, the instructions, the practice, the task, the exit window, the questionnaire and the
// end screen. Each step opens its window without waiting in it and goes on when the window
// says what the person did; a step's windows are closed before the next one opens, and an
// answer that arrives after its step is over changes nothing.
class Sitting : public QObject {
    Q_OBJECT
public:
    struct Options {
        bool fullScreen = false;
        bool sessions = false;  // the road ends at the login, for the next person
        QString language;       // the command line's; empty: the setups'
        QString launchLanguage; // the one all setups name, else English
        int batchPauseMs = 1;
        std::optional<int> pauseMs; // of a period's delay steps; none: the design's
    };
    Sitting(Study &study, RunHost &runs, Database &database, Dialogs &dialogs, Seat &seat,
            Options options, QObject *parent = nullptr);
    ~Sitting() override;

    // The login screen, ready for the next person.
    void openLogin();
    frmLogin *login() const { return m_login; }
    // The login screen closes for good (a model's run starts).
    void closeLogin();
    // A person leaving the task window: "Are you sure?", then the exit window.
    void askToLeave(bool confirmFirst);
    // The closing windows of a run whose model has gone, as after a person's run.
    void closeRoad() { openQuestionnaire(); }
    // The program ends: nothing more opens, and every window of the road closes.
    void stop();
    // Whether the person confirmed leaving in the exit window.
    bool exitConfirmed() const { return m_exitConfirmed; }

signals:
    // The road's last step is over: the next person, or the end of the program.
    void over();
    // Start-up is between two steps: a model's messages wait.
    void betweenSteps(bool between);
    // The person confirmed leaving.
    void exitApproved();
    // The road cannot go on (a setup that cannot be read, a record the operator gave up).
    void failed();
    void quitPressed();

private:
    void onStart(const QString &name);
    bool judgeStart();
    void afterIdentity(const std::optional<QString> &setupId);
    void keepStudyFiles(std::function<void()> next);
    void backToLogin();
    void askAboutName();
    void openConsent();
    void consentGiven(bool agreed);
    void openSubjectForm();
    void recordSubject(const SubjectEntries &entries);
    void recordSitting();
    void recordPersonsRun();
    void recordAnswersOf(StudyQuestionnaire *window);
    void openQuestionnaireBefore();
    void openInstructions();
    void openComprehension();
    void openTask();
    void startPlanned();
    void onPeriodFinished(bool last);
    void startRunAfterPractice();
    void openExitWindow();
    void leavingOver();
    void openQuestionnaire();
    void openEndScreen();
    void finish();
    void refuse(const QString &reason);
    void showLaunchLanguage();
    void choosePersonsLanguage();
    bool moreBlocks() const { return m_block + 1 < m_assignment.conditions.size(); }
    void endBlock();
    void startNextBlock();
    void afterBlockIdentity(const std::optional<QString> &setupId);
    void openBlock();
    void openStep(QDialog *window);
    void closeStep();
    const TaskState &closingState() const;
    void recorded(bool written);

    Study &m_study;
    RunHost &m_runs;
    Database &m_database;
    Dialogs &m_dialogs;
    Seat &m_seat;
    Options m_options;
    QPointer<frmLogin> m_login;
    QPointer<QDialog> m_window; // the step's own window
    int m_step = 0;             // counts the steps, so that a late answer finds its own over
    TaskState m_plan;           // the run the person is about to play
    std::optional<TaskState> m_runAfterPractice;
    std::optional<qint64> m_subjectRowId;
    SittingQuestions m_questions; // before the task, the comprehension check, after it
    QList<StudyPage> m_instructions;
    QString m_versionText;
    QString m_sittingId;
    QString m_chosenLanguage;  // the login's choice; empty: none offered
    Translation m_translation; // the person's language, held for their whole road
    PersonAssignment m_assignment;
    qsizetype m_block = 0;            // of m_assignment.conditions, the one played now
    double m_bonusOfBlocksBefore = 0; // of the earlier blocks of a within-person design
    double m_baseOfBlocksBefore = 0;  // their base payments, when each block pays one
    int m_bandOfBlocksBefore = 0;
    bool m_leaving = false;
    bool m_completedWhileLeaving = false;
    bool m_exitConfirmed = false;
    bool m_stopped = false;
};
