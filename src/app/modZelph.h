#pragma once

#include "core/model/protocol.h"
#include "core/run/runsession.h"

#include <QObject>
#include <QPointer>
#include <QString>

class Dialogs;
class ModelServer;
class Seat;

// The model's seat: reads each message a model sends, plays its decisions on the run being
// played, answers with what the run reports, and holds the model's input while a period runs
// or start-up is between two steps. What concerns the order of windows (a login's Start, a
// reset, the end) is said to the program.
class modZelph : public QObject {
    Q_OBJECT
public:
    modZelph(ModelServer &server, const Seat &seat, Dialogs &dialogs, QObject *parent = nullptr);

    // The name of the logged-in model; empty while none is.
    const QString &login() const { return m_login; }
    void logOut() { m_login.clear(); }
    // The mode the model's logins have named, for its next run.
    const protocol::RunMode &mode() const { return m_mode; }
    // The seed the last good login asked its run to play, if it asked for one.
    std::optional<uint64_t> loginSeed() const { return m_loginSeed; }
    // The pause of each timed step of a BATCH period.
    void setBatchPause(int milliseconds) { m_batchPauseMs = milliseconds; }
    // The run a decision plays and whose periods are reported; none between runs.
    void setRun(RunSession *run);
    // Whether the exchange is logged (for a connection window someone may look at).
    void setLogging(bool logging) { m_logging = logging; }
    // Input waits while start-up is between two steps, and for good once the program stops.
    void setBetweenSteps(bool between);
    void stop();

    void DispatchModelMessage(const QString &text);
    // "BETWEEN": the state message of the period just recorded; "VERSION": the initial state
    // message; anything else as it stands. Nothing is sent while no model is connected.
    void SendToModel(const QString &request);
    // Logs the model out and closes its connection.
    void DropModelConnection();
    bool Linked() const;

signals:
    // A login was accepted: the login screen's Start is due for login().
    void loginAccepted();
    // The name a login gave, good or bad, for the login screen's name box.
    void nameGiven(const QString &name);
    // SIMULATION RESET: the run ends and start-up runs again.
    void resetRequested();
    // QUIT, bare or a logged-in model's quoted one: the end.
    void quitRequested();
    // The exchange, for the connection window.
    void received(const QString &text);
    void sent(const QString &text);
    void captionAppended(const QString &text);

private:
    void HandleLogin(const QString &text);
    void HandleDecision(const QString &text);
    void AcceptLogin();
    void AcceptDecision(const protocol::DecisionRequest &decision);
    void answerBesideAPerson(const protocol::Route &route);
    void onPeriodRecorded(const PeriodReport &report);
    void updateHolding();
    const TaskState &runState() const;

    ModelServer &m_server;
    const Seat &m_seat;
    Dialogs &m_dialogs;
    QString m_login;
    QString m_lastModelCommand; // the last login or reset a logged-out model sent
    protocol::RunMode m_mode;
    std::optional<uint64_t> m_loginSeed;
    int m_batchPauseMs = protocol::BatchDelayMs;
    QPointer<RunSession> m_run;
    PeriodReport m_lastReport;
    bool m_logging = false;
    bool m_betweenSteps = false;
    bool m_stopping = false;
};
