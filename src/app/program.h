#pragma once

#include "app/lifetime.h"
#include "app/runhost.h"
#include "app/seat.h"
#include "app/sitting.h"
#include "core/common/dialogs.h"
#include "core/model/modelserver.h"
#include "core/recording/database.h"
#include "core/setup/study.h"

#include <QObject>
#include <QPointer>

#include <optional>

class frmZelph;
class modZelph;

// The program: it creates the core objects and the windows, connects them, and decides who
// has the program (Seat) and how it ends. The person's road is the Sitting's, a run's life
// the RunHost's, the model's messages the model's seat's (modZelph).
class Program : public QObject {
    Q_OBJECT
public:
    struct Options {
        quint16 port = ModelServer::defaultPort;
        QString modelCondition; // every model's run plays it; empty: the rotation decides
        int batchPauseMs = 1;
        bool fullScreen = false;
        bool sessions = false;
        QString language;
        // The pause of each delay step of a person's period; none: the design's 2 seconds.
        std::optional<int> personPauseMs;
    };
    Program(QString dataDirectory, Dialogs &dialogs, Options options, QObject *parent = nullptr);
    ~Program() override;

    // Start-up: the data folder, the setups and the listening port are made sure of, then
    // the login screen opens (where someone can see it). False when the program cannot run:
    // its message is shown, and the event loop ends with status 1 once it is read.
    bool start();
    // SIGTERM, SIGINT or SIGHUP: a running period closes first, the open run is recorded
    // with the ending "signal", and the program ends with status 0 without opening anything.
    void stopOnSignal();

    const Seat &seat() const { return m_seat; }
    ModelServer *server() const { return m_server; }
    modZelph *zelph() const { return m_zelph; }
    frmZelph *connectionWindow() const { return m_connectionWindow; }
    Sitting *sitting() const { return m_sitting; }
    RunHost &runs() { return m_runs; }

signals:
    // The program ends with `status`: its files are closed and the event loop is told.
    void finished(int status);

private:
    bool launch();
    void failAtStart(const QString &title, const QString &text, Dialogs::Icon icon);
    void connectModelSide();
    void showConnectionWindow();
    void connectSitting();
    void Main();

    void modelStart();
    void startModelRun();
    void continueModelRun();
    void refuseModel(const QString &reason);
    void modelLeft();
    void onPeriodFinished(bool last);
    void ResetSimulation();
    void afterRun(bool recorded);

    void personDone();
    void nextPerson();
    void exitApproved();
    void quitFromLogin();
    void end(int status, RunEnding ending);
    void endNow(int status);

    QString m_dataDirectory;
    Dialogs &m_dialogs;
    Options m_options;
    Lifetime m_lifetime;
    Study m_study;
    RunHost m_runs;
    Database m_database;
    Seat m_seat;
    ModelServer *m_server = nullptr;
    modZelph *m_zelph = nullptr;
    Sitting *m_sitting = nullptr;
    frmZelph *m_connectionWindow = nullptr;
    std::optional<TaskState> m_modelPlan; // a model's run about to start
    struct PendingEnd {
        int status;
        RunEnding ending;
    };
    std::optional<PendingEnd> m_pendingEnd; // waits for the running period's close
    QString m_launchLanguage;
    bool m_stopping = false;
    bool m_modelGone = false;       // the playing model left while its period ran
    bool m_exitConfirmed = false;   // the exit window approved a model's run's end
    bool m_starting = false;        // a model's run is between its login and its first period
    bool m_modelRunClosing = false; // a gone model's run shows the closing windows
};
