#pragma once

#include "core/model/protocol.h"

#include <QObject>
#include <QString>

class Dialogs;
class ModelServer;
class PeriodRunner;
class Seat;
struct TaskState;

// The model's side of the program: reads each message a model sends, plays its decisions on
// the run being played, and builds what is sent back from the task's numbers. What concerns
// the order of windows (a login's Start, a reset, the end) is said to the program.
class modZelph : public QObject {
    Q_OBJECT
public:
    modZelph(TaskState &state, ModelServer &server, const Seat &seat, Dialogs &dialogs,
             QObject *parent = nullptr);

    // The name of the logged-in model; empty while none is.
    QString Login;

    // The run a decision plays; none between runs.
    void setRunner(PeriodRunner *runner) { m_runner = runner; }
    // Whether the exchange is logged (for a connection window someone may look at).
    void setLogging(bool logging) { m_logging = logging; }

    void DispatchModelMessage(const QString &text);
    // "BETWEEN": the state message of the period just played; "VERSION": the initial state
    // message; anything else as it stands. Nothing is sent while no model is connected.
    void SendToModel(const QString &request);
    // Logs the model out and closes its connection.
    void DropModelConnection();
    bool Linked() const;

signals:
    // A login was accepted: the login screen's Start is due for Login.
    void loginAccepted();
    // The name a login gave, good or bad, for the login screen's name box.
    void nameGiven(const QString &name);
    // SIMULATION RESET: the run ends and start-up runs again.
    void resetRequested();
    // QUIT: the end routine, then the end.
    void quitRequested();
    // A logged-in model's quoted QUIT: the end at once.
    void terminateRequested();
    // The exchange, for the connection window.
    void received(const QString &text);
    void sent(const QString &text);
    void captionAppended(const QString &text);

private:
    void HandleLogin(const QString &text);
    void HandleDecision(const QString &text);
    void HandleReset();
    void AcceptLogin();
    void AcceptDecision(const protocol::DecisionRequest &decision);
    void answerBesideAPerson(const protocol::Route &route);

    TaskState &m_state;
    ModelServer &m_server;
    const Seat &m_seat;
    Dialogs &m_dialogs;
    PeriodRunner *m_runner = nullptr;
    bool m_logging = false;
};
