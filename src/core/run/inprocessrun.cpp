#include "core/run/inprocessrun.h"

#include "core/engine/taskload.h"
#include "core/model/protocol.h"
#include "core/setup/envnoise.h"
#include "core/setup/keptsetup.h"
#include "core/setup/scenario.h"

#include "core/common/numbers.h"
#include "core/recording/folderlock.h"

#include <QDateTime>

#include <QDir>
#include <QFileInfo>

#include <algorithm>
#include <map>
#include <mutex>
#include <stdexcept>
#include <utility>

namespace {

std::runtime_error failure(const QString &text) {
    return std::runtime_error(text.toStdString());
}

// The longest delay any regime of one pipeline can have.
int longestDelay(int16_t first, const std::vector<double> &values) {
    int longest = first;
    for (double value : values)
        longest = std::max(longest, static_cast<int>(numbers::roundHalfEven(value)));
    return longest;
}

} // namespace

// The records of one data folder, shared by the runs of this process that record there:
// one lock, one count of its lines and runs.
struct FolderRecords {
    explicit FolderRecords(const QString &folder)
        : recorder(folder) {}
    ~FolderRecords() {
        QString error;
        recorder.flushLines(&error); // every run's record has flushed its own lines already
    }
    std::unique_ptr<QLockFile> lock;
    RunRecorder recorder;
};

namespace {

// The folder's records: those the process holds already, or new ones under the folder's lock.
std::shared_ptr<FolderRecords> folderRecords(const QString &folder) {
    static std::mutex guard;
    static std::map<QString, std::weak_ptr<FolderRecords>> open;
    const std::lock_guard<std::mutex> held(guard);
    const QString key = QFileInfo(folder).absoluteFilePath();
    if (std::shared_ptr<FolderRecords> records = open[key].lock())
        return records;
    auto records = std::make_shared<FolderRecords>(key);
    QDir().mkpath(key); // a folder of its own for a model's records, made when it is missing
    QString error = lockDataFolder(key, records->lock);
    QStringList notes;
    if (!error.isEmpty() || !records->recorder.inspectFiles(&error) ||
        !records->recorder.prepareFiles(&notes, &error))
        throw failure(error);
    records->recorder.setBlockWrites(true);
    open[key] = records;
    return records;
}

} // namespace

InProcessRun::InProcessRun(const QString &setupPath, const QString &recordFolder,
                           const QString &name) {
    SetupFile setup(setupPath);
    LoadScenario(m_scenario, setup);
    CreateOrderTables(m_scenario);
    m_scenario.subjectName = name;
    // A model's pause-free BATCH run: every step follows the one before at once.
    m_scenario.versionTag = QString(protocol::Batch);
    m_scenario.batchPauseMs = 0;
    m_scenario.userDelayInterval = m_scenario.envDelayInterval = 0;
    m_longestDelay =
        std::max(longestDelay(m_scenario.inFlowTPAfter, m_scenario.inFlowDelayValue),
                 longestDelay(m_scenario.outFlowTPAfter, m_scenario.outFlowDelayValue));
    if (!recordFolder.isEmpty()) {
        m_folder = folderRecords(recordFolder);
        QString error;
        if (!keepSetup(recordFolder, setup.contents(), &m_scenario.setupId, &error))
            throw failure(error);
    }
    reset();
}

InProcessRun::InProcessRun(const InProcessRun &sibling, std::optional<uint64_t> seed)
    : m_scenario(sibling.m_scenario)
    , m_folder(sibling.m_folder)
    , m_longestDelay(sibling.m_longestDelay) {
    reset(seed);
}

InProcessRun::~InProcessRun() {
    finishRun(RunEnding::Quit);
}

RunRecorder *InProcessRun::records() const {
    return m_folder ? &m_folder->recorder : nullptr;
}

void InProcessRun::finishRun(RunEnding ending) {
    if (m_run && m_run->recordDue()) {
        QString error;
        m_run->end(ending, &error);
    }
}

void InProcessRun::close() {
    if (m_closed)
        return;
    finishRun(RunEnding::Quit);
    m_closed = true;
    QString error;
    const bool flushed = !m_folder || m_folder->recorder.flushLines(&error);
    if (m_run) { // the run's figures stay to be read; the folder is let go
        m_state = m_run->state();
        m_run.reset();
    }
    m_folder.reset();
    if (!flushed)
        throw failure(error);
}

void InProcessRun::reset(std::optional<uint64_t> seed) {
    if (m_closed)
        throw failure(QStringLiteral("the task is closed"));
    if (seed && (*seed < 1 || *seed > envnoise::LargestSeed))
        throw std::invalid_argument("a seed is a whole number from 1 to 2^53 - 1");
    finishRun(RunEnding::Reset);
    TaskState state = m_scenario;
    state.runId =
        makeRunId(QDateTime::currentDateTime(), m_folder ? records()->nextRunNumber() : 0);
    state.runSeed = ChooseRunSeed(state, seed);
    PrepareTaskState(state);
    if (!m_folder) {
        // Nothing recorded, nobody drawing: the period's steps alone, as the run object plays
        // them, without its pauses, times, signals and records.
        m_run.reset();
        m_state = std::move(state);
        m_view = TaskView{};
        LoadTaskWindow(m_state, m_view);
        m_view.drawn = false;
        return;
    }
    m_run = std::make_unique<RunSession>(records(), std::move(state), RunPlayer::Model);
    m_run->setClock(steadyTimeOfDay());
    QObject::connect(m_run.get(), &RunSession::recordingFailed,
                     [this](const QString &what, const QString &why) {
                         m_writeError = what + QStringLiteral(": ") + why;
                     });
    m_run->load();
    m_run->setDrawn(false); // nobody sees the run: its steps lay out no text
}

StepFigures InProcessRun::step(double userInflow, double userOutflow,
                               std::optional<double> envInflow, std::optional<double> envOutflow) {
    const TaskState &played = state();
    if (m_closed)
        throw failure(QStringLiteral("the task is closed"));
    if (played.currentTrial >= played.MaxTrial)
        throw failure(
            QStringLiteral("the run is over: its %1 periods are played").arg(played.MaxTrial));
    if (!m_run) {
        SetEnvironmentFlows(m_state, envInflow, envOutflow);
        PlayPeriod(m_state, m_view, userInflow, userOutflow);
        return figures();
    }
    m_run->submit({userInflow, userOutflow, false, envInflow, envOutflow});
    if (!m_writeError.isEmpty())
        throw failure(std::exchange(m_writeError, QString()));
    return figures();
}

StepFigures InProcessRun::figures() const {
    const TaskState &state = this->state();
    const ShownFlows flows = state.currentTrial > 0 ? FlowsShown(state) : ShownFlows{};
    return {state.currentTrial,
            state.Amount / state.unitHeight,
            state.GoalLinePoisition / state.unitHeight,
            flows.envInflow,
            flows.envOutflow,
            flows.userInflow,
            flows.userOutflow,
            state.currentTrial > 0 && state.CurrentBonus > 0,
            state.TotalBonus,
            state.currentTrial >= state.MaxTrial};
}

// An order placed in period s arrives in period s + delay - 1 (the delay in force now).
std::vector<double> InProcessRun::pipeline(bool inflow) const {
    const TaskState &state = this->state();
    const int delay = inflow ? state.inFlowTPAfter : state.outFlowTPAfter;
    const std::vector<double> &orders = inflow ? state.UserInflow : state.UserOutflow;
    const std::vector<double> &initial = inflow ? state.BackOrder : state.ForwardDischarge;
    std::vector<double> coming(static_cast<size_t>(std::max(m_longestDelay, 1)), 0.0);
    for (size_t k = 0; k < coming.size(); ++k) {
        const int period = state.currentTrial + 1 + static_cast<int>(k);
        const int source = period - (delay - 1);
        if (source < 1)
            coming[k] = periodValue(initial, period);
        else if (source <= state.currentTrial)
            coming[k] = std::max(periodValue(orders, source), 0.0);
    }
    return coming;
}
