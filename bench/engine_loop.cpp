// The core's period in a bare C++ loop, against the run object playing the same periods
// with and without its records: nanoseconds a period, one line each, for engine_bench.py.
#include "core/common/platform.h"
#include "core/engine/periodcycle.h"
#include "core/engine/taskload.h"
#include "core/recording/datafile.h"
#include "core/run/runsession.h"
#include "core/setup/scenario.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QTemporaryDir>
#include <QTextStream>

#include <cstdio>

namespace {

TaskState prepared(const QString &setupPath) {
    TaskState state;
    SetupFile setup(setupPath);
    LoadScenario(state, setup);
    CreateOrderTables(state);
    state.versionTag = QStringLiteral("BATCH");
    state.batchPauseMs = state.envDelayInterval = state.userDelayInterval = 0;
    state.runSeed = 7;
    PrepareTaskState(state);
    return state;
}

// Nanoseconds a period of `runs` runs of the setup, each played by `play`.
template <typename Play> double timed(int runs, int periods, Play play) {
    QElapsedTimer clock;
    qint64 spent = 0;
    for (int run = 0; run < runs; ++run)
        spent += play(clock);
    return double(spent) / (double(runs) * periods);
}

} // namespace

int main(int argc, char *argv[]) {
    platform::prepareProcess(); // as the program prepares itself
    QCoreApplication app(argc, argv);
    if (argc < 3) {
        std::fprintf(stderr, "usage: engine_loop SETUP RUNS [steps|line|run|recorded]\n");
        return 2;
    }
    // One of the three alone, for a profiler.
    const QString only = argc > 3 ? QString::fromLocal8Bit(argv[3]) : QString();
    const auto wanted = [&](const char *name) {
        return only.isEmpty() || only == QLatin1String(name);
    };
    const QString setup = QString::fromLocal8Bit(argv[1]);
    const int runs = QString::fromLocal8Bit(argv[2]).toInt();
    const int periods = prepared(setup).MaxTrial;
    QTextStream out(stdout);
    if (wanted("steps"))
        out << "steps " << timed(runs, periods, [&](QElapsedTimer &clock) {
            TaskState state = prepared(setup);
            TaskView view;
            LoadTaskWindow(state, view);
            view.drawn = false;
            clock.start();
            for (int period = 0; period < periods; ++period)
                PlayPeriod(state, view, period % 3, 1);
            return clock.nsecsElapsed();
        }) << Qt::endl;
    // A period's Data.txt line alone, formatted from the state the period left.
    if (wanted("line"))
        out << "line " << timed(runs, periods, [&](QElapsedTimer &clock) {
            TaskState state = prepared(setup);
            TaskView view;
            LoadTaskWindow(state, view);
            view.drawn = false;
            const QDate today = QDate::currentDate();
            qint64 spent = 0;
            qsizetype bytes = 0;
            for (int period = 0; period < periods; ++period) {
                PlayPeriod(state, view, period % 3, 1);
                clock.start();
                bytes += periodLine(state, today).size();
                spent += clock.nsecsElapsed();
            }
            return bytes > 0 ? spent : 0;
        }) << Qt::endl;
    for (const bool recorded : {false, true}) {
        if (!wanted(recorded ? "recorded" : "run"))
            continue;
        out << (recorded ? "recorded " : "run ") << timed(runs, periods, [&](QElapsedTimer &clock) {
            QTemporaryDir folder;
            RunRecorder records(folder.path());
            QStringList notes;
            QString error;
            records.prepareFiles(&notes, &error);
            records.setBlockWrites(true); // as a run in process records
            RunSession run(recorded ? &records : nullptr, prepared(setup), RunPlayer::Model);
            run.setClock(steadyTimeOfDay()); // as a run in process
            run.load();
            run.setDrawn(false);
            clock.start();
            for (int period = 0; period < periods; ++period)
                run.submit({double(period % 3), 1.0});
            return clock.nsecsElapsed();
        }) << Qt::endl;
    }
    return 0;
}
