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

    void headerWrittenOnlyWhenTheFileIsMissing() {
        QTemporaryDir dir;
        const QString path = dir.filePath(QStringLiteral("Data.txt"));
        QVERIFY(WriteDataHeader(path));
        QCOMPARE(contents(path), fileLine(dataHeaderLine()));
        QVERIFY(WriteDataHeader(path));
        QCOMPARE(contents(path), fileLine(dataHeaderLine()));

        const QString existing = dir.filePath(QStringLiteral("Old.txt"));
        QVERIFY(WritePeriodLine(existing, QStringLiteral("earlier run")));
        QVERIFY(WriteDataHeader(existing));
        QCOMPARE(contents(existing), QByteArray("earlier run\r\n"));
    }

    void oneLinePerCallAfterTheHeader() {
        QTemporaryDir dir;
        const QString path = dir.filePath(QStringLiteral("Data.txt"));
        QVERIFY(WriteDataHeader(path));
        TaskState state = sampleState();
        QByteArray expected = fileLine(dataHeaderLine());
        for (int t = 1; t <= 3; ++t) {
            state.currentTrial = t;
            const QString line = QString::fromLatin1(::periodLine(state, sampleDate));
            QVERIFY(WritePeriodLine(path, line));
            expected += fileLine(line);
        }
        // A second run appends without a second header.
        QVERIFY(WriteDataHeader(path));
        QVERIFY(WritePeriodLine(path, QStringLiteral("second run")));
        expected += "second run\r\n";

        const QByteArray written = contents(path);
        QCOMPARE(written, expected);
        QCOMPARE(written.count("\r\n"), 5);
        QCOMPARE(written.count('\n'), 5); // no bare line feeds
        const QList<QByteArray> lines = written.split('\n');
        for (int i = 0; i < 4; ++i)
            QCOMPARE(lines.at(i).count('\t'), 21);
    }

    void deletedFileIsRecreatedWithoutHeader() {
        QTemporaryDir dir;
        const QString path = dir.filePath(QStringLiteral("Data.txt"));
        QVERIFY(WriteDataHeader(path));
        QVERIFY(WritePeriodLine(path, QStringLiteral("period 1")));
        QVERIFY(QFile::remove(path));
        QVERIFY(WritePeriodLine(path, QStringLiteral("period 2")));
        QCOMPARE(contents(path), QByteArray("period 2\r\n"));
    }

    // A line cut short by an earlier program (killed, or out of disk) is removed before the
    // next run writes, so that its first line is not glued onto the fragment.
    void tornEndIsRemoved_data() {
        QTest::addColumn<QByteArray>("before");
        QTest::addColumn<QByteArray>("after");
        QTest::addColumn<bool>("noted");
        QTest::newRow("part of a line") << QByteArray("head\r\nline 1\r\nline 2 in p")
                                        << QByteArray("head\r\nline 1\r\n") << true;
        QTest::newRow("half a line end")
            << QByteArray("head\r\nline 1\r") << QByteArray("head\r\n") << true;
        QTest::newRow("whole lines stay")
            << QByteArray("head\r\nline 1\r\n") << QByteArray("head\r\nline 1\r\n") << false;
        QTest::newRow("no line end at all") << QByteArray("hea") << QByteArray() << true;
    }

    void tornEndIsRemoved() {
        QFETCH(QByteArray, before);
        QFETCH(QByteArray, after);
        QFETCH(bool, noted);
        QTemporaryDir dir;
        const QString path = dir.filePath(QStringLiteral("Data.txt"));
        QFile file(path);
        QVERIFY(file.open(QIODevice::WriteOnly) && file.write(before) == before.size());
        file.close();
        QString note;
        QString error;
        QVERIFY(RepairTornEnd(path, &note, &error));
        QCOMPARE(contents(path), after);
        QCOMPARE(!note.isEmpty(), noted);
        if (noted)
            QVERIFY2(note.contains(QString::number(before.size() - after.size())),
                     qPrintable(note));
    }

    void textIsWrittenAsLatin1() {
        QTemporaryDir dir;
        const QString path = dir.filePath(QStringLiteral("Data.txt"));
        QVERIFY(WritePeriodLine(path, QStringLiteral("J\u00fcrgen")));
        QCOMPARE(contents(path), QByteArray("J\xfcrgen\r\n"));
    }

    void unwritableFileReportsWhy_data() {
        QTest::addColumn<bool>("header");
        QTest::newRow("header") << true;
        QTest::newRow("period line") << false;
    }

    void unwritableFileReportsWhy() {
        QFETCH(bool, header);
        QTemporaryDir dir;
        const QString path = dir.filePath(QStringLiteral("missing/Data.txt"));
        QString error;
        const bool written = header ? WriteDataHeader(path, &error)
                                    : WritePeriodLine(path, QStringLiteral("x"), &error);
        QVERIFY(!written);
        QVERIFY2(error.contains(QStringLiteral("Data.txt")), qPrintable(error));
        QVERIFY(!QFile::exists(path));
    }
};

QTEST_GUILESS_MAIN(TestDataFile)
#include "test_datafile.moc"
