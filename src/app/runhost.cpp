#include "app/runhost.h"

#include "app/writeretry.h"
#include "core/common/dialogs.h"
#include "core/setup/envnoise.h"
#include "core/setup/keptsetup.h"
#include "core/setup/keptstudyfiles.h"
#include "gui/frmKrugel.h"
#include "gui/fullscreen.h"

#include <QDateTime>

#include <memory>

RunHost::RunHost(QString dataDirectory, Dialogs &dialogs, QObject *parent)
    : QObject(parent)
    , m_dataDirectory(std::move(dataDirectory))
    , m_dialogs(dialogs)
    , m_records(m_dataDirectory) {}

RunHost::~RunHost() {
    delete m_window;
}

void RunHost::keepSetup(const QByteArray &setupText,
                        std::function<void(std::optional<QString>)> done) {
    auto setupId = std::make_shared<QString>();
    writeWithRetries(this, m_dialogs,
                     {[this, setupText, setupId](QString *error) {
                          return ::keepSetup(m_dataDirectory, setupText, setupId.get(), error);
                      },
                      QStringLiteral("The setup of the run could not be kept"),
                      [setupId, done](bool kept) {
                          done(kept ? std::optional<QString>(*setupId) : std::nullopt);
                      },
                      [this] {
                          return !m_stopping;
                      }});
}

void RunHost::keepStudyFiles(const QStringList &paths,
                             std::function<void(std::optional<QString>)> done) {
    auto id = std::make_shared<QString>();
    writeWithRetries(
        this, m_dialogs,
        {[this, paths, id](QString *error) {
             return ::keepStudyFiles(m_dataDirectory, paths, id.get(), error);
         },
         QStringLiteral("The study files of the run could not be kept"),
         [id, done](bool kept) { done(kept ? std::optional<QString>(*id) : std::nullopt); },
         [this] {
             return !m_stopping;
         }});
}

void RunHost::numberRun(TaskState &state, std::optional<uint64_t> seed) {
    state.runId = makeRunId(QDateTime::currentDateTime(), m_records.nextRunNumber());
    state.runSeed = ChooseRunSeed(state, seed);
}

void RunHost::prepareRecording(std::function<void(bool)> done) {
    writeWithRetries(this, m_dialogs,
                     {[this](QString *error) {
                          QStringList notes;
                          const bool ready = m_records.prepareFiles(&notes, error);
                          for (const QString &note : notes)
                              printError(note);
                          return ready;
                      },
                      QStringLiteral("The data files cannot be made ready"), std::move(done),
                      [this] {
                          return !m_stopping;
                      }});
}

RunSession *RunHost::start(TaskState state, RunPlayer player, bool shown) {
    closeRun();
    m_run = new RunSession(&m_records, std::move(state), player, this);
    connect(m_run, &RunSession::recordingFailed, this, &RunHost::retryRunWrite);
    connect(m_run, &RunSession::ended, this, [this, run = m_run.data()](RunEnding ending) {
        if (ending == RunEnding::Completed && !run->state().practice)
            emit runCompleted(run->state().studyCondition, run->player() == RunPlayer::Person);
    });
    m_run->load();
    if (shown)
        showTaskWindow();
    else
        m_run->setDrawn(false);
    emit runStarted(m_run);
    return m_run;
}

void RunHost::showTaskWindow() {
    m_window = new frmKrugel(m_run->view(), m_dialogs);
    frmKrugel *window = m_window;
    RunSession *run = m_run;
    connect(run, &RunSession::viewChanged, window,
            [window, run] { window->showView(run->view()); });
    connect(window, &frmKrugel::submitted, run,
            [run](const Decision &decision) { run->submit(decision); });
    connect(window, &frmKrugel::leaveAsked, this, &RunHost::leaveAsked, Qt::QueuedConnection);
    if (m_fullScreen)
        PrepareFullScreen(window);
    window->show();
    window->raise();
    window->activateWindow();
}

// The run waits on its failed write; the operator's No ends the program.
void RunHost::retryRunWrite(const QString &what, const QString &error) {
    const QPointer<RunSession> run = m_run;
    retryFailedWrite(this, m_dialogs,
                     {[run](QString *retryError) { return run && run->retryWrite(retryError); },
                      what,
                      [this](bool written) {
                          if (!written)
                              emit recordingGivenUp();
                      },
                      [this] {
                          return !m_stopping;
                      }},
                     error);
}

void RunHost::endRun(RunEnding ending, std::function<void(bool)> done) {
    if (!m_run) {
        done(true);
        return;
    }
    const QPointer<RunSession> run = m_run;
    writeWithRetries(this, m_dialogs,
                     {[run, ending](QString *error) { return !run || run->end(ending, error); },
                      QStringLiteral("The run record could not be written"),
                      [this, done](bool written) {
                          closeRun();
                          done(written);
                      },
                      [this] {
                          return !m_stopping;
                      }});
}

void RunHost::closeRun() {
    if (m_run) {
        m_run->disconnect(this);
        m_run->stop();
        m_run->deleteLater();
        m_run = nullptr;
    }
    if (m_window) {
        m_window->hide();
        m_window->deleteLater();
        m_window = nullptr;
    }
}
