#pragma once

#include "app/dialogs.h"
#include "display/frmKrugel.h"
#include "recording/database.h"
#include "recording/datafile.h"
#include "recording/runfile.h"
#include "screens/frmLogin.h"
#include "setup/taskstate.h"

#include <QObject>
#include <QPointer>
#include <QRandomGenerator>

#include <functional>
#include <memory>

class frmZelph;

// The program's start-up, its order of windows and its end, and the model protocol's
// actions: it owns the shared task state and every window.
class Program : public QObject {
    Q_OBJECT
public:
    Program(QString dataDirectory, Dialogs &dialogs, QObject *parent = nullptr);
    ~Program() override;

    // How the program stops at once; tests replace it to watch it happen.
    void setTerminate(std::function<void(int exitCode)> terminate);
    void setPort(quint16 port) { m_port = port; }
    // The pause of each timed step of a BATCH period.
    void setBatchPause(int milliseconds) { m_state.batchPauseMs = milliseconds; }

    // Start-up: opens the connection window on first start, then the login screen; the
    // rest follows from the login screen's Start.
    void Main();
    // The one end-of-program routine: terminates, or returns while a model is connected.
    void EndProgram();

    TaskState &state() { return m_state; }
    frmZelph *zelph() const { return m_zelph; }
    frmLogin *login() const { return m_login; }
    frmKrugel *krugel() const { return m_krugel; }

    // Model protocol.
    void DispatchModelMessage(const QString &text);
    void SendToModel(const QString &request);

private:
    bool openConnectionWindow();
    bool setupUsableAtLaunch();
    void refuseStart(const QString &reason);
    void showQuestionnaire();
    void showLogin();
    void continueAfterLogin();
    bool LoadScenario();
    bool nameMayBeUsed();
    bool runSubjectForm();
    bool authenticateExit();
    void writePeriodLine();
    void countPeriod(const QDate &date, qint64 dataLine);
    void endRun(RunEnding ending);
    bool personIsPlaying() const;
    void terminate(int exitCode);
    bool readyForMessages() const;
    void settle();

    void HandleLogin(const QString &text);
    void HandleDecision(const QString &text);
    void HandleReset();
    void AcceptLogin();
    void ResetSimulation();
    void closeTaskWindow();
    void closeLoginScreen();

    QString m_dataDirectory;
    Dialogs &m_dialogs;
    TaskState m_state;
    QRandomGenerator m_random;
    Database m_database;
    std::function<void(int)> m_terminate;
    quint16 m_port;
    frmZelph *m_zelph = nullptr;
    QPointer<frmLogin> m_login;
    QPointer<frmKrugel> m_krugel;
    bool m_questionnaireOpen = false;
    // While a person fills in the subject form or plays, a model can neither log in nor
    // reset: the person's road goes on untouched.
    bool m_subjectFormOpen = false;
    bool m_personPlays = false;
    // The run being played, from its first period's line until its record is written.
    struct OpenRun {
        bool open = false;
        QDate date;
        QTime startTime;
        qint64 firstDataLine = 0;
        int periodsPlayed = 0;
        int periodsInBand = 0;
    };
    OpenRun m_run;
    LineCount m_dataLines;
    bool m_betweenWindows = false;
};
