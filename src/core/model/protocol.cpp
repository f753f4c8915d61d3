#include "core/model/protocol.h"

#include "core/common/numbers.h"
#include "core/setup/envnoise.h"
#include "core/setup/taskstate.h"

#include <cmath>

namespace protocol {
namespace {

const QChar Quote = QLatin1Char('"');
const QLatin1String SeedKeyword{"SEED"};

// The seed of "SEED n": digits alone, 1 to the largest seed.
std::optional<uint64_t> seedValue(const QString &token) {
    bool digitsOnly = !token.isEmpty() && token.size() <= 16;
    for (const QChar c : token)
        digitsOnly = digitsOnly && c >= QLatin1Char('0') && c <= QLatin1Char('9');
    const uint64_t seed = digitsOnly ? token.toULongLong() : 0;
    if (seed < 1 || seed > envnoise::LargestSeed)
        return std::nullopt;
    return seed;
}

} // namespace

QStringList tokenize(const QString &text) {
    if (!text.contains(QLatin1Char(' ')))
        return {};
    return text.split(QLatin1Char(' '), Qt::KeepEmptyParts);
}

QString unquote(const QString &text) {
    if (text.isEmpty() || text.front() != Quote || text.back() != Quote)
        return text;
    const qsizetype closing = text.indexOf(Quote, 1);
    if (closing < 0)
        return {}; // the text is a lone quote
    return text.mid(1, closing - 1);
}

Route route(const QString &message, bool loggedIn) {
    if (message == Quit)
        return {Route::Kind::Quit, message};
    Route result;
    result.text = loggedIn ? unquote(message) : message;
    if (loggedIn && result.text == Quit)
        result.kind = Route::Kind::Terminate;
    else if (result.text == ResetRequest)
        result.kind = Route::Kind::Reset;
    else if (loggedIn && result.text == ScenarioRequest)
        result.kind = Route::Kind::Scenario;
    else if (loggedIn && result.text == ResultRequest)
        result.kind = Route::Kind::Result;
    else
        result.kind = loggedIn ? Route::Kind::Decision : Route::Kind::Login;
    return result;
}

LoginRequest parseLogin(const QString &text) {
    LoginRequest login;
    const QStringList tokens = tokenize(text);
    if (tokens.isEmpty())
        return login;
    login.name = tokens.at(1);
    if (tokens.size() == 2) {
        login.outcome = LoginRequest::Outcome::Good;
        return login;
    }
    login.outcome = LoginRequest::Outcome::Bad;
    if (tokens.at(2) != Version || tokens.size() < 4)
        return login;
    const QString &mode = tokens.at(3);
    if (mode == Batch) {
        login.versionTag = QString(Batch);
        login.delayIntervalMs = BatchDelayMs;
    } else if (mode == NonBatch) {
        login.versionTag = QString(NonBatch);
        login.delayIntervalMs = NonBatchDelayMs;
    } else {
        login.versionTag = QString();
        return login;
    }
    if (tokens.size() > 4 && tokens.at(4) == SeedKeyword) {
        login.seed = tokens.size() > 5 ? seedValue(tokens.at(5)) : std::nullopt;
        if (!login.seed)
            return login;
    }
    login.outcome = LoginRequest::Outcome::Good;
    return login;
}

void applyRunMode(const LoginRequest &login, RunMode &mode, int32_t batchPauseMs) {
    if (login.versionTag)
        mode.versionTag = *login.versionTag;
    if (login.delayIntervalMs)
        mode.delayIntervalMs = mode.versionTag == Batch ? batchPauseMs : *login.delayIntervalMs;
}

void applyRunMode(const LoginRequest &login, TaskState &state) {
    RunMode mode{state.versionTag, state.userDelayInterval};
    applyRunMode(login, mode, state.batchPauseMs);
    if (login.delayIntervalMs || login.versionTag)
        playInMode(mode, state);
}

void playInMode(const RunMode &mode, TaskState &state) {
    state.versionTag = mode.versionTag;
    state.userDelayInterval = mode.delayIntervalMs;
    state.envDelayInterval = mode.delayIntervalMs;
}

DecisionRequest parseDecision(const QString &text) {
    DecisionRequest decision;
    if (!text.contains(QLatin1Char(' ')))
        return decision; // no tokens, as tokenize() reads it
    // Views into the text: a model's pause-free run sends thousands of decisions a second.
    const QList<QStringView> tokens = QStringView(text).split(QLatin1Char(' '));
    decision.outcome = DecisionRequest::Outcome::Bad;
    if (tokens.at(0) != Decision)
        return decision;
    DecisionRequest values;
    values.outcome = DecisionRequest::Outcome::Good;
    const auto slotFor = [&values](QStringView token) -> std::optional<double> * {
        if (token == QLatin1String("UI"))
            return &values.ui;
        if (token == QLatin1String("UO"))
            return &values.uo;
        if (token == QLatin1String("EI"))
            return &values.ei;
        if (token == QLatin1String("EO"))
            return &values.eo;
        return nullptr;
    };
    for (qsizetype k = 1; k < tokens.size(); ++k) {
        std::optional<double> *slot = slotFor(tokens.at(k));
        if (!slot)
            continue;
        if (k + 1 >= tokens.size())
            return decision; // a keyword without its value
        const double value = numbers::leadingNumber(tokens.at(k + 1));
        if (!(std::abs(value) <= MaxMagnitude))
            return decision; // not finite, or beyond any tank: nothing is played
        *slot = value;
    }
    return values;
}

void applyEnvironmentFlows(const DecisionRequest &decision, TaskState &state) {
    if (decision.outcome != DecisionRequest::Outcome::Good)
        return;
    SetEnvironmentFlows(state, decision.ei, decision.eo);
}

QString scenarioReply(const TaskState &state) {
    // The goal as the data file writes it: 15 digits drop what the scale's arithmetic added.
    const double goal = numbers::asRecorded(state.GoalLinePoisition / state.unitHeight);
    return QStringLiteral("SCENARIO MAXTRIAL %1 GOAL %2 TOLBELOW %3 TOLABOVE %4 DELAYUI %5 "
                          "DELAYUO %6 BONUS %7 BASE %8")
        .arg(QString::number(state.MaxTrial), numbers::roundTrip(goal),
             numbers::roundTrip(state.goalToleranceBelow),
             numbers::roundTrip(state.goalToleranceAbove), QString::number(state.inFlowTPAfter),
             QString::number(state.outFlowTPAfter), numbers::roundTrip(state.bonusPerPeriod),
             numbers::roundTrip(state.basePayment));
}

QString resultReply(const TaskState &state) {
    const double bonus = numbers::asRecorded(state.periodsInBand * state.bonusPerPeriod);
    const bool last = state.currentTrial >= state.MaxTrial;
    return QStringLiteral("RESULT TIME %1 INBAND %2 BONUS %3 PAYMENT %4 LAST %5")
        .arg(QString::number(state.currentTrial), QString::number(state.periodsInBand),
             numbers::roundTrip(bonus), numbers::roundTrip(numbers::asRecorded(state.TotalBonus)),
             last ? QStringLiteral("1") : QStringLiteral("0"));
}

QString badLoginReply(const QString &received) {
    return QStringLiteral("Bad login. Format: ") +
           QStringLiteral("[ENTRY-ID] <id_name> [VERSION] [BATCH/NONBATCH] ") +
           QStringLiteral("Received:") + received;
}

QString badDecisionReply(const QString &received) {
    // Only UI and UO carry brackets and " <ei_value>" runs into "EO": models already in use
    // expect this text byte for byte.
    return QStringLiteral("Bad decision format. Format: ") + QStringLiteral("[decision] [") +
           QStringLiteral("UI") + QStringLiteral("] <ui_value> ") + QStringLiteral("[") +
           QStringLiteral("UO") + QStringLiteral("]") + QStringLiteral(" <uo_value> ") +
           QStringLiteral("EI") + QStringLiteral(" <ei_value>") + QStringLiteral("EO") +
           QStringLiteral(" <eo_value>") + QStringLiteral("Received:") + received;
}

QByteArray stateMessage(int time, double goalUnits, double amountUnits,
                        const std::optional<ShownFlows> &flows) {
    std::string text = "STATE TIME ";
    numbers::appendWhole(text, time);
    text.append(" GOAL ");
    numbers::appendStateAmount(text, goalUnits);
    text.append(" AMOUNT ");
    numbers::appendStateAmount(text, amountUnits);
    const std::pair<const char *, double> named[] = {{" EI ", flows ? flows->envInflow : 0},
                                                     {" EO ", flows ? flows->envOutflow : 0},
                                                     {" UI ", flows ? flows->userInflow : 0},
                                                     {" UO ", flows ? flows->userOutflow : 0}};
    for (const auto &[name, value] : named) {
        text.append(name);
        if (flows)
            numbers::appendFigure(text, value);
        else
            text.append("-1");
    }
    return QByteArray(text.data(), static_cast<qsizetype>(text.size()));
}

QByteArray outboundText(const QString &request, const TaskState &state) {
    const double goal = state.GoalLinePoisition / state.unitHeight;
    const double amount = state.Amount / state.unitHeight;
    if (request == InitialStateRequest)
        return stateMessage(state.currentTrial, goal, amount, std::nullopt);
    if (request == PeriodStateRequest)
        return stateMessage(state.currentTrial, goal, amount, FlowsShown(state));
    return request.toLatin1();
}

} // namespace protocol
