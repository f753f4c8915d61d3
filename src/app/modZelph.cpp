#include "app/program.h"
#include "display/frmKrugel.h"
#include "model/frmZelph.h"
#include "model/protocol.h"
#include "screens/frmLogin.h"

#include <QLineEdit>
#include <QTimer>

namespace {
const QString lineBreak = QStringLiteral("\r\n");
}

void Program::DispatchModelMessage(const QString &text) {
    if (!m_zelph)
        return; // the program is ending
    const bool loggedIn = !m_zelph->Login.isEmpty();
    const protocol::Route route = protocol::route(text, loggedIn);
    if (loggedIn)
        m_zelph->appendReceived(route.text);
    switch (route.kind) {
    case protocol::Route::Kind::Quit:
        EndProgram();
        terminate(0);
        return;
    case protocol::Route::Kind::Terminate:
        // Unloading the connection window closes the socket; this runs inside its handler.
        m_zelph->deleteLater();
        m_zelph = nullptr;
        terminate(0);
        return;
    case protocol::Route::Kind::Reset:
        if (!loggedIn)
            m_state.lastModelCommand = route.text;
        HandleReset();
        return;
    case protocol::Route::Kind::Login:
        HandleLogin(route.text);
        return;
    case protocol::Route::Kind::Decision:
        HandleDecision(route.text);
        return;
    case protocol::Route::Kind::Scenario:
        // Changes nothing and plays nothing: the run's settings, for a model to plan by.
        SendToModel(protocol::scenarioReply(m_state));
        return;
    }
}

void Program::SendToModel(const QString &request) {
    if (!m_zelph || !m_zelph->Linked)
        return;
    const TaskView noView;
    const QString message =
        protocol::outboundText(request, m_state, m_krugel ? m_krugel->view() : noView);
    m_zelph->appendSent(message + lineBreak);
    QString error;
    if (!m_zelph->send(protocol::wireBytes(message), &error)) {
        m_dialogs.inform(QString(), error);
        m_zelph->DropModelConnection();
    }
}

void Program::HandleLogin(const QString &text) {
    const protocol::LoginRequest login = protocol::parseLogin(text);
    if (login.outcome == protocol::LoginRequest::Outcome::Ignored)
        return;
    if (personIsPlaying()) {
        // A person is about to play, or plays: the login changes nothing, not even the mode.
        SendToModel(protocol::badLoginReply(text));
        return;
    }
    m_state.lastModelCommand = text;
    // The name box shows the name a model gave, also when its login is bad.
    if (m_login)
        m_login->nameBox()->setText(login.name);
    protocol::applyRunMode(login, m_state);
    // A model must be named: without a name its run would pass for a person's.
    if (login.outcome == protocol::LoginRequest::Outcome::Bad || login.name.isEmpty()) {
        m_zelph->Login.clear();
        SendToModel(protocol::badLoginReply(text));
        return;
    }
    m_zelph->Login = login.name;
    AcceptLogin();
}

void Program::AcceptLogin() {
    m_zelph->appendReceived(m_zelph->Login + lineBreak);
    m_zelph->appendSent(lineBreak);
    m_zelph->appendToCaption(QStringLiteral(": ") + m_zelph->Login);
    if (!m_login) {
        // A model that logs in after a reconnect, while a run is open, starts a fresh run:
        // the open one was left.
        endRun(RunEnding::Quit);
        closeTaskWindow();
        showLogin();
    }
    m_login->nameBox()->setText(m_zelph->Login);
    m_login->cmdStart_Click();
}

void Program::HandleDecision(const QString &text) {
    const protocol::DecisionRequest decision = protocol::parseDecision(text);
    if (decision.outcome == protocol::DecisionRequest::Outcome::Ignored)
        return;
    if (decision.outcome == protocol::DecisionRequest::Outcome::Bad) {
        SendToModel(protocol::badDecisionReply(text));
        return;
    }
    if (!m_krugel)
        return;
    // Decisions reach here only between periods (readyForMessages), so the close of a
    // running period cannot reset the entry boxes this fills.
    if (decision.ui)
        m_krugel->setEntryText(frmKrugel::Entry::Inflow, protocol::entryText(*decision.ui));
    if (decision.uo)
        m_krugel->setEntryText(frmKrugel::Entry::Outflow, protocol::entryText(*decision.uo));
    protocol::applyEnvironmentFlows(decision, m_state);
    m_zelph->appendReceived(lineBreak);
    m_zelph->appendSent(lineBreak);
    m_zelph->appendToCaption(QStringLiteral(": ") + m_zelph->Login);
    m_krugel->cmdNextTrial_Click();
}

void Program::HandleReset() {
    if (personIsPlaying()) {
        // No model run is open to reset, and the person's road stays as it is.
        m_zelph->Login.clear();
        SendToModel(QString(protocol::ResetAnswer));
        return;
    }
    endRun(RunEnding::Reset);
    m_state.resetRequested = true;
    ResetSimulation();
}

// The connection stays open; the model is logged out and start-up runs again.
void Program::ResetSimulation() {
    m_zelph->Login.clear();
    closeLoginScreen();
    closeTaskWindow();
    SendToModel(QStringLiteral("SIMULATION_RESETED"));
    m_betweenWindows = true;
    QTimer::singleShot(0, this, &Program::Main);
}
