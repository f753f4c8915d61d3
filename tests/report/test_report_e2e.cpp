#include "reportfixtures.h"
#include "support/testdatabase.h"

#include <QProcess>
#include <QSet>
#include <QTemporaryDir>
#include <QXmlStreamReader>
#include <QtTest>

using namespace Qt::StringLiterals;

namespace {

struct Outcome {
    int status = -1;
    QString out;
    QString err;
};

// Runs the real tool as a user would, without a chosen platform and without a display (or
// with the `display` given).
Outcome runReport(const QStringList &arguments, const QString &display = {}) {
    QProcess process;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.remove(u"QT_QPA_PLATFORM"_s);
    environment.remove(u"DISPLAY"_s);
    environment.remove(u"WAYLAND_DISPLAY"_s);
    if (!display.isEmpty())
        environment.insert(u"DISPLAY"_s, display);
    process.setProcessEnvironment(environment);
    process.start(QStringLiteral(FLUXMERE_REPORT_EXE), arguments);
    if (!process.waitForFinished(60000) || process.exitStatus() != QProcess::NormalExit)
        return {};
    return {process.exitCode(), QString::fromUtf8(process.readAllStandardOutput()),
            QString::fromUtf8(process.readAllStandardError())};
}

// What a reader of the page finds: the summary table's cells, the problems, and the number
// of SVG plots in each run's section.
struct Page {
    QList<QStringList> summaryRows;
    QStringList problems;
    QList<int> plotsPerRun;
    QStringList ids; // every id in the page, plots' own included
    QString error;
};

Page readPage(const QString &html) {
    Page page;
    QXmlStreamReader xml(html);
    QString table;
    while (!xml.atEnd()) {
        if (xml.readNext() != QXmlStreamReader::StartElement)
            continue;
        const QString cssClass = xml.attributes().value(u"class"_s).toString();
        if (xml.attributes().hasAttribute(u"id"_s))
            page.ids.append(xml.attributes().value(u"id"_s).toString());
        if (xml.name() == u"table"_s)
            table = cssClass;
        else if (xml.name() == u"tr"_s && table == u"summary"_s)
            page.summaryRows.append(QStringList());
        else if (xml.name() == u"td"_s && table == u"summary"_s)
            page.summaryRows.last().append(
                xml.readElementText(QXmlStreamReader::IncludeChildElements));
        else if (xml.name() == u"li"_s)
            page.problems.append(xml.readElementText());
        else if (xml.name() == u"section"_s && cssClass == u"run"_s)
            page.plotsPerRun.append(0);
        else if (xml.name() == u"svg"_s && xml.namespaceUri() == u"http://www.w3.org/2000/svg"_s &&
                 !page.plotsPerRun.isEmpty())
            ++page.plotsPerRun.last();
    }
    page.error = xml.errorString();
    page.summaryRows.removeAll(QStringList()); // the header rows have no td
    return page;
}

QString readText(const QString &path) {
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? QString::fromUtf8(file.readAll()) : QString();
}

} // namespace

class TestReportEndToEnd : public QObject {
    Q_OBJECT

private slots:
    void initTestCase() {
        QVERIFY(m_folder.isValid());
        DataLines data;
        const qint64 ann = data.addRun(u"Ann"_s, {}, {4, 4.05, 3.5});
        const qint64 alpha = data.addRun(u"alpha"_s, u"BATCH"_s, {3, 4, 4, 4});
        // Killed after period 3, so without a run record; its period 2 is damaged, yet its
        // bonus counts in the total of period 3.
        const qint64 beta = data.addRun(u"beta"_s, u"NONBATCH"_s, {4, 4, 3});
        data.lines[beta] = u"beta\tNONBATCH\t2\t12/7/2026"_s;
        QVERIFY(writeLines(dataPath(u"Data.txt"_s), data.lines));
        QVERIFY(writeLines(dataPath(u"Runs.txt"_s),
                           {runsHeaderLine(), runLine(u"Ann"_s, {}, 3, u"completed"_s, ann),
                            runLine(u"alpha"_s, u"BATCH"_s, 4, u"completed"_s, alpha)}));
        QVERIFY(createTestDatabase(dataPath(u"Krugel.db"_s)));
        QVERIFY(
            executeSql(dataPath(u"Krugel.db"_s),
                       "INSERT INTO datSubject (Subject, Version, Condition, Major, Gender, Age, "
                       "Date, Time) VALUES ('Ann', '', 'A', 'Biology', 'Female', 23,"
                       " '2026-12-07', '15:03:00');"
                       "INSERT INTO datQuestionnaire VALUES ('Ann', '', 1, 'I kept it steady'),"
                       " ('Ann', '', 2, 'Inflow first'), ('Ann', '', 3, 'No');"));
    }

    void reportsEveryRunWithItsFiguresPlotsAndProblems() {
        const QString html = m_folder.filePath(u"out/report.html"_s);
        const QString csv = m_folder.filePath(u"out/summary.csv"_s);
        QVERIFY(QDir().mkpath(m_folder.filePath(u"out"_s)));
        const Outcome outcome = runReport(
            {u"--data-dir"_s, m_folder.filePath(u"data"_s), u"-o"_s, html, u"--csv"_s, csv});

        QCOMPARE(outcome.status, 0);
        QVERIFY2(outcome.err.contains(u"fluxmere-report: Data.txt line 10: 4 fields"_s),
                 qPrintable(outcome.err));
        QVERIFY(outcome.out.isEmpty());

        const QString text = readText(html);
        const Page page = readPage(text);
        QVERIFY2(page.error.isEmpty(), qPrintable(page.error));
        // Payment and bonus apart, dates in ISO form; a Runs.txt of the first kind has no run
        // identities.
        QCOMPARE(page.summaryRows, QList<QStringList>({{u"1"_s,
                                                        {},
                                                        u"Ann"_s,
                                                        {},
                                                        u"2026-12-07"_s,
                                                        u"3"_s,
                                                        u"2"_s,
                                                        u"66.7%"_s,
                                                        u"$5.10"_s,
                                                        u"$0.10"_s,
                                                        u"0.183"_s,
                                                        u"yes"_s,
                                                        u"yes"_s},
                                                       {u"2"_s,
                                                        {},
                                                        u"alpha"_s,
                                                        u"BATCH"_s,
                                                        u"2026-12-07"_s,
                                                        u"4"_s,
                                                        u"3"_s,
                                                        u"75.0%"_s,
                                                        u"$5.15"_s,
                                                        u"$0.15"_s,
                                                        u"0.250"_s,
                                                        u"yes"_s,
                                                        u"yes"_s},
                                                       {u"3"_s,
                                                        {},
                                                        u"beta"_s,
                                                        u"NONBATCH"_s,
                                                        u"2026-12-07"_s,
                                                        u"2"_s,
                                                        u"1"_s,
                                                        u"50.0%"_s,
                                                        u"$5.10"_s,
                                                        u"$0.10"_s,
                                                        u"0.500"_s,
                                                        u"no (no run record)"_s,
                                                        u"yes"_s}}));
        QCOMPARE(page.plotsPerRun, QList<int>({2, 2, 2}));
        // Plots in one page share no id: each would take the first one's gradient.
        QCOMPARE(QSet<QString>(page.ids.begin(), page.ids.end()).size(), page.ids.size());
        QCOMPARE(page.problems.size(), 1);
        QVERIFY(page.problems.at(0).startsWith(u"Data.txt line 10: "_s));
        QVERIFY(text.contains(u"Biology"_s) && text.contains(u"I kept it steady"_s));

        const QStringList rows = readText(csv).split(u"\r\n"_s);
        QCOMPARE(rows.size(), 5);
        const QString folder = m_folder.filePath(u"data"_s);
        QCOMPARE(rows.at(1),
                 u"1,Ann,,2026-12-07,15:04:05,3,2,5.1,0.183333333333333,TRUE,completed,2,4,"
                 u"5.1,0.1,0.666666666666667,,,,FALSE,"_s +
                     folder + u",,15:09:00,,,,,"_s); // no seed: the run had no noise
        QCOMPARE(rows.at(3), u"3,beta,NONBATCH,2026-12-07,15:04:05,2,1,5.1,0.5,FALSE,"
                             u"no run record,9,11,5.1,0.1,0.5,,,,FALSE,"_s +
                                 folder + u",,15:04:07,,,,,"_s);
    }

    void exitStatusSaysWhetherAReportWasWritten_data() {
        QTest::addColumn<QStringList>("arguments");
        QTest::addColumn<int>("status");
        QTest::addColumn<QString>("message");
        const QString data = m_folder.filePath(u"data"_s);
        const QString output = m_folder.filePath(u"status.html"_s);
        QTest::newRow("help") << QStringList{u"--help"_s} << 0 << u"--data-dir <DIR>"_s;
        QTest::newRow("unknown option") << QStringList{u"--colour"_s} << 2 << u"Usage:"_s;
        QTest::newRow("missing value") << QStringList{u"--data-dir"_s, data, u"-o"_s} << 2
                                       << u"fluxmere-report: Missing value after '-o'"_s;
        QTest::newRow("no data folder")
            << QStringList{u"--data-dir"_s, data + u"/none"_s, u"-o"_s, output} << 1
            << u"no data folder"_s;
        QTest::newRow("output not writable")
            << QStringList{u"--data-dir"_s, data, u"-o"_s, output + u"/none/r.html"_s} << 1
            << u"cannot write"_s;
        const QString empty = m_folder.filePath(u"empty"_s);
        QDir().mkpath(empty);
        QTest::newRow("empty folder") << QStringList{u"--data-dir"_s, empty, u"-o"_s, output} << 0
                                      << u"fluxmere-report: Data.txt: not found"_s;
    }
    void exitStatusSaysWhetherAReportWasWritten() {
        QFETCH(QStringList, arguments);
        QFETCH(int, status);
        QFETCH(QString, message);
        const Outcome outcome = runReport(arguments);
        QCOMPARE(outcome.status, status);
        const QString &shown =
            status == 0 && arguments.contains(u"--help"_s) ? outcome.out : outcome.err;
        QVERIFY2(shown.contains(message), qPrintable(outcome.out + outcome.err));
    }

    // A DISPLAY left from an ended session names a display that is gone: the tool, which
    // shows no window, writes its report all the same.
    void writesTheReportWhenTheDisplayCannotBeReached() {
        const QString html = m_folder.filePath(u"unreachable.html"_s);
        const Outcome outcome =
            runReport({u"--data-dir"_s, m_folder.filePath(u"data"_s), u"-o"_s, html}, u":9999"_s);
        QCOMPARE(outcome.status, 0);
        QVERIFY(QFileInfo(html).size() > 0);
    }

private:
    QString dataPath(const QString &name) {
        QDir().mkpath(m_folder.filePath(u"data"_s));
        return m_folder.filePath(u"data/"_s + name);
    }

    QTemporaryDir m_folder;
};

QTEST_GUILESS_MAIN(TestReportEndToEnd)
#include "test_report_e2e.moc"
