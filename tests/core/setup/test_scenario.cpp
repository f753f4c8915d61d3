#include "core/setup/keptsetup.h"
#include "core/setup/scenario.h"
#include "core/setup/setupfile.h"
#include "core/setup/taskstate.h"

#include <QFile>

#include <QTemporaryDir>
#include <QtTest>
#include <sys/stat.h>

#include <vector>

// Reading the setup file, loading and checking a scenario, and the task state it starts from.
class TestScenario : public QObject {
    Q_OBJECT

private slots:
    void initTestCase();

    void readSetupValue_data();
    void readSetupValue();
    void missingSetupFileFailsConfiguration();
    void setupFileIsReadOnlyWhenItIsAPlainFileThatChanged();
    void keptSetupNeverHoldsThePassword();

    void loadsKeysAndConstants();
    void wholeKeysRoundHalvesToEven_data();
    void wholeKeysRoundHalvesToEven();
    void badKeyNamesKeyAndFile_data();
    void badKeyNamesKeyAndFile();
    void valueRange_data();
    void valueRange();
    void delayTables();
    void scaleLabelsAndTableSizes();

    void validateScenario_data();
    void validateScenario();
    void validateAfterEveryNTrials();
    void scenarioConflict_data();
    void scenarioConflict();

    void spreadsInitialOrders_data();
    void spreadsInitialOrders();
    void initialisesTotalsAndTables();
    void refusedMaxTrialLeavesSmallTables_data();
    void refusedMaxTrialLeavesSmallTables();
    void shippedSetupFileIsPlayable();
    void schedulesFillEveryRun_data();
    void schedulesFillEveryRun();
    void exitUsernameKey_data();
    void exitUsernameKey();

private:
    // A setup file holding `content` as it stands.
    QString writeFile(const QByteArray &content);
    // A complete setup file: the lab's usual scenario with some values replaced or left out.
    QString writeSetup(const QMap<QString, QString> &values,
                       const QStringList &omitted = QStringList());

    QTemporaryDir m_dir;
    int m_files = 0;
};

using SetupValues = QMap<QString, QString>;

namespace {

SetupValues setupValues(std::initializer_list<std::pair<const char *, const char *>> pairs) {
    SetupValues values;
    for (const auto &[key, value] : pairs)
        values.insert(QLatin1String(key), QLatin1String(value));
    return values;
}

const char *const scenarioKeys[] = {
    "MaxTrial",          "InitialAmountInTank",     "GoalLinePoisition",
    "InitialBackOrder",  "InitialForwardDischarge", "MaxNumberOfAScenarioType",
    "inFlowDelayValue",  "inFlowDelayLength",       "outFlowDelayValue",
    "outFlowDelayLength"};

QMap<QString, QString> usualScenario() {
    return {{QStringLiteral("MaxTrial"), QStringLiteral("20")},
            {QStringLiteral("InitialAmountInTank"), QStringLiteral("2")},
            {QStringLiteral("GoalLinePoisition"), QStringLiteral("4")},
            {QStringLiteral("InitialBackOrder"), QStringLiteral("0")},
            {QStringLiteral("InitialForwardDischarge"), QStringLiteral("0")},
            {QStringLiteral("MaxNumberOfAScenarioType"), QStringLiteral("25")},
            {QStringLiteral("inFlowDelayValue"), QStringLiteral("1")},
            {QStringLiteral("inFlowDelayLength"), QStringLiteral("20")},
            {QStringLiteral("outFlowDelayValue"), QStringLiteral("1")},
            {QStringLiteral("outFlowDelayLength"), QStringLiteral("20")}};
}

// Loads a whole scenario the way the login's Start does.
TaskState loadScenario(const QString &path) {
    TaskState state;
    SetupFile setup(path);
    LoadScenarioParameters(state, setup);
    LoadDelaySettings(state, setup);
    BuildDelayEndTables(state);
    CreateOrderTables(state);
    return state;
}

} // namespace

void TestScenario::initTestCase() {
    QVERIFY(m_dir.isValid());
}

QString TestScenario::writeFile(const QByteArray &content) {
    const QString path = m_dir.filePath(QStringLiteral("Setup%1.txt").arg(++m_files));
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly) || file.write(content) != content.size())
        qFatal("Cannot write a setup file for the test");
    return path;
}

QString TestScenario::writeSetup(const QMap<QString, QString> &values, const QStringList &omitted) {
    QMap<QString, QString> all = usualScenario();
    for (auto it = values.begin(); it != values.end(); ++it)
        all[it.key()] = it.value();
    QByteArray content = "' Scenario for the test\n";
    for (const char *key : scenarioKeys) {
        const QString name = QLatin1String(key);
        if (!omitted.contains(name))
            content += QStringLiteral("%1 = %2\n").arg(name, all.value(name)).toLatin1();
        all.remove(name);
    }
    for (auto it = all.begin(); it != all.end(); ++it) // optional keys
        content += QStringLiteral("%1 = %2\n").arg(it.key(), it.value()).toLatin1();
    return writeFile(content);
}

void TestScenario::readSetupValue_data() {
    QTest::addColumn<QByteArray>("content");
    QTest::addColumn<QString>("key");
    QTest::addColumn<QString>("value");
    QTest::newRow("usual line") << QByteArray("MaxTrial = 100\n") << QStringLiteral("MaxTrial")
                                << QStringLiteral("100");
    QTest::newRow("no blank before = does not give the key")
        << QByteArray("MaxTrial= 100\n") << QStringLiteral("MaxTrial") << QString();
    QTest::newRow("no blanks around = does not give the key")
        << QByteArray("MaxTrial=100\n") << QStringLiteral("MaxTrial") << QString();
    QTest::newRow("no blank before = loses the key's last letter")
        << QByteArray("MaxTrial=100\n") << QStringLiteral("MaxTria") << QStringLiteral("00");
    QTest::newRow("no blank after = loses the value's first character")
        << QByteArray("MaxTrial =100\n") << QStringLiteral("MaxTrial") << QStringLiteral("00");
    QTest::newRow("other letter case does not match")
        << QByteArray("maxtrial = 100\n") << QStringLiteral("MaxTrial") << QString();
    QTest::newRow("first of two lines wins") << QByteArray("MaxTrial = 10\nMaxTrial = 20\n")
                                             << QStringLiteral("MaxTrial") << QStringLiteral("10");
    QTest::newRow("comment line holding a valid key")
        << QByteArray("'MaxTrial = 10\n") << QStringLiteral("MaxTrial") << QString();
    QTest::newRow("comment line is skipped before the real line")
        << QByteArray("'MaxTrial = 10\nMaxTrial = 20\n") << QStringLiteral("MaxTrial")
        << QStringLiteral("20");
    QTest::newRow("blank then apostrophe is no comment but matches no key")
        << QByteArray(" 'MaxTrial = 10\nMaxTrial = 30\n") << QStringLiteral("MaxTrial")
        << QStringLiteral("30");
    QTest::newRow("blank then apostrophe keeps both in its key")
        << QByteArray(" 'MaxTrial = 10\n") << QStringLiteral(" 'MaxTrial") << QStringLiteral("10");
    QTest::newRow("= first has no key") << QByteArray("= 5\n") << QString() << QString();
    QTest::newRow("= first is skipped before the real line")
        << QByteArray("=MaxTrial = 5\nMaxTrial = 6\n") << QStringLiteral("MaxTrial")
        << QStringLiteral("6");
    QTest::newRow("line without = is skipped") << QByteArray("MaxTrial 5\nMaxTrial = 6\n")
                                               << QStringLiteral("MaxTrial") << QStringLiteral("6");
    QTest::newRow("CRLF line endings") << QByteArray("' note\r\nMaxTrial = 100\r\nX = 1\r\n")
                                       << QStringLiteral("MaxTrial") << QStringLiteral("100");
    QTest::newRow("lines ended by CR alone") << QByteArray("' note\rX = 1\rMaxTrial = 100\rY = 2\r")
                                             << QStringLiteral("MaxTrial") << QStringLiteral("100");
    QTest::newRow("CR alone at the end of a line that is not the key's")
        << QByteArray("X = 1\rMaxTrial = 7") << QStringLiteral("MaxTrial") << QStringLiteral("7");
    QTest::newRow("a UTF-8 file reads as typed")
        << QByteArray("' \xc3\xa4\nGenderOptions = M\xc3\xa4nnlich\n")
        << QStringLiteral("GenderOptions") << QStringLiteral("M\u00e4nnlich");
    QTest::newRow("any other file reads as Latin-1")
        << QByteArray("' \xe4\nGenderOptions = M\xe4nnlich\n") << QStringLiteral("GenderOptions")
        << QStringLiteral("M\u00e4nnlich");
    QTest::newRow("last line without line end")
        << QByteArray("X = 1\nMaxTrial = 7") << QStringLiteral("MaxTrial") << QStringLiteral("7");
    QTest::newRow("value kept as written after its first character")
        << QByteArray("unitName = Big Gallons \n") << QStringLiteral("unitName")
        << QStringLiteral("Big Gallons ");
    QTest::newRow("value may hold =")
        << QByteArray("Expr = a = b\n") << QStringLiteral("Expr") << QStringLiteral("a = b");
    QTest::newRow("missing key") << QByteArray("MaxTrial = 100\n")
                                 << QStringLiteral("GoalLinePoisition") << QString();
    QTest::newRow("empty file") << QByteArray() << QStringLiteral("MaxTrial") << QString();
}

void TestScenario::readSetupValue() {
    QFETCH(QByteArray, content);
    QFETCH(QString, key);
    QFETCH(QString, value);
    SetupFile file(writeFile(content));
    QCOMPARE(file.value(key), value);
    QCOMPARE(ReadSetupValue(file.lines(), key), value);
}

void TestScenario::missingSetupFileFailsConfiguration() {
    const QString path = m_dir.filePath(QStringLiteral("NoSuchSetup.txt"));
    SetupFile setup(path);
    try {
        setup.value(QStringLiteral("MaxTrial"));
        QFAIL("A missing setup file was read");
    } catch (const SetupFileMissing &e) {
        QCOMPARE(e.message(), QStringLiteral("Configuration failed"));
    }
    TaskState state;
    QVERIFY_THROWS_EXCEPTION(SetupFileMissing, LoadScenarioParameters(state, setup));
    QVERIFY_THROWS_EXCEPTION(SetupFileMissing, LoadDelaySettings(state, setup));
}

// A pipe would make the reader wait for a writer for ever, and a huge file would stall every
// Start: neither is read. An edit is seen at the next read, and only an edit is read again.
void TestScenario::setupFileIsReadOnlyWhenItIsAPlainFileThatChanged() {
    const QString pipe = m_dir.filePath(QStringLiteral("pipe.txt"));
    QCOMPARE(mkfifo(QFile::encodeName(pipe).constData(), 0600), 0);
    SetupFile fromPipe(pipe);
    QVERIFY_THROWS_EXCEPTION(SetupError, fromPipe.lines());
    const QString huge = writeFile(QByteArray(SetupFile::MaxBytes + 1, '\''));
    try {
        SetupFile(huge).lines();
        QFAIL("A file past the limit was read");
    } catch (const SetupError &e) {
        QVERIFY2(e.message().contains(QString::number(SetupFile::MaxBytes + 1)),
                 qPrintable(e.message()));
    }

    const QString path = writeFile("MaxTrial = 5\n");
    SetupFile setup(path);
    QCOMPARE(setup.value(QStringLiteral("MaxTrial")), QStringLiteral("5"));
    QFile file(path);
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write("MaxTrial = 60\n");
    file.close();
    setup.refresh();
    QCOMPARE(setup.value(QStringLiteral("MaxTrial")), QStringLiteral("60"));
}

void TestScenario::loadsKeysAndConstants() {
    TaskState state;
    state.currentTrial = 7;
    state.AfterEveryNTrials = 3;
    state.basePayment = 1;
    const QString path =
        writeSetup({{QStringLiteral("InitialAmountInTank"), QStringLiteral("2.5")},
                    {QStringLiteral("GoalLinePoisition"), QStringLiteral("3.75")},
                    {QStringLiteral("InitialBackOrder"), QStringLiteral("4")},
                    {QStringLiteral("InitialForwardDischarge"), QStringLiteral("-1.5")},
                    {QStringLiteral("inFlowDelayValue"), QStringLiteral("3")},
                    {QStringLiteral("outFlowDelayValue"), QStringLiteral("4")}});
    SetupFile setup(path);
    LoadScenarioParameters(state, setup);
    LoadDelaySettings(state, setup);

    QCOMPARE(state.MaxTrial, 20);
    // Amounts are not whole keys: they keep their fractions.
    QCOMPARE(state.InitialAmountInTank, 2.5);
    QCOMPARE(state.GoalLinePoisition, 3.75);
    QCOMPARE(state.InitialBackOrder, 4.0);
    QCOMPARE(state.InitialForwardDischarge, -1.5);
    QCOMPARE(state.MaxNumberOfAScenarioType, int16_t{25});
    QCOMPARE(state.currentTrial, 0);
    QCOMPARE(state.basePayment, 5.0);
    QCOMPARE(state.numYMarks, int16_t{10});
    QCOMPARE(state.envFlowFactor, 1.0);
    QCOMPARE(state.AfterEveryNTrials, int16_t{1});
    QCOMPARE(state.bonusPerPeriod, 0.05);
    QCOMPARE(state.unitName, QStringLiteral("Gallons"));
    QVERIFY(state.scaledTank);
    QCOMPARE(state.goalToleranceAbove, 0.1);
    QCOMPARE(state.goalToleranceBelow, 0.1);
    QVERIFY(state.showTimePeriod);
    QVERIFY(!state.showOrderBalances);
    QCOMPARE(state.timer2Interval, 1.0);
    QCOMPARE(state.userMoveInterval, 1);
    QCOMPARE(state.envMoveInterval, 1);

    QCOMPARE(state.inFlowDelayCount, int16_t{1});
    QCOMPARE(state.outFlowDelayCount, int16_t{1});
    QCOMPARE(state.inFlowDelayValue, (std::vector<double>{3, 0}));
    QCOMPARE(state.inFlowDelayLength, (std::vector<double>{20, 0}));
    QCOMPARE(state.outFlowDelayValue, (std::vector<double>{4, 0}));
    QCOMPARE(state.outFlowDelayLength, (std::vector<double>{20, 0}));
    QCOMPARE(state.inFlowTPAfter, int16_t{3});
    QCOMPARE(state.outFlowTPAfter, int16_t{4});
}

void TestScenario::wholeKeysRoundHalvesToEven_data() {
    QTest::addColumn<QString>("key");
    QTest::addColumn<QString>("text");
    QTest::addColumn<double>("value");
    for (const char *key :
         {"MaxTrial", "MaxNumberOfAScenarioType", "inFlowDelayValue", "outFlowDelayLength"}) {
        const QString name = QLatin1String(key);
        QTest::addRow("%s two and a half", key) << name << QStringLiteral("2.5") << 2.0;
        QTest::addRow("%s three and a half", key) << name << QStringLiteral("3.5") << 4.0;
        QTest::addRow("%s below half", key) << name << QStringLiteral("3.49") << 3.0;
    }
}

void TestScenario::wholeKeysRoundHalvesToEven() {
    QFETCH(QString, key);
    QFETCH(QString, text);
    QFETCH(double, value);
    TaskState state;
    const QString path = writeSetup({{key, text}});
    SetupFile setup(path);
    LoadScenarioParameters(state, setup);
    LoadDelaySettings(state, setup);
    const QMap<QString, double> loaded = {
        {QStringLiteral("MaxTrial"), static_cast<double>(state.MaxTrial)},
        {QStringLiteral("MaxNumberOfAScenarioType"),
         static_cast<double>(state.MaxNumberOfAScenarioType)},
        {QStringLiteral("inFlowDelayValue"), state.inFlowDelayValue.at(0)},
        {QStringLiteral("outFlowDelayLength"), state.outFlowDelayLength.at(0)}};
    QCOMPARE(loaded.value(key), value);
    if (key == QStringLiteral("inFlowDelayValue"))
        QCOMPARE(static_cast<double>(state.inFlowTPAfter), value);
}

void TestScenario::badKeyNamesKeyAndFile_data() {
    QTest::addColumn<QString>("key");
    QTest::addColumn<QString>("text");
    QTest::addColumn<bool>("omitted"); // the key's line is left out
    for (const char *key : scenarioKeys) {
        const QString name = QLatin1String(key);
        QTest::addRow("%s missing", key) << name << QString() << true;
        QTest::addRow("%s not a number", key) << name << QStringLiteral("many") << false;
    }
    QTest::newRow("empty value") << QStringLiteral("MaxTrial") << QString() << false;
    QTest::newRow("blank value") << QStringLiteral("GoalLinePoisition") << QStringLiteral("  ")
                                 << false;
    QTest::newRow("number followed by text")
        << QStringLiteral("inFlowDelayValue") << QStringLiteral("3 periods") << false;
    QTest::newRow("comma as decimal separator")
        << QStringLiteral("InitialAmountInTank") << QStringLiteral("2,5") << false;
}

void TestScenario::badKeyNamesKeyAndFile() {
    QFETCH(QString, key);
    QFETCH(QString, text);
    QFETCH(bool, omitted);
    const QString path = omitted ? writeSetup({}, {key}) : writeSetup({{key, text}});
    TaskState state;
    try {
        SetupFile setup(path);
        LoadScenarioParameters(state, setup);
        LoadDelaySettings(state, setup);
        QFAIL("A bad value was accepted");
    } catch (const SetupFileMissing &) {
        QFAIL("A bad value was reported as a missing file");
    } catch (const SetupError &e) {
        QVERIFY2(e.message().contains(key), qPrintable(e.message()));
        QVERIFY2(e.message().contains(path), qPrintable(e.message()));
    }
}

void TestScenario::valueRange_data() {
    QTest::addColumn<QString>("key");
    QTest::addColumn<QString>("text");
    QTest::addColumn<bool>("accepted");
    const QString maxTrial = QStringLiteral("MaxTrial");
    const QString scenarioType = QStringLiteral("MaxNumberOfAScenarioType");
    const QString delay = QStringLiteral("inFlowDelayValue");
    const QString length = QStringLiteral("outFlowDelayLength");
    QTest::newRow("16-bit largest") << scenarioType << QStringLiteral("32767") << true;
    QTest::newRow("16-bit above largest") << scenarioType << QStringLiteral("32768") << false;
    QTest::newRow("16-bit half above largest rounds up out of range")
        << scenarioType << QStringLiteral("32767.5") << false;
    QTest::newRow("16-bit far above") << scenarioType << QStringLiteral("1e6") << false;
    QTest::newRow("16-bit delay below smallest") << delay << QStringLiteral("-32769") << false;
    QTest::newRow("16-bit delay smallest") << delay << QStringLiteral("-32768") << true;
    QTest::newRow("16-bit length above largest") << length << QStringLiteral("40000") << false;
    QTest::newRow("32-bit above largest") << maxTrial << QStringLiteral("3000000000") << false;
    QTest::newRow("32-bit value above 16 bits") << maxTrial << QStringLiteral("100000") << true;
    QTest::newRow("no periods") << maxTrial << QStringLiteral("0") << true;
    QTest::newRow("negative periods") << maxTrial << QStringLiteral("-3") << false;
    const QString amount = QStringLiteral("InitialAmountInTank");
    QTest::newRow("amount that overflows once scaled")
        << amount << QStringLiteral("1e308") << false;
    QTest::newRow("largest amount") << amount << QStringLiteral("-1e15") << true;
    QTest::newRow("order beyond any tank")
        << QStringLiteral("InitialForwardDischarge") << QStringLiteral("2e15") << false;
}

void TestScenario::valueRange() {
    QFETCH(QString, key);
    QFETCH(QString, text);
    QFETCH(bool, accepted);
    const QString path = writeSetup({{key, text}});
    TaskState state;
    try {
        SetupFile setup(path);
        LoadScenarioParameters(state, setup);
        LoadDelaySettings(state, setup);
        QVERIFY2(accepted, "An out-of-range value was accepted");
    } catch (const SetupError &e) {
        QVERIFY2(!accepted, qPrintable(e.message()));
        QVERIFY2(e.message().contains(key), qPrintable(e.message()));
        QVERIFY2(e.message().contains(path), qPrintable(e.message()));
        QVERIFY2(e.message().contains(QStringLiteral("range")), qPrintable(e.message()));
    }
}

void TestScenario::delayTables() {
    TaskState state = loadScenario(
        writeSetup({{QStringLiteral("MaxTrial"), QStringLiteral("120")},
                    {QStringLiteral("MaxNumberOfAScenarioType"), QStringLiteral("150")},
                    {QStringLiteral("inFlowDelayLength"), QStringLiteral("100")},
                    {QStringLiteral("outFlowDelayLength"), QStringLiteral("7")}}));
    QCOMPARE(state.inFlowDelayEnd.size(), size_t{151});
    QCOMPARE(state.outFlowDelayEnd.size(), size_t{151});
    QCOMPARE(state.inFlowDelayEnd.at(0), int16_t{100});
    QCOMPARE(state.outFlowDelayEnd.at(0), int16_t{7});
    for (size_t k = 1; k < state.inFlowDelayEnd.size(); ++k) {
        QCOMPARE(state.inFlowDelayEnd.at(k), int16_t{0});
        QCOMPARE(state.outFlowDelayEnd.at(k), int16_t{0});
    }
}

void TestScenario::scaleLabelsAndTableSizes() {
    TaskState state = loadScenario(writeSetup({}));
    BuildScaleLabels(state);
    SizeEnvironmentTables(state);
    QCOMPARE(state.yMarkLabels,
             (QStringList{QStringLiteral("1"), QStringLiteral("2"), QStringLiteral("3"),
                          QStringLiteral("4"), QStringLiteral("5"), QStringLiteral("6"),
                          QStringLiteral("7"), QStringLiteral("8"), QStringLiteral("9"),
                          QStringLiteral("10"), QString()}));
    // Environment tables reach MaxNumberOfAScenarioType + 1, order tables MaxTrial + 1.
    QCOMPARE(state.EnvInflow, std::vector<double>(27, 0.0));
    QCOMPARE(state.EnvOutflow, std::vector<double>(27, 0.0));
    QCOMPARE(state.BackOrder, std::vector<double>(22, 0.0));
    QCOMPARE(state.ForwardDischarge, std::vector<double>(22, 0.0));
    // Built again from scratch, not appended to.
    BuildScaleLabels(state);
    QCOMPARE(state.yMarkLabels.size(), 11);
}

void TestScenario::validateScenario_data() {
    QTest::addColumn<QString>("inDelay");
    QTest::addColumn<QString>("backOrder");
    QTest::addColumn<QString>("outDelay");
    QTest::addColumn<QString>("forwardOrder");
    QTest::addColumn<bool>("passes");
    QTest::newRow("inflow delay 1 without an initial order")
        << QStringLiteral("1") << QStringLiteral("0") << QStringLiteral("1") << QStringLiteral("0")
        << true;
    QTest::newRow("inflow delay 1 with an initial order")
        << QStringLiteral("1") << QStringLiteral("4") << QStringLiteral("1") << QStringLiteral("0")
        << false;
    QTest::newRow("outflow delay 1 with an initial order")
        << QStringLiteral("3") << QStringLiteral("0") << QStringLiteral("1") << QStringLiteral("2")
        << false;
    QTest::newRow("negative initial order counts too")
        << QStringLiteral("1") << QStringLiteral("-1") << QStringLiteral("3") << QStringLiteral("0")
        << false;
    QTest::newRow("delay 3 with initial orders")
        << QStringLiteral("3") << QStringLiteral("4") << QStringLiteral("3") << QStringLiteral("2")
        << true;
    QTest::newRow("delay 1.4 rounds to 1") << QStringLiteral("1.4") << QStringLiteral("4")
                                           << QStringLiteral("2") << QStringLiteral("0") << false;
    QTest::newRow("delay 0 with an initial order")
        << QStringLiteral("0") << QStringLiteral("4") << QStringLiteral("2") << QStringLiteral("2")
        << true;
}

void TestScenario::validateScenario() {
    QFETCH(QString, inDelay);
    QFETCH(QString, backOrder);
    QFETCH(QString, outDelay);
    QFETCH(QString, forwardOrder);
    QFETCH(bool, passes);
    const TaskState state =
        loadScenario(writeSetup({{QStringLiteral("inFlowDelayValue"), inDelay},
                                 {QStringLiteral("InitialBackOrder"), backOrder},
                                 {QStringLiteral("outFlowDelayValue"), outDelay},
                                 {QStringLiteral("InitialForwardDischarge"), forwardOrder}}));
    const QStringList expected =
        passes
            ? QStringList()
            : QStringList{QStringLiteral("Value of inFlowTPAfter or outFlowTPAfter is 1 and "
                                         "your initial Back or Forward orders are not set to 0")};
    QCOMPARE(ValidateScenario(state), expected);
}

// No setup key sets AfterEveryNTrials, so only a program change can break this rule.
void TestScenario::validateAfterEveryNTrials() {
    TaskState state =
        loadScenario(writeSetup({{QStringLiteral("InitialBackOrder"), QStringLiteral("4")}}));
    state.AfterEveryNTrials = 0;
    QCOMPARE(ValidateScenario(state),
             (QStringList{QStringLiteral("Value of AfterEveryNTrials should be greater than 0"),
                          QStringLiteral("Value of inFlowTPAfter or outFlowTPAfter is 1 and your "
                                         "initial Back or Forward orders are not set to 0")}));
    state.InitialBackOrder = 0;
    state.AfterEveryNTrials = -2;
    QCOMPARE(ValidateScenario(state),
             QStringList{QStringLiteral("Value of AfterEveryNTrials should be greater than 0")});
}

void TestScenario::scenarioConflict_data() {
    QTest::addColumn<SetupValues>("values");
    QTest::addColumn<QStringList>("named"); // empty: no conflict
    QTest::newRow("usual scenario") << SetupValues() << QStringList();
    QTest::newRow("environment tables exactly MaxTrial")
        << setupValues({{"MaxNumberOfAScenarioType", "20"}}) << QStringList();
    QTest::newRow("environment tables below MaxTrial")
        << setupValues({{"MaxNumberOfAScenarioType", "19"}})
        << QStringList{QStringLiteral("MaxNumberOfAScenarioType"), QStringLiteral("19"),
                       QStringLiteral("MaxTrial"), QStringLiteral("20")};
    QTest::newRow("MaxTrial zero is a run without periods")
        << setupValues({{"MaxTrial", "0"}}) << QStringList();
    // Delay 23 spreads over periods 1 to 22, one past MaxTrial + 1 = 21.
    QTest::newRow("initial inflow spread past the tables")
        << setupValues({{"inFlowDelayValue", "23"}, {"InitialBackOrder", "4"}})
        << QStringList{QStringLiteral("inFlowDelayValue"), QStringLiteral("23"),
                       QStringLiteral("InitialBackOrder"), QStringLiteral("4"),
                       QStringLiteral("21")};
    QTest::newRow("initial inflow spread up to MaxTrial + 1")
        << setupValues({{"inFlowDelayValue", "22"}, {"InitialBackOrder", "4"}}) << QStringList();
    QTest::newRow("long delay without an initial order")
        << setupValues({{"inFlowDelayValue", "500"}}) << QStringList();
    QTest::newRow("initial outflow spread past the tables")
        << setupValues({{"outFlowDelayValue", "30"}, {"InitialForwardDischarge", "2.5"}})
        << QStringList{QStringLiteral("outFlowDelayValue"), QStringLiteral("30"),
                       QStringLiteral("InitialForwardDischarge"), QStringLiteral("2.5")};
}

void TestScenario::scenarioConflict() {
    QFETCH(SetupValues, values);
    QFETCH(QStringList, named);
    const TaskState state = loadScenario(writeSetup(values));
    const QString conflict = ScenarioConflict(state);
    QCOMPARE(conflict.isEmpty(), named.isEmpty());
    for (const QString &part : named)
        QVERIFY2(conflict.contains(part), qPrintable(conflict));
}

void TestScenario::spreadsInitialOrders_data() {
    QTest::addColumn<bool>("inflow"); // BackOrder, else ForwardDischarge
    QTest::addColumn<double>("order");
    QTest::addColumn<int>("delay");
    QTest::addColumn<std::vector<double>>("schedule"); // periods 0 to 6 (MaxTrial 5)
    QTest::newRow("4 over inflow delay 3")
        << true << 4.0 << 3 << std::vector<double>{0, 2, 2, 0, 0, 0, 0};
    QTest::newRow("3 over outflow delay 4")
        << false << 3.0 << 4 << std::vector<double>{0, 1, 1, 1, 0, 0, 0};
    QTest::newRow("delay 0 puts the whole order in period 1")
        << true << 4.0 << 0 << std::vector<double>{0, 4, 0, 0, 0, 0, 0};
    QTest::newRow("delay 1 puts the whole order in period 1")
        << true << 4.0 << 1 << std::vector<double>{0, 4, 0, 0, 0, 0, 0};
    QTest::newRow("delay 1 without an order")
        << true << 0.0 << 1 << std::vector<double>{0, 0, 0, 0, 0, 0, 0};
    QTest::newRow("delay 2 puts the whole order in period 1")
        << false << 2.5 << 2 << std::vector<double>{0, 2.5, 0, 0, 0, 0, 0};
    QTest::newRow("negative delay puts the whole order in period 1")
        << false << 2.5 << -3 << std::vector<double>{0, 2.5, 0, 0, 0, 0, 0};
    QTest::newRow("spread up to MaxTrial + 1")
        << true << 12.0 << 7 << std::vector<double>{0, 2, 2, 2, 2, 2, 2};
    QTest::newRow("zero order spread past the table")
        << true << 0.0 << 40 << std::vector<double>{0, 0, 0, 0, 0, 0, 0};
}

void TestScenario::spreadsInitialOrders() {
    QFETCH(bool, inflow);
    QFETCH(double, order);
    QFETCH(int, delay);
    QFETCH(std::vector<double>, schedule);
    TaskState state;
    state.MaxTrial = 5;
    CreateOrderTables(state);
    (inflow ? state.InitialBackOrder : state.InitialForwardDischarge) = order;
    (inflow ? state.inFlowTPAfter : state.outFlowTPAfter) = static_cast<int16_t>(delay);
    InitTaskState(state);
    QCOMPARE(inflow ? state.BackOrder : state.ForwardDischarge, schedule);
    QCOMPARE(inflow ? state.TotalBackOrder : state.TotalForwardDischarge, order);
    QCOMPARE(inflow ? state.ForwardDischarge : state.BackOrder, std::vector<double>(7, 0.0));
    QCOMPARE(inflow ? state.TotalForwardDischarge : state.TotalBackOrder, 0.0);
}

void TestScenario::initialisesTotalsAndTables() {
    TaskState state = loadScenario(writeSetup({}));
    SizeEnvironmentTables(state);
    state.pipeEnvOut = 9;
    state.tankIndex = 4;
    state.UserInflow.assign(3, 7.0);
    InitTaskState(state);
    QCOMPARE(state.TotalBonus, 5.0);
    QCOMPARE(state.accumulatedCost, 5.0);
    QCOMPARE(state.currentCost, 0.0);
    QCOMPARE(state.CurrentBonus, 0.0);
    QCOMPARE(state.pipeUserIn, int16_t{0});
    QCOMPARE(state.pipeUserOut, int16_t{1});
    QCOMPARE(state.pipeEnvIn, int16_t{2});
    QCOMPARE(state.pipeEnvOut, int16_t{3});
    QCOMPARE(state.tankIndex, int16_t{0});
    QCOMPARE(state.UserInflow, std::vector<double>(22, 0.0));
    QCOMPARE(state.UserOutflow, std::vector<double>(22, 0.0));

    // Later in a run the totals are kept; only the decision tables start again.
    state.currentTrial = 3;
    state.TotalBonus = 5.1;
    state.TotalBackOrder = 2;
    state.UserOutflow.at(2) = 1;
    InitTaskState(state);
    QCOMPARE(state.TotalBonus, 5.1);
    QCOMPARE(state.TotalBackOrder, 2.0);
    QCOMPARE(state.UserOutflow, std::vector<double>(22, 0.0));
}

void TestScenario::refusedMaxTrialLeavesSmallTables_data() {
    QTest::addColumn<int>("maxTrial");
    QTest::addColumn<size_t>("size");
    QTest::newRow("MaxTrial -1 holds period 0 only") << -1 << size_t{1};
    QTest::newRow("MaxTrial -2") << -2 << size_t{0};
    QTest::newRow("MaxTrial -32768") << -32768 << size_t{0};
    QTest::newRow("MaxTrial 0") << 0 << size_t{2};
}

// ScenarioConflict refuses MaxTrial below 1; preparing such a state anyway must not fail.
void TestScenario::refusedMaxTrialLeavesSmallTables() {
    QFETCH(int, maxTrial);
    QFETCH(size_t, size);
    TaskState state;
    state.MaxTrial = maxTrial;
    state.InitialBackOrder = 4;
    state.inFlowTPAfter = 3;
    QVERIFY(!ScenarioConflict(state).isEmpty());
    CreateOrderTables(state);
    InitTaskState(state);
    QCOMPARE(state.UserInflow.size(), size);
    QCOMPARE(state.UserOutflow.size(), size);
    QCOMPARE(state.BackOrder.size(), size);
    QCOMPARE(state.TotalBackOrder, 4.0);
}

// The setup file that ships with the program loads, passes both checks and can be played.
void TestScenario::shippedSetupFileIsPlayable() {
    const QString path = QStringLiteral(FLUXMERE_SOURCE_DIR "/data/Setup.txt");
    TaskState state = loadScenario(path);
    QCOMPARE(state.MaxTrial, 100);
    QCOMPARE(state.InitialAmountInTank, 2.0);
    QCOMPARE(state.GoalLinePoisition, 4.0);
    QCOMPARE(state.inFlowTPAfter, int16_t{1});
    QCOMPARE(state.outFlowTPAfter, int16_t{1});
    QCOMPARE(state.inFlowDelayEnd.at(0), int16_t{100});
    QVERIFY(ValidateScenario(state).isEmpty());
    QCOMPARE(ScenarioConflict(state), QString());
}

void TestScenario::schedulesFillEveryRun_data() {
    QTest::addColumn<QString>("inflow");
    QTest::addColumn<QString>("outflow");
    QTest::addColumn<std::vector<double>>("inTable"); // periods 0 to 5 (MaxTrial 4)
    QTest::addColumn<std::vector<double>>("outTable");
    QTest::addColumn<QStringList>("problem"); // parts of the setup error, if one
    const std::vector<double> none(6, 0.0);
    QTest::newRow("no schedule: flows 0")
        << QString() << QString() << none << none << QStringList();
    QTest::newRow("one value for every period")
        << QStringLiteral("2") << QString() << std::vector<double>{0, 2, 2, 2, 2, 0} << none
        << QStringList();
    QTest::newRow("one value per period, blanks and negatives allowed")
        << QStringLiteral("1, -2,3 , 4") << QStringLiteral("0.5")
        << std::vector<double>{0, 1, -2, 3, 4, 0} << std::vector<double>{0, .5, .5, .5, .5, 0}
        << QStringList();
    QTest::newRow("a count that is neither 1 nor MaxTrial")
        << QStringLiteral("1, 2, 3") << QString() << none << none
        << QStringList{QStringLiteral("EnvInflowSchedule"), QStringLiteral("gives 3 values"),
                       QStringLiteral("MaxTrial = 4")};
    QTest::newRow("a value that is not a number")
        << QString() << QStringLiteral("1, x, 3, 4") << none << none
        << QStringList{QStringLiteral("EnvOutflowSchedule"), QStringLiteral("\"x\"")};
    QTest::newRow("a value beyond any tank") << QStringLiteral("2e15") << QString() << none << none
                                             << QStringList{QStringLiteral("range")};
}

// The schedules fill the environment tables at the start of every run, a run after a reset
// too, so that what a model wrote into one run is gone in the next.
void TestScenario::schedulesFillEveryRun() {
    QFETCH(QString, inflow);
    QFETCH(QString, outflow);
    QFETCH(std::vector<double>, inTable);
    QFETCH(std::vector<double>, outTable);
    QFETCH(QStringList, problem);
    SetupValues values = setupValues({{"MaxTrial", "4"}, {"MaxNumberOfAScenarioType", "4"}});
    if (!inflow.isEmpty())
        values.insert(QStringLiteral("EnvInflowSchedule"), inflow);
    if (!outflow.isEmpty())
        values.insert(QStringLiteral("EnvOutflowSchedule"), outflow);
    const QString path = writeSetup(values);
    TaskState state;
    try {
        SetupFile setup(path);
        LoadScenario(state, setup);
    } catch (const SetupError &error) {
        QVERIFY2(!problem.isEmpty(), qPrintable(error.message()));
        for (const QString &part : problem)
            QVERIFY2(error.message().contains(part), qPrintable(error.message()));
        return;
    }
    QVERIFY2(problem.isEmpty(), "a bad schedule was accepted");
    CreateOrderTables(state);
    PrepareTaskState(state);
    QCOMPARE(state.EnvInflow, inTable);
    QCOMPARE(state.EnvOutflow, outTable);
    state.EnvInflow[2] = 99; // a model's EI for period 2
    PrepareTaskState(state);
    QCOMPARE(state.EnvInflow, inTable);
}

// Every line that gives a password, read or misread, is masked; nothing else of the text
// changes, its line ends included; the identity does not depend on the password.
void TestScenario::keptSetupNeverHoldsThePassword() {
    const QByteArray text = "MaxTrial = 3\r\nExitPassword = Lab 7\r\nExitPassword=Lab 7\n"
                            "' exitpassword = old\rGoal = 4";
    QCOMPARE(redactedSetupText(text), QByteArray("MaxTrial = 3\r\nExitPassword = ***\r\n"
                                                 "ExitPassword=***\n' exitpassword = ***\r"
                                                 "Goal = 4"));
    QByteArray other = text;
    other.replace("Lab 7", "other");
    QCOMPARE(setupIdOf(redactedSetupText(other)), setupIdOf(redactedSetupText(text)));
    QCOMPARE(setupIdOf(redactedSetupText(text)).size(), 12);

    QTemporaryDir folder;
    QString id;
    QString error;
    QVERIFY2(keepSetup(folder.path(), text, &id, &error), qPrintable(error));
    QFile kept(keptSetupPath(folder.path(), id));
    QVERIFY(kept.open(QIODevice::ReadOnly));
    QVERIFY(!kept.readAll().contains("Lab 7"));

    // Written so that the reader still takes it, or nearly: a no-break blank before "=" (in
    // Latin-1 and in UTF-8), a byte order mark, a full-width "=".
    for (const QByteArray &line :
         {QByteArray("ExitPassword\xA0= Lab 7"), QByteArray("ExitPassword\xC2\xA0= Lab 7"),
          QByteArray("\xEF\xBB\xBF"
                     "ExitPassword = Lab 7"),
          QByteArray("ExitPassword \xEF\xBC\x9D Lab 7")}) {
        const QByteArray redacted = redactedSetupText(line + "\r\nMaxTrial = 3\r\n");
        QVERIFY2(!redacted.contains("Lab 7") && redacted.endsWith("***\r\nMaxTrial = 3\r\n"),
                 redacted.constData());
    }
}

void TestScenario::exitUsernameKey_data() {
    QTest::addColumn<QString>("text"); // empty: no such line
    QTest::addColumn<bool>("asked");
    QTest::addColumn<bool>("accepted");
    QTest::newRow("absent") << QString() << true << true;
    QTest::newRow("1") << QStringLiteral("1") << true << true;
    QTest::newRow("0") << QStringLiteral("0") << false << true;
    QTest::newRow("2") << QStringLiteral("2") << true << false;
    QTest::newRow("no") << QStringLiteral("no") << true << false;
}

// The exit window's user-name box is left out only when the setup says ExitUsername = 0.
void TestScenario::exitUsernameKey() {
    QFETCH(QString, text);
    QFETCH(bool, asked);
    QFETCH(bool, accepted);
    SetupValues values;
    if (!text.isEmpty())
        values.insert(QStringLiteral("ExitUsername"), text);
    const QString path = writeSetup(values);
    TaskState state;
    try {
        SetupFile setup(path);
        LoadScenario(state, setup);
        QVERIFY(accepted);
        QCOMPARE(state.ExitUsername, asked);
    } catch (const SetupError &e) {
        QVERIFY2(!accepted, qPrintable(e.message()));
        QVERIFY2(e.message().contains(QStringLiteral("ExitUsername")), qPrintable(e.message()));
    }
}

QTEST_GUILESS_MAIN(TestScenario)
#include "test_scenario.moc"
