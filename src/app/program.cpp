#include "app/program.h"

#include "app/messageboxes.h"
#include "display/frmKrugel.h"
#include "model/frmZelph.h"
#include "model/protocol.h"
#include "recording/Tasks1.h"
#include "recording/database.h"
#include "recording/datafile.h"
#include "screens/frmLogin.h"
#include "screens/frmNewSubject.h"
#include "screens/frmPasswordAuth.h"
#include "setup/paths.h"
#include "setup/scenario.h"
#include "setup/setupfile.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QDir>
#include <QLineEdit>
#include <QTextStream>
#include <QTimer>

#include <chrono>
#include <cstdlib>
#include <thread>

Program::Program(QString dataDirectory, Dialogs &dialogs, QObject *parent)
    : QObject(parent)
    , m_dataDirectory(std::move(dataDirectory))
    , m_dialogs(dialogs)
    , m_database(
          paths::database(m_dataDirectory), dialogs, [this] { EndProgram(); },
          [] { QCoreApplication::processEvents(); })
    , m_terminate([](int exitCode) { std::exit(exitCode); })
    , m_port(frmZelph::defaultPort) {
    m_database.setRandom([this] { return m_random.generateDouble(); });
}

Program::~Program() {
    delete m_krugel;
    delete m_login;
    delete m_zelph;
}

void Program::setTerminate(std::function<void(int)> terminate) {
    m_terminate = std::move(terminate);
}

// Stops at once: every file is closed after each write, so nothing is lost. A run still
// open gets its record first.
void Program::terminate(int exitCode) {
    endRun(exitCode != 0           ? RunEnding::Failed
           : m_state.exitConfirmed ? RunEnding::Exited
                                   : RunEnding::Quit);
    m_terminate(exitCode);
}

void Program::Main() {
    // The random numbers only size the database's back-off; the time since boot seeds them.
    m_random.seed(static_cast<quint32>(QDeadlineTimer::current().deadline()));
    m_state.resetRequested = false;
    if (!m_zelph && !openConnectionWindow())
        return;
    showLogin();
}

// The first start: the setup file is read before anything can wait on it, then the program
// listens. Either failing ends the program with status 1.
bool Program::openConnectionWindow() {
    QTextStream(stdout) << "Data folder: " << QDir::toNativeSeparators(m_dataDirectory) << Qt::endl;
    if (!setupUsableAtLaunch())
        return false;
    m_zelph = new frmZelph;
    m_zelph->setHandlers([this](const QString &text) { DispatchModelMessage(text); },
                         [this] { return readyForMessages(); });
    QString error;
    if (!m_zelph->listen(m_port, &error)) {
        m_dialogs.inform(programTitle(), error, Dialogs::Icon::Critical);
        terminate(1);
        return false;
    }
    QTextStream(stdout) << "Waiting for a model on port " << m_zelph->listeningPort() << "."
                        << Qt::endl;
    return true;
}

// Only what makes the file unusable for anyone stops the launch: no file, a key missing, a
// value that is not a number or out of its range. Start reads the file again for each run,
// and its own checks depend on who plays.
bool Program::setupUsableAtLaunch() {
    const QString setup = paths::setupFile(m_dataDirectory);
    try {
        TaskState scenario;
        ::LoadScenario(scenario, setup);
        return true;
    } catch (const SetupFileMissing &) {
        printError(QStringLiteral("There is no readable setup file at %1.")
                       .arg(QDir::toNativeSeparators(setup)));
        m_dialogs.inform(QStringLiteral("ERROR"), QStringLiteral("Configuration failed"),
                         Dialogs::Icon::Critical);
    } catch (const SetupError &error) {
        m_dialogs.inform(programTitle(), error.message(), Dialogs::Icon::Critical);
    }
    terminate(1);
    return false;
}

void Program::showLogin() {
    LoginHooks hooks;
    hooks.modelLoggedIn = [this] {
        return !m_zelph->Login.isEmpty();
    };
    hooks.loadScenario = [this] {
        return LoadScenario();
    };
    hooks.runSubjectForm = [this] {
        return runSubjectForm();
    };
    hooks.endProgram = [this] {
        EndProgram();
    };
    m_login = new frmLogin(m_state, hooks);
    connect(m_login, &frmLogin::loginCompleted, this, [this] {
        // Leave the login's handler (perhaps a socket's) before opening the task.
        m_betweenWindows = true;
        QTimer::singleShot(0, this, &Program::continueAfterLogin);
    });
    m_login->setWindowModality(Qt::ApplicationModal);
    m_login->show();
    settle();
}

// Messages wait, in order, while start-up is between two windows and while a period runs:
// a decision, reset or QUIT sent right after the state message must not cut the period's
// closing step, which would cost it its bonus and its data line.
bool Program::readyForMessages() const {
    return !m_betweenWindows && !(m_krugel && m_krugel->periodRunning());
}

// Start-up is between two windows no longer: messages that waited are handed on.
void Program::settle() {
    m_betweenWindows = false;
    if (m_zelph)
        m_zelph->handOnWaiting();
}

bool Program::LoadScenario() {
    const bool model = m_zelph && !m_zelph->Login.isEmpty();
    const QString setup = paths::setupFile(m_dataDirectory);
    QString refusal;
    try {
        ::LoadScenario(m_state, setup);
    } catch (const SetupFileMissing &) {
        refusal = QStringLiteral("Configuration failed: there is no readable setup file at %1.")
                      .arg(QDir::toNativeSeparators(setup));
        if (!model) {
            m_dialogs.inform(QStringLiteral("ERROR"), QStringLiteral("Configuration failed"));
            terminate(1);
            return false;
        }
    } catch (const SetupError &error) {
        refusal = error.message();
        if (!model) {
            m_dialogs.inform(programTitle(), error.message(), Dialogs::Icon::Critical);
            terminate(1);
            return false;
        }
    }
    if (refusal.isEmpty())
        refusal = ScenarioConflict(m_state);
    if (refusal.isEmpty() && !model)
        refusal = NothingToPlay(m_state);
    if (!refusal.isEmpty()) {
        refuseStart(refusal);
        return false;
    }
    for (const QString &failure : ValidateScenario(m_state)) {
        m_dialogs.inform(programTitle(), failure);
        EndProgram();
    }
    CreateOrderTables(m_state);
    return true;
}

// A run that cannot start is refused. A person reads why in a box; a model is answered at
// once, since no period can be played, and the reason goes where its operator looks.
void Program::refuseStart(const QString &reason) {
    if (m_zelph && !m_zelph->Login.isEmpty()) {
        printError(QStringLiteral("The login of %1 was refused: %2").arg(m_zelph->Login, reason));
        m_zelph->appendNote(QStringLiteral("Login refused: ") + reason);
        SendToModel(QString(protocol::EndProgramAnswer));
        m_zelph->Login.clear();
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

bool Program::runSubjectForm() {
    if (!nameMayBeUsed())
        return false;
    const QString version = m_login ? m_login->versionText() : QString();
    frmNewSubject form(m_state, m_database, version);
    m_subjectFormOpen = true;
    form.exec();
    m_subjectFormOpen = false;
    return form.Cleared;
}

void Program::continueAfterLogin() {
    closeLoginScreen();
    if (m_state.resetRequested) {
        Main();
        return;
    }
    PrepareTaskState(m_state);
    const QString dataFile = paths::dataFile(m_dataDirectory);
    QString error;
    while (!WriteDataHeader(dataFile, &error)) {
        if (!m_dialogs.ask(
                QStringLiteral("Recording failed"),
                QStringLiteral("The data file %1 cannot be created: %2\nRetry? (No to quit)")
                    .arg(dataFile, error),
                Dialogs::Icon::Critical)) {
            terminate(1);
            return;
        }
    }
    KrugelHooks hooks;
    hooks.sendToModel = [this](const QString &request) {
        SendToModel(request);
    };
    hooks.modelLoggedIn = [this] {
        return !m_zelph->Login.isEmpty();
    };
    hooks.writePeriodLine = [this] {
        writePeriodLine();
    };
    hooks.endProgram = [this] {
        EndProgram();
    };
    hooks.authenticateExit = [this] {
        return authenticateExit();
    };
    m_personPlays = m_zelph->Login.isEmpty();
    m_krugel = new frmKrugel(m_state, m_dialogs, hooks);
    // Messages that waited for the running period are handed on as soon as it has closed:
    // a BATCH model's next decision is already waiting by then.
    connect(m_krugel, &frmKrugel::periodClosed, this, [this] {
        if (m_zelph)
            m_zelph->handOnWaiting();
    });
    m_krugel->showTask();
    if (!m_zelph->Login.isEmpty())
        SendToModel(QStringLiteral("VERSION"));
    settle();
}

// A run never goes on without its line: a write that still fails after a few quick tries
// asks the operator, and No (the only answer without a screen) ends the program.
void Program::writePeriodLine() {
    if (!m_krugel)
        return;
    const QString dataFile = paths::dataFile(m_dataDirectory);
    const QDate today = QDate::currentDate();
    const QString line =
        periodLine(m_state, today, !m_krugel->entryText(frmKrugel::Entry::Inflow).isEmpty(),
                   !m_krugel->entryText(frmKrugel::Entry::Outflow).isEmpty());
    // A run's first line is found by its number; only that one needs the file's count.
    const qint64 lineNumber = m_run.open ? 0 : m_dataLines.of(dataFile) + 1;
    constexpr int quickTries = 3;
    QString error;
    for (int attempt = 1; !WritePeriodLine(dataFile, line, &error); ++attempt) {
        if (attempt < quickTries) {
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
            continue;
        }
        if (!m_dialogs.ask(QStringLiteral("Recording failed"),
                           QStringLiteral("Period %1 could not be written to %2: %3\nRetry? (No "
                                          "to quit)")
                               .arg(m_state.currentTrial)
                               .arg(dataFile, error),
                           Dialogs::Icon::Critical)) {
            terminate(1);
            return;
        }
    }
    m_dataLines.appended(line.size() + 2);
    countPeriod(today, lineNumber);
}

// The period's line is written: it belongs to the open run, or opens one. The run's record
// is written as soon as its last period closes, whatever follows.
void Program::countPeriod(const QDate &date, qint64 dataLine) {
    if (!m_run.open)
        m_run = {true, date, m_state.StartTime, dataLine, 0, 0};
    ++m_run.periodsPlayed;
    if (m_state.CurrentBonus > 0)
        ++m_run.periodsInBand;
    if (m_state.currentTrial == m_state.MaxTrial)
        endRun(RunEnding::Completed);
}

void Program::endRun(RunEnding ending) {
    if (!m_run.open)
        return;
    FinishedRun run;
    run.subject = m_state.subjectName;
    run.version = m_state.versionTag;
    run.date = m_run.date;
    run.startTime = m_run.startTime;
    run.endTime = QTime::currentTime();
    run.maxTrial = m_state.MaxTrial;
    run.periodsPlayed = m_run.periodsPlayed;
    run.periodsInBand = m_run.periodsInBand;
    run.totalBonus = m_state.TotalBonus;
    run.ending = ending;
    run.firstDataLine = m_run.firstDataLine;
    m_run = {};
    // Every period of the run is in the data file already: a record that cannot be written
    // is reported, and the run then reads as cut off.
    const QString path = paths::runFile(m_dataDirectory);
    QString error;
    if (!WriteHeaderIfNew(path, runHeaderLine(), &error) || !AppendLine(path, runLine(run), &error))
        m_dialogs.inform(QStringLiteral("Recording failed"),
                         QStringLiteral("The run record could not be written: %1").arg(error),
                         Dialogs::Icon::Critical);
}

bool Program::personIsPlaying() const {
    return m_subjectFormOpen || (m_krugel && m_personPlays);
}

bool Program::authenticateExit() {
    frmPasswordAuth window(m_state, m_dialogs, [this] { EndProgram(); });
    window.exec();
    return m_state.exitAuthorised;
}

void Program::EndProgram() {
    const bool linked = m_zelph && m_zelph->Linked;
    if (!m_state.exitConfirmed) {
        if (m_state.quitFromLogin) {
            SendToModel(QStringLiteral("END_PROGRAM"));
            delete m_zelph;
            m_zelph = nullptr;
            terminate(0);
            return;
        }
        if (!linked && !m_questionnaireOpen)
            showQuestionnaire();
    }
    if (!(m_zelph && m_zelph->Linked))
        terminate(0);
}

void Program::showQuestionnaire() {
    if (!m_dialogs.someoneCanAnswer()) {
        printError(QStringLiteral("The run is over. Nobody can answer the closing questionnaire "
                                  "without a screen, so the program ends without it."));
        return;
    }
    m_questionnaireOpen = true;
    Tasks1 questionnaire(m_state, m_dialogs, m_database);
    questionnaire.exec();
    m_questionnaireOpen = false;
}

void Program::closeLoginScreen() {
    if (m_login) {
        m_login->hide();
        m_login->deleteLater();
        m_login = nullptr;
    }
}

void Program::closeTaskWindow() {
    if (m_krugel) {
        m_krugel->stopCycle();
        m_krugel->hide();
        m_krugel->deleteLater();
        m_krugel = nullptr;
    }
}
