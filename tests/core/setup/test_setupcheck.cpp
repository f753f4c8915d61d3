#include "core/setup/setupcheck.h"

#include <QFile>
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
    QVERIFY(check.warnings.isEmpty());
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
        << QStringLiteral("gives no value for MaxTrial") << QString()
        << QStringLiteral("MaxTrail is not a key the program reads; did you mean MaxTrial?")
        << QStringLiteral("2");
    QTest::newRow("no blank before =")
        << QByteArray("GoalLinePoisition =") << QByteArray("GoalLinePoisition=") << false
        << QStringLiteral("gives no value for GoalLinePoisition") << QString()
        << QStringLiteral("is read as the key \"GoalLinePoisitio\" with the value \"4\"")
        << QStringLiteral("4");
    QTest::newRow("no blank after = misreads the value silently")
        << QByteArray("MaxTrial = 20") << QByteArray("MaxTrial =20") << true << QString()
        << QString()
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

QTEST_GUILESS_MAIN(TestSetupCheck)
#include "test_setupcheck.moc"
