#pragma once

#include "app/seat.h"
#include "core/common/dialogs.h"
#include "core/recording/database.h"
#include "core/recording/runrecorder.h"
#include "core/setup/conditions.h"
#include "core/setup/questionnairefile.h"
#include "core/setup/setupfile.h"
#include "core/setup/studyfiles.h"
#include "core/setup/taskstate.h"
#include "gui/frmKrugel.h"
#include "gui/frmLogin.h"

#include <QObject>
#include <QPointer>
#include <QRandomGenerator>

#include <functional>
#include <map>
#include <memory>
#include <optional>

class frmZelph;
class modZelph;
class ModelServer;
class PeriodRunner;
class QLockFile;
struct SubjectEntries;

// The program's flow: it creates the core objects and the windows, connects them, decides
// the order of the windows and the end. It owns the task state, the run being played and
// the one record of who has the program (Seat).
class Program : public QObject {
    Q_OBJECT
public:
    Program(QString dataDirectory, Dialogs &dialogs, QObject *parent = nullptr);
    ~Program() override;

    // How the program stops at once; tests replace it to watch it happen.
    void setTerminate(std::function<void(int exitCode)> terminate);
    void setPort(quint16 port) { m_port = port; }
    // The condition every model's run of this instance plays; empty: the rotation decides.
    void setModelCondition(const QString &name) { m_modelCondition = name; }
    // The pause of each timed step of a BATCH period.
    void setBatchPause(int milliseconds) { m_state.batchPauseMs = milliseconds; }
    // The participant's windows fill the screen.
    void setFullScreen(bool fullScreen) { m_fullScreen = fullScreen; }
    // A person's session ends at the login screen, ready for the next person, instead of
    // ending the program.
    void setSessions(bool sessions) { m_sessions = sessions; }
    // The language of the participant's windows whatever the setups name; empty: theirs.
    void setLanguage(const QString &code) { m_commandLineLanguage = code; }

    // Start-up: at the first start the data folder, the setup file and the listening port
    // are made sure of; then the login screen opens (where someone can see it) and the rest
    // follows from Start or from a model's login.
    void Main();
    // The one end-of-program routine: it ends the program, or returns while a model plays.
    void EndProgram();
    // SIGTERM, SIGINT or SIGHUP: a running period closes first, the open run is recorded
    // with the ending "signal", and the program ends with status 0 without opening anything.
    void stopOnSignal();

    TaskState &state() { return m_state; }
    const Seat &seat() const { return m_seat; }
    ModelServer *server() const { return m_server; }
    modZelph *zelph() const { return m_zelph; }
    frmZelph *connectionWindow() const { return m_connectionWindow; }
    frmLogin *login() const { return m_login; }
    frmKrugel *krugel() const { return m_krugel; }
    PeriodRunner *runner() const { return m_runner; }

private:
    bool launch();
    bool lockDataFolder();
    bool setupUsableAtLaunch();
    bool setupUsable(SetupFile &setup, QStringList *languages);
    void showLanguage(const QString &setupLanguage);
    bool listenForModels();
    void connectModelSide();

    void showLogin();
    void personStart(const QString &name);
    void modelStart();
    void modelLeft();
    bool loadScenarioForStart();
    QString conditionForRun(const QString &chosen);
    ConditionRotation &rotation();
    SetupFile &runSetup();
    bool identifyRun();
    void numberRun();
    void warnAboutSilentDelays();
    void refuseStart(const QString &reason);
    bool nameMayBeUsed();
    bool runSubjectForm();
    bool readInstructions(QList<StudyPage> *pages);
    bool showInstructions(const QList<StudyPage> &pages);
    bool readStudyQuestions();
    void recordSubject(const SubjectEntries &entries, const QString &typedVersion);
    void recordPersonsRun();
    void openTaskAfterLogin();
    void continueAfterLogin();
    void planPractice();
    void startRunAfterPractice();
    bool prepareRecording();
    void startRun();
    void showTaskWindow();
    void authenticateExit();
    void showClosingWindows();
    void showQuestionnaire();
    void showEndScreen();
    void askStudyQuestions();
    void askOwnQuestions();
    void ResetSimulation();
    bool sessionOver() const;
    void awaitNextPerson();
    void welcomeNextPerson();

    void onPeriodClosed();
    void onPeriodFinished(bool lastPeriod);
    void writePeriodLine();
    bool endRun(RunEnding ending);
    bool retryWrite(const std::function<bool(QString *)> &write,
                    const std::function<QString()> &what);

    void terminate(int exitCode);
    void end(int exitCode, RunEnding ending);
    void finishStop();
    void updateHolding();
    void closeTaskWindow();
    void closeLoginScreen();
    void fitScreen(QWidget *window) const;

    QString m_dataDirectory;
    Dialogs &m_dialogs;
    TaskState m_state;
    Seat m_seat;
    SetupFile m_setup;
    QString m_warnedSetupId;  // the setup whose delays were last checked at a start
    QStringList m_conditions; // the study's, by name; none: every run plays Setup.txt
    std::map<QString, SetupFile> m_conditionSetups;
    std::optional<ConditionRotation> m_rotation; // read from Runs.txt when first needed
    QString m_modelCondition;
    RunRecorder m_recorder;
    std::optional<TaskState> m_runAfterPractice; // while a person's practice is played
    std::optional<qint64> m_subjectRowId;        // the person's datSubject row, once written
    QRandomGenerator m_random;
    Database m_database;
    std::function<void(int)> m_terminate;
    quint16 m_port;
    std::unique_ptr<QLockFile> m_lock;
    ModelServer *m_server = nullptr;
    modZelph *m_zelph = nullptr;
    frmZelph *m_connectionWindow = nullptr;
    QPointer<frmLogin> m_login;
    QPointer<frmKrugel> m_krugel;
    PeriodRunner *m_runner = nullptr;
    bool m_closingWindowsOpen = false;     // the questionnaire or the end screen
    QList<StudyQuestion> m_studyQuestions; // of Questionnaire.txt, read at a person's Start
    bool m_betweenWindows = false;
    bool m_stopping = false;
    bool m_modelGone = false; // the playing model left while its period ran
    bool m_fullScreen = false;
    bool m_sessions = false;
    bool m_awaitingNextPerson = false; // a session is over; the login opens next
    QString m_commandLineLanguage;
    QString m_launchLanguage; // the one all setups name at launch, else English
};
