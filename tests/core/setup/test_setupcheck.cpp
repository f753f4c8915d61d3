#include "core/engine/periodcycle.h"
#include "core/setup/scenario.h"
#include "core/setup/setupcheck.h"

#include <QFile>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QtTest>

namespace {

const char usualFile[] = "' A 20-period study\n"
                         "MaxTrial = 20\n"
                         "InitialAmountInTank = 2\n"
                         "GoalLinePoisition = 4\n"
                         "InitialBackOrder = 0\n"
                         "InitialForwardDischarge = 0\n"
                         "MaxNumberOfAScenarioType = 20\n"
                         "inFlowDelayValue = 3\n"
                         "inFlowDelayLength = 10\n"
                         "outFlowDelayValue = 1\n"
                         "outFlowDelayLength = 20\n"
                         "EnvInflowSchedule = 1\n";

// The lines of the first finding whose text holds `part`, as "2,7"; "none" when no finding
// holds it.
QString linesOf(const QList<SetupFinding> &findings, const QString &part) {
    for (const SetupFinding &found : findings) {
        if (!found.text.contains(part))
            continue;
        QStringList lines;
        for (int line : found.lines)
            lines << QString::number(line);
        return lines.join(QLatin1Char(','));
    }
    return QStringLiteral("none");
}

} // namespace

class TestSetupCheck : public QObject {
    Q_OBJECT

private slots:
    void aGoodFileIsSummedUp();
    void findings_data();
    void findings();
    void nearestKey();
    void startAndCheckAgree_data();
    void startAndCheckAgree();
    void noOrderActsFromThePeriodNamed_data();
    void noOrderActsFromThePeriodNamed();

private:
    QString write(const QByteArray &content) {
        const QString path = m_dir.filePath(QStringLiteral("Setup%1.txt").arg(++m_files));
        QFile file(path);
        if (!file.open(QIODevice::WriteOnly) || file.write(content) != content.size())
            qFatal("cannot write a setup file for the test");
        return path;
    }

    QTemporaryDir m_dir;
    int m_files = 0;
};

void TestSetupCheck::aGoodFileIsSummedUp() {
    const SetupCheck check = CheckSetupFile(write(usualFile));
    QVERIFY(check.usable());
    QCOMPARE(check.warnings.size(), 1); // the inflow delay's end, on its lines
    QCOMPARE(linesOf(check.warnings, QStringLiteral("from period 10 on the inflow delay is 0")),
             QStringLiteral("2,9"));
    const QString text = SetupCheckText(check);
    for (const char *part :
         {"Periods: 20", "between 3.9 and 4.1",
          "Inflow delay: 3 in periods 1 to 9, then 0 from "
          "period 10 to 20",
          "Outflow delay: 1 in every period", "Environment inflow: 1 in every period",
          "Environment outflow: none scheduled", "No problems"})
        QVERIFY2(text.contains(QLatin1String(part)), qPrintable(text));
}

void TestSetupCheck::findings_data() {
    QTest::addColumn<QByteArray>("from");
    QTest::addColumn<QByteArray>("to");
    QTest::addColumn<bool>("usable");
    QTest::addColumn<QString>("problem"); // part of a problem's text, and its lines
    QTest::addColumn<QString>("problemLines");
    QTest::addColumn<QString>("warning"); // part of a warning's text, and its lines
    QTest::addColumn<QString>("warningLines");
    QTest::newRow("a typo in a key")
        << QByteArray("MaxTrial =") << QByteArray("MaxTrail =") << false
        << QStringLiteral("MaxTrail is not a key the program reads; did you mean MaxTrial?")
        << QStringLiteral("2") << QString() << QString();
    QTest::newRow("no blank before =")
        << QByteArray("GoalLinePoisition =") << QByteArray("GoalLinePoisition=") << false
        << QStringLiteral("gives no value for GoalLinePoisition") << QStringLiteral("4")
        << QStringLiteral("is read as the key \"GoalLinePoisitio\" with the value \"4\"")
        << QStringLiteral("4");
    QTest::newRow("no blank after = misreads the value silently")
        << QByteArray("MaxTrial = 20") << QByteArray("MaxTrial =20") << false
        << QStringLiteral("MaxTrial is 0") << QStringLiteral("2")
        << QStringLiteral("\"MaxTrial =20\" is read as the key \"MaxTrial\" with the value \"0\"")
        << QStringLiteral("2");
    QTest::newRow("a key given twice: the first wins")
        << QByteArray("EnvInflowSchedule = 1\n")
        << QByteArray("EnvInflowSchedule = 1\nInitialAmountInTank = 7\n") << true << QString()
        << QString() << QStringLiteral("InitialAmountInTank is given again; line 3 comes first")
        << QStringLiteral("13");
    QTest::newRow("tables too small, on both keys' lines")
        << QByteArray("MaxNumberOfAScenarioType = 20") << QByteArray("MaxNumberOfAScenarioType = 5")
        << false << QStringLiteral("MaxNumberOfAScenarioType (5)") << QStringLiteral("2,7")
        << QString() << QString();
    QTest::newRow("a failing scenario check, on its keys' lines")
        << QByteArray("InitialForwardDischarge = 0") << QByteArray("InitialForwardDischarge = 4")
        << false << QStringLiteral("initial Back or Forward orders") << QStringLiteral("6,10")
        << QString() << QString();
    QTest::newRow("a highlight colour without a name")
        << QByteArray("EnvInflowSchedule = 1\n")
        << QByteArray("EnvInflowSchedule = 1\nHighlightColours = blue, teal\n") << false
        << QStringLiteral("names the colour \"teal\"") << QStringLiteral("13") << QString()
        << QString();
    QTest::newRow("a language the program has no translation into")
        << QByteArray("MaxTrial = 20") << QByteArray("MaxTrial = 20\nLanguage = xx") << false
        << QStringLiteral("The language \"xx\" of Language") << QStringLiteral("3") << QString()
        << QString();
    QTest::newRow("a line that is no setting")
        << QByteArray("' A 20") << QByteArray("A 20") << true << QString() << QString()
        << QStringLiteral("\"A 20-period study\" has no \"=\"") << QStringLiteral("1");
}

void TestSetupCheck::findings() {
    QFETCH(QByteArray, from);
    QFETCH(QByteArray, to);
    QFETCH(bool, usable);
    QFETCH(QString, problem);
    QFETCH(QString, problemLines);
    QFETCH(QString, warning);
    QFETCH(QString, warningLines);
    const SetupCheck check = CheckSetupFile(write(QByteArray(usualFile).replace(from, to)));
    const QByteArray text = SetupCheckText(check).toUtf8();
    QVERIFY2(check.usable() == usable, text.constData());
    if (!problem.isEmpty())
        QVERIFY2(linesOf(check.problems, problem) == problemLines, text.constData());
    if (!warning.isEmpty())
        QVERIFY2(linesOf(check.warnings, warning) == warningLines, text.constData());
}

void TestSetupCheck::nearestKey() {
    QCOMPARE(NearestSetupKey(QStringLiteral("maxtrial")), QStringLiteral("MaxTrial"));
    QCOMPARE(NearestSetupKey(QStringLiteral("GoalLinePosition")),
             QStringLiteral("GoalLinePoisition"));
    QCOMPARE(NearestSetupKey(QStringLiteral("Colour")), QString());
}

using Edits = QList<QPair<QByteArray, QByteArray>>;

QStringList texts(std::initializer_list<const char *> parts) {
    QStringList list;
    for (const char *part : parts)
        list.append(QString::fromUtf8(part));
    return list;
}
Q_DECLARE_METATYPE(StartOutcome)

void TestSetupCheck::startAndCheckAgree_data() {
    QTest::addColumn<Edits>("edits");
    QTest::addColumn<StartOutcome>("person");
    QTest::addColumn<StartOutcome>("model");
    QTest::addColumn<QStringList>("told");    // parts of the check's text
    QTest::addColumn<QStringList>("notTold"); // follow-ons, secrets

    QTest::newRow("the usual file") << Edits{} << StartOutcome::Plays << StartOutcome::Plays
                                    << texts({"No problems", "A person: Start can use this file.",
                                              "A model: Start can use this file."})
                                    << texts({"Only a model"});
    QTest::newRow("an initial order with a delay of 1: a model plays on")
        << Edits{{"InitialBackOrder = 0", "InitialBackOrder = 1"},
                 {"inFlowDelayValue = 3", "inFlowDelayValue = 1"}}
        << StartOutcome::EndsAfterChecks << StartOutcome::Plays
        << texts({"A person: Start cannot use this file.",
                  "A model: Start can use this file; it first shows \"Value of inFlowTPAfter",
                  "Only a model can use this file."})
        << texts({"No problems"});
    QTest::newRow("no period: a model is told the run is over")
        << Edits{{"MaxTrial = 20", "MaxTrial = 0"}} << StartOutcome::Refused << StartOutcome::Plays
        << texts({"MaxTrial is 0", "Only a model can use this file."}) << QStringList();
    QTest::newRow("MaxTrial misread: no follow-on errors")
        << Edits{{"MaxTrial = 20", "MaxTrial=20"},
                 {"EnvInflowSchedule = 1", "EnvInflowSchedule = 1, 2, 3"}}
        << StartOutcome::EndsProgram << StartOutcome::Refused
        << texts({"gives no value for MaxTrial", "A model: Start cannot use this file."})
        << texts({"EnvInflowSchedule in the setup file", "MaxTrial = 0"});
    QTest::newRow("a decimal comma")
        << Edits{{"GoalLinePoisition = 4", "GoalLinePoisition = 4,25"}} << StartOutcome::EndsProgram
        << StartOutcome::Refused
        << texts({"\"4,25\" of GoalLinePoisition",
                  "is not a number; write decimals with a point: 4.25"})
        << QStringList();
    QTest::newRow("tables too small for anyone")
        << Edits{{"MaxNumberOfAScenarioType = 20", "MaxNumberOfAScenarioType = 5"}}
        << StartOutcome::Refused << StartOutcome::Refused << texts({"MaxNumberOfAScenarioType (5)"})
        << texts({"Only a model"});
    QTest::newRow("highlight colours, named or coded")
        << Edits{{"MaxTrial = 20\n", "MaxTrial = 20\nHighlightColours = SkyBlue,#cc79a7\n"}}
        << StartOutcome::Plays << StartOutcome::Plays
        << texts({"Highlights: the task window lights the user's inflow #56B4E9 and outflow "
                  "#CC79A7"})
        << texts({"not a key"});
    QTest::newRow("an exit password, never printed")
        << Edits{{"MaxTrial = 20\n", "MaxTrial = 20\nExitPassword = Lab 7\nExitPassword =Lab 8\n"}}
        << StartOutcome::Plays << StartOutcome::Plays
        << texts({"Exit: the exit window asks for the ExitPassword",
                  "\"ExitPassword = ***\" is read as the key \"ExitPassword\" with the value "
                  "\"***\""})
        << texts({"Lab 7", "ab 8", "not a key"});
    QTest::newRow("a password behind a full-width equals sign")
        << Edits{{"MaxTrial = 20\n", "MaxTrial = 20\nExitPassword \xEF\xBC\x9D Lab 7\n"}}
        << StartOutcome::Plays << StartOutcome::Plays
        << texts({"\"ExitPassword \xEF\xBC\x9D ***\" has no \"=\""}) << texts({"Lab 7"});
}

// Start takes its decision from JudgeSetup; the check prints that same verdict.
void TestSetupCheck::startAndCheckAgree() {
    QFETCH(Edits, edits);
    QFETCH(StartOutcome, person);
    QFETCH(StartOutcome, model);
    QFETCH(QStringList, told);
    QFETCH(QStringList, notTold);
    QByteArray content(usualFile);
    for (const auto &[from, to] : edits)
        content.replace(from, to);
    const QString path = write(content);

    SetupFile setup(path);
    TaskState scenario;
    const SetupVerdict start = JudgeSetup(setup, scenario);
    QCOMPARE(start.of(Starter::Person).outcome, person);
    QCOMPARE(start.of(Starter::Model).outcome, model);

    const SetupCheck check = CheckSetupFile(path);
    QCOMPARE(check.usable(), person == StartOutcome::Plays && model == StartOutcome::Plays);
    const QString text = SetupCheckText(check);
    for (const QString &part : told)
        QVERIFY2(text.contains(part), qPrintable(text));
    for (const QString &part : notTold)
        QVERIFY2(!text.contains(part), qPrintable(text));
}

void TestSetupCheck::noOrderActsFromThePeriodNamed_data() {
    QTest::addColumn<int>("delay");
    QTest::addColumn<int>("length");
    QTest::addColumn<int>("initialOrder");
    QTest::newRow("length 10 of 20, delay 3") << 3 << 10 << 0;
    QTest::newRow("length 1") << 1 << 1 << 0;
    QTest::newRow("length 2, an initial order in period 1") << 3 << 2 << 2;
    QTest::newRow("a delay of 0") << 0 << 20 << 0;
    QTest::newRow("length MaxTrial: no warning") << 3 << 20 << 0;
}

// The period the warning names is the engine's: an order acts in the period before it and
// none from it on. Each period orders 1 and nothing else changes the amount.
void TestSetupCheck::noOrderActsFromThePeriodNamed() {
    QFETCH(int, delay);
    QFETCH(int, length);
    QFETCH(int, initialOrder);
    QByteArray content =
        QByteArray(usualFile)
            .replace("EnvInflowSchedule = 1", "")
            .replace("inFlowDelayValue = 3", "inFlowDelayValue = " + QByteArray::number(delay))
            .replace("inFlowDelayLength = 10", "inFlowDelayLength = " + QByteArray::number(length))
            .replace("InitialBackOrder = 0",
                     "InitialBackOrder = " + QByteArray::number(initialOrder));
    const QString path = write(content);
    const QString text = SetupCheckText(CheckSetupFile(path));
    const auto named = QRegularExpression(QStringLiteral("no inflow order acts.*from period (\\d+)|"
                                                         "from period (\\d+) on the inflow"))
                           .match(text);
    const int from = named.hasMatch() ? (named.captured(1) + named.captured(2)).toInt() : 0;

    SetupFile setup(path);
    TaskState state;
    QVERIFY(JudgeSetup(setup, state).model.plays());
    CreateOrderTables(state);
    PrepareTaskState(state);
    TaskView view;
    int lastActing = 0;
    for (int t = 1; t <= state.MaxTrial; ++t) {
        const double before = state.Amount;
        PlayPeriod(state, view, 1, 0);
        if (state.Amount > before)
            lastActing = t;
    }
    QVERIFY2(from == 0 ? lastActing == state.MaxTrial : lastActing == from - 1, qPrintable(text));
}

QTEST_GUILESS_MAIN(TestSetupCheck)
#include "test_setupcheck.moc"
