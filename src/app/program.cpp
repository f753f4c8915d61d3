#include "app/program.h"

#include "display/frmKrugel.h"
#include "model/frmZelph.h"
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
#include <QLineEdit>
#include <QTextStream>
#include <QTimer>

#include <cstdlib>

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
    if (!m_zelph) {
        m_zelph = new frmZelph;
        m_zelph->setHandlers([this](const QString &text) { DispatchModelMessage(text); },
                             [this] { return readyForMessages(); });
        if (m_zelph->listen(m_port))
            QTextStream(stdout) << "Waiting for a model on port " << m_port << "." << Qt::endl;
    }
    showLogin();
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
    const QString setup = paths::setupFile(m_dataDirectory);
    try {
        LoadScenarioParameters(m_state, setup);
        LoadDelaySettings(m_state, setup);
        BuildDelayEndTables(m_state);
    } catch (const SetupFileMissing &) {
        m_dialogs.inform(QStringLiteral("ERROR"), QStringLiteral("Configuration failed"));
        terminate(1);
        return false;
    } catch (const SetupError &error) {
        m_dialogs.inform(programTitle(), error.message(), Dialogs::Icon::Critical);
        terminate(1);
        return false;
    }
    const QString conflict = ScenarioConflict(m_state);
    if (!conflict.isEmpty()) {
        m_dialogs.inform(programTitle(), conflict, Dialogs::Icon::Critical);
        if (m_zelph)
            m_zelph->Login.clear();
        return false;
    }
    for (const QString &failure : ValidateScenario(m_state)) {
        m_dialogs.inform(programTitle(), failure);
        EndProgram();
    }
    CreateOrderTables(m_state);
    return true;
}

bool Program::runSubjectForm() {
    const QString version = m_login ? m_login->versionText() : QString();
    frmNewSubject form(m_state, m_database, version);
    form.exec();
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

void Program::writePeriodLine() {
    if (!m_krugel)
        return;
    const QString dataFile = paths::dataFile(m_dataDirectory);
    const QString line =
        periodLine(m_state, QDate::currentDate(), !m_krugel->inflowBox()->text().isEmpty(),
                   !m_krugel->outflowBox()->text().isEmpty());
    QString error;
    while (!WritePeriodLine(dataFile, line, &error)) {
        // A lost line is lost data: the operator decides, after fixing the folder, to try again.
        if (!m_dialogs.ask(QStringLiteral("Recording failed"),
                           QStringLiteral("Period %1 could not be written to %2: %3\nRetry?")
                               .arg(m_state.currentTrial)
                               .arg(dataFile, error),
                           Dialogs::Icon::Critical))
            return;
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
        if (!linked && !m_questionnaireOpen) {
            m_questionnaireOpen = true;
            Tasks1 questionnaire(m_state, m_dialogs, m_database);
            questionnaire.exec();
            m_questionnaireOpen = false;
        }
    }
    if (!(m_zelph && m_zelph->Linked))
        terminate(0);
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
