#include "core/recording/database.h"
#include "gui/Tasks1.h"
#include "support/screenshot.h"
#include "support/testdatabase.h"
#include "support/testsupport.h"

#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTemporaryDir>
#include <QtTest>

#include <memory>

using namespace Qt::StringLiterals;

namespace {

// The datQuestionnaire rows in the order written, as "Subject|Version|Number|Answer" (a
// number stored as real would read "1.0").
QStringList answerRows(const QString &path) {
    QStringList rows;
    for (const QStringList &row :
         queryRows(path, "SELECT Subject, Version, QuestionNumber, QuestionAnswer "
                         "FROM datQuestionnaire ORDER BY rowid"))
        rows.append(row.join(QLatin1Char('|')));
    return rows;
}

const QString questionTwoMissing = QStringLiteral("Please answer Question 2");

} // namespace

class TestTasks1 : public QObject {
    Q_OBJECT

private slots:
    void init();
    void cleanup();

    void opensAsDesigned();
    void questionOneNamesTheGoalBand_data();
    void questionOneNamesTheGoalBand();
    void submitChecksInOrder_data();
    void submitChecksInOrder();
    void submitWritesThreeRowsInOrder_data();
    void submitWritesThreeRowsInOrder();
    void ratingSendsTheFocusToTheReasons();
    void typedTwoDigitRatingSplits();
    void closingWithoutSubmitWritesNothing();
    void rowsOutsideTheQuestionsAreRefused();

private:
    template <typename T> T *control(const char *name) const {
        return requireChild<T>(m_window.get(), name);
    }
    QComboBox *rating() const { return control<QComboBox>("Combo1"); }
    QPlainTextEdit *text(const char *name) const { return control<QPlainTextEdit>(name); }
    void makeWindow();
    // The answer rows once every row asked for is written.
    QStringList writtenRows() const;

    std::unique_ptr<QTemporaryDir> m_folder;
    QString m_path;
    QString m_version;
    double m_goal = 4; // in units
    ScriptedDialogs m_dialogs;
    std::unique_ptr<Database> m_database;
    std::unique_ptr<Tasks1> m_window;
};

void TestTasks1::init() {
    m_folder = std::make_unique<QTemporaryDir>();
    m_path = m_folder->filePath(QStringLiteral("Krugel.db"));
    QVERIFY(createTestDatabase(m_path));
    m_version.clear();
    m_goal = 4;
    m_dialogs = ScriptedDialogs{};
    m_database = std::make_unique<Database>(m_path, m_dialogs);
    makeWindow();
}

void TestTasks1::makeWindow() {
    m_window = std::make_unique<Tasks1>(m_goal, 0.1, 0.1, m_dialogs);
    // Each answer is recorded as the program records it.
    connect(m_window.get(), &Tasks1::answerGiven, this,
            [this](int questionNumber, const QString &answer) {
                RecordQuestionnaireAnswer(
                    *m_database,
                    questionnaireRow(QStringLiteral("Ann"), m_version, questionNumber, answer));
            });
    m_window->show();
    QVERIFY(QTest::qWaitForWindowActive(m_window.get()));
}

QStringList TestTasks1::writtenRows() const {
    if (!QTest::qWaitFor([this] { return m_database->idle(); }))
        return {QStringLiteral("rows still waiting")};
    return answerRows(m_path);
}

void TestTasks1::cleanup() {
    m_window.reset();
    m_database.reset();
    m_folder.reset();
}

void TestTasks1::opensAsDesigned() {
    QCOMPARE(m_window->windowTitle(), QStringLiteral("Department Store Task Questionnaire"));
    const std::pair<const char *, QString> captions[] = {
        {"Label1", QStringLiteral("Question 1")},
        {"Label4", QStringLiteral("Difficulty Rating")},
        {"Label3", QStringLiteral("Resons for your rating (Write in space below):")},
        {"Label6", QStringLiteral("Question 2")},
        {"Label5", QStringLiteral("What strategy did you follow to keep the number of people in "
                                  "the store as close to the goal as possible? (Try to answer the "
                                  "question even if your strategy did not work for you in the "
                                  "experiment). ")},
        {"Label7", QStringLiteral("Question 3")},
        {"Label8", QStringLiteral("Did you change your strategy at any stage in the experiment? "
                                  "If you did so, can you specify what your changes to strategy "
                                  "were during the course of the experiment?")},
    };
    for (const auto &[name, caption] : captions)
        QCOMPARE(control<QLabel>(name)->text(), caption);
    QVERIFY(rating()->isEditable());
    QCOMPARE(rating()->currentText(), QStringLiteral("Select"));
    QStringList items;
    for (int i = 0; i < rating()->count(); ++i)
        items.append(rating()->itemText(i));
    QCOMPARE(items, QStringList({QStringLiteral("1"), QStringLiteral("2"), QStringLiteral("3"),
                                 QStringLiteral("4"), QStringLiteral("5"), QStringLiteral("6"),
                                 QStringLiteral("7"), QStringLiteral("8"), QStringLiteral("9"),
                                 QStringLiteral("10")}));
    for (const char *name : {"Text1", "Text2", "Text3"}) {
        QVERIFY(text(name)->toPlainText().isEmpty());
        QCOMPARE(text(name)->verticalScrollBarPolicy(), Qt::ScrollBarAlwaysOn);
        QCOMPARE(text(name)->lineWrapMode(), QPlainTextEdit::WidgetWidth);
    }
    QCOMPARE(control<QPushButton>("Command1")->text(), QStringLiteral("Submit"));
    QVERIFY(!m_window->submitted());
    saveScreenshot(m_window.get(), QStringLiteral("Tasks1"));
}

void TestTasks1::questionOneNamesTheGoalBand_data() {
    QTest::addColumn<double>("goalUnits");
    QTest::addColumn<double>("unitHeight");
    QTest::addColumn<QString>("lower");
    QTest::addColumn<QString>("upper");

    QTest::newRow("goal 4") << 4.0 << 358.5 << "3.9"
                            << "4.1";
    QTest::newRow("goal 6.5") << 6.5 << 358.5 << "6.4"
                              << "6.6";
    QTest::newRow("goal 0.1, lower limit 0") << 0.1 << 240.0 << "0"
                                             << "0.2";
    QTest::newRow("unscaled goal") << 5.0 << 1.0 << "4.9"
                                   << "5.1";
}

void TestTasks1::questionOneNamesTheGoalBand() {
    QFETCH(double, goalUnits);
    QFETCH(double, unitHeight);
    QFETCH(QString, lower);
    QFETCH(QString, upper);
    // The goal in units, as the program takes it from the scaled goal.
    m_goal = goalUnits * unitHeight / unitHeight;
    makeWindow();
    QCOMPARE(control<QLabel>("Label2")->text(),
             QStringLiteral("How difficult was the present task of keeping the water level in "
                            "the tank between %1 Gallons and %2 Gallons? (Please rate on a 1 to 10 "
                            "scale with 10 as most difficult and 1 as least difficult and provide "
                            "any extra information on reasons for your rating)")
                 .arg(lower, upper));
}

void TestTasks1::submitChecksInOrder_data() {
    QTest::addColumn<QString>("ratingText");
    QTest::addColumn<QString>("answer2");
    QTest::addColumn<QString>("answer3");
    QTest::addColumn<QString>("message");

    const QString select = QStringLiteral("Select");
    const QString ratingMissing = QStringLiteral("Please give rating in Question 1");
    const QString questionThreeMissing = QStringLiteral("Please answer Question 3");
    QTest::newRow("nothing answered") << select << ""
                                      << "" << ratingMissing;
    QTest::newRow("no rating, both answers") << select << "a"
                                             << "b" << ratingMissing;
    QTest::newRow("rating only") << "7"
                                 << ""
                                 << "" << questionTwoMissing;
    QTest::newRow("no answer 2") << "7"
                                 << ""
                                 << "b" << questionTwoMissing;
    QTest::newRow("no answer 3") << "7"
                                 << "a"
                                 << "" << questionThreeMissing;
}

void TestTasks1::submitChecksInOrder() {
    QFETCH(QString, ratingText);
    QFETCH(QString, answer2);
    QFETCH(QString, answer3);
    QFETCH(QString, message);

    rating()->setEditText(ratingText);
    text("Text1")->setPlainText(QStringLiteral("reasons"));
    text("Text2")->setPlainText(answer2);
    text("Text3")->setPlainText(answer3);
    QTest::mouseClick(control<QPushButton>("Command1"), Qt::LeftButton);

    QCOMPARE(m_dialogs.shown.size(), 1);
    QCOMPARE(m_dialogs.shown.first().title, QStringLiteral("Questionnaire"));
    QCOMPARE(m_dialogs.shown.first().text, message);
    QVERIFY(!m_dialogs.shown.first().question);
    QVERIFY(m_window->isVisible());
    QVERIFY(!m_window->submitted());
    QCOMPARE(writtenRows(), QStringList());
}

void TestTasks1::submitWritesThreeRowsInOrder_data() {
    QTest::addColumn<QString>("version");
    QTest::addColumn<QString>("ratingText");
    QTest::addColumn<QString>("reasons");
    QTest::addColumn<QString>("answer2");
    QTest::addColumn<QString>("answer3");
    QTest::addColumn<QStringList>("rows");

    QTest::newRow("all answered") << ""
                                  << "7"
                                  << "because"
                                  << "watched the level"
                                  << "no"
                                  << QStringList{u"Ann||1|7, because"_s,
                                                 u"Ann||2|watched the level"_s, u"Ann||3|no"_s};
    QTest::newRow("empty reasons")
        << "NONBATCH"
        << "7"
        << ""
        << "a"
        << "b"
        << QStringList{u"Ann|NONBATCH|1|7, "_s, u"Ann|NONBATCH|2|a"_s, u"Ann|NONBATCH|3|b"_s};
    QTest::newRow("blank-only answers count")
        << ""
        << "3"
        << " "
        << " "
        << "  " << QStringList{u"Ann||1|3,  "_s, u"Ann||2| "_s, u"Ann||3|  "_s};
    QTest::newRow("empty typed rating counts")
        << ""
        << ""
        << "hard"
        << "a"
        << "b" << QStringList{u"Ann||1|, hard"_s, u"Ann||2|a"_s, u"Ann||3|b"_s};
    QTest::newRow("lines kept") << ""
                                << "10"
                                << "first\nsecond"
                                << "a\nb"
                                << "c"
                                << QStringList{u"Ann||1|10, first\nsecond"_s, u"Ann||2|a\nb"_s,
                                               u"Ann||3|c"_s};
}

void TestTasks1::submitWritesThreeRowsInOrder() {
    QFETCH(QString, version);
    QFETCH(QString, ratingText);
    QFETCH(QString, reasons);
    QFETCH(QString, answer2);
    QFETCH(QString, answer3);
    QFETCH(QStringList, rows);

    m_version = version;
    rating()->setEditText(ratingText);
    text("Text1")->setPlainText(reasons);
    text("Text2")->setPlainText(answer2);
    text("Text3")->setPlainText(answer3);
    QTest::mouseClick(control<QPushButton>("Command1"), Qt::LeftButton);

    QVERIFY(m_dialogs.shown.isEmpty());
    QVERIFY(m_window->submitted());
    QVERIFY(!m_window->isVisible());
    QCOMPARE(writtenRows(), rows);
}

void TestTasks1::ratingSendsTheFocusToTheReasons() {
    rating()->setFocus();
    QCOMPARE(QApplication::focusWidget(), rating());
    rating()->setCurrentIndex(9);
    emit rating()->activated(9);
    QCOMPARE(rating()->currentText(), QStringLiteral("10"));
    QCOMPARE(QApplication::focusWidget(), text("Text1"));

    // Back to exactly "Select": the focus stays where it is.
    rating()->setFocus();
    rating()->setEditText(QStringLiteral("Select"));
    QCOMPARE(QApplication::focusWidget(), rating());
}

void TestTasks1::typedTwoDigitRatingSplits() {
    rating()->setFocus();
    QTRY_VERIFY(rating()->lineEdit()->hasSelectedText()); // the prompt, to be typed over
    QTest::keyClicks(nullptr, QStringLiteral("10"));      // to whichever control has the focus
    QCOMPARE(rating()->currentText(), QStringLiteral("1"));
    QCOMPARE(text("Text1")->toPlainText(), QStringLiteral("0"));
    QCOMPARE(QApplication::focusWidget(), text("Text1"));
}

void TestTasks1::closingWithoutSubmitWritesNothing() {
    rating()->setEditText(QStringLiteral("5"));
    text("Text2")->setPlainText(QStringLiteral("a"));
    text("Text3")->setPlainText(QStringLiteral("b"));
    QTest::keyClick(text("Text3"), Qt::Key_Escape); // no shortcut closes it
    QVERIFY(m_window->isVisible());
    QVERIFY(m_window->close());
    QVERIFY(!m_window->submitted());
    QCOMPARE(m_window->result(), int(QDialog::Rejected));
    QCOMPARE(writtenRows(), QStringList());
    QVERIFY(m_dialogs.shown.isEmpty());
}

void TestTasks1::rowsOutsideTheQuestionsAreRefused() {
    rating()->setEditText(QStringLiteral("2"));
    m_window->recordAnswersForQuestions(-1);
    m_window->recordAnswersForQuestions(3);
    QCOMPARE(writtenRows(), QStringList());
    m_window->recordAnswersForQuestions(0);
    QCOMPARE(writtenRows(), QStringList{QStringLiteral("Ann||1|2, ")});
}

QTEST_MAIN(TestTasks1)
#include "test_Tasks1.moc"
