#include "report/htmlreport.h"
#include "report/summarycsv.h"
#include "report/svgplot.h"
#include "reportfixtures.h"

#include <QXmlStreamReader>
#include <QtTest>

using namespace Qt::StringLiterals;

namespace {

// A person whose typed texts try to become markup, and a model run cut short.
Report hostileReport() {
    const QString name = u"<script>alert(1)</script> & \"Bo\" %1"_s;
    DataLines data;
    data.addRun(name, {}, {4, 3});
    data.addRun(u"alpha"_s, u"BATCH"_s, {4.0625});
    Report report;
    DataFolder folder{u"/tmp/<data>"_s, u"/tmp/<data>"_s, {}, {}};
    report.runs = cutRuns(parsePeriods(data.lines, report.problems), {}, report.problems);
    folder.people.isRead = true;
    folder.people.subjects = {
        {name, {}, u"A"_s, u"<i>Art</i>"_s, u"Female"_s, u"23"_s, u"2026-12-07"_s, u"15:03:00"_s}};
    folder.people.answers = {{name, {}, u"1"_s, u"<img src=x onerror=alert(1)>\nline two"_s}};
    report.folders = {folder};
    report.problems.append({u"Data.txt"_s, 9, u"Subject \"<b>\""_s});
    return report;
}

} // namespace

class TestReportText : public QObject {
    Q_OBJECT

private slots:
    void csvFieldsAreQuotedOnlyWhenTheyMustBe_data() {
        QTest::addColumn<QString>("text");
        QTest::addColumn<QString>("field");
        QTest::newRow("plain") << u"alpha"_s << u"alpha"_s;
        QTest::newRow("empty") << QString() << QString();
        QTest::newRow("comma") << u"Smith, Ann"_s << u"\"Smith, Ann\""_s;
        QTest::newRow("quote") << u"say \"hi\""_s << u"\"say \"\"hi\"\"\""_s;
        QTest::newRow("line break") << u"a\r\nb"_s << u"\"a\r\nb\""_s;
        QTest::newRow("formula") << u"=1+2"_s << u"'=1+2"_s;
        QTest::newRow("tab first") << u"\tx,y"_s << u"\"'\tx,y\""_s;
        QTest::newRow("a sign alone") << u"-"_s << u"'-"_s;
        QTest::newRow("a number") << u"-1.5E-05"_s << u"-1.5E-05"_s;
    }
    void csvFieldsAreQuotedOnlyWhenTheyMustBe() {
        QFETCH(QString, text);
        QFETCH(QString, field);
        QCOMPARE(csvField(text), field);
    }

    void csvHasAHeaderAndOneRowPerRun() {
        const QStringList rows =
            QString::fromUtf8(summaryCsv(hostileReport().runs)).split(u"\r\n"_s);
        QCOMPARE(rows.size(), 4); // header, two runs, the empty piece after the last CR LF
        QCOMPARE(
            rows.at(0),
            u"Run,Subject,Version,Date,StartTime,Periods,PeriodsInBand,"
            u"TotalBonus,MeanAbsDistance,Complete,Ending,FirstDataLine,"
            u"LastDataLine,Payment,Bonus,ShareInBand,RunId,StudyCondition,"
            u"SetupId,Practice,Folder,Seed,EndTime,Gender,GenderNumber,Age,Major,StudyFilesId"_s);
        QCOMPARE(rows.at(1), u"1,\"<script>alert(1)</script> & \"\"Bo\"\" %1\",,2026-12-07,"
                             u"15:04:05,2,1,5.05,0.5,FALSE,no run record,2,3,5.05,0.05,0.5,,,,"
                             u"FALSE,,,15:04:07,,,,,"_s);
        QCOMPARE(rows.at(2).section(u',', 5, 9), u"1,1,5.05,0.0625,FALSE"_s);
    }

    void htmlEscapesEveryTextFromTheFolder() {
        const QString html = reportHtml(hostileReport(), QDateTime());

        for (const char *raw : {"<script>", "<img", "<i>Art", "<b>", "<data>"})
            QVERIFY2(!html.contains(QLatin1String(raw)), raw);
        QVERIFY(html.contains(u"&lt;script&gt;alert(1)&lt;/script&gt; &amp; &quot;Bo&quot; %1"_s));
        QVERIFY(html.contains(u"&lt;img src=x onerror=alert(1)&gt;\nline two"_s));
        QVERIFY(html.contains(u"Data.txt line 9: Subject &quot;&lt;b&gt;&quot;"_s));

        QXmlStreamReader xml(html);
        int sections = 0;
        while (!xml.atEnd()) {
            if (xml.readNext() == QXmlStreamReader::StartElement && xml.name() == u"section"_s &&
                xml.attributes().value(u"class"_s) == u"run"_s)
                ++sections;
        }
        QVERIFY2(!xml.hasError(), qPrintable(xml.errorString()));
        QCOMPARE(sections, 2);
    }

    // The generator writes the title as it is given: the plot must escape it, once.
    void aPlotIsOneSvgElementWhoseTitleReadsBackAsGiven() {
        const QString title = u"Amount < goal & \"band\""_s;
        SvgPlot plot({0, 2}, {0, 1}, u"period"_s, u"<units>"_s);
        plot.addLine(u"A & B"_s, {0, 1, 2}, {0, 1, 0.5}, {"#000"});

        QXmlStreamReader xml(plot.svg(title));
        QVERIFY(xml.readNextStartElement());
        QCOMPARE(xml.name(), u"svg"_s);
        QCOMPARE(xml.namespaceUri(), u"http://www.w3.org/2000/svg"_s);
        QVERIFY(xml.readNextStartElement());
        QCOMPARE(xml.name(), u"title"_s);
        QCOMPARE(xml.readElementText(), title);
        while (!xml.atEnd())
            xml.readNext();
        QVERIFY2(!xml.hasError(), qPrintable(xml.errorString()));
    }

    void onlyAPersonsRunShowsTheSubjectRecordAndAnswers() {
        const QString html = reportHtml(hostileReport(), QDateTime());
        const qsizetype personRun = html.indexOf(u"id=\"run-1\""_s);
        const qsizetype modelRun = html.indexOf(u"id=\"run-2\""_s);
        QVERIFY(personRun > 0 && modelRun > personRun);
        QCOMPARE(html.count(u"<h4>Subject record</h4>"_s), 1);
        QVERIFY(html.indexOf(u"<h4>Questionnaire</h4>"_s, personRun) < modelRun);
        QVERIFY(html.indexOf(u"&lt;i&gt;Art&lt;/i&gt;"_s, personRun) < modelRun);
    }
};

QTEST_MAIN(TestReportText)
#include "test_reporttext.moc"
