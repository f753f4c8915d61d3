#include "app/program.h"

#include "app/messageboxes.h"
#include "display/frmKrugel.h"
#include "model/frmZelph.h"
#include "model/protocol.h"
#include "recording/Tasks1.h"
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

// Stops at once: every file is closed after each write, so nothing is lost.
void Program::terminate(int exitCode) {
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
        LoadScenarioParameters(scenario, setup);
        LoadDelaySettings(scenario, setup);
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
        LoadScenarioParameters(m_state, setup);
        LoadDelaySettings(m_state, setup);
        BuildDelayEndTables(m_state);
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

bool Program::runSubjectForm() {
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
    const QString line = periodLine(m_state, QDate::currentDate(),
                                    !m_krugel->entryText(frmKrugel::Entry::Inflow).isEmpty(),
                                    !m_krugel->entryText(frmKrugel::Entry::Outflow).isEmpty());
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
