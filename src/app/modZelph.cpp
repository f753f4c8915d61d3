#include "app/modZelph.h"

#include "app/seat.h"
#include "core/common/dialogs.h"
#include "core/engine/periodrunner.h"
#include "core/model/modelserver.h"
#include "core/recording/datafile.h"
#include "core/setup/taskstate.h"

namespace {

const QString lineBreak = QStringLiteral("\r\n");

} // namespace

modZelph::modZelph(TaskState &state, ModelServer &server, const Seat &seat, Dialogs &dialogs,
                   QObject *parent)
    : QObject(parent)
    , m_state(state)
    , m_server(server)
    , m_seat(seat)
    , m_dialogs(dialogs) {
    connect(&m_server, &ModelServer::disconnected, this, [this] { Login.clear(); });
}

bool modZelph::Linked() const {
    return m_server.linked();
}

void modZelph::DispatchModelMessage(const QString &text) {
    const bool loggedIn = !Login.isEmpty();
    const protocol::Route route = protocol::route(text, loggedIn);
    if (m_seat.personHasProgram()) {
        answerBesideAPerson(route);
        return;
    }
    if (loggedIn && m_logging)
        emit received(route.text);
    switch (route.kind) {
    case protocol::Route::Kind::Quit:
        emit quitRequested();
        return;
    case protocol::Route::Kind::Terminate:
        emit terminateRequested();
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
    case protocol::Route::Kind::Result:
        // Changes nothing either: how the run stands, with the payment and its end.
        SendToModel(protocol::resultReply(m_state));
        return;
    }
}

// A person has the program: a model is answered as a logged-out one, but nothing it sends
// changes the person's road. Its login is refused, a reset is only answered, and QUIT ends
// its own connection, not the person's run.
void modZelph::answerBesideAPerson(const protocol::Route &route) {
    switch (route.kind) {
    case protocol::Route::Kind::Quit:
        DropModelConnection();
        return;
    case protocol::Route::Kind::Reset:
        SendToModel(QString(protocol::ResetAnswer));
        return;
    default:
        if (protocol::parseLogin(route.text).outcome != protocol::LoginRequest::Outcome::Ignored)
            SendToModel(protocol::badLoginReply(route.text));
        return;
    }
}

void modZelph::HandleLogin(const QString &text) {
    const protocol::LoginRequest login = protocol::parseLogin(text);
    if (login.outcome == protocol::LoginRequest::Outcome::Ignored)
        return;
    m_state.lastModelCommand = text;
    // The name box shows the name a model gave, also when its login is bad.
    emit nameGiven(login.name);
    protocol::applyRunMode(login, m_state);
    // A model must be named: without a name its run would pass for a person's.
    if (login.outcome == protocol::LoginRequest::Outcome::Bad || login.name.isEmpty() ||
        !FitsDataFiles(login.name)) {
        Login.clear();
        SendToModel(protocol::badLoginReply(text));
        return;
    }
    Login = login.name;
    AcceptLogin();
}

void modZelph::AcceptLogin() {
    if (m_logging) {
        emit received(Login + lineBreak);
        emit sent(lineBreak);
        emit captionAppended(QStringLiteral(": ") + Login);
    }
    emit loginAccepted();
}

void modZelph::HandleDecision(const QString &text) {
    const protocol::DecisionRequest decision = protocol::parseDecision(text);
    if (decision.outcome == protocol::DecisionRequest::Outcome::Ignored)
        return;
    if (decision.outcome == protocol::DecisionRequest::Outcome::Bad) {
        SendToModel(protocol::badDecisionReply(text));
        return;
    }
    if (!m_runner) {
        // No run is loaded to play it: the model hears so at once rather than wait for ever.
        SendToModel(protocol::badDecisionReply(text));
        return;
    }
    protocol::applyEnvironmentFlows(decision, m_state);
    AcceptDecision(decision);
}

// A flow the decision leaves out plays what its entry box holds between periods: 0. Input
// waits while a period runs, so a decision always meets a runner that takes it.
void modZelph::AcceptDecision(const protocol::DecisionRequest &decision) {
    if (m_logging) {
        emit received(lineBreak);
        emit sent(lineBreak);
        emit captionAppended(QStringLiteral(": ") + Login);
    }
    m_runner->submit({decision.ui.value_or(0.0), decision.uo.value_or(0.0), true});
}

void modZelph::HandleReset() {
    emit resetRequested();
}

void modZelph::SendToModel(const QString &request) {
    if (!m_server.linked())
        return;
    const QByteArray message = protocol::outboundText(request, m_state);
    if (m_logging)
        emit sent(QString::fromLatin1(message) + lineBreak);
    QString error;
    // On failure the server drops the connection once the messages the model sent before
    // are handed on.
    if (!m_server.send(message + "\r\n", &error))
        m_dialogs.inform(QString(), error);
}

void modZelph::DropModelConnection() {
    Login.clear();
    m_server.drop();
}
