#include "core/recording/database.h"
#include "gui/StudyQuestionnaire.h"
#include "support/screenshot.h"
#include "support/testdatabase.h"
#include "support/testsupport.h"

#include <QApplication>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QScreen>
#include <QScrollArea>
#include <QScrollBar>
#include <QSignalSpy>
#include <QSlider>
#include <QTemporaryDir>
#include <QtTest>

using namespace Qt::StringLiterals;

// The window's answers recorded as the program records them, in a database of the schema.
class TestStudyQuestionnaire : public QObject {
    Q_OBJECT
private slots:
    void init() {
        m_database.reset();
        m_folder = std::make_unique<QTemporaryDir>();
        m_path = m_folder->filePath(u"Krugel.db"_s);
        QVERIFY(createTestDatabase(m_path));
        m_database = std::make_unique<Database>(m_path, m_dialogs);
    }

    // Three questions on a 1600x1000 screen: a good part of it, and nothing to scroll.
    void threeQuestionsFitWithoutScrolling() {
        QCOMPARE(QGuiApplication::primaryScreen()->geometry().size(), QSize(1600, 1000));
        auto window = make("Hard | rating | 1-10; very easy; very hard | How difficult was it?\n"
                           "Plan | choice | none; a rough one; a clear one | Had you a plan?\n"
                           "Why | text | | What did you do to keep the amount near the goal?\n");
        QVERIFY(QTest::qWaitForWindowExposed(window.get()));
        QVERIFY(window->width() >= 800 && window->height() >= 700);
        const auto *scroll = requireChild<QScrollArea>(window.get(), "Questions");
        QVERIFY(!scroll->verticalScrollBar()->isVisible());
        QVERIFY(!scroll->horizontalScrollBar()->isVisible());
        saveScreenshot(window.get(), u"StudyQuestionnaire-1600x1000"_s);
    }

    // Each kind's answer lands in datAnswer with its numbers; a number out of its range and
    // an untouched slider are asked again.
    void answersAreRecordedWithTheirNumbers() {
        auto window = make("Plan | choice | none; some; a clear one | Plan?\n"
                           "Seen | multiple | tank; pipes; clock | Seen?\n"
                           "Band | number | 0-10 | Width?\n"
                           "Mood | slider | 0-100; sad; glad | Mood?\n");
        click(window.get(), "Plan", 2);
        click(window.get(), "Seen", 0);
        click(window.get(), "Seen", 2);
        auto *band = requireChild<QWidget>(window.get(), "Band")->findChild<QLineEdit *>();
        band->setText(u"12"_s);
        submit(window.get());
        QCOMPARE(m_dialogs.shown.last().text, u"Please give a number from 0 to 10 in Question 3"_s);
        band->setText(u"2,5"_s);
        submit(window.get());
        QCOMPARE(m_dialogs.shown.last().text, u"Please answer Question 4"_s);
        requireChild<QWidget>(window.get(), "Mood")->findChild<QSlider *>()->setValue(70);
        submit(window.get());
        QVERIFY(window->submitted());
        QCOMPARE(rows(), (QList<QStringList>{{u"Plan"_s, u"a clear one"_s, u"3.0"_s, u"3"_s},
                                             {u"Seen"_s, u"tank; clock"_s, {}, u"1;3"_s},
                                             {u"Band"_s, u"2.5"_s, u"2.5"_s, {}},
                                             {u"Mood"_s, u"70"_s, u"70.0"_s, {}}}));
    }

    // A check says which answer is wrong and stays open; every attempt is recorded with its
    // number and verdicts, and all right closes the window.
    void checkSaysWhatIsWrongAndRecordsEachAttempt() {
        const QuestionnairePage page{u"Before you start"_s, u"Please answer these."_s, true};
        auto window = make("Goal | choice | above the line; in the band | Aim? | right: 2\n"
                           "Free | text | | Anything to add?\n",
                           page);
        QSignalSpy checked(window.get(), &StudyQuestionnaire::checked);
        QCOMPARE(window->windowTitle(), page.title);
        QCOMPARE(requireChild<QLabel>(window.get(), "Intro")->text(), page.intro);
        click(window.get(), "Goal", 0);
        requireChild<QPlainTextEdit>(window.get(), "Free")->setPlainText(u"no"_s);
        submit(window.get());
        QVERIFY(window->isVisible() && !window->submitted());
        QCOMPARE(checked.at(0).at(1).toStringList(), QStringList{u"Goal"_s});
        const QString verdict = requireChild<QLabel>(window.get(), "Verdict")->text();
        QVERIFY2(verdict.contains(u"Question 1"_s) && !verdict.contains(u"Question 2"_s),
                 qPrintable(verdict));

        click(window.get(), "Goal", 1);
        submit(window.get());
        QVERIFY(window->submitted() && !window->isVisible());
        QCOMPARE(checked.at(1).at(1).toStringList(), QStringList());
        QCOMPARE(rows("Attempt, Correct"),
                 (QList<QStringList>{{u"Goal"_s, u"above the line"_s, u"1"_s, u"0"_s},
                                     {u"Free"_s, u"no"_s, u"1"_s, {}},
                                     {u"Goal"_s, u"in the band"_s, u"2"_s, u"1"_s},
                                     {u"Free"_s, u"no"_s, u"2"_s, {}}}));
    }

    // The start adds the later columns to an older database and keeps its rows; a gender
    // option's number then lands beside its text.
    void olderDatabaseGetsTheNewColumnsWithItsRowsKept() {
        const QString path = m_folder->filePath(u"old.db"_s);
        QFile empty(path); // an empty file is an empty database
        QVERIFY(empty.open(QIODevice::WriteOnly));
        empty.close();
        QVERIFY(executeSql(path,
                           "CREATE TABLE datSubject (Subject TEXT, Version TEXT, Condition "
                           "TEXT, Major TEXT, Gender TEXT, Age REAL, Date TEXT, Time TEXT);"
                           "CREATE TABLE datAnswer (RunId TEXT, QuestionId TEXT, QuestionText "
                           "TEXT, Answer TEXT, AnswerNumber REAL);"
                           "INSERT INTO datSubject (Subject, Gender) VALUES ('Ann', 'Female');"
                           "INSERT INTO datAnswer (RunId, Answer) VALUES ('r1', '5');"));
        QString error;
        QVERIFY2(AddRunTables(path, &error) && AddRunTables(path, &error), qPrintable(error));
        Database database(path, m_dialogs);
        RecordSubject(database, [] {
            return subjectRow(u"Cy"_s, {}, u"continuous"_s, u"Art"_s, u"Non-binary"_s, 3, u"40"_s,
                              QDateTime::currentDateTime());
        });
        QTRY_VERIFY(database.idle());
        QCOMPARE(queryRows(path, "SELECT Subject, Gender, GenderNumber, typeof(GenderNumber) FROM "
                                 "datSubject ORDER BY rowid"),
                 (QList<QStringList>{{u"Ann"_s, u"Female"_s, {}, u"null"_s},
                                     {u"Cy"_s, u"Non-binary"_s, u"3"_s, u"integer"_s}}));
        QCOMPARE(queryRows(path, "SELECT Answer, AnswerOptions, Attempt, Correct FROM datAnswer"),
                 (QList<QStringList>{{u"5"_s, {}, {}, {}}}));
    }

private:
    std::unique_ptr<StudyQuestionnaire> make(const QByteArray &file,
                                             const QuestionnairePage &page = {}) {
        auto window = std::make_unique<StudyQuestionnaire>(ParseQuestionnaire(file).questions, page,
                                                           m_dialogs);
        connect(window.get(), &StudyQuestionnaire::answerGiven, this,
                [this](const StudyAnswer &answer) {
                    RecordStudyAnswer(*m_database, studyAnswerRow(u"r1"_s, answer));
                });
        window->show();
        return window;
    }
    static void click(QWidget *window, const char *id, int option) {
        requireChild<QWidget>(window, id)->findChildren<QAbstractButton *>().at(option)->click();
    }
    static void submit(QWidget *window) { requireChild<QPushButton>(window, "Submit")->click(); }
    QList<QStringList> rows(const QByteArray &columns = "AnswerNumber, AnswerOptions") {
        if (!QTest::qWaitFor([this] { return m_database->idle(); }))
            return {};
        const QByteArray sql =
            "SELECT QuestionId, Answer, " + columns + " FROM datAnswer ORDER BY rowid";
        return queryRows(m_path, sql.constData());
    }

    ScriptedDialogs m_dialogs;
    std::unique_ptr<QTemporaryDir> m_folder;
    QString m_path;
    std::unique_ptr<Database> m_database;
};

// The offscreen platform given one screen of 1600x1000 pixels.
int main(int argc, char *argv[]) {
    QTemporaryDir folder;
    QFile config(folder.filePath(QStringLiteral("screen.json")));
    if (!config.open(QIODevice::WriteOnly) ||
        config.write(R"({"screens": [{"name": "s", "x": 0, "y": 0, "width": 1600,
            "height": 1000, "logicalDpi": 96, "logicalBaseDpi": 96, "dpr": 1}]})") < 0)
        return 1;
    config.close();
    qputenv("QT_QPA_PLATFORM", "offscreen:configfile=" + config.fileName().toUtf8());
    QApplication app(argc, argv);
    TestStudyQuestionnaire test;
    return QTest::qExec(&test, argc, argv);
}

#include "test_StudyQuestionnaire.moc"
