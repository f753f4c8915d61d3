// The core's run object for Python: one model's run in process, as the program plays it.
// Python's headers come first: they name a member `slots`, which Qt's headers make a macro.
#include <pybind11/pybind11.h>
#include <pybind11/stl.h>

#include "core/run/inprocessrun.h"
#include "core/setup/setupfile.h"

#include <QCoreApplication>

#include <string>

namespace py = pybind11;

namespace {

QString text(const std::string &utf8) {
    return QString::fromStdString(utf8);
}

// The keys of the setup the run plays, the schedules and its seed included.
py::dict scenarioOf(const TaskState &state) {
    py::dict scenario;
    scenario["MaxTrial"] = state.MaxTrial;
    scenario["InitialAmountInTank"] = state.InitialAmountInTank / state.unitHeight;
    scenario["GoalLinePoisition"] = state.GoalLinePoisition / state.unitHeight;
    scenario["InitialBackOrder"] = state.InitialBackOrder;
    scenario["InitialForwardDischarge"] = state.InitialForwardDischarge;
    scenario["inFlowDelay"] = state.inFlowTPAfter;
    scenario["outFlowDelay"] = state.outFlowTPAfter;
    scenario["inFlowDelayValue"] = state.inFlowDelayValue;
    scenario["inFlowDelayLength"] = state.inFlowDelayLength;
    scenario["outFlowDelayValue"] = state.outFlowDelayValue;
    scenario["outFlowDelayLength"] = state.outFlowDelayLength;
    scenario["EnvInflowSchedule"] = state.EnvInflowSchedule;
    scenario["EnvOutflowSchedule"] = state.EnvOutflowSchedule;
    scenario["EnvInflowNoise"] = state.EnvInflowNoise;
    scenario["EnvOutflowNoise"] = state.EnvOutflowNoise;
    scenario["EnvSeed"] = state.EnvSeed;
    scenario["Seed"] = state.runSeed;
    scenario["ToleranceBelow"] = state.goalToleranceBelow;
    scenario["ToleranceAbove"] = state.goalToleranceAbove;
    scenario["BonusPerPeriod"] = state.bonusPerPeriod;
    scenario["BasePayment"] = state.basePayment;
    scenario["RunId"] = state.runId.toStdString();
    scenario["SetupId"] = state.setupId.toStdString();
    return scenario;
}

py::dict resultOf(const TaskState &state) {
    py::dict result;
    result["periods"] = state.currentTrial;
    result["in_band"] = state.periodsInBand;
    result["bonus"] = state.periodsInBand * state.bonusPerPeriod;
    result["payment"] = state.TotalBonus;
    result["last"] = state.currentTrial >= state.MaxTrial;
    return result;
}

// The core's objects live on Qt's main thread; Python's main thread becomes it. The
// application object stays until the process ends.
void adoptMainThread() {
    if (QCoreApplication::instance())
        return;
    static int argc = 1;
    static char name[] = "fluxmere";
    static char *argv[] = {name, nullptr};
    new QCoreApplication(argc, argv);
}

} // namespace

PYBIND11_MODULE(_fluxmere, module) {
    module.doc() = "The task's own period steps, played in process.";
    adoptMainThread();
    py::register_exception<SetupError>(module, "SetupError", PyExc_ValueError);

    py::class_<InProcessRun>(module, "Engine")
        .def(py::init([](const std::string &setupPath, const std::string &recordFolder,
                         const std::string &name) {
                 return new InProcessRun(text(setupPath), text(recordFolder), text(name));
             }),
             py::arg("setup_path"), py::arg("record_folder") = "", py::arg("name") = "model")
        .def("reset", &InProcessRun::reset, py::arg("seed") = py::none())
        // The fast path: plain numbers in, a tuple of plain numbers out.
        .def(
            "step",
            [](InProcessRun &run, double ui, double uo, std::optional<double> ei,
               std::optional<double> eo) {
                const StepFigures f = run.step(ui, uo, ei, eo);
                return py::make_tuple(f.time, f.amount, f.goal, f.envInflow, f.envOutflow,
                                      f.userInflow, f.userOutflow, f.inBand, f.totalBonus, f.last);
            },
            py::arg("ui"), py::arg("uo"), py::arg("ei") = py::none(), py::arg("eo") = py::none())
        .def("pipeline",
             [](const InProcessRun &run) {
                 return py::make_tuple(run.pipeline(true), run.pipeline(false));
             })
        .def_property_readonly("scenario",
                               [](const InProcessRun &run) { return scenarioOf(run.state()); })
        .def_property_readonly("result",
                               [](const InProcessRun &run) { return resultOf(run.state()); });
}
