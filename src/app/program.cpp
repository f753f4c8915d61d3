#include "app/program.h"

#include "app/modZelph.h"
#include "core/common/paths.h"
#include "core/model/modelserver.h"
#include "gui/frmLogin.h"
#include "gui/frmZelph.h"

#include <QDir>
#include <QLineEdit>
#include <QTextStream>
#include <QTimer>

Program::Program(QString dataDirectory, Dialogs &dialogs, Options options, QObject *parent)
    : QObject(parent)
    , m_dataDirectory(std::move(dataDirectory))
    , m_dialogs(dialogs)
    , m_options(std::move(options))
    , m_lifetime(m_dataDirectory)
    , m_study(m_dataDirectory)
    , m_runs(m_dataDirectory, dialogs)
    , m_database(paths::database(m_dataDirectory), dialogs) {
    m_study.setModelCondition(m_options.modelCondition);
    m_runs.setFullScreen(m_options.fullScreen);
}

Program::~Program() {
    delete m_sitting;
    delete m_connectionWindow;
}

// ---- Start-up --------------------------------------------------------------------------

bool Program::start() {
    QTextStream(stdout) << "Data folder: " << QDir::toNativeSeparators(m_dataDirectory) << Qt::endl;
    if (!launch())
        return false;
    Main();
    return true;
}

// Everything a run needs is made sure of before anybody can wait on it: the data folder
// (this instance's alone, and writable), the setup files, and both loopback addresses.
bool Program::launch() {
    QString problem = m_lifetime.lockDataFolder(m_runs);
    if (!problem.isEmpty()) {
        failAtStart(programTitle(), problem, Dialogs::Icon::Critical);
        return false;
    }
    QString title;
    QStringList languages;
    problem = m_study.unusableSetup(&title, &languages);
    if (!problem.isEmpty()) {
        failAtStart(title, problem, Dialogs::Icon::Critical);
        return false;
    }
    languages.removeDuplicates();
    m_launchLanguage = languages.size() == 1 ? languages.constFirst() : QString();
    QString error;
    if (!AddRunTables(paths::database(m_dataDirectory), &error))
        printError(error);
    m_server = new ModelServer(this);
    m_zelph = new modZelph(*m_server, m_seat, m_dialogs, this);
    m_zelph->setBatchPause(m_options.batchPauseMs);
    connectModelSide();
    connectSitting();
    problem = m_lifetime.listen(*m_server, m_options.port);
    if (!problem.isEmpty()) {
        failAtStart(programTitle(), problem, Dialogs::Icon::Critical);
        return false;
    }
    return true;
}

// The message is read first; then the event loop ends with status 1.
void Program::failAtStart(const QString &title, const QString &text, Dialogs::Icon icon) {
    m_dialogs.inform(title, text, icon, [this] { endNow(1); });
}

void Program::connectModelSide() {
    connect(m_server, &ModelServer::messageArrived, m_zelph, &modZelph::DispatchModelMessage);
    connect(m_server, &ModelServer::peerRefused, this, [this](const QString &reason) {
        printError(reason);
        if (m_connectionWindow)
            m_connectionWindow->appendNote(reason);
    });
    connect(m_server, &ModelServer::disconnected, this, &Program::modelLeft);
    connect(m_zelph, &modZelph::loginAccepted, this, &Program::modelStart);
    connect(m_zelph, &modZelph::nameGiven, this, [this](const QString &name) {
        if (m_sitting->login())
            m_sitting->login()->nameBox()->setText(name);
    });
    connect(m_zelph, &modZelph::resetRequested, this, &Program::ResetSimulation);
    connect(m_zelph, &modZelph::quitRequested, this,
            [this] { end(0, m_exitConfirmed ? RunEnding::Exited : RunEnding::Quit); });
    connect(&m_runs, &RunHost::runStarted, this, [this](RunSession *run) {
        // The program hears of a period's end before the model's input is handed on.
        connect(run, &RunSession::periodFinished, this, &Program::onPeriodFinished);
        m_zelph->setRun(run);
    });
    connect(&m_runs, &RunHost::runCompleted, this, [this](const QString &condition, bool byPerson) {
        m_study.countCompleted(condition, byPerson);
    });
    connect(&m_runs, &RunHost::recordingGivenUp, this, [this] { end(1, RunEnding::Failed); });
    if (m_dialogs.someoneCanAnswer())
        showConnectionWindow();
}

// The connection window is hidden, but an operator may show it and read its logs.
void Program::showConnectionWindow() {
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

void Program::connectSitting() {
    Sitting::Options options{m_options.fullScreen, m_options.sessions,     m_options.language,
                             m_launchLanguage,     m_options.batchPauseMs, m_options.personPauseMs};
    m_sitting = new Sitting(m_study, m_runs, m_database, m_dialogs, m_seat, options);
    connect(m_sitting, &Sitting::betweenSteps, m_zelph, &modZelph::setBetweenSteps);
    connect(m_sitting, &Sitting::over, this, &Program::personDone);
    connect(m_sitting, &Sitting::exitApproved, this, &Program::exitApproved);
    connect(m_sitting, &Sitting::failed, this, [this] { end(1, RunEnding::Failed); });
    connect(m_sitting, &Sitting::quitPressed, this, &Program::quitFromLogin);
    connect(&m_runs, &RunHost::leaveAsked, m_sitting, &Sitting::askToLeave);
}

// Nobody has the program: the login screen waits for a person, and the program for a model.
// Without a screen nobody can press Start.
void Program::Main() {
    if (m_lifetime.ending())
        return;
    m_seat.take(Player::Nobody);
    m_exitConfirmed = m_modelGone = m_modelRunClosing = false;
    if (m_dialogs.someoneCanAnswer())
        m_sitting->openLogin();
    m_zelph->setBetweenSteps(false);
}

// ---- The person's end ------------------------------------------------------------------

// With sessions, the end of a person's road is not the end of the program.
void Program::personDone() {
    const bool exited = m_sitting->exitConfirmed() || m_exitConfirmed;
    if (m_options.sessions && !m_stopping && !m_modelRunClosing && m_seat.personHasProgram())
        nextPerson();
    else
        end(0, exited ? RunEnding::Exited : RunEnding::Quit);
}

// The road's run is recorded now; every window of it is closed before the login opens.
void Program::nextPerson() {
    m_runs.endRun(m_sitting->exitConfirmed() ? RunEnding::Exited : RunEnding::Quit,
                  [this](bool recorded) {
                      if (recorded)
                          Main();
                      else
                          end(1, RunEnding::Failed);
                  });
}

// A person's run ends there; a model's run records it and plays on until the model ends it.
void Program::exitApproved() {
    if (m_seat.modelPlays()) {
        m_exitConfirmed = true;
        return;
    }
    personDone();
}

void Program::quitFromLogin() {
    m_zelph->SendToModel(QString(protocol::EndProgramAnswer));
    m_zelph->DropModelConnection();
    end(0, RunEnding::Quit);
}

// ---- The end ---------------------------------------------------------------------------

void Program::stopOnSignal() {
    if (m_stopping || m_lifetime.ending())
        return;
    m_stopping = true;
    m_runs.setStopping();
    printError(QStringLiteral("Stopped by a signal; the open run is recorded as ended by it."));
    end(0, RunEnding::Signal);
}

// Every ending comes here: the open run gets its record, the folder is freed, and the event
// loop ends with the status (1 when the record could not be written).
void Program::end(int status, RunEnding ending) {
    if (m_lifetime.ending())
        return;
    m_zelph->stop();
    m_sitting->stop();
    // A period under way is played to its close first, without its pauses: its decision was
    // taken, and its line is written before the run's record.
    if (RunSession *run = m_runs.run(); run && run->busy() && !m_pendingEnd) {
        m_pendingEnd = PendingEnd{status, ending};
        if (run->finishNow())
            return; // its periodFinished ends the program
        m_pendingEnd.reset();
    }
    m_pendingEnd.reset();
    m_runs.endRun(ending,
                  [this, status](bool recorded) { endNow(recorded || status != 0 ? status : 1); });
}

void Program::endNow(int status) {
    if (m_lifetime.ending())
        return;
    m_lifetime.end(m_server, status);
    emit finished(status);
}
