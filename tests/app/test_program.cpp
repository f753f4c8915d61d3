#include "app/modZelph.h"
#include "app/program.h"
#include "core/engine/periodrunner.h"
#include "core/model/modelserver.h"
#include "core/model/protocol.h"
#include "core/recording/datafile.h"
#include "core/recording/runrecords.h"
#include "core/replay/replaycheck.h"
#include "core/run/runsession.h"
#include "gui/StudyQuestionnaire.h"
#include "gui/Tasks1.h"
#include "gui/frmConsent.h"
#include "gui/frmEndScreen.h"
#include "gui/frmInstructions.h"
#include "gui/frmKrugel.h"
#include "gui/frmLogin.h"
#include "gui/frmNewSubject.h"
#include "gui/frmPasswordAuth.h"
#include "support/testdatabase.h"
#include "support/testsupport.h"

#include <QApplication>
#include <QComboBox>
#include <QElapsedTimer>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <QTextBrowser>
#include <QTimer>
#include <QtTest>

#include <functional>
#include <memory>
#include <optional>

namespace {

// How long a window may take to open: seconds on a machine loaded with sanitized tests.
constexpr int windowWaitMs = 30000;

// The polls of whenShown() that are still waiting; they end with the test that armed them.
QObject *waitingPolls() {
    static QObject polls;
    return &polls;
}

// Runs `action` on the first visible window of type T once it shows, as a person would.
template <typename T> void whenShown(std::function<void(T *)> action) {
    auto *poll = new QTimer(waitingPolls());
    poll->setInterval(10);
    QObject::connect(poll, &QTimer::timeout, [poll, action] {
        for (QWidget *widget : QApplication::topLevelWidgets()) {
            auto *window = qobject_cast<T *>(widget);
            if (window && window->isVisible()) {
                poll->stop();
                poll->deleteLater();
                action(window);
                return;
            }
        }
    });
    poll->start();
}

void fillSubjectForm(frmNewSubject *form) {
    QTest::keyClicks(requireChild<QLineEdit>(form, "txtAge"), QStringLiteral("23"));
    requireChild<QRadioButton>(form, "optFemale")->click();
    requireChild<QComboBox>(form, "cboMajor")->setCurrentText(QStringLiteral("Biology"));
    requireChild<QPushButton>(form, "btnBegin")->click();
}

void answerQuestionnaire(Tasks1 *questionnaire) {
    requireChild<QComboBox>(questionnaire, "Combo1")->setCurrentText(QStringLiteral("7"));
    requireChild<QPlainTextEdit>(questionnaire, "Text1")->setPlainText(QStringLiteral("because"));
    requireChild<QPlainTextEdit>(questionnaire, "Text2")
        ->setPlainText(QStringLiteral("steady orders"));
    requireChild<QPlainTextEdit>(questionnaire, "Text3")->setPlainText(QStringLiteral("no"));
    requireChild<QPushButton>(questionnaire, "Command1")->click();
}

// The next `count` lines a client receives, without their line ends.
QStringList readLines(QTcpSocket &socket, int count) {
    QStringList lines;
    QDeadlineTimer deadline(5000);
    while (lines.size() < count && !deadline.hasExpired()) {
        if (socket.canReadLine())
            lines << QString::fromLatin1(socket.readLine()).trimmed();
        else
            QTest::qWait(10);
    }
    return lines;
}

QStringList dataLines(const QString &dataDir) {
    QFile file(dataDir + QStringLiteral("/Data.txt"));
    if (!file.open(QIODevice::ReadOnly))
        return {};
    return QString::fromLatin1(file.readAll()).split(QStringLiteral("\r\n"), Qt::SkipEmptyParts);
}

// Questions wait until the test answers, as a real box does: whatever arrives meanwhile is
// handled by the program's one event loop.
class WaitingDialogs : public ScriptedDialogs {
public:
    std::function<void()> whileAsking; // runs once a question waits
    void ask(const QString &title, const QString &text, Icon icon, Answer answer) override {
        if (!whileAsking) {
            ScriptedDialogs::ask(title, text, icon, std::move(answer));
            return;
        }
        shown.append({title, text, true});
        m_answer = std::move(answer);
        QTimer::singleShot(0, QCoreApplication::instance(), [this] { whileAsking(); });
    }
    void answer(bool yes) {
        if (auto pending = std::exchange(m_answer, nullptr))
            pending(yes);
    }

private:
    Answer m_answer;
};

void writeFile(const QString &path, const char *text) {
    QFile file(path);
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write(text);
}

int visibleWindows(const char *className) {
    int count = 0;
    for (QWidget *widget : QApplication::topLevelWidgets())
        count += widget->inherits(className) && widget->isVisible() ? 1 : 0;
    return count;
}

} // namespace

class TestProgram : public QObject {
    Q_OBJECT

private slots:
    void init();
    void cleanup();

    void personPlaysFromLoginToQuestionnaire();
    void cancelledSubjectFormReturnsToLogin();
    void quitOnLoginEndsWithoutQuestionnaire();
    void missingSetupFileEndsTheProgram();
    void missingKeyIsNamedAndEndsTheProgram();
    void conflictingScenarioIsRefusedAtStart_data();
    void conflictingScenarioIsRefusedAtStart();
    void modelCannotLogInWhileAPersonFillsTheSubjectForm();
    void modelMessagesInsideAPersonsQuestionChangeNothing();
    void aConnectedModelDoesNotSkipThePersonsQuestionnaire();
    void badLoginStillFillsTheNameBox();
    void aNameTheDataFilesCannotHoldIsRefused();
    void aNameUsedBeforeIsQuestioned();
    void failedScenarioCheckLeadsToQuestionnaire();
    void exitAuthenticationEndsWithoutQuestionnaire();
    void endProgramDuringTheQuestionnaireDoesNotOpenItAgain();
    void conditionsRotateAndEachRunIsTiedToItsOwnRecords();
    void fullScreenWindowsAndTheSetupsExitPassword();
    void instructionPagesTurnBackAndNextThenStartTheTask();
    void aConditionsEndScreenShowsTheRunsFiguresUntilCtrlQ();
    void aConditionsOwnQuestionnaireAndGenderOptionsAreRecordedWithTheRun();
    void practiceIsARunOfItsOwnAndLeavesNothingInTheRun();
    void withSessionsTheNextPersonFollowsAtTheLogin();
    void theExitWindowClosesWhenTheRunEndsBeneathIt();
    void aPersonsPausesAreTheSetupsPeriodPause();
    void aRefusedSubjectRecordEndsTheRoadWithStatusOne();
    void aWithinPersonDesignPlaysEachBlockInACounterbalancedOrder();
    void aDeclinedConsentEndsTheSittingWithItsRecordAlone();
    void aGermanPersonPassesTheCheckOnTheThirdAttempt();

private:
    void start(const QMap<QString, QString> &setup = {}, bool fullScreen = false);
    void startPerson(const QString &name);
    // `armQuestionnaire` answers the closing questionnaire; by default the program's own.
    void playPersonRun(const QString &name, int periods,
                       const std::function<void()> &armQuestionnaire = {});
    void connectModel(QTcpSocket &model);
    QString dataDir() const { return m_folder->path() + QStringLiteral("/data"); }
    QString database() const { return dataDir() + QStringLiteral("/Krugel.db"); }
    frmLogin *login() const { return m_program->sitting()->login(); }
    frmKrugel *krugel() const { return m_program->runs().taskWindow(); }
    // The run being played, or the last one.
    const TaskState &runState() const {
        static const TaskState none;
        RunSession *run = m_program->runs().run();
        return run ? run->state() : none;
    }

    std::unique_ptr<QTemporaryDir> m_folder;
    WaitingDialogs m_dialogs;
    std::unique_ptr<Program> m_program;
    std::optional<int> m_exitCode;
    std::optional<int> m_pauseMs = 1; // of each delay step of a person's period; none: the setup's
    bool m_sessions = false;          // a session ends at the login screen, not with the program
};

void TestProgram::init() {
    m_folder = std::make_unique<QTemporaryDir>();
    m_dialogs.shown.clear();
    m_dialogs.answers.clear();
    m_dialogs.whileAsking = nullptr;
    m_exitCode.reset();
    m_sessions = false;
    m_pauseMs = 1;
}

void TestProgram::cleanup() {
    qDeleteAll(waitingPolls()->children());
    m_program.reset();
    m_dialogs.whileAsking = nullptr;
}

void TestProgram::start(const QMap<QString, QString> &setup, bool fullScreen) {
    writeSetup(m_folder->path(), setup);
    QVERIFY(QFile::exists(database()) || createTestDatabase(database()));
    Program::Options options;
    options.port = 0;
    options.fullScreen = fullScreen;
    options.sessions = m_sessions;
    options.personPauseMs = m_pauseMs;
    m_program = std::make_unique<Program>(dataDir(), m_dialogs, options);
    connect(m_program.get(), &Program::finished, this, [this](int code) {
        QVERIFY(!m_exitCode); // the program ends once
        m_exitCode = code;
    });
    QVERIFY(m_program->start());
    QVERIFY(login() && login()->isVisible());
}

void TestProgram::connectModel(QTcpSocket &model) {
    model.connectToHost(QHostAddress::LocalHost, m_program->server()->listeningPort());
    QVERIFY(model.waitForConnected(2000));
    QTRY_VERIFY_WITH_TIMEOUT(m_program->server()->linked(), windowWaitMs);
}

void TestProgram::startPerson(const QString &name) {
    login()->nameBox()->setText(name);
    requireChild<QPushButton>(login(), "cmdStart")->click();
}

void TestProgram::personPlaysFromLoginToQuestionnaire() {
    start({{QStringLiteral("MaxTrial"), QStringLiteral("3")}});
    requireChild<QComboBox>(login(), "cboVersion")->setCurrentText(QStringLiteral("V1"));
    playPersonRun(QStringLiteral("p01"), 3);

    const auto subjects = queryRows(database(), "SELECT Subject, Version, Condition, Major, "
                                                "Gender, Age, typeof(Age) FROM datSubject");
    QCOMPARE(subjects.size(), 1);
    QCOMPARE(subjects[0].join(QLatin1Char('|')),
             QStringLiteral("p01|V1|continuous|Biology|Female|23.0|real"));
    const auto answers =
        queryRows(database(), "SELECT Subject, Version, QuestionNumber, "
                              "QuestionAnswer FROM datQuestionnaire ORDER BY rowid");
    QCOMPARE(answers.size(), 3);
    QCOMPARE(answers[0].join(QLatin1Char('|')), QStringLiteral("p01||1|7, because"));
    QCOMPARE(answers[1].join(QLatin1Char('|')), QStringLiteral("p01||2|steady orders"));
    QCOMPARE(answers[2].join(QLatin1Char('|')), QStringLiteral("p01||3|no"));
    const QStringList lines = dataLines(dataDir());
    for (int period = 1; period <= 3; ++period) {
        const QStringList fields = lines[period].split(QLatin1Char('\t'));
        QCOMPARE(fields.size(), 22);
        QCOMPARE(fields[0], QStringLiteral("p01"));
        QCOMPARE(fields[1], QString()); // a person's run has no version tag
        QCOMPARE(fields[2], QString::number(period));
        QCOMPARE(fields[8], QString::number(period));
    }
    // 2 + 1 + 2 + 3 units after the three periods.
    QCOMPARE(lines[3].split(QLatin1Char('\t'))[12], QStringLiteral("8"));
    // Each decision's time, under the run's RunId.
    Problems problems;
    const QString runs = dataDir() + QStringLiteral("/Runs.txt");
    const QString runId = readRunRecords(runs, problems).value(0).runId;
    QFile times(dataDir() + QStringLiteral("/DecisionTimes.txt"));
    QVERIFY(!runId.isEmpty() && times.open(QIODevice::ReadOnly));
    const QStringList timeLines =
        QString::fromLatin1(times.readAll()).split(QStringLiteral("\r\n"));
    QCOMPARE(timeLines.size(), 5); // the header, three lines and the piece after the last
    for (int period = 1; period <= 3; ++period) {
        const QString line = timeLines[period];
        const qint64 ms = line.section(QLatin1Char('\t'), 2).toLongLong();
        QCOMPARE(line.section(QLatin1Char('\t'), 0, 1), runId + QStringLiteral("\t%1").arg(period));
        QVERIFY2(ms >= 0 && ms < 60000, qPrintable(line));
    }
}

// From Start to the questionnaire's Submit, ordering the period's number in each period.
void TestProgram::playPersonRun(const QString &name, int periods,
                                const std::function<void()> &armQuestionnaire) {
    const qint64 linesBefore = dataLines(dataDir()).size();
    whenShown<frmNewSubject>(fillSubjectForm);
    startPerson(name);
    QTRY_VERIFY_WITH_TIMEOUT(krugel() != nullptr, windowWaitMs);
    QVERIFY(krugel()->isVisible());
    for (int period = 1; period <= periods; ++period) {
        if (period == periods && armQuestionnaire)
            armQuestionnaire();
        else if (period == periods)
            whenShown<Tasks1>(answerQuestionnaire);
        // A within-person design's next block opens a window of its own.
        QTRY_VERIFY_WITH_TIMEOUT(
            krugel() && krugel()->isVisible() && krugel()->inflowBox()->isEnabled(), windowWaitMs);
        krugel()->inflowBox()->setText(QString::number(period));
        krugel()->cmdNextTrial_Click();
        QTRY_COMPARE_WITH_TIMEOUT(dataLines(dataDir()).size(),
                                  qMax<qint64>(linesBefore, 1) + period, windowWaitMs);
    }
    if (m_sessions)
        QTRY_VERIFY_WITH_TIMEOUT(login() && login()->isVisible(), windowWaitMs);
    else
        QTRY_COMPARE_WITH_TIMEOUT(m_exitCode, std::optional<int>(0), windowWaitMs);
}

void TestProgram::cancelledSubjectFormReturnsToLogin() {
    start();
    whenShown<frmNewSubject>(
        [](frmNewSubject *form) { requireChild<QPushButton>(form, "btnCancel")->click(); });
    startPerson(QStringLiteral("p02"));
    QVERIFY(login()->isVisible());
    QCOMPARE(login()->nameBox()->selectedText(), QStringLiteral("p02"));
    QTest::qWait(20);
    QVERIFY(krugel() == nullptr);
    QVERIFY(queryRows(database(), "SELECT * FROM datSubject").isEmpty());
    QVERIFY(!m_exitCode);
}

void TestProgram::quitOnLoginEndsWithoutQuestionnaire() {
    start();
    requireChild<QPushButton>(login(), "cmdQuit")->click();
    QTRY_COMPARE_WITH_TIMEOUT(m_exitCode, std::optional<int>(0), windowWaitMs);
    QVERIFY(!m_program->server()->linked());
    QVERIFY(m_dialogs.shown.isEmpty());
}

void TestProgram::missingSetupFileEndsTheProgram() {
    start();
    QFile::remove(dataDir() + QStringLiteral("/Setup.txt"));
    startPerson(QStringLiteral("p03"));
    QTRY_COMPARE_WITH_TIMEOUT(m_dialogs.shown.size(), 1, windowWaitMs);
    QCOMPARE(m_dialogs.shown[0].title, QStringLiteral("ERROR"));
    QCOMPARE(m_dialogs.shown[0].text, QStringLiteral("Configuration failed"));
    QTRY_COMPARE_WITH_TIMEOUT(m_exitCode, std::optional<int>(1), windowWaitMs);
}

void TestProgram::missingKeyIsNamedAndEndsTheProgram() {
    start();
    // The file is edited into an unusable one after the launch: Start reads it again.
    writeSetup(m_folder->path(), {{QStringLiteral("GoalLinePoisition"), QStringLiteral("four")}});
    startPerson(QStringLiteral("p04"));
    QTRY_COMPARE_WITH_TIMEOUT(m_dialogs.shown.size(), 1, windowWaitMs);
    QVERIFY(m_dialogs.shown[0].text.contains(QStringLiteral("GoalLinePoisition")));
    QVERIFY(m_dialogs.shown[0].text.contains(QStringLiteral("Setup.txt")));
    QTRY_COMPARE_WITH_TIMEOUT(m_exitCode, std::optional<int>(1), windowWaitMs);
}

void TestProgram::conflictingScenarioIsRefusedAtStart_data() {
    QTest::addColumn<QString>("key");
    QTest::addColumn<QString>("value");
    QTest::addColumn<QStringList>("named");
    QTest::newRow("tables smaller than the run")
        << QStringLiteral("MaxNumberOfAScenarioType") << QStringLiteral("3")
        << QStringList{QStringLiteral("MaxNumberOfAScenarioType (3)"),
                       QStringLiteral("MaxTrial (5)")};
    QTest::newRow("no period for a person") << QStringLiteral("MaxTrial") << QStringLiteral("0")
                                            << QStringList{QStringLiteral("MaxTrial is 0")};
}

void TestProgram::conflictingScenarioIsRefusedAtStart() {
    QFETCH(QString, key);
    QFETCH(QString, value);
    QFETCH(QStringList, named);
    start({{key, value}});
    startPerson(QStringLiteral("p05"));
    QTRY_COMPARE_WITH_TIMEOUT(m_dialogs.shown.size(), 1, windowWaitMs);
    for (const QString &part : named)
        QVERIFY2(m_dialogs.shown[0].text.contains(part), qPrintable(m_dialogs.shown[0].text));
    QVERIFY(login()->isVisible());
    QVERIFY(!m_exitCode);
}

// A model's login, and its reset, while a person fills in the subject form change nothing of
// the person's road: the form goes on, and the record is the person's.
void TestProgram::modelCannotLogInWhileAPersonFillsTheSubjectForm() {
    start();
    QTcpSocket model;
    connectModel(model);
    QPointer<frmNewSubject> form;
    whenShown<frmNewSubject>([&form](frmNewSubject *shown) { form = shown; });
    startPerson(QStringLiteral("p09"));
    QTRY_VERIFY_WITH_TIMEOUT(form, windowWaitMs);
    model.write("ENTRY-ID bot VERSION BATCH\nSIMULATION RESET\n");
    QStringList replies = readLines(model, 2);
    fillSubjectForm(form);
    QTRY_VERIFY_WITH_TIMEOUT(krugel() != nullptr, windowWaitMs);
    // Nor while the person plays.
    model.write("ENTRY-ID bot VERSION BATCH\n");
    replies += readLines(model, 1);
    const QString badLogin = protocol::badLoginReply(QStringLiteral("ENTRY-ID bot VERSION BATCH"));
    QCOMPARE(replies, (QStringList{badLogin, QStringLiteral("SIMULATION_RESETED"), badLogin}));
    QVERIFY(m_program->zelph()->login().isEmpty());
    QCOMPARE(runState().subjectName, QStringLiteral("p09"));
    QCOMPARE(runState().versionTag, QString());
    const auto subjects = queryRows(database(), "SELECT Subject FROM datSubject");
    QCOMPARE(subjects, (QList<QStringList>{{QStringLiteral("p09")}}));
    QVERIFY(!m_exitCode);
}

// The crash this guards against: a person's Start asks whether a name may be used again, and
// while that box waits in its own event loop a model logs in and resets. The person has the
// program from the Start on: the model is answered, and nothing of the person's road moves.
void TestProgram::modelMessagesInsideAPersonsQuestionChangeNothing() {
    start();
    QFile data(dataDir() + QStringLiteral("/Data.txt"));
    QVERIFY(data.open(QIODevice::WriteOnly));
    data.write(dataHeaderLine().toLatin1() + "\r\np10\t\t1\r\n");
    data.close();
    QTcpSocket model;
    connectModel(model);
    m_dialogs.whileAsking = [&model] {
        model.write("ENTRY-ID bot VERSION BATCH\nSIMULATION RESET\n");
    };
    startPerson(QStringLiteral("p10"));
    const QStringList replies = readLines(model, 2);
    m_dialogs.answer(false);
    QCOMPARE(replies,
             (QStringList{protocol::badLoginReply(QStringLiteral("ENTRY-ID bot VERSION BATCH")),
                          QStringLiteral("SIMULATION_RESETED")}));
    QTest::qWait(50);
    QCOMPARE(visibleWindows("frmLogin"), 1);
    QVERIFY(login()->isVisible());
    QVERIFY(krugel() == nullptr);
    QVERIFY(m_program->zelph()->login().isEmpty());
    QCOMPARE(runState().versionTag, QString());
    QVERIFY(!m_exitCode);

    // Yes, the second time: the record is the person's own.
    m_dialogs.whileAsking = nullptr;
    m_dialogs.answers = {true};
    whenShown<frmNewSubject>(fillSubjectForm);
    startPerson(QStringLiteral("p10"));
    QTRY_VERIFY_WITH_TIMEOUT(krugel() != nullptr, windowWaitMs);
    QCOMPARE(queryRows(database(), "SELECT Subject FROM datSubject"),
             (QList<QStringList>{{QStringLiteral("p10")}}));
}

// A model that is only connected, and refused, is not the one who plays: the person's run
// ends with the questionnaire.
void TestProgram::aConnectedModelDoesNotSkipThePersonsQuestionnaire() {
    start({{QStringLiteral("MaxTrial"), QStringLiteral("1")}});
    QTcpSocket model;
    connectModel(model);
    whenShown<frmNewSubject>(fillSubjectForm);
    startPerson(QStringLiteral("p11"));
    QTRY_VERIFY_WITH_TIMEOUT(krugel() != nullptr, windowWaitMs);
    bool questionnaireShown = false;
    whenShown<Tasks1>([&](Tasks1 *questionnaire) {
        questionnaireShown = true;
        answerQuestionnaire(questionnaire);
    });
    krugel()->cmdNextTrial_Click();
    QTRY_VERIFY_WITH_TIMEOUT(m_exitCode.has_value(), windowWaitMs);
    QVERIFY(questionnaireShown);
    QCOMPARE(queryRows(database(), "SELECT COUNT(*) FROM datQuestionnaire"),
             (QList<QStringList>{{QStringLiteral("3")}}));
}

// Data.txt and Runs.txt keep Latin-1: a name beyond it would be "?" there and itself in the
// database, and the two could not be joined.
void TestProgram::aNameTheDataFilesCannotHoldIsRefused() {
    start();
    bool formOpened = false;
    whenShown<frmNewSubject>([&formOpened](frmNewSubject *form) {
        formOpened = true;
        form->close();
    });
    startPerson(QStringLiteral("\u015Aimon"));
    QTRY_COMPARE_WITH_TIMEOUT(m_dialogs.shown.size(), 1, windowWaitMs);
    QVERIFY2(m_dialogs.shown[0].text.contains(QStringLiteral("Latin-1")),
             qPrintable(m_dialogs.shown[0].text));
    QTest::qWait(50);
    QVERIFY(!formOpened);
    QVERIFY(login()->isVisible());
    QCOMPARE(m_program->seat().player(), Player::Nobody);
    startPerson(QStringLiteral("J\u00fcrgen")); // Latin-1 holds it
    QTRY_VERIFY_WITH_TIMEOUT(formOpened, windowWaitMs);
}

void TestProgram::badLoginStillFillsTheNameBox() {
    start();
    m_program->zelph()->DispatchModelMessage(QStringLiteral("ENTRY-ID beta VERSION TURBO"));
    QCOMPARE(login()->nameBox()->text(), QStringLiteral("beta"));
    QVERIFY(m_program->zelph()->login().isEmpty());
    QVERIFY(krugel() == nullptr);
}

void TestProgram::failedScenarioCheckLeadsToQuestionnaire() {
    start({{QStringLiteral("InitialBackOrder"), QStringLiteral("4")}});
    whenShown<Tasks1>([](Tasks1 *questionnaire) { questionnaire->close(); });
    startPerson(QStringLiteral("p06"));
    QTRY_COMPARE_WITH_TIMEOUT(m_exitCode, std::optional<int>(0), windowWaitMs);
    QCOMPARE(visibleWindows("frmNewSubject"), 0);
    QCOMPARE(m_dialogs.shown.value(0).text,
             QStringLiteral("Value of inFlowTPAfter or outFlowTPAfter is 1 and your initial Back "
                            "or Forward orders are not set to 0"));
    QTRY_COMPARE_WITH_TIMEOUT(m_exitCode, std::optional<int>(0), windowWaitMs);
    QVERIFY(queryRows(database(), "SELECT * FROM datQuestionnaire").isEmpty());
}

void TestProgram::exitAuthenticationEndsWithoutQuestionnaire() {
    start();
    whenShown<frmNewSubject>(fillSubjectForm);
    startPerson(QStringLiteral("p07"));
    QTRY_VERIFY_WITH_TIMEOUT(krugel() != nullptr, windowWaitMs);
    // The close box: the exit window fills in the access code itself and the program ends.
    QVERIFY(!krugel()->close());
    QTRY_COMPARE_WITH_TIMEOUT(m_exitCode, std::optional<int>(0), windowWaitMs);
    QCOMPARE(visibleWindows("frmPasswordAuth"), 0);
    QVERIFY(queryRows(database(), "SELECT * FROM datQuestionnaire").isEmpty());
    QCOMPARE(dataLines(dataDir()).size(), 1); // the header only
}

// The operator's No to a write of the answers ends the program there, with status 1: the
// questionnaire is not opened again.
void TestProgram::endProgramDuringTheQuestionnaireDoesNotOpenItAgain() {
    start({{QStringLiteral("MaxTrial"), QStringLiteral("1")}});
    whenShown<frmNewSubject>(fillSubjectForm);
    startPerson(QStringLiteral("p08"));
    QTRY_VERIFY_WITH_TIMEOUT(krugel() != nullptr, windowWaitMs);
    QVERIFY(executeSql(database(), "DROP TABLE datQuestionnaire"));
    int questionnaires = 0;
    whenShown<Tasks1>([&questionnaires](Tasks1 *questionnaire) {
        ++questionnaires;
        answerQuestionnaire(questionnaire);
    });
    krugel()->cmdNextTrial_Click();
    QTRY_COMPARE_WITH_TIMEOUT(m_exitCode, std::optional<int>(1), windowWaitMs);
    QTest::qWait(50);
    QCOMPARE(questionnaires, 1);
    QCOMPARE(visibleWindows("Tasks1"), 0);
    QCOMPARE(m_dialogs.shown.value(0).title, QStringLiteral("Problems opening table"));
}

// A name with lines in the data file is asked about: No returns to the login screen as the
// subject form's Cancel does, Yes goes on to the form.
void TestProgram::aNameUsedBeforeIsQuestioned() {
    start();
    QFile data(dataDir() + QStringLiteral("/Data.txt"));
    QVERIFY(data.open(QIODevice::WriteOnly));
    data.write(dataHeaderLine().toLatin1() + "\r\np10\t\t1\r\n");
    data.close();
    bool formOpened = false;
    whenShown<frmNewSubject>([&formOpened](frmNewSubject *form) {
        formOpened = true;
        requireChild<QPushButton>(form, "btnCancel")->click();
    });
    startPerson(QStringLiteral("p10"));
    QTRY_COMPARE_WITH_TIMEOUT(m_dialogs.shown.size(), 1, windowWaitMs);
    QVERIFY(m_dialogs.shown[0].question);
    QVERIFY2(m_dialogs.shown[0].text.contains(QStringLiteral("lines in Data.txt")),
             qPrintable(m_dialogs.shown[0].text));
    QTest::qWait(50);
    QVERIFY(!formOpened);
    QVERIFY(login()->isVisible());
    QCOMPARE(login()->nameBox()->selectedText(), QStringLiteral("p10"));
    m_dialogs.answers = {true};
    startPerson(QStringLiteral("p10"));
    QTRY_VERIFY_WITH_TIMEOUT(formOpened, windowWaitMs);
    QVERIFY(queryRows(database(), "SELECT * FROM datSubject").isEmpty());
}

// Three runs in a folder with two conditions, each by a fresh program as in the lab: the
// rotation balances the persons' completed runs, and the person who played twice has each
// run tied to its own subject record and answers.
void TestProgram::conditionsRotateAndEachRunIsTiedToItsOwnRecords() {
    writeSetup(m_folder->path(), {{QStringLiteral("MaxTrial"), QStringLiteral("2")}});
    QDir().mkpath(dataDir() + QStringLiteral("/conditions"));
    for (const char *name : {"b-high", "a-low"}) {
        const QString path = dataDir() + QStringLiteral("/conditions/") + QLatin1String(name);
        QVERIFY(
            QFile::copy(dataDir() + QStringLiteral("/Setup.txt"), path + QStringLiteral(".txt")));
    }
    QFile high(dataDir() + QStringLiteral("/conditions/b-high.txt"));
    QVERIFY(high.open(QIODevice::Append));
    high.write("' the higher goal's condition\r\n");
    high.close();
    QStringList conditions;
    for (const QString &name : {QStringLiteral("p1"), QStringLiteral("p2"), QStringLiteral("p1")}) {
        m_program.reset();
        m_exitCode.reset();
        m_dialogs.answers = {true}; // p1's second run: yes, the name is meant
        start({{QStringLiteral("MaxTrial"), QStringLiteral("2")}});
        QCOMPARE(login()->versionText(), QStringLiteral("next in rotation"));
        playPersonRun(name, 2);
    }
    Problems problems;
    const QList<RunRecord> runs = readRunRecords(dataDir() + QStringLiteral("/Runs.txt"), problems);
    QCOMPARE(runs.size(), 3);
    for (const RunRecord &run : runs)
        conditions << run.studyCondition;
    QCOMPARE(conditions, (QStringList{QStringLiteral("a-low"), QStringLiteral("b-high"),
                                      QStringLiteral("a-low")}));
    QCOMPARE(QDir(dataDir() + QStringLiteral("/setups")).entryList(QDir::Files).size(), 2);
    for (int index = 0; index < 3; ++index) {
        const RunRecord &run = runs[index];
        QCOMPARE(run.studyCondition, conditions[index]);
        QVERIFY(QFile::exists(dataDir() + QStringLiteral("/setups/") + run.setupId +
                              QStringLiteral(".txt")));
        const QString where = QStringLiteral(" WHERE r.RunId = '%1'").arg(run.runId);
        const auto subject = queryRows(
            database(),
            qPrintable(QStringLiteral("SELECT s.Subject, s.Version, r.StudyCondition, r.SetupId, "
                                      "s.rowid FROM datRun r JOIN datSubject s ON s.rowid = "
                                      "r.SubjectRowId") +
                       where));
        QCOMPARE(subject.size(), 1);
        QCOMPARE(subject[0].mid(0, 4),
                 (QStringList{run.subject, run.studyCondition, run.studyCondition, run.setupId}));
        QCOMPARE(subject[0][4], QString::number(index + 1));
        const auto answers = queryRows(
            database(),
            qPrintable(QStringLiteral("SELECT q.rowid FROM datRunQuestionnaire r JOIN "
                                      "datQuestionnaire q ON q.rowid = r.QuestionnaireRowId") +
                       where + QStringLiteral(" ORDER BY q.rowid")));
        QCOMPARE(answers, (QList<QStringList>{{QString::number(3 * index + 1)},
                                              {QString::number(3 * index + 2)},
                                              {QString::number(3 * index + 3)}}));
    }
}

// The participant's windows fill the screen; the setup's ExitPassword reaches the exit
// window, which then fills in nothing and lets nobody out by itself.
void TestProgram::fullScreenWindowsAndTheSetupsExitPassword() {
    start({{QStringLiteral("ExitPassword"), QStringLiteral("Lab 7")}}, true);
    QVERIFY(login()->isFullScreen());
    bool formFilledScreen = false;
    whenShown<frmNewSubject>([&formFilledScreen](frmNewSubject *form) {
        formFilledScreen = form->isFullScreen();
        fillSubjectForm(form);
    });
    startPerson(QStringLiteral("p09"));
    QTRY_VERIFY_WITH_TIMEOUT(krugel() != nullptr, windowWaitMs);
    QVERIFY(formFilledScreen);
    QVERIFY(krugel()->isFullScreen());
    QPointer<frmPasswordAuth> exitWindow;
    whenShown<frmPasswordAuth>([&exitWindow](frmPasswordAuth *shown) { exitWindow = shown; });
    QVERIFY(!krugel()->close());
    QTRY_VERIFY_WITH_TIMEOUT(exitWindow, windowWaitMs);
    QVERIFY(exitWindow->isFullScreen());
    QTest::qWait(50); // past its activation
    QCOMPARE(requireChild<QLineEdit>(exitWindow, "txtPassword")->text(), QString());
    requireChild<QPushButton>(exitWindow, "Command2")->click();
    QTRY_COMPARE_WITH_TIMEOUT(visibleWindows("frmPasswordAuth"), 0, windowWaitMs);
    QVERIFY(!m_program->sitting()->exitConfirmed());
    QVERIFY(krugel()->isVisible());
    QVERIFY(!m_exitCode);
}

// Only pages named NN.html count, in the order of their names; their images lie beside them.
void TestProgram::instructionPagesTurnBackAndNextThenStartTheTask() {
    start();
    const QString folder = dataDir() + QStringLiteral("/instructions/");
    QDir().mkpath(folder);
    writeFile(folder + QStringLiteral("10.html"), "<p>third</p>");
    writeFile(folder + QStringLiteral("01.html"), "<p>first</p>");
    writeFile(folder + QStringLiteral("02.html"), "<p>second <img src=\"tank.png\"></p>");
    writeFile(folder + QStringLiteral("notes.html"), "<p>not a page</p>");
    QVERIFY(QImage(4, 4, QImage::Format_RGB32).save(folder + QStringLiteral("tank.png")));
    QStringList seen;
    bool imageFound = false;
    bool taskOpenDuringPages = true;
    whenShown<frmNewSubject>(fillSubjectForm);
    whenShown<frmInstructions>([&](frmInstructions *window) {
        auto *page = requireChild<QTextBrowser>(window, "brwPage");
        auto *next = requireChild<QPushButton>(window, "cmdNext");
        const auto read = [&] {
            seen << page->toPlainText().trimmed();
        };
        read();
        next->click();
        read();
        imageFound =
            page->loadResource(QTextDocument::ImageResource, QUrl(QStringLiteral("tank.png")))
                .isValid();
        requireChild<QPushButton>(window, "cmdBack")->click();
        read();
        for (int click = 0; click < 2; ++click) {
            next->click();
            read();
        }
        taskOpenDuringPages = krugel() != nullptr;
        next->click();
    });
    startPerson(QStringLiteral("p10"));
    QTRY_VERIFY_WITH_TIMEOUT(krugel() != nullptr, windowWaitMs);
    QCOMPARE(seen, (QStringList{QStringLiteral("first"), QStringLiteral("second \uFFFC"),
                                QStringLiteral("first"), QStringLiteral("second \uFFFC"),
                                QStringLiteral("third")}));
    QVERIFY(imageFound);
    QVERIFY(!taskOpenDuringPages);
}

// A condition's own end.html replaces the data folder's; the figures are filled in, the
// name escaped, and only Ctrl+Q (not Escape) lets the program end.
void TestProgram::aConditionsEndScreenShowsTheRunsFiguresUntilCtrlQ() {
    // Amounts 3, 5, 8: the goal of 5 puts one period in the band.
    const QMap<QString, QString> setup{{QStringLiteral("MaxTrial"), QStringLiteral("3")},
                                       {QStringLiteral("GoalLinePoisition"), QStringLiteral("5")}};
    writeSetup(m_folder->path(), setup);
    QDir().mkpath(dataDir() + QStringLiteral("/conditions/only"));
    QVERIFY(QFile::copy(dataDir() + QStringLiteral("/Setup.txt"),
                        dataDir() + QStringLiteral("/conditions/only.txt")));
    writeFile(dataDir() + QStringLiteral("/end.html"), "<p>the data folder's</p>");
    writeFile(
        dataDir() + QStringLiteral("/conditions/only/end.html"),
        "<p>Danke, {subject}: {payment} ({bonus}, {periods_in_band} in band) \xE2\x9C\x93</p>");
    start(setup);
    QString shownText;
    bool openAfterEscape = false;
    whenShown<frmEndScreen>([&](frmEndScreen *window) {
        shownText = requireChild<QTextBrowser>(window, "brwPage")->toPlainText().trimmed();
        QTest::keyClick(window, Qt::Key_Escape);
        openAfterEscape = window->isVisible() && !m_exitCode;
        QTest::keyClick(window, Qt::Key_Q, Qt::ControlModifier);
    });
    playPersonRun(QStringLiteral("Kim <K&L>"), 3);
    QCOMPARE(shownText, QStringLiteral("Danke, Kim <K&L>: $5.05 ($0.05, 1 in band) \u2713"));
    QVERIFY(openAfterEscape);
}

// A condition's own Questionnaire.txt replaces the data folder's (a broken one here): each
// kind of question is asked, Submit waits for every answer, and the answers land in datAnswer
// with the run's RunId; the setup's GenderOptions make the subject form's gender choices.
void TestProgram::aConditionsOwnQuestionnaireAndGenderOptionsAreRecordedWithTheRun() {
    const QMap<QString, QString> setup = {
        {QStringLiteral("MaxTrial"), QStringLiteral("1")},
        {QStringLiteral("GenderOptions"), QStringLiteral("Female, Male, Non-binary")}};
    writeSetup(m_folder->path(), setup);
    const QString own = dataDir() + QStringLiteral("/conditions/c1");
    QVERIFY(QDir().mkpath(own));
    QVERIFY(QFile::copy(dataDir() + QStringLiteral("/Setup.txt"), own + QStringLiteral(".txt")));
    QFile broken(dataDir() + QStringLiteral("/Questionnaire.txt"));
    QVERIFY(broken.open(QIODevice::WriteOnly) && broken.write("nothing | to | ask\n") > 0);
    broken.close();
    QFile questions(own + QStringLiteral("/Questionnaire.txt"));
    QVERIFY(questions.open(QIODevice::WriteOnly));
    questions.write("# ours\nHard | rating | 1-7; easy; hard | How hard?\n"
                    "Plan | choice | none; some; a clear one | Your plan?\n"
                    "Why | text | | Tell us why.\n");
    questions.close();
    start(setup);
    whenShown<frmNewSubject>([](frmNewSubject *form) {
        QVERIFY(!requireChild<QRadioButton>(form, "optMale")->isVisible());
        QTest::keyClicks(requireChild<QLineEdit>(form, "txtAge"), QStringLiteral("30"));
        requireChild<QComboBox>(form, "cboGender")->setCurrentIndex(2);
        requireChild<QComboBox>(form, "cboMajor")->setCurrentText(QStringLiteral("Biology"));
        requireChild<QPushButton>(form, "btnBegin")->click();
    });
    playPersonRun(QStringLiteral("p7"), 1, [this] {
        whenShown<StudyQuestionnaire>([this](StudyQuestionnaire *window) {
            requireChild<QPushButton>(window, "Submit")->click(); // nothing answered yet
            QVERIFY(!window->submitted());
            QCOMPARE(m_dialogs.shown.last().text, QStringLiteral("Please answer Question 1"));
            for (QRadioButton *point :
                 requireChild<QWidget>(window, "Hard")->findChildren<QRadioButton *>()) {
                if (point->text() == QLatin1String("5"))
                    point->click();
            }
            requireChild<QWidget>(window, "Plan")->findChildren<QRadioButton *>().at(2)->click();
            requireChild<QPlainTextEdit>(window, "Why")->setPlainText(QStringLiteral("so"));
            requireChild<QPushButton>(window, "Submit")->click();
        });
    });

    Problems problems;
    const QList<RunRecord> runs = readRunRecords(dataDir() + QStringLiteral("/Runs.txt"), problems);
    QCOMPARE(runs.size(), 1);
    const auto answers = queryRows(database(), "SELECT RunId, QuestionId, QuestionText, Answer, "
                                               "typeof(AnswerNumber), AnswerNumber FROM datAnswer "
                                               "ORDER BY rowid");
    const QString run = runs[0].runId;
    QCOMPARE(answers,
             (QList<QStringList>{
                 {run, QStringLiteral("Hard"), QStringLiteral("How hard?"), QStringLiteral("5"),
                  QStringLiteral("real"), QStringLiteral("5.0")},
                 {run, QStringLiteral("Plan"), QStringLiteral("Your plan?"),
                  QStringLiteral("a clear one"), QStringLiteral("real"), QStringLiteral("3.0")},
                 {run, QStringLiteral("Why"), QStringLiteral("Tell us why."), QStringLiteral("so"),
                  QStringLiteral("null"), QStringLiteral("")}}));
    QCOMPARE(queryRows(database(), "SELECT Gender, GenderNumber FROM datSubject"),
             (QList<QStringList>{{QStringLiteral("Non-binary"), QStringLiteral("3")}}));
    QVERIFY(queryRows(database(), "SELECT * FROM datQuestionnaire").isEmpty());
}

// Two practice periods, then the three of the run: the practice is marked, recorded as a run
// of its own, and the run starts from the setup's state, not the practice's.
void TestProgram::practiceIsARunOfItsOwnAndLeavesNothingInTheRun() {
    start({{QStringLiteral("MaxTrial"), QStringLiteral("3")},
           {QStringLiteral("PracticePeriods"), QStringLiteral("2")}});
    whenShown<frmNewSubject>(fillSubjectForm);
    startPerson(QStringLiteral("p12"));
    QTRY_VERIFY_WITH_TIMEOUT(krugel() != nullptr, windowWaitMs);
    QPointer<frmKrugel> practice = krugel();
    QCOMPARE(requireChild<QLabel>(practice, "lblPractice")->text(), QStringLiteral("Practice"));
    QCOMPARE(practice->view().lblTotTimePeriod, QStringLiteral("2"));
    const auto play = [this](const QList<int> &orders) {
        for (const int order : orders) {
            const qsizetype before = dataLines(dataDir()).size();
            krugel()->inflowBox()->setText(QString::number(order));
            krugel()->cmdNextTrial_Click();
            QTRY_COMPARE_WITH_TIMEOUT(dataLines(dataDir()).size(), before + 1, windowWaitMs);
        }
    };
    play({2, 0}); // to the goal and held there: two bonuses
    QTRY_VERIFY_WITH_TIMEOUT(krugel() != nullptr && krugel() != practice, windowWaitMs);
    QVERIFY(!krugel()->findChild<QLabel *>(QStringLiteral("lblPractice")));
    QCOMPARE(krugel()->windowTitle(), QStringLiteral("Fluxmere"));
    whenShown<Tasks1>(answerQuestionnaire);
    play({2, 1, 0});
    QTRY_COMPARE_WITH_TIMEOUT(m_exitCode, std::optional<int>(0), windowWaitMs);

    Problems problems;
    const QList<RunRecord> runs = readRunRecords(dataDir() + QStringLiteral("/Runs.txt"), problems);
    QCOMPARE(runs.size(), 2);
    QCOMPARE((QList<int>{runs[0].practice, runs[1].practice}), (QList<int>{1, 0}));
    QCOMPARE((QList<qint64>{runs[0].maxTrial, runs[1].maxTrial}), (QList<qint64>{2, 3}));
    QCOMPARE(runs[1].firstDataLine, 4);
    QVERIFY(runs[0].runId != runs[1].runId);
    // Period 1 of each run: the same order on the same initial amount, 2 + 2 units, one bonus.
    const QStringList lines = dataLines(dataDir());
    for (const int line : {1, 3}) {
        const QStringList fields = lines[line].split(QLatin1Char('\t'));
        QCOMPARE(fields.mid(2, 1) + fields.mid(7, 1) + fields.mid(12, 1),
                 (QStringList{QStringLiteral("1"), QStringLiteral("5.05"), QStringLiteral("4")}));
    }
    const auto tied =
        queryRows(database(), "SELECT RunId, SubjectRowId FROM datRun ORDER BY rowid");
    QCOMPARE(tied, (QList<QStringList>{{runs[0].runId, QStringLiteral("1")},
                                       {runs[1].runId, QStringLiteral("1")}}));
    const ReplayCheck replay = CheckReplay(dataDir());
    QVERIFY2(replay.clean(), qPrintable(replay.problems.join(QLatin1Char('\n'))));
    QCOMPARE(replay.summary(), QStringLiteral("2 runs, 5 periods verified, 0 differences"));
}

// A whole sitting of two: the first person reads the page, plays and answers, and the end
// screen waits for the experimenter; the second, in a German condition, starts afresh at the
// login and leaves through the exit window. Each run has its own records, and only Quit ends
// the program.
void TestProgram::withSessionsTheNextPersonFollowsAtTheLogin() {
    m_sessions = true;
    const QMap<QString, QString> setup{{QStringLiteral("MaxTrial"), QStringLiteral("2")}};
    writeSetup(m_folder->path(), setup);
    QDir().mkpath(dataDir() + QStringLiteral("/conditions"));
    const QString english = dataDir() + QStringLiteral("/conditions/english.txt");
    QVERIFY(QFile::copy(dataDir() + QStringLiteral("/Setup.txt"), english));
    QFile german(dataDir() + QStringLiteral("/conditions/german.txt"));
    QVERIFY(QFile::copy(english, german.fileName()) && german.open(QIODevice::Append));
    german.write("\nLanguage = de\n");
    german.close();
    QDir().mkpath(dataDir() + QStringLiteral("/instructions"));
    writeFile(dataDir() + QStringLiteral("/instructions/01.html"), "<p>Keep the tank full.</p>");
    writeFile(dataDir() + QStringLiteral("/end.html"), "<p>Thank you, {subject}: {payment}</p>");
    start(setup);
    const auto chooseCondition = [this](const QString &name) {
        requireChild<QComboBox>(login(), "cboVersion")->setCurrentText(name);
    };
    chooseCondition(QStringLiteral("english"));
    const auto readPage = [](frmInstructions *window) {
        requireChild<QPushButton>(window, "cmdNext")->click();
    };
    QString endScreen;
    whenShown<frmInstructions>(readPage);
    whenShown<frmEndScreen>([&endScreen](frmEndScreen *window) {
        endScreen = requireChild<QTextBrowser>(window, "brwPage")->toPlainText().trimmed();
        QTest::keyClick(window, Qt::Key_Q, Qt::ControlModifier);
    });
    playPersonRun(QStringLiteral("first"), 2);
    QCOMPARE(endScreen, QStringLiteral("Thank you, first: $5.00"));

    // The second person's condition shows German from Start on; the next login is English.
    QCOMPARE(login()->windowTitle(), QStringLiteral("Welcome"));
    chooseCondition(QStringLiteral("german"));
    whenShown<frmNewSubject>(fillSubjectForm);
    whenShown<frmInstructions>(readPage);
    startPerson(QStringLiteral("second"));
    QTRY_VERIFY_WITH_TIMEOUT(krugel() != nullptr, windowWaitMs);
    QCOMPARE(requireChild<QPushButton>(krugel(), "cmdNextTrial")->text(),
             QStringLiteral("Absenden"));
    QCOMPARE(krugel()->view().lblCurrTimePeriod, QStringLiteral("0"));
    QCOMPARE(runState().periodsInBand, 0);
    krugel()->inflowBox()->setText(QStringLiteral("1"));
    krugel()->cmdNextTrial_Click();
    QTRY_COMPARE_WITH_TIMEOUT(dataLines(dataDir()).size(), 4, windowWaitMs);
    krugel()->close(); // the exit window approves with the access code
    QTRY_VERIFY_WITH_TIMEOUT(login() && login()->isVisible(), windowWaitMs);
    QVERIFY(!m_exitCode);
    QCOMPARE(login()->windowTitle(), QStringLiteral("Welcome"));

    Problems problems;
    const QList<RunRecord> runs = readRunRecords(dataDir() + QStringLiteral("/Runs.txt"), problems);
    QCOMPARE(runs.size(), 2);
    QCOMPARE((QStringList{runs[0].subject, runs[1].subject}),
             (QStringList{QStringLiteral("first"), QStringLiteral("second")}));
    QCOMPARE(runs[0].ending, RunEnding::Completed);
    QCOMPARE(runs[1].ending, RunEnding::Exited);
    QCOMPARE(queryRows(database(), "SELECT s.Subject FROM datRun r JOIN datSubject s ON "
                                   "s.rowid = r.SubjectRowId ORDER BY r.rowid"),
             (QList<QStringList>{{QStringLiteral("first")}, {QStringLiteral("second")}}));
    QCOMPARE(queryRows(database(), "SELECT DISTINCT Subject FROM datQuestionnaire"),
             (QList<QStringList>{{QStringLiteral("first")}}));

    requireChild<QPushButton>(login(), "cmdQuit")->click();
    QTRY_COMPARE_WITH_TIMEOUT(m_exitCode, std::optional<int>(0), windowWaitMs);
}

// PeriodPauseMs sets both pauses of a person's period: with the design's two seconds each,
// the period could not be over in one.
void TestProgram::aPersonsPausesAreTheSetupsPeriodPause() {
    m_pauseMs.reset();
    start({{QStringLiteral("MaxTrial"), QStringLiteral("1")},
           {QStringLiteral("PeriodPauseMs"), QStringLiteral("5")}});
    whenShown<frmNewSubject>(fillSubjectForm);
    startPerson(QStringLiteral("p14"));
    QTRY_VERIFY_WITH_TIMEOUT(krugel() != nullptr, windowWaitMs);
    QElapsedTimer clock;
    clock.start();
    krugel()->cmdNextTrial_Click();
    QTRY_COMPARE_WITH_TIMEOUT(visibleWindows("Tasks1"), 1, windowWaitMs);
    QVERIFY2(clock.elapsed() < 1000, qPrintable(QString::number(clock.elapsed())));
}

// With sessions and an exit password, the close box clicked during the last period: the run
// ends beneath the exit window, which closes; the questionnaire follows, and the next
// person's login opens only once every window of this person's road is closed.
void TestProgram::theExitWindowClosesWhenTheRunEndsBeneathIt() {
    m_sessions = true;
    m_pauseMs = 300;
    start({{QStringLiteral("MaxTrial"), QStringLiteral("1")},
           {QStringLiteral("ExitPassword"), QStringLiteral("Lab 7")}});
    whenShown<frmNewSubject>(fillSubjectForm);
    startPerson(QStringLiteral("p13"));
    QTRY_VERIFY_WITH_TIMEOUT(krugel() != nullptr, windowWaitMs);
    krugel()->cmdNextTrial_Click();
    QVERIFY(!krugel()->close());
    QTRY_COMPARE_WITH_TIMEOUT(visibleWindows("frmPasswordAuth"), 1, windowWaitMs);
    QTRY_COMPARE_WITH_TIMEOUT(visibleWindows("Tasks1"), 1, windowWaitMs);
    QCOMPARE(visibleWindows("frmPasswordAuth"), 0);
    QVERIFY(!login());
    for (QWidget *widget : QApplication::topLevelWidgets()) {
        if (auto *questionnaire = qobject_cast<Tasks1 *>(widget);
            questionnaire && widget->isVisible())
            answerQuestionnaire(questionnaire);
    }
    QTRY_VERIFY_WITH_TIMEOUT(login() && login()->isVisible(), windowWaitMs);
    QCOMPARE(visibleWindows("frmPasswordAuth") + visibleWindows("Tasks1") +
                 visibleWindows("frmKrugel"),
             0);
    Problems problems;
    const QList<RunRecord> runs = readRunRecords(dataDir() + QStringLiteral("/Runs.txt"), problems);
    QCOMPARE(runs.size(), 1);
    QCOMPARE(runs[0].ending, RunEnding::Completed);
    QVERIFY(!m_exitCode);
}

// The operator's No to the retry of the subject record: nothing was played, so nothing is
// asked; the program ends with status 1.
void TestProgram::aRefusedSubjectRecordEndsTheRoadWithStatusOne() {
    start();
    QVERIFY(executeSql(database(), "DROP TABLE datSubject"));
    whenShown<frmNewSubject>(fillSubjectForm);
    startPerson(QStringLiteral("p14"));
    QTRY_COMPARE_WITH_TIMEOUT(m_exitCode, std::optional<int>(1), windowWaitMs);
    QCOMPARE(m_dialogs.shown.value(0).title, QStringLiteral("Problems opening table"));
    QCOMPARE(visibleWindows("Tasks1") + visibleWindows("frmKrugel"), 0);
    QVERIFY(!QFile::exists(dataDir() + QStringLiteral("/Runs.txt")));
}

// Three persons of a design with two blocks: each plays both conditions, each block a run of
// its own tied to the person, in the order with the fewest persons so far.
void TestProgram::aWithinPersonDesignPlaysEachBlockInACounterbalancedOrder() {
    writeSetup(m_folder->path(), {{QStringLiteral("MaxTrial"), QStringLiteral("2")}});
    QDir().mkpath(dataDir() + QStringLiteral("/conditions"));
    for (const QString &name : {QStringLiteral("low"), QStringLiteral("high")})
        QVERIFY(QFile::copy(dataDir() + QStringLiteral("/Setup.txt"),
                            dataDir() + QStringLiteral("/conditions/%1.txt").arg(name)));
    writeFile(dataDir() + QStringLiteral("/Study.txt"), "Blocks = low, high\n");
    m_dialogs.answers = {true, true}; // the names are meant
    for (const QString &name : {QStringLiteral("p1"), QStringLiteral("p2"), QStringLiteral("p3")}) {
        m_program.reset();
        m_exitCode.reset();
        start({{QStringLiteral("MaxTrial"), QStringLiteral("2")}});
        playPersonRun(name, 4);
    }
    Problems problems;
    QStringList played;
    for (const RunRecord &run : readRunRecords(dataDir() + QStringLiteral("/Runs.txt"), problems))
        played << run.subject + QLatin1Char(':') + run.studyCondition;
    QCOMPARE(played.join(QLatin1Char(' ')),
             QStringLiteral("p1:low p1:high p2:high p2:low p3:low p3:high"));
    const auto persons = queryRows(database(), "SELECT s.Subject, COUNT(r.RunId), t.Conditions "
                                               "FROM datSubject s JOIN datRun r ON r.SubjectRowId"
                                               " = s.rowid JOIN datSitting t ON t.SubjectRowId = "
                                               "s.rowid GROUP BY s.rowid ORDER BY s.rowid");
    QStringList rows;
    for (const QStringList &row : persons)
        rows << row.join(QLatin1Char('|'));
    QCOMPARE(rows, (QStringList{QStringLiteral("p1|2|low, high"), QStringLiteral("p2|2|high, low"),
                                QStringLiteral("p3|2|low, high")}));
}

void TestProgram::aDeclinedConsentEndsTheSittingWithItsRecordAlone() {
    writeSetup(m_folder->path());
    writeFile(dataDir() + QStringLiteral("/consent.html"), "<p>Do you agree?</p>");
    start();
    whenShown<frmConsent>(
        [](frmConsent *consent) { requireChild<QPushButton>(consent, "cmdDecline")->click(); });
    startPerson(QStringLiteral("p1"));
    QTRY_COMPARE_WITH_TIMEOUT(m_exitCode, std::optional<int>(0), windowWaitMs);
    QCOMPARE(queryRows(database(), "SELECT Agreed, length(SittingId) > 0 FROM datConsent"),
             (QList<QStringList>{{QStringLiteral("0"), QStringLiteral("1")}}));
    QVERIFY(queryRows(database(), "SELECT 1 FROM datSubject").isEmpty());
    QVERIFY(dataLines(dataDir()).isEmpty());
}

// The study offers two languages; a German person in a condition without files of its own sees
// the data folder's German check, and every attempt is recorded with its verdict.
void TestProgram::aGermanPersonPassesTheCheckOnTheThirdAttempt() {
    writeSetup(m_folder->path(), {{QStringLiteral("MaxTrial"), QStringLiteral("1")}});
    QDir().mkpath(dataDir() + QStringLiteral("/conditions"));
    QVERIFY(QFile::copy(dataDir() + QStringLiteral("/Setup.txt"),
                        dataDir() + QStringLiteral("/conditions/c1.txt")));
    writeFile(dataDir() + QStringLiteral("/Study.txt"), "Languages = en, de\n");
    writeFile(dataDir() + QStringLiteral("/Comprehension.txt"),
              "Goal | choice | below; on | Where is the goal? | right: 2\n");
    writeFile(dataDir() + QStringLiteral("/Comprehension.de.txt"),
              "Goal | choice | darunter; darauf | Wo ist das Ziel? | right: 2\n");
    start({{QStringLiteral("MaxTrial"), QStringLiteral("1")}});
    requireChild<QComboBox>(login(), "cboLanguage")->setCurrentIndex(1);
    whenShown<StudyQuestionnaire>([](StudyQuestionnaire *check) {
        const auto options = requireChild<QWidget>(check, "Goal")->findChildren<QRadioButton *>();
        for (int pick : {0, 0, 1}) {
            options.at(pick)->click();
            requireChild<QPushButton>(check, "Submit")->click();
        }
    });
    playPersonRun(QStringLiteral("p1"), 1);
    QCOMPARE(queryRows(database(), "SELECT QuestionText, AnswerNumber, Attempt, Correct FROM "
                                   "datAnswer ORDER BY rowid"),
             (QList<QStringList>{{QStringLiteral("Wo ist das Ziel?"), QStringLiteral("1.0"),
                                  QStringLiteral("1"), QStringLiteral("0")},
                                 {QStringLiteral("Wo ist das Ziel?"), QStringLiteral("1.0"),
                                  QStringLiteral("2"), QStringLiteral("0")},
                                 {QStringLiteral("Wo ist das Ziel?"), QStringLiteral("2.0"),
                                  QStringLiteral("3"), QStringLiteral("1")}}));
    QCOMPARE(queryRows(database(), "SELECT Language FROM datSitting"),
             (QList<QStringList>{{QStringLiteral("de")}}));
    // The German file the person answered is kept with the run.
    const auto kept = queryRows(database(), "SELECT StudyFilesId FROM datRun");
    QCOMPARE(kept.size(), 1);
    QVERIFY(QFile::exists(dataDir() +
                          QStringLiteral("/studyfiles/%1/Comprehension.de.txt").arg(kept[0][0])));
}

QTEST_MAIN(TestProgram)
#include "test_program.moc"
