#include "app/program.h"

#include "app/modZelph.h"
#include "core/common/language.h"
#include "core/common/paths.h"
#include "core/engine/periodrunner.h"
#include "core/model/modelserver.h"
#include "core/model/protocol.h"
#include "core/recording/datafile.h"
#include "core/recording/datafolder.h"
#include "core/recording/runrecords.h"
#include "core/setup/envnoise.h"
#include "core/setup/keptsetup.h"
#include "core/setup/questionnairefile.h"
#include "core/setup/scenario.h"
#include "core/setup/setupcheck.h"
#include "core/setup/startverdict.h"
#include "core/setup/studyfiles.h"
#include "gui/StudyQuestionnaire.h"
#include "gui/Tasks1.h"
#include "gui/frmEndScreen.h"
#include "gui/frmInstructions.h"
#include "gui/frmKrugel.h"
#include "gui/frmLogin.h"
#include "gui/frmNewSubject.h"
#include "gui/frmPasswordAuth.h"
#include "gui/frmZelph.h"
#include "gui/fullscreen.h"

#include <QCoreApplication>
#include <QDateTime>
#include <QDeadlineTimer>
#include <QDir>
#include <QLineEdit>
#include <QLockFile>
#include <QTextStream>
#include <QThread>
#include <QTimer>

#include <cstdlib>

Program::Program(QString dataDirectory, Dialogs &dialogs, QObject *parent)
    : QObject(parent)
    , m_dataDirectory(std::move(dataDirectory))
    , m_dialogs(dialogs)
    , m_setup(paths::setupFile(m_dataDirectory))
    , m_recorder(m_dataDirectory)
    , m_database(
          paths::database(m_dataDirectory), dialogs,
          [this] {
              m_sessions = false; // the operator's "No to quit" ends the sitting too
              EndProgram();
          },
          [] { QCoreApplication::processEvents(); })
    , m_terminate([](int exitCode) { std::exit(exitCode); })
    , m_port(ModelServer::defaultPort) {
    m_database.setRandom([this] { return m_random.generateDouble(); });
}

Program::~Program() {
    delete m_krugel;
    delete m_login;
    delete m_connectionWindow;
}

void Program::setTerminate(std::function<void(int)> terminate) {
    m_terminate = std::move(terminate);
}

// ---- Start-up --------------------------------------------------------------------------

void Program::Main() {
    // The random numbers only size the database's back-off; the time since boot seeds them.
    m_random.seed(static_cast<quint32>(QDeadlineTimer::current().deadline()));
    m_state.resetRequested = false;
    if (!m_server && !launch())
        return;
    m_seat.take(Player::Nobody);
    // Without a screen nobody can press Start: the program waits for a model.
    if (m_dialogs.someoneCanAnswer())
        showLogin();
    m_betweenWindows = false;
    updateHolding();
}

// The first start makes sure of everything a run needs before anybody can wait on it: the
// data folder (this instance's alone, and writable), the setup file, and both loopback
// addresses. Any of them failing ends the program with status 1.
bool Program::launch() {
    QTextStream(stdout) << "Data folder: " << QDir::toNativeSeparators(m_dataDirectory) << Qt::endl;
    m_conditions = ConditionNames(m_dataDirectory);
    if (!lockDataFolder() || !setupUsableAtLaunch())
        return false;
    QString error;
    if (!AddRunTables(paths::database(m_dataDirectory), &error))
        printError(error);
    m_server = new ModelServer(this);
    m_zelph = new modZelph(m_state, *m_server, m_seat, m_dialogs, this);
    connectModelSide();
    return listenForModels();
}

namespace {

// Why the lock was not taken. Another instance that has just taken it may not have written
// its process number yet: it is read again for a moment before the folder is called
// unwritable.
QString lockHolder(QLockFile &lock, const QString &shownFolder) {
    qint64 pid = 0;
    QString host;
    QString application;
    for (QDeadlineTimer deadline(500); lock.error() == QLockFile::LockFailedError;) {
        if (lock.getLockInfo(&pid, &host, &application))
            return QStringLiteral("The data folder %1 is in use by process %2.")
                .arg(shownFolder)
                .arg(pid);
        if (deadline.hasExpired())
            return QStringLiteral("The data folder %1 is in use by another process.")
                .arg(shownFolder);
        QThread::msleep(5);
    }
    return QStringLiteral("The data folder %1 is not writable: the program cannot record there.")
        .arg(shownFolder);
}

} // namespace

bool Program::lockDataFolder() {
    const QString shown = QDir::toNativeSeparators(m_dataDirectory);
    m_lock = std::make_unique<QLockFile>(paths::lockFile(m_dataDirectory));
    m_lock->setStaleLockTime(0); // only the death of its holder frees the lock
    QString problem;
    if (!m_lock->tryLock(0)) {
        problem = lockHolder(*m_lock, shown);
    } else {
        problem = UnwritableDataFiles(m_dataDirectory);
        if (problem.isEmpty() && !m_recorder.inspectFiles(&problem))
            problem = QStringLiteral("The program cannot record in the data folder %1: %2")
                          .arg(shown, problem);
    }
    if (problem.isEmpty())
        return true;
    m_dialogs.inform(programTitle(), problem, Dialogs::Icon::Critical);
    m_terminate(1);
    return false;
}

// Only what makes the file unusable for anyone stops the launch: no regular file, a key
// missing, a value that is not a number or out of its range. Start reads the file again when
// it has changed, and its own checks depend on who plays.
// A study with conditions plays their files, each of which must be usable.
bool Program::setupUsableAtLaunch() {
    QList<SetupFile *> setups;
    for (const QString &name : std::as_const(m_conditions))
        setups.append(&m_conditionSetups.try_emplace(name, ConditionFile(m_dataDirectory, name))
                           .first->second);
    if (setups.isEmpty())
        setups.append(&m_setup);
    QStringList languages;
    for (SetupFile *setup : setups) {
        if (!setupUsable(*setup, &languages))
            return false;
    }
    languages.removeDuplicates();
    m_launchLanguage = languages.size() == 1 ? languages.constFirst() : QString();
    return true;
}

bool Program::setupUsable(SetupFile &setup, QStringList *languages) {
    try {
        TaskState scenario;
        ::LoadScenario(scenario, setup);
        languages->append(scenario.Language.isEmpty() ? QStringLiteral("en") : scenario.Language);
        return true;
    } catch (const SetupFileMissing &) {
        printError(QStringLiteral("There is no readable setup file at %1.")
                       .arg(QDir::toNativeSeparators(setup.path())));
        m_dialogs.inform(QStringLiteral("ERROR"), QStringLiteral("Configuration failed"),
                         Dialogs::Icon::Critical);
    } catch (const SetupError &error) {
        m_dialogs.inform(programTitle(), error.message(), Dialogs::Icon::Critical);
    }
    m_terminate(1);
    return false;
}

bool Program::listenForModels() {
    QString error;
    QString note;
    if (!m_server->listen(m_port, &error, &note)) {
        m_dialogs.inform(programTitle(), error, Dialogs::Icon::Critical);
        m_terminate(1);
        return false;
    }
    QTextStream out(stdout);
    if (!note.isEmpty())
        out << note << Qt::endl;
    out << "Waiting for a model on port " << m_server->listeningPort() << "." << Qt::endl;
    return true;
}

void Program::connectModelSide() {
    connect(m_server, &ModelServer::messageArrived, m_zelph, &modZelph::DispatchModelMessage);
    connect(m_server, &ModelServer::peerRefused, this, [this](const QString &reason) {
        printError(reason);
        if (m_connectionWindow)
            m_connectionWindow->appendNote(reason);
    });
    connect(m_zelph, &modZelph::loginAccepted, this, &Program::modelStart);
    connect(m_server, &ModelServer::disconnected, this, &Program::modelLeft);
    connect(m_zelph, &modZelph::nameGiven, this, [this](const QString &name) {
        if (m_login)
            m_login->nameBox()->setText(name);
    });
    connect(m_zelph, &modZelph::resetRequested, this, &Program::ResetSimulation);
    connect(m_zelph, &modZelph::quitRequested, this, [this] {
        EndProgram();
        terminate(0);
    });
    connect(m_zelph, &modZelph::terminateRequested, this, [this] { terminate(0); });
    if (!m_dialogs.someoneCanAnswer())
        return;
    // The connection window is hidden, but an operator may show it and read its logs.
    m_connectionWindow = new frmZelph;
    m_zelph->setLogging(true);
    connect(m_server, &ModelServer::connected, m_connectionWindow,
            [this] { m_connectionWindow->showConnected(true); });
    connect(m_server, &ModelServer::disconnected, m_connectionWindow,
            [this] { m_connectionWindow->showConnected(false); });
    connect(m_zelph, &modZelph::received, m_connectionWindow, &frmZelph::appendReceived);
    connect(m_zelph, &modZelph::sent, m_connectionWindow, &frmZelph::appendSent);
    connect(m_zelph, &modZelph::captionAppended, m_connectionWindow, &frmZelph::appendToCaption);
}

// ---- The login and the Start action ----------------------------------------------------

// The participant's windows opened from now on show the command line's language, else the
// one the setup names.
void Program::showLanguage(const QString &setupLanguage) {
    InstallLanguage(m_commandLineLanguage.isEmpty() ? setupLanguage : m_commandLineLanguage);
}

void Program::showLogin() {
    showLanguage(m_launchLanguage);
    m_login = new frmLogin;
    connect(m_login, &frmLogin::startPressed, this, &Program::personStart);
    connect(m_login, &frmLogin::quitPressed, this, [this] {
        m_state.quitFromLogin = true;
        EndProgram();
    });
    if (!m_conditions.isEmpty())
        m_login->setVersionChoices(QStringList{nextInRotationText()} + m_conditions);
    m_login->setWindowModality(Qt::ApplicationModal);
    fitScreen(m_login);
    m_login->show();
}

void Program::personStart(const QString &name) {
    if (m_seat.player() != Player::Nobody)
        return;
    if (!FitsDataFiles(name)) {
        m_dialogs.inform(programTitle(),
                         tr("The name %1 holds characters that Data.txt and Runs.txt "
                            "cannot keep: they keep Latin-1 text, as the lab's files "
                            "and scripts expect. Please type the name with other "
                            "characters.")
                             .arg(name),
                         Dialogs::Icon::Warning);
        return;
    }
    // From here until the task opens the person has the program: a model's message arriving
    // inside any box or form below changes nothing of this road.
    m_seat.take(Player::PersonStarting);
    m_state.subjectName = name;
    m_state.studyCondition = conditionForRun(m_login ? m_login->versionText() : QString());
    if (!readStudyQuestions() || !loadScenarioForStart()) {
        m_seat.take(Player::Nobody);
        return;
    }
    m_login->hide();
    QList<StudyPage> instructions;
    if (!readInstructions(&instructions) || !nameMayBeUsed() || !runSubjectForm() ||
        !showInstructions(instructions)) {
        m_seat.take(Player::Nobody);
        showLanguage(m_launchLanguage);
        if (m_login)
            m_login->showAgain();
        return;
    }
    openTaskAfterLogin();
}

void Program::modelStart() {
    // A model that logs in after a reconnect, while a run is open, starts a fresh run: the
    // open one was left.
    if (m_runner) {
        if (!endRun(RunEnding::Quit)) {
            terminate(1);
            return;
        }
        closeTaskWindow();
    }
    m_seat.take(Player::Model);
    if (m_login)
        m_login->nameBox()->setText(m_zelph->Login);
    m_state.subjectName = m_zelph->Login.trimmed();
    m_state.studyCondition = conditionForRun(m_modelCondition);
    if (loadScenarioForStart())
        openTaskAfterLogin();
}

// A model that leaves ends its run there: the run is recorded at once, with the time it left,
// and the program waits for the next model.
void Program::modelLeft() {
    if (!m_seat.modelPlays() || m_stopping)
        return;
    if (m_runner && m_runner->running()) {
        m_modelGone = true; // its period closes first, with its line
        return;
    }
    m_modelGone = false;
    if (!m_runner) {
        // Its task was about to open: start-up runs again instead.
        m_seat.take(Player::Nobody);
        m_state.resetRequested = true;
        return;
    }
    if (!endRun(RunEnding::Quit)) {
        terminate(1);
        return;
    }
    closeTaskWindow();
    m_seat.take(Player::Nobody);
    m_betweenWindows = true;
    updateHolding();
    QTimer::singleShot(0, this, &Program::Main);
}

// The condition a run plays: the one chosen, when it names one (in any letter case), else the
// rotation's. Empty in a folder without conditions.
QString Program::conditionForRun(const QString &chosen) {
    if (m_conditions.isEmpty())
        return QString();
    for (const QString &name : std::as_const(m_conditions)) {
        if (name.compare(chosen.trimmed(), Qt::CaseInsensitive) == 0)
            return name;
    }
    return rotation().next(!m_seat.modelPlays());
}

// The rotation counts the completed runs of Runs.txt once; endRun counts each run after them.
ConditionRotation &Program::rotation() {
    if (m_rotation)
        return *m_rotation;
    Problems unread; // a damaged line counts for nothing; the report names it
    m_rotation.emplace(m_conditions);
    for (const RunRecord &run : readRunRecords(paths::runFile(m_dataDirectory), unread)) {
        if (run.ending == RunEnding::Completed && run.practice == 0)
            m_rotation->countCompleted(run.studyCondition, run.playedByPerson());
    }
    return *m_rotation;
}

SetupFile &Program::runSetup() {
    if (m_state.studyCondition.isEmpty())
        return m_setup;
    return m_conditionSetups
        .try_emplace(m_state.studyCondition, ConditionFile(m_dataDirectory, m_state.studyCondition))
        .first->second;
}

bool Program::loadScenarioForStart() {
    const SetupVerdict verdict = JudgeSetup(runSetup(), m_state);
    const StartVerdict &start = verdict.of(m_seat.modelPlays() ? Starter::Model : Starter::Person);
    switch (start.outcome) {
    case StartOutcome::EndsProgram:
        if (verdict.fileMissing)
            m_dialogs.inform(QStringLiteral("ERROR"), start.reason);
        else
            m_dialogs.inform(programTitle(), start.reason, Dialogs::Icon::Critical);
        terminate(1);
        return false;
    case StartOutcome::Refused:
        refuseStart(start.reason);
        return false;
    case StartOutcome::Plays:
    case StartOutcome::EndsAfterChecks:
        break;
    }
    for (const QString &failure : verdict.checkFailures) {
        m_dialogs.inform(programTitle(), failure);
        EndProgram();
    }
    if (!start.plays())
        return false;
    CreateOrderTables(m_state);
    if (!identifyRun())
        return false;
    warnAboutSilentDelays();
    return true;
}

// Once for each setup in a row, so that a sweep of many runs on one setup warns once.
void Program::warnAboutSilentDelays() {
    if (m_state.setupId == m_warnedSetupId)
        return;
    m_warnedSetupId = m_state.setupId;
    for (const QString &warning : SilentDelayWarnings(m_state))
        printError(QStringLiteral("Warning, setup %1: %2").arg(m_state.setupId, warning));
}

// The run's identity: the setup text it plays, kept, then its number and seed.
bool Program::identifyRun() {
    const QByteArray &setupText = runSetup().contents();
    const bool kept = retryWrite(
        [&](QString *error) {
            return keepSetup(m_dataDirectory, setupText, &m_state.setupId, error);
        },
        [] { return QStringLiteral("The setup of the run could not be kept"); });
    if (!kept) {
        terminate(1);
        return false;
    }
    numberRun();
    return true;
}

// The run's number in the folder and the seed of its environment's noise.
void Program::numberRun() {
    m_state.runId = makeRunId(QDateTime::currentDateTime(), m_recorder.nextRunNumber());
    m_state.runSeed = ChooseRunSeed(m_state);
}

// A run that cannot start is refused. A person reads why in a box; a model is answered at
// once, since no period can be played, and the reason goes where its operator looks.
void Program::refuseStart(const QString &reason) {
    if (m_seat.modelPlays()) {
        printError(QStringLiteral("The login of %1 was refused: %2").arg(m_zelph->Login, reason));
        if (m_connectionWindow)
            m_connectionWindow->appendNote(QStringLiteral("Login refused: ") + reason);
        m_zelph->SendToModel(QString(protocol::EndProgramAnswer));
        m_zelph->Login.clear();
        m_seat.take(Player::Nobody);
        return;
    }
    m_dialogs.inform(programTitle(), reason, Dialogs::Icon::Critical);
}

// A name used before is most often a typing slip that would mix two people's data; the
// experimenter decides. The program otherwise never reads its records back.
bool Program::nameMayBeUsed() {
    const QString name = m_state.subjectName;
    QStringList where;
    if (SubjectRecorded(paths::database(m_dataDirectory), name))
        where << QStringLiteral("a subject record");
    if (SubjectInDataFile(paths::dataFile(m_dataDirectory), name))
        where << QStringLiteral("lines in Data.txt");
    return where.isEmpty() ||
           m_dialogs.ask(programTitle(),
                         QStringLiteral("The name %1 has been used before: it has %2.\nGo on "
                                        "with this name?")
                             .arg(name, where.join(QStringLiteral(" and "))),
                         Dialogs::Icon::Question);
}

// A person's run asks the questions of its Questionnaire.txt, read at Start so that a broken
// file is heard of before anybody plays; without the file it asks the program's own.
bool Program::readStudyQuestions() {
    const QuestionnaireFile file = ReadQuestionnaireFile(StudyFilePath(
        m_dataDirectory, m_state.studyCondition, QStringLiteral("Questionnaire.txt")));
    m_studyQuestions = file.questions;
    if (!file.present || file.usable())
        return true;
    refuseStart(QuestionnaireProblemTexts(file).join(QLatin1Char('\n')));
    return false;
}

bool Program::runSubjectForm() {
    const QString version = m_login ? m_login->versionText() : QString();
    showLanguage(m_state.Language);
    frmNewSubject form(m_state.subjectName, m_state.GenderOptions);
    fitScreen(&form);
    connect(&form, &frmNewSubject::begun, this,
            [this, &version](const SubjectEntries &entries) { recordSubject(entries, version); });
    form.exec();
    return form.Cleared;
}

// The run's instruction pages are read before anything is recorded: a page that cannot be
// shown refuses the start, as a setup that cannot be played does.
bool Program::readInstructions(QList<StudyPage> *pages) {
    for (const QString &path : InstructionPagePaths(m_dataDirectory, m_state.studyCondition)) {
        StudyPage page;
        QString error;
        if (!ReadStudyPage(path, &page, &error)) {
            refuseStart(error);
            return false;
        }
        pages->append(page);
    }
    return true;
}

// Closing the pages instead of reading them through returns to the login screen.
bool Program::showInstructions(const QList<StudyPage> &pages) {
    if (pages.isEmpty())
        return true;
    frmInstructions window(pages);
    fitScreen(&window);
    return window.exec() == QDialog::Accepted;
}

void Program::recordSubject(const SubjectEntries &entries, const QString &typedVersion) {
    // In a study with conditions the version is the condition the person got.
    const QString versionText = m_conditions.isEmpty() ? typedVersion : m_state.studyCondition;
    m_state.condition = conditionOf(m_state.scaledTank);
    qint64 rowId = 0;
    const bool recorded = RecordSubject(
        m_database,
        [&] {
            return subjectRow(m_state.subjectName, versionText, m_state.condition,
                              entries.majorText, entries.genderText, entries.ageText,
                              QDateTime::currentDateTime());
        },
        &rowId);
    m_subjectRowId.reset();
    if (!recorded)
        return;
    m_subjectRowId = rowId;
    recordPersonsRun();
}

// Ties the person's run, practice or not, to their subject record.
void Program::recordPersonsRun() {
    if (m_subjectRowId)
        RecordRun(m_database, runRow(m_state.runId, m_state.subjectName, m_state.studyCondition,
                                     m_state.setupId, *m_subjectRowId, RunPlayer::Person));
}

// ---- The task --------------------------------------------------------------------------

void Program::openTaskAfterLogin() {
    if (m_login)
        m_login->complete();
    // Leave the login's handler (perhaps a socket's) before opening the task.
    m_betweenWindows = true;
    updateHolding();
    QTimer::singleShot(0, this, &Program::continueAfterLogin);
}

void Program::continueAfterLogin() {
    closeLoginScreen();
    if (m_state.resetRequested) {
        Main();
        return;
    }
    planPractice();
    PrepareTaskState(m_state);
    if (!prepareRecording())
        return;
    startRun();
    if (!m_zelph->Login.isEmpty())
        m_zelph->SendToModel(QStringLiteral("VERSION"));
    m_betweenWindows = false;
    updateHolding();
}

// A person whose setup gives PracticePeriods plays them first, as a run of its own (the
// identity given at Start); the run itself starts afterwards from the state kept here.
void Program::planPractice() {
    m_runAfterPractice.reset();
    if (m_seat.modelPlays() || m_state.PracticePeriods <= 0)
        return;
    m_runAfterPractice = m_state;
    BeginPractice(m_state);
}

// The practice is over: the run starts from period 1, in a new window, with nothing of the
// practice in its state, under a number and seed of its own. Its setup is the practice's, kept
// at Start.
void Program::startRunAfterPractice() {
    m_dialogs.inform(programTitle(),
                     tr("The practice is over. The task starts now, from period 1."));
    if (m_stopping || !m_runAfterPractice)
        return;
    closeTaskWindow();
    m_state = *m_runAfterPractice;
    m_runAfterPractice.reset();
    numberRun();
    recordPersonsRun();
    PrepareTaskState(m_state);
    startRun();
    m_betweenWindows = false;
    updateHolding();
}

bool Program::prepareRecording() {
    QStringList notes;
    const bool ready =
        retryWrite([&](QString *error) { return m_recorder.prepareFiles(&notes, error); },
                   [] { return QStringLiteral("The data files cannot be made ready"); });
    for (const QString &note : notes)
        printError(note);
    if (!ready)
        terminate(1);
    return ready;
}

void Program::startRun() {
    m_recorder.setPlayer(m_seat.modelPlays() ? RunPlayer::Model : RunPlayer::Person);
    m_runner = new PeriodRunner(m_state, this);
    connect(m_runner, &PeriodRunner::periodStarted, this, &Program::updateHolding);
    connect(m_runner, &PeriodRunner::periodClosed, this, &Program::onPeriodClosed);
    connect(m_runner, &PeriodRunner::periodFinished, this, &Program::onPeriodFinished);
    connect(m_runner, &PeriodRunner::nothingToPlay, this,
            [this] { m_zelph->SendToModel(QString(protocol::EndProgramAnswer)); });
    m_runner->load();
    m_zelph->setRunner(m_runner);
    if (m_seat.personHasProgram())
        m_seat.take(Player::PersonPlaying);
    // A BATCH run plays hidden: it needs no window at all.
    const bool shown = m_state.versionTag != protocol::Batch || !m_seat.modelPlays();
    if (shown && m_dialogs.someoneCanAnswer())
        showTaskWindow();
    else
        m_runner->setDrawn(false);
}

void Program::showTaskWindow() {
    m_krugel = new frmKrugel(m_runner->view(), m_dialogs);
    frmKrugel *window = m_krugel;
    PeriodRunner *runner = m_runner;
    connect(runner, &PeriodRunner::viewChanged, window,
            [window, runner] { window->showView(runner->view()); });
    connect(window, &frmKrugel::submitted, runner,
            [runner](const Decision &decision) { runner->submit(decision); });
    connect(m_krugel, &frmKrugel::exitAsked, this, &Program::authenticateExit);
    fitScreen(m_krugel);
    m_krugel->show();
    m_krugel->raise();
    m_krugel->activateWindow();
}

// The period's line is written before a model hears of the period: a model told about
// period n always finds n lines, whenever the program is stopped.
void Program::onPeriodClosed() {
    writePeriodLine();
    if (!m_zelph->Login.isEmpty())
        m_zelph->SendToModel(QString(protocol::PeriodStateRequest));
}

void Program::onPeriodFinished(bool lastPeriod) {
    if (m_stopping) {
        finishStop();
        return;
    }
    if (m_modelGone && !lastPeriod) {
        modelLeft();
        return;
    }
    if (lastPeriod && m_runAfterPractice) {
        m_betweenWindows = true; // leave the runner's signal before its window closes
        QTimer::singleShot(0, this, &Program::startRunAfterPractice);
    } else if (lastPeriod) {
        EndProgram();
    }
    updateHolding();
}

// A run never goes on without its line. The record of a run is written as soon as its last
// period's line is, whatever follows.
void Program::writePeriodLine() {
    const QDate today = QDate::currentDate();
    const bool written = retryWrite(
        [&](QString *error) { return m_recorder.writePeriod(m_state, today, error); },
        [this] {
            return QStringLiteral("Period %1 could not be written").arg(m_state.currentTrial);
        });
    if (!written || (m_state.currentTrial == m_state.MaxTrial && !endRun(RunEnding::Completed)))
        terminate(1);
}

bool Program::endRun(RunEnding ending) {
    const bool wasOpen = m_recorder.runOpen();
    const bool person = m_recorder.runPlayer() == RunPlayer::Person;
    const bool written = retryWrite(
        [&](QString *error) { return m_recorder.writeRunRecord(m_state, ending, error); },
        [] { return QStringLiteral("The run record could not be written"); });
    if (written && wasOpen && ending == RunEnding::Completed && m_rotation && !m_state.practice)
        m_rotation->countCompleted(m_state.studyCondition, person);
    return written;
}

// A write that fails is tried again a few times at once (another program may hold the file
// for a moment), then the operator decides; No, the only answer without a screen, gives up.
bool Program::retryWrite(const std::function<bool(QString *)> &write,
                         const std::function<QString()> &what) {
    constexpr int quickTries = 3;
    QString error;
    for (int attempt = 1; !write(&error); ++attempt) {
        if (attempt < quickTries) {
            QThread::msleep(50);
            continue;
        }
        if (m_stopping ||
            !m_dialogs.ask(QStringLiteral("Recording failed"),
                           QStringLiteral("%1: %2\nRetry? (No to quit)").arg(what(), error),
                           Dialogs::Icon::Critical))
            return false;
    }
    return true;
}

void Program::authenticateExit() {
    const QPointer<frmKrugel> window = m_krugel;
    const Player before = m_seat.player();
    if (m_seat.personHasProgram())
        m_seat.take(Player::PersonFinishing);
    frmPasswordAuth authentication(m_dialogs);
    authentication.setExitPassword(m_state.ExitPassword);
    fitScreen(&authentication);
    connect(&authentication, &frmPasswordAuth::exitApproved, this, [this, &authentication] {
        m_state.exitConfirmed = true;
        m_state.exitAuthorised = true;
        EndProgram(); // returns while a model plays: the window stays open
        if (m_awaitingNextPerson)
            authentication.accept();
    });
    connect(&authentication, &frmPasswordAuth::exitWithdrawn, this,
            [this] { m_state.exitAuthorised = false; });
    authentication.exec();
    if (m_seat.player() == Player::PersonFinishing)
        m_seat.take(before);
    if (window)
        window->setExitAuthorised(m_state.exitAuthorised);
}

// ---- The end ---------------------------------------------------------------------------

// Who has the program decides: a person's run ends with the questionnaire and the end of the
// program (with sessions, the login for the next person), whether or not some model is
// connected; a model's run leaves the program open
// for the model's next message, unless the model has already gone.
void Program::EndProgram() {
    const bool modelStays = m_seat.modelPlays() && m_zelph->Linked();
    if (!m_state.exitConfirmed) {
        if (m_state.quitFromLogin) {
            m_zelph->SendToModel(QString(protocol::EndProgramAnswer));
            m_zelph->DropModelConnection();
            terminate(0);
            return;
        }
        if (!modelStays && m_seat.player() != Player::Nobody && !m_closingWindowsOpen)
            showClosingWindows();
    }
    if (modelStays || m_awaitingNextPerson)
        return;
    if (sessionOver())
        awaitNextPerson();
    else
        terminate(0);
}

// With sessions, the end of a person's session is not the end of the program.
bool Program::sessionOver() const {
    return m_sessions && !m_stopping && m_seat.personHasProgram();
}

// The session's run is recorded now; the windows close once the handler that ended the
// session (a period's signal, the exit window) has returned.
void Program::awaitNextPerson() {
    if (!endRun(m_state.exitConfirmed ? RunEnding::Exited : RunEnding::Quit)) {
        terminate(1);
        return;
    }
    m_awaitingNextPerson = true;
    m_betweenWindows = true;
    updateHolding();
    QTimer::singleShot(0, this, &Program::welcomeNextPerson);
}

// Nothing of one person's session reaches the next: the state starts afresh and every
// record is written anew from the next Start. What belongs to the program, not the session,
// stays: the command line's pause and what a connected model last said.
void Program::welcomeNextPerson() {
    closeTaskWindow();
    closeLoginScreen();
    TaskState fresh;
    fresh.batchPauseMs = m_state.batchPauseMs;
    fresh.lastModelCommand = m_state.lastModelCommand;
    m_state = std::move(fresh);
    m_runAfterPractice.reset();
    m_subjectRowId.reset();
    m_studyQuestions.clear();
    m_awaitingNextPerson = false;
    Main();
}

// The questionnaire, then the study's end screen: the person has the program meanwhile, and an
// end asked for inside either (the database's "No to quit") does not open them again.
void Program::showClosingWindows() {
    const Player before = m_seat.player();
    m_seat.take(Player::PersonFinishing);
    m_closingWindowsOpen = true;
    showQuestionnaire();
    showEndScreen();
    m_closingWindowsOpen = false;
    m_seat.take(before);
}

void Program::showQuestionnaire() {
    if (!m_dialogs.someoneCanAnswer()) {
        printError(QStringLiteral("The run is over. Nobody can answer the closing questionnaire "
                                  "without a screen, so the program ends without it."));
        return;
    }
    updateHolding(); // a model is answered while the questionnaire waits
    if (!m_studyQuestions.isEmpty())
        askStudyQuestions();
    else
        askOwnQuestions();
}

void Program::askStudyQuestions() {
    StudyQuestionnaire questionnaire(m_studyQuestions, m_dialogs);
    fitScreen(&questionnaire);
    connect(&questionnaire, &StudyQuestionnaire::answerGiven, this,
            [this](const StudyAnswer &answer) {
                RecordStudyAnswer(m_database, studyAnswerRow(m_state.runId, answer));
            });
    questionnaire.exec();
}

void Program::askOwnQuestions() {
    const double goal = m_state.GoalLinePoisition / m_state.unitHeight;
    Tasks1 questionnaire(goal, m_state.goalToleranceBelow, m_state.goalToleranceAbove, m_dialogs);
    fitScreen(&questionnaire);
    connect(
        &questionnaire, &Tasks1::answerGiven, this,
        [this](int questionNumber, const QString &answer) {
            qint64 rowId = 0;
            if (RecordQuestionnaireAnswer(m_database,
                                          questionnaireRow(m_state.subjectName, m_state.versionTag,
                                                           questionNumber, answer),
                                          &rowId))
                RecordRunQuestionnaire(m_database, runQuestionnaireRow(m_state.runId, rowId));
        });
    questionnaire.exec();
}

// The study's end screen waits for the experimenter; a folder without one ends as always.
void Program::showEndScreen() {
    const QString path = EndScreenPath(m_dataDirectory, m_state.studyCondition);
    if (path.isEmpty() || m_stopping || !m_dialogs.someoneCanAnswer())
        return;
    StudyPage page;
    QString error;
    if (!ReadStudyPage(path, &page, &error)) {
        printError(QStringLiteral("The end screen is not shown: ") + error);
        return;
    }
    page.html =
        FillEndScreen(page.html, {m_state.TotalBonus, m_state.TotalBonus - m_state.basePayment,
                                  m_state.periodsInBand, m_state.subjectName});
    frmEndScreen window(page);
    fitScreen(&window);
    window.exec();
}

// The connection stays open; the model is logged out and start-up runs again.
void Program::ResetSimulation() {
    if (!endRun(RunEnding::Reset)) {
        terminate(1);
        return;
    }
    m_state.resetRequested = true;
    m_zelph->Login.clear();
    closeLoginScreen();
    closeTaskWindow();
    m_seat.take(Player::Nobody);
    m_zelph->SendToModel(QString(protocol::ResetAnswer));
    m_betweenWindows = true;
    updateHolding();
    QTimer::singleShot(0, this, &Program::Main);
}

void Program::stopOnSignal() {
    if (m_stopping)
        return;
    m_stopping = true;
    updateHolding();
    // A period that waits on a pause is played to its close now; finishStop follows it.
    if (m_runner && m_runner->running() && m_runner->finishNow())
        return;
    finishStop();
}

void Program::finishStop() {
    printError(QStringLiteral("Stopped by a signal; the open run is recorded as ended by it."));
    end(0, RunEnding::Signal);
}

// Stops at once: every file is closed after each write, so nothing is lost. A run still
// open gets its record first.
void Program::terminate(int exitCode) {
    end(exitCode, exitCode != 0           ? RunEnding::Failed
                  : m_state.exitConfirmed ? RunEnding::Exited
                                          : RunEnding::Quit);
}

void Program::end(int exitCode, RunEnding ending) {
    if (!endRun(ending) && exitCode == 0)
        exitCode = 1;
    if (m_lock)
        m_lock->unlock(); // the folder is free for the next instance at once
    if (m_server)
        m_server->flush(); // the answers of the messages handed on so far go out first
    m_terminate(exitCode);
}

// Messages wait, in order, while start-up is between two windows and while a period runs:
// a decision, reset or QUIT sent right after the state message must not cut into the
// period. Once the program is stopping, nothing more is taken in.
void Program::updateHolding() {
    if (m_server)
        m_server->setHolding(m_stopping || m_betweenWindows || (m_runner && m_runner->running()));
}

void Program::closeLoginScreen() {
    if (m_login) {
        m_login->complete();
        m_login->deleteLater();
        m_login = nullptr;
    }
}

void Program::fitScreen(QWidget *window) const {
    if (m_fullScreen)
        PrepareFullScreen(window);
}

void Program::closeTaskWindow() {
    m_zelph->setRunner(nullptr);
    if (m_runner) {
        m_runner->stop();
        m_runner->deleteLater();
        m_runner = nullptr;
    }
    if (m_krugel) {
        m_krugel->hide();
        m_krugel->deleteLater();
        m_krugel = nullptr;
    }
}
