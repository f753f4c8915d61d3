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
        QTest::newRow("choice right by number")
            << QByteArray("Goal | choice | above; in the band | Aim? | right: 2")
            << u"Goal choice above/in the band Aim? right 2"_s << 0 << QString();
        QTest::newRow("multiple right by text, a | in the text")
            << QByteArray("Seen | multiple | tank; pipes; clock | A|B? | RIGHT: clock; Tank")
            << u"Seen multiple tank/pipes/clock A|B? right 1;3"_s << 0 << QString();
        QTest::newRow("number right") << QByteArray("Band | number | -5-5 | Width? | right: 0.2")
                                      << u"Band number -5-5 Width? right 0.2"_s << 0 << QString();
        QTest::newRow("number range backwards")
            << QByteArray("N | number | 9-1 | X") << QString() << 1 << u"must rise"_s;
        QTest::newRow("right option out of range")
            << QByteArray("C | choice | a; b | X | right: 3") << QString() << 1
            << u"neither an option's number (1 to 2)"_s;
        QTest::newRow("right option ambiguous")
            << QByteArray("C | choice | 2; 1 | X | right: 1") << QString() << 1
            << u"both option 1 and the option"_s;
        QTest::newRow("right value outside the range")
            << QByteArray("N | number | 0-10 | X | right: 11") << QString() << 1
            << u"not a number from 0 to 10"_s;
        QTest::newRow("right names nothing")
            << QByteArray("T | text | | X | right:") << QString() << 1 << u"names no answer"_s;
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

    // Only questions with a right answer are judged; a missing answer is a wrong one.
    void judgesAnswersAgainstTheRightOnes() {
        const QuestionnaireFile file =
            ParseQuestionnaire("Goal | choice | above; in the band | Aim? | right: in the band\n"
                               "Seen | multiple | tank; pipes; clock | Seen? | right: 1; 3\n"
                               "Word | text | | Say it | right: the  Tank\n"
                               "Free | text | | Anything?\n"
                               "Late | slider | 0-10; early; late | When? | right: 7\n");
        QVERIFY2(file.usable(), qPrintable(QuestionnaireProblemTexts(file).join(u'\n')));
        QList<StudyAnswer> answers = {
            given(u"Goal"_s, u"in the band"_s, 2, {2}),
            given(u"Seen"_s, u"clock; tank"_s, std::nullopt, {3, 1}),
            given(u"Word"_s, u" THE tank "_s),
            given(u"Free"_s, u"no"_s),
        };
        QCOMPARE(JudgeComprehension(file.questions, answers), QStringList{u"Late"_s});
        answers.append(given(u"Late"_s, u"6"_s, 6));
        answers[1].options = {1};
        answers[2].answer = u"tank"_s;
        QCOMPARE(JudgeComprehension(file.questions, answers),
                 (QStringList{u"Seen"_s, u"Word"_s, u"Late"_s}));
        QVERIFY(QuestionnaireCheckText(file).contains(u"line 5: Late, slider 0 to 10, right: 7"_s));
    }

private:
    static StudyAnswer given(const QString &id, const QString &text,
                             std::optional<double> number = std::nullopt,
                             const QList<int> &options = {}) {
        StudyAnswer answer;
        answer.questionId = id;
        answer.answer = text;
        answer.number = number;
        answer.options = options;
        return answer;
    }

    static QString describe(const StudyQuestion &question) {
        using Kind = StudyQuestion::Kind;
        const QStringList kinds = {u"rating"_s, u"choice"_s, u"text"_s,
                                   u"number"_s, u"slider"_s, u"multiple"_s};
        QString shape = question.options.join(u'/');
        if (question.kind == Kind::Rating || question.kind == Kind::Slider)
            shape = QStringLiteral("%1-%2 %3/%4")
                        .arg(question.from)
                        .arg(question.to)
                        .arg(question.lowLabel, question.highLabel);
        if (question.kind == Kind::Number)
            shape = QStringLiteral("%1-%2").arg(question.minimum).arg(question.maximum);
        QString right;
        if (question.rightValue)
            right = QStringLiteral(" right %1").arg(*question.rightValue);
        else if (!question.rightOptions.isEmpty())
            right = u" right "_s + OptionNumbersText(question.rightOptions);
        else if (question.hasRightAnswer())
            right = u" right "_s + question.rightText;
        return QStringLiteral("%1 %2 %3 %4%5")
            .arg(question.id, kinds[static_cast<int>(question.kind)], shape, question.text, right);
    }
};

QTEST_GUILESS_MAIN(TestQuestionnaireFile)
#include "test_questionnairefile.moc"
