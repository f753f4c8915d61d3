#include "core/setup/questionnairefile.h"

#include <QtTest>

using namespace Qt::StringLiterals;

class TestQuestionnaireFile : public QObject {
    Q_OBJECT
private slots:
    // Each line read alone: what it gives, or the problem named with its line.
    void eachLine_data() {
        QTest::addColumn<QByteArray>("contents");
        QTest::addColumn<QString>("read"); // id, kind, scale or options, text; or empty
        QTest::addColumn<int>("problemLine");
        QTest::addColumn<QString>("problem"); // a part of the problem's text
        QTest::newRow("rating") << QByteArray("# a comment\n\nHard | rating | 1-7; easy; hard | "
                                              "How hard was it?\n")
                                << u"Hard rating 1-7 easy/hard How hard was it?"_s << 0
                                << QString();
        QTest::newRow("choice, utf-8, CR LF")
            << QByteArray("Mode | Choice | Ja; Nein; Weiß nicht | Gewählt? A|B\r\n")
            << u"Mode choice Ja/Nein/Weiß nicht Gewählt? A|B"_s << 0 << QString();
        QTest::newRow("text") << QByteArray("Strategy | text | | What did you do?")
                              << u"Strategy text  What did you do?"_s << 0 << QString();
        QTest::newRow("three fields")
            << QByteArray("#\nQ1 | text | What?") << QString() << 2 << u"four fields"_s;
        QTest::newRow("unknown type") << QByteArray("Q1 | scale | 1-5; a; b | X") << QString() << 1
                                      << u"none of rating, choice, text"_s;
        QTest::newRow("falling scale")
            << QByteArray("Q1 | rating | 7-1; a; b | X") << QString() << 1 << u"must rise"_s;
        QTest::newRow("scale without labels")
            << QByteArray("Q1 | rating | 1-7 | X") << QString() << 1 << u"FROM-TO; low label"_s;
        QTest::newRow("one option")
            << QByteArray("Q1 | choice | yes | X") << QString() << 1 << u"two options"_s;
        QTest::newRow("text with options")
            << QByteArray("Q1 | text | a; b | X") << QString() << 1 << u"no options"_s;
        QTest::newRow("bad id") << QByteArray("1st | text | | X") << QString() << 1
                                << u"start with a letter"_s;
        QTest::newRow("id twice") << QByteArray("Q1 | text | | X\nq1 | text | | Y") << QString()
                                  << 2 << u"given twice"_s;
        QTest::newRow("id of an export column")
            << QByteArray("runid | text | | X") << QString() << 1 << u"a column the answers"_s;
        QTest::newRow("no text") << QByteArray("Q1 | text | |") << QString() << 1 << u"no text"_s;
        QTest::newRow("latin-1") << QByteArray("Q1 | text | | Wei\xdf?") << QString() << 1
                                 << u"UTF-8"_s;
        QTest::newRow("only comments")
            << QByteArray("# nothing\n") << QString() << 0 << u"no question"_s;
    }
    void eachLine() {
        QFETCH(QByteArray, contents);
        QFETCH(QString, read);
        QFETCH(int, problemLine);
        QFETCH(QString, problem);
        const QuestionnaireFile file = ParseQuestionnaire(contents);
        if (problem.isEmpty()) {
            QVERIFY2(file.problems.isEmpty(), qPrintable(file.problems.value(0).text));
            QCOMPARE(file.questions.size(), 1);
            QCOMPARE(describe(file.questions.constFirst()), read);
            return;
        }
        QCOMPARE(file.problems.size(), 1);
        QCOMPARE(file.problems.constFirst().line, problemLine);
        QVERIFY2(file.problems.constFirst().text.contains(problem),
                 qPrintable(file.problems.constFirst().text));
    }

    // A missing file is no problem; a check names a problem with its file and line.
    void missingAndChecked() {
        QTemporaryDir dir;
        QVERIFY(!ReadQuestionnaireFile(dir.filePath(u"Questionnaire.txt"_s)).present);
        QFile out(dir.filePath(u"Questionnaire.txt"_s));
        QVERIFY(out.open(QIODevice::WriteOnly));
        out.write("A | text | | Fine?\nB | rating | 1-x; a; b | Bad\n");
        out.close();
        bool usable = true;
        const QString text = QuestionnaireFolderCheckText(dir.path(), &usable);
        QVERIFY(!usable);
        QVERIFY2(text.contains(u"Questions read: 1"_s) && text.contains(u"line 1: A, text"_s) &&
                     text.contains(u"Questionnaire.txt, line 2: the scale \"1-x\""_s),
                 qPrintable(text));
    }

private:
    static QString describe(const StudyQuestion &question) {
        const QStringList kinds = {u"rating"_s, u"choice"_s, u"text"_s};
        QString shape = question.options.join(u'/');
        if (question.kind == StudyQuestion::Kind::Rating)
            shape = QStringLiteral("%1-%2 %3/%4")
                        .arg(question.from)
                        .arg(question.to)
                        .arg(question.lowLabel, question.highLabel);
        return QStringLiteral("%1 %2 %3 %4")
            .arg(question.id, kinds[static_cast<int>(question.kind)], shape, question.text);
    }
};

QTEST_GUILESS_MAIN(TestQuestionnaireFile)
#include "test_questionnairefile.moc"
