#include "core/recording/datafile.h"
#include "core/setup/taskstate.h"

#include <QFile>
#include <QLocale>
#include <QTemporaryDir>
#include <QtTest>

using namespace Qt::StringLiterals;

namespace {

// Period 3 of a scaled run, with values whose text forms are easy to get wrong.
TaskState sampleState() {
    TaskState state;
    state.subjectName = QStringLiteral("Ann");
    state.currentTrial = 3;
    state.unitHeight = 60;
    state.scaledTank = true;
    state.UserInflow = {0, 0, 0, 2.5, 0};
    state.UserOutflow = {0, 0, 0, 0.1, 0};
    state.EnvInflow = {0, 0, 0, 5.05, 0};
    state.EnvOutflow = {0, 0, 0, 0.00001, 0};
    state.BackOrder = {0, 0, 0, 4.5, 0};
    state.ForwardDischarge = {0, 0, 0, 0, 0};
    state.Amount = 4 * 60;
    state.GoalLinePoisition = 4.1 * 60;
    state.CurrentBonus = 0.05;
    state.TotalBonus = 5.05;
    state.TotalBackOrder = 12;
    state.TotalForwardDischarge = -3.5;
    state.inFlowTPAfter = 3;
    state.outFlowTPAfter = 2;
    state.goalToleranceBelow = 0.1;
    state.goalToleranceAbove = 0.2;
    state.StartTime = QTime(15, 4, 5);
    state.EndTime = QTime(9, 0, 7);
    return state;
}

const QDate sampleDate(2026, 12, 7);

QByteArray contents(const QString &path) {
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("<unreadable>");
}

QByteArray fileLine(const QString &text) {
    return text.toLatin1() + "\r\n";
}

} // namespace

class TestDataFile : public QObject {
    Q_OBJECT

private slots:
    void cleanup() { QLocale::setDefault(QLocale::c()); }

    void headerLineHoldsTheColumnNames() {
        const QString expected = QStringLiteral(
            "Subject\tVersion\tTrial\tDate\tStartTime\tEndTime\tCurrentBonus\tTotalBonus\t"
            "UserInflow\tUserOutflow\tEnvInflow\tEnvOutflow\tAmount\tBackOrder\tTotalBackOrder\t"
            "ForwardDischarge\tTotalForwardDischarge\tGoalAmount\tDelayUI\tDelayUO\t"
            "GoalUpperBound\tGoalLowerBound");
        QCOMPARE(dataHeaderLine(), expected);
        QCOMPARE(dataHeaderLine().split(QLatin1Char('\t')).size(), 22);
    }

    void periodLine_data() {
        QTest::addColumn<QString>("subject");
        QTest::addColumn<QString>("version");
        QTest::addColumn<bool>("scaled");
        QTest::addColumn<QString>("expected");

        const QString times = u"\t3\t12/7/2026\t3:04:05 PM\t9:00:07 AM\t0.05\t5.05"_s;
        const QString tail = u"\t5.05\t1E-05\t4\t4.5\t12\t0\t-3.5\t4.1\t3\t2\t0.1\t0.2"_s;
        QTest::newRow("person: empty version gives two TABs")
            << u"Ann"_s << QString() << true << u"Ann\t"_s + times + u"\t2.5\t0.1"_s + tail;
        QTest::newRow("model run carries its version")
            << u"ACT-R"_s << u"BATCH"_s << true
            << u"ACT-R\tBATCH"_s + times + u"\t2.5\t0.1"_s + tail;
        QTest::newRow("unscaled amounts are written as held")
            << u"Ann"_s << QString() << false
            << u"Ann\t"_s + times +
                   u"\t2.5\t0.1\t5.05\t1E-05\t240\t4.5\t12\t0\t-3.5\t246\t3\t2\t0.1\t0.2"_s;
        QTest::newRow("TAB in the name becomes a blank")
            << u"A\tnn"_s << QString() << true << u"A nn\t"_s + times + u"\t2.5\t0.1"_s + tail;
        QTest::newRow("CR LF in the name become blanks")
            << u"A\r\nnn"_s << QString() << true << u"A  nn\t"_s + times + u"\t2.5\t0.1"_s + tail;
        QTest::newRow("LF in the version becomes a blank")
            << u"Ann"_s << u"BAT\nCH"_s << true
            << u"Ann\tBAT CH"_s + times + u"\t2.5\t0.1"_s + tail;
    }

    void periodLine() {
        QFETCH(QString, subject);
        QFETCH(QString, version);
        QFETCH(bool, scaled);
        QFETCH(QString, expected);

        TaskState state = sampleState();
        state.subjectName = subject;
        state.versionTag = version;
        state.scaledTank = scaled;
        const QString line = QString::fromLatin1(::periodLine(state, sampleDate));
        QCOMPARE(line, expected);
        QCOMPARE(line.split(QLatin1Char('\t')).size(), 22);
    }

    void germanLocaleStillWritesPoints() {
        QLocale::setDefault(QLocale(QLocale::German, QLocale::Germany));
        const QStringList fields =
            QString::fromLatin1(::periodLine(sampleState(), sampleDate)).split(QLatin1Char('\t'));
        QCOMPARE(fields.at(7), QStringLiteral("5.05")); // TotalBonus
        QCOMPARE(fields.at(9), QStringLiteral("0.1"));  // UserOutflow
        QCOMPARE(fields.at(3), QStringLiteral("12/7/2026"));
        QCOMPARE(fields.at(4), QStringLiteral("3:04:05 PM"));
    }

    void periodBeyondTheTablesRecordsZeroFlows() {
        TaskState state = sampleState();
        state.currentTrial = 9;
        const QStringList fields =
            QString::fromLatin1(::periodLine(state, sampleDate)).split(QLatin1Char('\t'));
        QCOMPARE(fields.at(2), QStringLiteral("9"));
        for (int column : {8, 9, 10, 11, 13, 15})
            QCOMPARE(fields.at(column), QStringLiteral("0"));
    }

    // The header comes whenever the file is missing or empty, and the lines follow it with
    // their numbers in the file; a file deleted meanwhile starts again with a header.
    void linesFollowOneHeaderWithTheirNumbers() {
        QTemporaryDir dir;
        const QString path = dir.filePath(QStringLiteral("Data.txt"));
        QFile(path).open(QIODevice::WriteOnly); // a zero-byte file
        RecordFile file(path, dataHeaderLine(), classifyDataTail);
        QStringList notes;
        QString error;
        QVERIFY2(file.prepare(true, &notes, &error), qPrintable(error));
        QCOMPARE(contents(path), fileLine(dataHeaderLine()));
        TaskState state = sampleState();
        QByteArray expected = fileLine(dataHeaderLine());
        for (int t = 1; t <= 3; ++t) {
            state.currentTrial = t;
            const QByteArray line = ::periodLine(state, sampleDate) + "\r\n";
            QCOMPARE(file.append(line, 1, &error), t + 1);
            expected += line;
        }
        QVERIFY(file.prepare(true, &notes, &error)); // the next run: no second header
        QCOMPARE(file.append("a\r\nb\r\n", 2, &error), 5);
        QCOMPARE(contents(path), expected + "a\r\nb\r\n");
        QVERIFY(notes.isEmpty());

        QVERIFY(QFile::remove(path));
        QCOMPARE(file.append("after\r\n", 1, &error), 2);
        QCOMPARE(contents(path), fileLine(dataHeaderLine()) + "after\r\n");
    }

    // The start never removes a whole line and never changes a file it cannot read as its
    // own: a whole last line gets its line end, part of one is cut back, anything else is
    // refused with its line.
    void fileEndsAreMendedOnlyWhenTheyCanBe_data() {
        const QByteArray header = fileLine(dataHeaderLine());
        const QByteArray line = ::periodLine(sampleState(), sampleDate);
        QTest::addColumn<QByteArray>("before");
        QTest::addColumn<QByteArray>("after"); // empty: refused, left as it was
        QTest::addColumn<QString>("said");
        QTest::newRow("part of a line")
            << header + line + "\r\n" + line.left(30) << header + line + "\r\n"
            << u"30 bytes"_s;
        QTest::newRow("a whole line without its line end")
            << header + line << header + line + "\r\n"
            << u"CR LF was added"_s;
        QTest::newRow("half a line end") << header + line + "\r" << header + line + "\r\n"
                                         << u"CR LF was added"_s;
        QTest::newRow("whole lines stay") << header + line + "\r\n"
                                          << header + line + "\r\n"
                                          << QString();
        QTest::newRow("only part of the header") << header.left(7) << header << u"7 bytes"_s;
        QTest::newRow("line feeds alone") << header.chopped(2) + "\n" + line + "\n"
                                          << QByteArray() << u"line 1"_s;
        QTest::newRow("carriage returns alone")
            << header + line + "\r" + line + "\r" << QByteArray() << u"line 2"_s;
        QTest::newRow("no header") << line + "\r\n" << QByteArray() << u"header"_s;
        QTest::newRow("a last line of another kind")
            << header + "notes\tby\thand\t!" << QByteArray() << u"line 2"_s;
    }

    void fileEndsAreMendedOnlyWhenTheyCanBe() {
        QFETCH(QByteArray, before);
        QFETCH(QByteArray, after);
        QFETCH(QString, said);
        QTemporaryDir dir;
        const QString path = dir.filePath(QStringLiteral("Data.txt"));
        QFile written(path);
        QVERIFY(written.open(QIODevice::WriteOnly) && written.write(before) == before.size());
        written.close();
        RecordFile file(path, dataHeaderLine(), classifyDataTail);
        QString error;
        QCOMPARE(file.inspect(&error), !after.isEmpty()); // the program's start refuses alike
        QStringList notes;
        error.clear();
        const bool prepared = file.prepare(true, &notes, &error);
        QCOMPARE(prepared, !after.isEmpty());
        QCOMPARE(contents(path), prepared ? after : before);
        const QString told = prepared ? notes.join(u' ') : error;
        QVERIFY2(said.isEmpty() ? told.isEmpty() : told.contains(said), qPrintable(told));
    }

    void textIsWrittenAsLatin1() {
        QTemporaryDir dir;
        const QString path = dir.filePath(QStringLiteral("Data.txt"));
        TaskState state = sampleState();
        state.subjectName = QStringLiteral("J\u00fcrgen");
        QVERIFY(::periodLine(state, sampleDate).startsWith("J\xfcrgen\t"));
    }

    void unwritableFileReportsWhy() {
        QTemporaryDir dir;
        const QString path = dir.filePath(QStringLiteral("missing/Data.txt"));
        RecordFile file(path, dataHeaderLine(), classifyDataTail);
        QStringList notes;
        QString error;
        QVERIFY(!file.prepare(true, &notes, &error));
        QVERIFY2(error.contains(QStringLiteral("Data.txt")), qPrintable(error));
        QCOMPARE(file.append("x\r\n", 1, &error), 0);
        QVERIFY(!QFile::exists(path));
    }
};

QTEST_GUILESS_MAIN(TestDataFile)
#include "test_datafile.moc"
