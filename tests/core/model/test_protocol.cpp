#include "core/common/numbers.h"
#include "core/engine/taskview.h"
#include "core/model/protocol.h"
#include "core/setup/taskstate.h"

#include <QtTest>

using protocol::DecisionRequest;
using protocol::LoginRequest;
using protocol::Route;

Q_DECLARE_METATYPE(Route::Kind)
Q_DECLARE_METATYPE(LoginRequest::Outcome)
Q_DECLARE_METATYPE(DecisionRequest::Outcome)

namespace {

QVariant given(const std::optional<double> &value) {
    return value ? QVariant(*value) : QVariant();
}

QVariant given(const std::optional<QString> &value) {
    return value ? QVariant(*value) : QVariant();
}

QVariant given(const std::optional<int32_t> &value) {
    return value ? QVariant(*value) : QVariant();
}

const QVariant none;

// A task of five periods, laid out on a scale of 360 twips per unit.
TaskState fivePeriodTask() {
    TaskState state;
    state.MaxTrial = 5;
    state.EnvInflow.assign(6, 0.0);
    state.EnvOutflow.assign(6, 0.0);
    state.unitHeight = 360;
    state.GoalLinePoisition = 4 * state.unitHeight;
    state.Amount = 2 * state.unitHeight;
    return state;
}

} // namespace

class TestProtocol : public QObject {
    Q_OBJECT

private slots:
    void tokenize_data();
    void tokenize();
    void unquote_data();
    void unquote();
    void route_data();
    void route();
    void parseLogin_data();
    void parseLogin();
    void loginSeed();
    void runModeSurvivesLoginsWithoutMode();
    void parseDecision_data();
    void parseDecision();
    void environmentFlowsGoToTheComingPeriod();
    void replies_data();
    void replies();
    void stateMessage_data();
    void stateMessage();
    void outboundText_data();
    void outboundText();
};

void TestProtocol::tokenize_data() {
    QTest::addColumn<QString>("text");
    QTest::addColumn<QStringList>("tokens");
    QTest::newRow("no space gives no tokens") << QStringLiteral("QUIT") << QStringList();
    QTest::newRow("empty text gives no tokens") << QString() << QStringList();
    QTest::newRow("one space, two tokens")
        << QStringLiteral("SIMULATION RESET")
        << QStringList{QStringLiteral("SIMULATION"), QStringLiteral("RESET")};
    QTest::newRow("adjacent spaces give an empty token")
        << QStringLiteral("A  B")
        << QStringList{QStringLiteral("A"), QString(), QStringLiteral("B")};
    QTest::newRow("leading space gives empty token 0")
        << QStringLiteral(" A") << QStringList{QString(), QStringLiteral("A")};
    QTest::newRow("trailing space gives an empty last token")
        << QStringLiteral("A ") << QStringList{QStringLiteral("A"), QString()};
    QTest::newRow("only a space") << QStringLiteral(" ") << QStringList{QString(), QString()};
    QTest::newRow("tabs do not cut")
        << QStringLiteral("A\tB C") << QStringList{QStringLiteral("A\tB"), QStringLiteral("C")};
}

void TestProtocol::tokenize() {
    QFETCH(QString, text);
    QFETCH(QStringList, tokens);
    QCOMPARE(protocol::tokenize(text), tokens);
}

void TestProtocol::unquote_data() {
    QTest::addColumn<QString>("text");
    QTest::addColumn<QString>("expected");
    QTest::newRow("plain text unchanged")
        << QStringLiteral("DECISION UI 3") << QStringLiteral("DECISION UI 3");
    QTest::newRow("quotes removed")
        << QStringLiteral("\"DECISION UI 3\"") << QStringLiteral("DECISION UI 3");
    QTest::newRow("text after the second quote dropped")
        << QStringLiteral("\"DECISION UI 3\" UO 9\"") << QStringLiteral("DECISION UI 3");
    QTest::newRow("lone quote becomes empty") << QStringLiteral("\"") << QString();
    QTest::newRow("two quotes become empty") << QStringLiteral("\"\"") << QString();
    QTest::newRow("opening quote only unchanged")
        << QStringLiteral("\"DECISION UI 3") << QStringLiteral("\"DECISION UI 3");
    QTest::newRow("closing quote only unchanged")
        << QStringLiteral("DECISION UI 3\"") << QStringLiteral("DECISION UI 3\"");
    QTest::newRow("empty text") << QString() << QString();
}

void TestProtocol::unquote() {
    QFETCH(QString, text);
    QFETCH(QString, expected);
    QCOMPARE(protocol::unquote(text), expected);
}

void TestProtocol::route_data() {
    QTest::addColumn<QString>("message");
    QTest::addColumn<bool>("loggedIn");
    QTest::addColumn<Route::Kind>("kind");
    QTest::addColumn<QString>("text");
    const QString quit = QStringLiteral("QUIT");
    const QString reset = QStringLiteral("SIMULATION RESET");
    const QString login = QStringLiteral("ENTRY-ID alpha VERSION BATCH");
    const QString decision = QStringLiteral("DECISION UI 3");
    const auto quoted = [](const QString &text) {
        return QLatin1Char('"') + text + QLatin1Char('"');
    };

    QTest::newRow("bare quit before login") << quit << false << Route::Kind::Quit << quit;
    QTest::newRow("bare quit while logged in") << quit << true << Route::Kind::Quit << quit;
    QTest::newRow("quoted quit while logged in")
        << quoted(quit) << true << Route::Kind::Terminate << quit;
    QTest::newRow("quoted quit before login is a login attempt")
        << quoted(quit) << false << Route::Kind::Login << quoted(quit);
    QTest::newRow("reset before login") << reset << false << Route::Kind::Reset << reset;
    QTest::newRow("reset while logged in") << reset << true << Route::Kind::Reset << reset;
    QTest::newRow("quoted reset while logged in")
        << quoted(reset) << true << Route::Kind::Reset << reset;
    QTest::newRow("login") << login << false << Route::Kind::Login << login;
    QTest::newRow("quoted login not unquoted")
        << quoted(login) << false << Route::Kind::Login << quoted(login);
    QTest::newRow("decision") << decision << true << Route::Kind::Decision << decision;
    QTest::newRow("quoted decision unquoted")
        << quoted(decision) << true << Route::Kind::Decision << decision;
    QTest::newRow("lone quote while logged in is an empty decision")
        << QStringLiteral("\"") << true << Route::Kind::Decision << QString();
    QTest::newRow("empty message before login")
        << QString() << false << Route::Kind::Login << QString();
    QTest::newRow("lower-case quit is not quit")
        << QStringLiteral("quit") << true << Route::Kind::Decision << QStringLiteral("quit");
}

void TestProtocol::route() {
    QFETCH(QString, message);
    QFETCH(bool, loggedIn);
    QFETCH(Route::Kind, kind);
    QFETCH(QString, text);
    const Route result = protocol::route(message, loggedIn);
    QCOMPARE(result.kind, kind);
    QCOMPARE(result.text, text);
}

void TestProtocol::parseLogin_data() {
    QTest::addColumn<QString>("text");
    QTest::addColumn<LoginRequest::Outcome>("outcome");
    QTest::addColumn<QString>("name");
    QTest::addColumn<QVariant>("versionTag");
    QTest::addColumn<QVariant>("delay");
    const auto good = LoginRequest::Outcome::Good;
    const auto bad = LoginRequest::Outcome::Bad;
    const QString alpha = QStringLiteral("alpha");
    const QVariant emptyTag = QVariant(QString());

    QTest::newRow("no space is ignored")
        << QStringLiteral("alpha") << LoginRequest::Outcome::Ignored << QString() << none << none;
    QTest::newRow("batch") << QStringLiteral("ENTRY-ID alpha VERSION BATCH") << good << alpha
                           << QVariant(QStringLiteral("BATCH")) << QVariant(1);
    QTest::newRow("nonbatch") << QStringLiteral("ENTRY-ID alpha VERSION NONBATCH") << good << alpha
                              << QVariant(QStringLiteral("NONBATCH")) << QVariant(2000);
    QTest::newRow("name only is accepted and keeps the mode")
        << QStringLiteral("ENTRY-ID alpha") << good << alpha << none << none;
    QTest::newRow("token 0 is not checked")
        << QStringLiteral("HELLO alpha VERSION BATCH") << good << alpha
        << QVariant(QStringLiteral("BATCH")) << QVariant(1);
    QTest::newRow("tokens after the mode are ignored")
        << QStringLiteral("ENTRY-ID alpha VERSION BATCH and more") << good << alpha
        << QVariant(QStringLiteral("BATCH")) << QVariant(1);
    QTest::newRow("empty name counts as good")
        << QStringLiteral("ENTRY-ID ") << good << QString() << none << none;
    QTest::newRow("unknown mode empties the tag")
        << QStringLiteral("ENTRY-ID alpha VERSION TURBO") << bad << alpha << emptyTag << none;
    QTest::newRow("lower-case mode is unknown")
        << QStringLiteral("ENTRY-ID alpha VERSION batch") << bad << alpha << emptyTag << none;
    QTest::newRow("carriage return after the mode is unknown")
        << QStringLiteral("ENTRY-ID alpha VERSION BATCH\r") << bad << alpha << emptyTag << none;
    QTest::newRow("MODE instead of VERSION leaves the tag")
        << QStringLiteral("ENTRY-ID alpha MODE BATCH") << bad << alpha << none << none;
    QTest::newRow("VERSION without a mode")
        << QStringLiteral("ENTRY-ID alpha VERSION") << bad << alpha << none << none;
    QTest::newRow("empty token 2")
        << QStringLiteral("ENTRY-ID alpha  BATCH") << bad << alpha << none << none;
    QTest::newRow("quoted login is not unquoted")
        << QStringLiteral("\"ENTRY-ID alpha VERSION BATCH\"") << bad << alpha << emptyTag << none;
}

void TestProtocol::parseLogin() {
    QFETCH(QString, text);
    QFETCH(LoginRequest::Outcome, outcome);
    QFETCH(QString, name);
    QFETCH(QVariant, versionTag);
    QFETCH(QVariant, delay);
    const LoginRequest login = protocol::parseLogin(text);
    QCOMPARE(login.outcome, outcome);
    QCOMPARE(login.name, name);
    QCOMPARE(given(login.versionTag), versionTag);
    QCOMPARE(given(login.delayIntervalMs), delay);
}

// "SEED n" after the mode names the run's seed; a SEED without a seed the program plays makes
// the login bad rather than play another seed than the model asked for.
void TestProtocol::loginSeed() {
    const auto seedOf = [](const char *text) {
        return protocol::parseLogin(QLatin1String(text));
    };
    QCOMPARE(seedOf("ENTRY-ID a VERSION BATCH SEED 7").seed, std::optional<uint64_t>(7));
    QCOMPARE(seedOf("ENTRY-ID a VERSION NONBATCH SEED 9007199254740991 x").seed,
             std::optional<uint64_t>(9007199254740991));
    QCOMPARE(seedOf("ENTRY-ID a VERSION BATCH SEEDS 7").outcome, LoginRequest::Outcome::Good);
    QVERIFY(!seedOf("ENTRY-ID a VERSION BATCH SEEDS 7").seed);
    for (const char *bad :
         {"ENTRY-ID a VERSION BATCH SEED", "ENTRY-ID a VERSION BATCH SEED 0",
          "ENTRY-ID a VERSION BATCH SEED 9007199254740992", "ENTRY-ID a VERSION BATCH SEED -3",
          "ENTRY-ID a VERSION BATCH SEED 7e2"})
        QCOMPARE(seedOf(bad).outcome, LoginRequest::Outcome::Bad);
}

void TestProtocol::runModeSurvivesLoginsWithoutMode() {
    TaskState state;
    state.userDelayInterval = 0;
    state.envDelayInterval = 0;
    protocol::applyRunMode(protocol::parseLogin(QStringLiteral("ENTRY-ID alpha")), state);
    QCOMPARE(state.versionTag, QString());
    QCOMPARE(state.userDelayInterval, 0);

    protocol::applyRunMode(protocol::parseLogin(QStringLiteral("ENTRY-ID a VERSION NONBATCH")),
                           state);
    QCOMPARE(state.versionTag, QStringLiteral("NONBATCH"));
    QCOMPARE(state.userDelayInterval, 2000);
    QCOMPARE(state.envDelayInterval, 2000);

    protocol::applyRunMode(protocol::parseLogin(QStringLiteral("ENTRY-ID a VERSION BATCH")), state);
    protocol::applyRunMode(protocol::parseLogin(QStringLiteral("ENTRY-ID b")), state);
    protocol::applyRunMode(protocol::parseLogin(QStringLiteral("ENTRY-ID b MODE NONBATCH")), state);
    QCOMPARE(state.versionTag, QStringLiteral("BATCH"));
    QCOMPARE(state.userDelayInterval, 1);
    QCOMPARE(state.envDelayInterval, 1);

    protocol::applyRunMode(protocol::parseLogin(QStringLiteral("ENTRY-ID b VERSION TURBO")), state);
    QCOMPARE(state.versionTag, QString());
    QCOMPARE(state.userDelayInterval, 1);
    QCOMPARE(state.envDelayInterval, 1);
}

void TestProtocol::parseDecision_data() {
    QTest::addColumn<QString>("text");
    QTest::addColumn<DecisionRequest::Outcome>("outcome");
    QTest::addColumn<QVariant>("ui");
    QTest::addColumn<QVariant>("uo");
    QTest::addColumn<QVariant>("ei");
    QTest::addColumn<QVariant>("eo");
    const auto good = DecisionRequest::Outcome::Good;
    const auto bad = DecisionRequest::Outcome::Bad;
    const auto ignored = DecisionRequest::Outcome::Ignored;
    const auto v = [](double value) {
        return QVariant(value);
    };

    QTest::newRow("all four") << QStringLiteral("DECISION UI 3 UO 1 EI 2 EO 0") << good << v(3)
                              << v(1) << v(2) << v(0);
    QTest::newRow("any order") << QStringLiteral("DECISION EO 4 UI 1.5") << good << v(1.5) << none
                               << none << v(4);
    QTest::newRow("inflow only") << QStringLiteral("DECISION UI 1") << good << v(1) << none << none
                                 << none;
    QTest::newRow("environment inflow only")
        << QStringLiteral("DECISION EI 7") << good << none << none << v(7) << none;
    QTest::newRow("no number reads 0")
        << QStringLiteral("DECISION UI abc") << good << v(0) << none << none << none;
    QTest::newRow("last value wins")
        << QStringLiteral("DECISION UI 2 UI 5") << good << v(5) << none << none << none;
    QTest::newRow("hexadecimal") << QStringLiteral("DECISION UI &H10") << good << v(16) << none
                                 << none << none;
    QTest::newRow("octal") << QStringLiteral("DECISION UO &O17") << good << none << v(15) << none
                           << none;
    QTest::newRow("leading number of the token")
        << QStringLiteral("DECISION UI 2.5kg") << good << v(2.5) << none << none << none;
    QTest::newRow("exponent with D")
        << QStringLiteral("DECISION UO 1D2") << good << none << v(100) << none << none;
    QTest::newRow("negative value")
        << QStringLiteral("DECISION EO -3") << good << none << none << none << v(-3);
    QTest::newRow("carriage return after a value")
        << QStringLiteral("DECISION UI 3\r") << good << v(3) << none << none << none;
    QTest::newRow("value tokens are examined too")
        << QStringLiteral("DECISION UI UO 7") << good << v(0) << v(7) << none << none;
    QTest::newRow("empty value token reads 0")
        << QStringLiteral("DECISION UI  3") << good << v(0) << none << none << none;
    QTest::newRow("other keywords ignored")
        << QStringLiteral("DECISION XX 4 ui 9 UI 2") << good << v(2) << none << none << none;
    QTest::newRow("no pairs at all")
        << QStringLiteral("DECISION ") << good << none << none << none << none;
    QTest::newRow("keyword without value is bad")
        << QStringLiteral("DECISION UI 3 UO") << bad << none << none << none << none;
    QTest::newRow("beyond any tank is bad")
        << QStringLiteral("DECISION UI 1.7976931348623157E308 UO 0") << bad << none << none << none
        << none;
    QTest::newRow("too large for a double is bad")
        << QStringLiteral("DECISION UI 1 EO -1e999") << bad << none << none << none << none;
    QTest::newRow("largest accepted")
        << QStringLiteral("DECISION EI -1e15") << good << none << none << v(-1e15) << none;
    QTest::newRow("lone keyword is bad")
        << QStringLiteral("DECISION EI") << bad << none << none << none << none;
    QTest::newRow("not a decision")
        << QStringLiteral("PLAY 3") << bad << none << none << none << none;
    QTest::newRow("lower-case decision")
        << QStringLiteral("decision UI 3") << bad << none << none << none << none;
    QTest::newRow("reset with carriage return")
        << QStringLiteral("SIMULATION RESET\r") << bad << none << none << none << none;
    QTest::newRow("no space is ignored")
        << QStringLiteral("DECISION") << ignored << none << none << none << none;
    QTest::newRow("empty is ignored") << QString() << ignored << none << none << none << none;
}

void TestProtocol::parseDecision() {
    QFETCH(QString, text);
    QFETCH(DecisionRequest::Outcome, outcome);
    QFETCH(QVariant, ui);
    QFETCH(QVariant, uo);
    QFETCH(QVariant, ei);
    QFETCH(QVariant, eo);
    const DecisionRequest decision = protocol::parseDecision(text);
    QCOMPARE(decision.outcome, outcome);
    QCOMPARE(given(decision.ui), ui);
    QCOMPARE(given(decision.uo), uo);
    QCOMPARE(given(decision.ei), ei);
    QCOMPARE(given(decision.eo), eo);
}

void TestProtocol::environmentFlowsGoToTheComingPeriod() {
    TaskState state = fivePeriodTask();
    state.currentTrial = 3;
    protocol::applyEnvironmentFlows(protocol::parseDecision(QStringLiteral("DECISION EI 7")),
                                    state);
    QCOMPARE(state.EnvInflow, (std::vector<double>{0, 0, 0, 0, 7, 0}));
    QCOMPARE(state.EnvOutflow, std::vector<double>(6, 0.0));

    protocol::applyEnvironmentFlows(protocol::parseDecision(QStringLiteral("DECISION EO 2 EI 1")),
                                    state);
    QCOMPARE(state.EnvInflow, (std::vector<double>{0, 0, 0, 0, 1, 0}));
    QCOMPARE(state.EnvOutflow, (std::vector<double>{0, 0, 0, 0, 2, 0}));

    // A bad decision changes nothing, not even the values before its fault.
    protocol::applyEnvironmentFlows(protocol::parseDecision(QStringLiteral("DECISION EI 9 EO")),
                                    state);
    QCOMPARE(state.EnvInflow, (std::vector<double>{0, 0, 0, 0, 1, 0}));

    // After the last period the coming period has no place in the tables.
    state.currentTrial = 5;
    protocol::applyEnvironmentFlows(protocol::parseDecision(QStringLiteral("DECISION EI 8 EO 8")),
                                    state);
    QCOMPARE(state.EnvInflow, (std::vector<double>{0, 0, 0, 0, 1, 0}));
    QCOMPARE(state.EnvOutflow, (std::vector<double>{0, 0, 0, 0, 2, 0}));

    TaskState unsized;
    protocol::applyEnvironmentFlows(protocol::parseDecision(QStringLiteral("DECISION EI 8")),
                                    unsized);
    QVERIFY(unsized.EnvInflow.empty());
}

void TestProtocol::replies_data() {
    QTest::addColumn<QString>("reply");
    QTest::addColumn<QString>("expected");
    QTest::newRow("bad login")
        << protocol::badLoginReply(QStringLiteral("ENTRY-ID alpha MODE BATCH"))
        << QStringLiteral("Bad login. Format: [ENTRY-ID] <id_name> [VERSION] [BATCH/NONBATCH] "
                          "Received:ENTRY-ID alpha MODE BATCH");
    QTest::newRow("bad decision")
        << protocol::badDecisionReply(QStringLiteral("PLAY 3"))
        << QStringLiteral("Bad decision format. Format: [decision] [UI] <ui_value> [UO] "
                          "<uo_value> EI <ei_value>EO <eo_value>Received:PLAY 3");
    QTest::newRow("bad decision of an empty message")
        << protocol::badDecisionReply(QString())
        << QStringLiteral("Bad decision format. Format: [decision] [UI] <ui_value> [UO] "
                          "<uo_value> EI <ei_value>EO <eo_value>Received:");
    QTest::newRow("reset answer") << QString(protocol::ResetAnswer)
                                  << QStringLiteral("SIMULATION_RESETED");
    QTest::newRow("end answer") << QString(protocol::EndProgramAnswer)
                                << QStringLiteral("END_PROGRAM");
}

void TestProtocol::replies() {
    QFETCH(QString, reply);
    QFETCH(QString, expected);
    QCOMPARE(reply, expected);
}

void TestProtocol::stateMessage_data() {
    QTest::addColumn<int>("time");
    QTest::addColumn<double>("goal");
    QTest::addColumn<double>("amount");
    QTest::addColumn<QList<double>>("flows"); // none: the initial state
    QTest::addColumn<QString>("expected");
    QTest::newRow("initial") << 0 << 4.0 << 2.0 << QList<double>()
                             << QStringLiteral(
                                    "STATE TIME 0 GOAL 04.00 AMOUNT 02.00 EI -1 EO -1 UI -1 UO -1");
    QTest::newRow("after a period")
        << 1 << 4.0 << 5.0 << QList<double>{2, 0, 3, 1}
        << QStringLiteral(
               "STATE TIME 1 GOAL 04.00 AMOUNT 05.00 EI 02.000 EO 00.000 UI 03.000 UO 01.000");
    QTest::newRow("negative amount")
        << 12 << 4.0 << -1.5 << QList<double>()
        << QStringLiteral("STATE TIME 12 GOAL 04.00 AMOUNT -01.50 EI -1 EO -1 UI -1 UO -1");
    QTest::newRow("three integer digits, rounded")
        << 100 << 123.456 << 0.125 << QList<double>{-0.5, 0.0005, 123.4567, -1}
        << QStringLiteral("STATE TIME 100 GOAL 123.46 AMOUNT 00.13 EI -00.500 EO 00.001 "
                          "UI 123.457 UO -01.000");
}

void TestProtocol::stateMessage() {
    QFETCH(int, time);
    QFETCH(double, goal);
    QFETCH(double, amount);
    QFETCH(QList<double>, flows);
    QFETCH(QString, expected);
    std::optional<ShownFlows> shown;
    if (!flows.isEmpty())
        shown = ShownFlows{flows[0], flows[1], flows[2], flows[3]};
    const QString message = QString::fromLatin1(protocol::stateMessage(time, goal, amount, shown));
    QCOMPARE(message, expected);
    QCOMPARE(message.split(QLatin1Char(' ')).size(), 15);
}

void TestProtocol::outboundText_data() {
    QTest::addColumn<QString>("request");
    QTest::addColumn<QString>("expected");
    QTest::newRow("initial state") << QStringLiteral("VERSION")
                                   << QStringLiteral("STATE TIME 0 GOAL 04.00 AMOUNT 02.00 "
                                                     "EI -1 EO -1 UI -1 UO -1");
    QTest::newRow("state after a period")
        << QStringLiteral("BETWEEN")
        << QStringLiteral("STATE TIME 1 GOAL 04.00 AMOUNT 02.00 "
                          "EI 02.000 EO 00.000 UI 03.000 UO 01.000");
    QTest::newRow("other requests as they stand")
        << QStringLiteral("END_PROGRAM") << QStringLiteral("END_PROGRAM");
    QTest::newRow("lower-case request as it stands")
        << QStringLiteral("between") << QStringLiteral("between");
    QTest::newRow("one byte per character")
        << QStringLiteral("Received:caf\u00e9") << QStringLiteral("Received:caf\u00e9");
}

void TestProtocol::outboundText() {
    QFETCH(QString, request);
    QFETCH(QString, expected);
    TaskState state = fivePeriodTask();
    if (request == QLatin1String("BETWEEN")) {
        // Period 1 played with the orders acting at once: the flows the window shows.
        state.currentTrial = 1;
        state.inFlowTPAfter = state.outFlowTPAfter = 1;
        state.UserInflow = {0, 3, 0, 0, 0, 0, 0};
        state.UserOutflow = {0, 1, 0, 0, 0, 0, 0};
        state.EnvInflow[1] = 2;
    }
    QCOMPARE(protocol::outboundText(request, state), expected.toLatin1());
}

QTEST_GUILESS_MAIN(TestProtocol)
#include "test_protocol.moc"
