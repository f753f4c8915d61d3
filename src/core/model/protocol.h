#pragma once

#include <QByteArray>
#include <QLatin1String>
#include <QString>
#include <QStringList>

#include <cstdint>
#include <optional>

#include "core/engine/periodcycle.h"

struct TaskState;

// The text protocol spoken with a connected model, as pure functions of the received text:
// the connection window feeds in complete messages and acts on what these return.
namespace protocol {

// Inbound keywords, compared exactly (upper case, case-sensitive).
inline constexpr QLatin1String Quit{"QUIT"};
inline constexpr QLatin1String ResetRequest{"SIMULATION RESET"};
inline constexpr QLatin1String Decision{"DECISION"};
inline constexpr QLatin1String Version{"VERSION"};
inline constexpr QLatin1String Batch{"BATCH"};
inline constexpr QLatin1String NonBatch{"NONBATCH"};
inline constexpr QLatin1String ScenarioRequest{"SCENARIO"};
inline constexpr QLatin1String ResultRequest{"RESULT"};

// Outbound answers, and the two requests that SendToModel turns into a state message.
inline constexpr QLatin1String ResetAnswer{"SIMULATION_RESETED"};
inline constexpr QLatin1String EndProgramAnswer{"END_PROGRAM"};
inline constexpr QLatin1String InitialStateRequest{"VERSION"};
inline constexpr QLatin1String PeriodStateRequest{"BETWEEN"};

// Delay steps of the two run modes, in milliseconds.
inline constexpr int32_t BatchDelayMs = 1;
inline constexpr int32_t NonBatchDelayMs = 2000;

// Cuts at every space: n spaces give n + 1 tokens, adjacent spaces an empty token, a leading
// space an empty token 0. A text without any space gives no tokens at all, which every
// handler reads as "ignore this message".
QStringList tokenize(const QString &text);

// A logged-in model may wrap its message in double quotes: when the first and the last
// character are both '"', the text becomes what lies between the first quote and the next
// one (anything after that is dropped). A lone '"' has nothing inside and becomes empty.
QString unquote(const QString &text);

// What the connection window does with one complete message.
struct Route {
    enum class Kind {
        Quit,      // a bare "QUIT": the end-of-program routine runs, then the program ends
        Terminate, // a logged-in model's quoted "QUIT": the program ends at once
        Reset,     // "SIMULATION RESET"
        Login,     // no model logged in: a login attempt (also stored as lastModelCommand)
        Decision,  // a model is logged in: a decision
        Scenario,  // a logged-in model asks for its scenario
        Result     // a logged-in model asks how its run stands
    };
    Kind kind = Kind::Login;
    QString text; // the message to hand on: unquoted for a logged-in model, else as received
};
Route route(const QString &message, bool loggedIn);

struct LoginRequest {
    enum class Outcome { Ignored, Good, Bad };
    Outcome outcome = Outcome::Ignored;
    // Token 1. The login screen's name box receives it even when the login is bad; Login
    // keeps it only when the login is good.
    QString name;
    // Set only where the login changes the run mode: "BATCH" or "NONBATCH" with their delay,
    // or "" (delays untouched) for an unknown mode after VERSION.
    std::optional<QString> versionTag;
    std::optional<int32_t> delayIntervalMs;
    // "SEED n" after the mode: the run plays seed n (1 to 2^53 - 1) in place of the setup's
    // EnvSeed or a fresh one.
    std::optional<uint64_t> seed;
};
// "<any> <name> [VERSION BATCH|NONBATCH [SEED n]]"; later tokens are ignored. A SEED whose
// value is not a whole number from 1 to 2^53 - 1 makes the login bad.
LoginRequest parseLogin(const QString &text);
// The run mode a model's logins have named: the version tag and the delay of both delay
// steps. It outlives each run: a login that names none leaves it as it was.
struct RunMode {
    QString versionTag;
    int32_t delayIntervalMs = NonBatchDelayMs;
};
// Stores the run mode a login names; BATCH pauses last batchPauseMs.
void applyRunMode(const LoginRequest &login, RunMode &mode, int32_t batchPauseMs);
// The same on a task state's versionTag and both delay intervals.
void applyRunMode(const LoginRequest &login, TaskState &state);
// Gives a run about to start the mode.
void playInMode(const RunMode &mode, TaskState &state);

struct DecisionRequest {
    enum class Outcome { Ignored, Good, Bad };
    Outcome outcome = Outcome::Ignored;
    // The last value given for each keyword; a keyword left out changes nothing.
    std::optional<double> ui;
    std::optional<double> uo;
    std::optional<double> ei;
    std::optional<double> eo;
};
// "DECISION" followed by any of "UI" v, "UO" v, "EI" v, "EO" v in any order. Every token is
// examined, value tokens included; a value reads as the token's leading number (0 if none).
// A keyword as the very last token has no value, and a value that is not finite or exceeds
// MaxMagnitude is beyond any tank: either makes the whole decision bad, changing nothing.
DecisionRequest parseDecision(const QString &text);
// Sets the environment's flows of the period about to be played (currentTrial + 1); a value
// for a period past the end of the tables is ignored.
void applyEnvironmentFlows(const DecisionRequest &decision, TaskState &state);

// "SCENARIO MAXTRIAL n GOAL g TOLBELOW b TOLABOVE a DELAYUI i DELAYUO o BONUS p BASE m": the
// run's settings and the delays in force now. Whole-number settings are integers, the others
// the shortest text that reads back as the value.
QString scenarioReply(const TaskState &state);

// "RESULT TIME t INBAND n BONUS b PAYMENT p LAST x": the periods played, those that ended in
// the band, the bonus they earned, base payment plus bonus, and 1 once the last period has
// been played (else 0). Money is the 15-digit value the data files record, written in the
// shortest text that reads back as it.
QString resultReply(const TaskState &state);

// The replies to a message that breaks the grammar, ending in the message itself.
QString badLoginReply(const QString &received);
QString badDecisionReply(const QString &received);

// "STATE TIME t GOAL g AMOUNT a EI v EO v UI v UO v": 15 tokens, no trailing space; the
// goal and the amount are in units and written "00.00", the four flows "00.000" as the
// window's figures show them, or -1 each without flows (the initial state).
QByteArray stateMessage(int time, double goalUnits, double amountUnits,
                        const std::optional<ShownFlows> &flows);
// What SendToModel sends for a request, as the bytes on the wire (one byte per character)
// before the line end: "VERSION" gives the initial state message, "BETWEEN" the state
// message of the period just played; anything else is sent as it stands.
QByteArray outboundText(const QString &request, const TaskState &state);

} // namespace protocol
