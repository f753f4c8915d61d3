#include "app/modZelph.h"

#include "app/seat.h"
#include "core/common/dialogs.h"
#include "core/model/modelserver.h"
#include "core/recording/datafile.h"

namespace {

const QString lineBreak = QStringLiteral("\r\n");

} // namespace

modZelph::modZelph(ModelServer &server, const Seat &seat, Dialogs &dialogs, QObject *parent)
    : QObject(parent)
    , m_server(server)
    , m_seat(seat)
    , m_dialogs(dialogs) {
    connect(&m_server, &ModelServer::disconnected, this, [this] { m_login.clear(); });
}

bool modZelph::Linked() const {
    return m_server.linked();
}

void modZelph::setRun(RunSession *run) {
    if (m_run)
        disconnect(m_run, nullptr, this, nullptr);
    m_run = run;
    if (run) {
        connect(run, &RunSession::periodStarted, this, &modZelph::updateHolding);
        connect(run, &RunSession::periodRecorded, this, &modZelph::onPeriodRecorded);
        connect(run, &RunSession::periodFinished, this, &modZelph::updateHolding);
        connect(run, &RunSession::nothingToPlay, this,
                [this] { SendToModel(QString(protocol::EndProgramAnswer)); });
    }
    updateHolding();
}

void modZelph::setBetweenSteps(bool between) {
    m_betweenSteps = between;
    updateHolding();
}

void modZelph::stop() {
    m_stopping = true;
    updateHolding();
}

// Messages wait, in order, while start-up is between two steps and while a period runs: a
// decision, reset or QUIT sent right after the state message must not cut into the period.
// Once the program is stopping, nothing more is taken in.
void modZelph::updateHolding() {
    m_server.setHolding(m_stopping || m_betweenSteps || (m_run && m_run->busy()));
}

// The period's line is written before a model hears of the period: a model told about
// period n always finds n lines, whenever the program is stopped.
void modZelph::onPeriodRecorded(const PeriodReport &report) {
    m_lastReport = report;
    if (!m_login.isEmpty())
        SendToModel(QString(protocol::PeriodStateRequest));
}

void modZelph::DispatchModelMessage(const QString &text) {
    const bool loggedIn = !m_login.isEmpty();
    const protocol::Route route = protocol::route(text, loggedIn);
    if (m_seat.personHasProgram()) {
        answerBesideAPerson(route);
        return;
    }
    if (loggedIn && m_logging)
        emit received(route.text);
    switch (route.kind) {
    case protocol::Route::Kind::Quit:
    case protocol::Route::Kind::Terminate:
        emit quitRequested();
        return;
    case protocol::Route::Kind::Reset:
        if (!loggedIn)
            m_lastModelCommand = route.text;
        emit resetRequested();
        return;
    case protocol::Route::Kind::Login:
        HandleLogin(route.text);
        return;
    case protocol::Route::Kind::Decision:
        HandleDecision(route.text);
        return;
    case protocol::Route::Kind::Scenario:
        // Changes nothing and plays nothing: the run's settings, for a model to plan by.
        SendToModel(protocol::scenarioReply(runState()));
        return;
    case protocol::Route::Kind::Result:
        // Changes nothing either: how the run stands, with the payment and its end.
        SendToModel(protocol::resultReply(runState()));
        return;
    }
}

const TaskState &modZelph::runState() const {
    static const TaskState none;
    return m_run ? m_run->state() : none;
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
    m_lastModelCommand = text;
    // The name box shows the name a model gave, also when its login is bad.
    emit nameGiven(login.name);
    protocol::applyRunMode(login, m_mode, m_batchPauseMs);
    // A model must be named: without a name its run would pass for a person's.
    if (login.outcome == protocol::LoginRequest::Outcome::Bad || login.name.isEmpty() ||
        !FitsDataFiles(login.name)) {
        m_login.clear();
        m_loginSeed.reset();
        SendToModel(protocol::badLoginReply(text));
        return;
    }
    m_login = login.name;
    m_loginSeed = login.seed;
    AcceptLogin();
}

void modZelph::AcceptLogin() {
    if (m_logging) {
        emit received(m_login + lineBreak);
        emit sent(lineBreak);
        emit captionAppended(QStringLiteral(": ") + m_login);
    }
    emit loginAccepted();
}

void modZelph::HandleDecision(const QString &text) {
    const protocol::DecisionRequest decision = protocol::parseDecision(text);
    if (decision.outcome == protocol::DecisionRequest::Outcome::Ignored)
        return;
    // Without a run loaded the model hears so at once rather than wait for ever.
    if (decision.outcome == protocol::DecisionRequest::Outcome::Bad || !m_run) {
        SendToModel(protocol::badDecisionReply(text));
        return;
    }
    AcceptDecision(decision);
}

// A flow the decision leaves out plays what its entry box holds between periods: 0. Input
// waits while a period runs, so a decision always meets a run that takes it.
void modZelph::AcceptDecision(const protocol::DecisionRequest &decision) {
    if (m_logging) {
        emit received(lineBreak);
        emit sent(lineBreak);
        emit captionAppended(QStringLiteral(": ") + m_login);
    }
    m_run->submit(
        {decision.ui.value_or(0.0), decision.uo.value_or(0.0), true, decision.ei, decision.eo});
}

void modZelph::SendToModel(const QString &request) {
    if (!m_server.linked())
        return;
    QByteArray message;
    if (request == protocol::InitialStateRequest && m_run) {
        const PeriodReport start = m_run->report(false);
        message = protocol::stateMessage(start.time, start.goalUnits, start.amountUnits, {});
    } else if (request == protocol::PeriodStateRequest) {
        message = protocol::stateMessage(m_lastReport.time, m_lastReport.goalUnits,
                                         m_lastReport.amountUnits, m_lastReport.flows);
    } else {
        message = request.toLatin1();
    }
    if (m_logging)
        emit sent(QString::fromLatin1(message) + lineBreak);
    QString error;
    // On failure the server drops the connection once the messages the model sent before
    // are handed on.
    if (!m_server.send(message + "\r\n", &error))
        m_dialogs.inform(QString(), error);
}

void modZelph::DropModelConnection() {
    m_login.clear();
    m_server.drop();
}
