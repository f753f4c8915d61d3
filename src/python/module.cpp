// The core's run object for Python: one model's run in process, as the program plays it.
// Python's headers come first: they name a member `slots`, which Qt's headers make a macro.
#include <pybind11/numpy.h>
#include <pybind11/pybind11.h>
#include <pybind11/stl.h>

#include "core/common/platform.h"
#include "core/run/inprocessrun.h"
#include "core/setup/setupfile.h"

#include <QCoreApplication>

#include <algorithm>
#include <exception>
#include <memory>
#include <string>
#include <thread>
#include <vector>

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

// A number as Python reads it as a float (an int, a float, a numpy scalar). Taken from a
// plain handle: pybind11's casters try twice for an int, which costs more than the period.
double number(py::handle value) {
    const double read = PyFloat_AsDouble(value.ptr());
    if (read == -1.0 && PyErr_Occurred())
        throw py::error_already_set();
    return read;
}

// An environment flow given, or None for the setup's.
std::optional<double> optionalFlow(py::handle flow) {
    if (flow.is_none())
        return std::nullopt;
    return number(flow);
}

// Built with Python's own calls: a model takes millions, and pybind11's general tuple costs
// half a microsecond each.
py::tuple tupleOf(const StepFigures &f) {
    PyObject *tuple = PyTuple_New(10);
    if (!tuple)
        throw py::error_already_set();
    PyObject *items[10] = {PyLong_FromLong(f.time),           PyFloat_FromDouble(f.amount),
                           PyFloat_FromDouble(f.goal),        PyFloat_FromDouble(f.envInflow),
                           PyFloat_FromDouble(f.envOutflow),  PyFloat_FromDouble(f.userInflow),
                           PyFloat_FromDouble(f.userOutflow), PyBool_FromLong(f.inBand),
                           PyFloat_FromDouble(f.totalBonus),  PyBool_FromLong(f.last)};
    for (Py_ssize_t index = 0; index < 10; ++index) {
        if (!items[index]) {
            Py_DECREF(tuple);
            throw py::error_already_set();
        }
        PyTuple_SET_ITEM(tuple, index, items[index]);
    }
    return py::reinterpret_steal<py::tuple>(tuple);
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

// n runs of one setup stepped together: one call plays a period of each, its orders taken
// from arrays, its figures returned as an n x 10 array (the columns of Task.step). The runs
// are shared out over the machine's cores; each run is only ever played by one of them.
// Recording runs are played in order on one thread: their lines interleave in Data.txt the
// same way every time.
class VectorRuns {
public:
    // `threads`: how many threads may play the runs; 0 for the machine's cores.
    VectorRuns(const std::string &setupPath, size_t count, std::vector<uint64_t> seeds,
               const std::string &recordFolder, const std::string &name, size_t threads)
        : m_recording(!recordFolder.empty())
        , m_threads(threads) {
        if (count == 0)
            throw std::invalid_argument("a vector holds at least one run");
        if (!seeds.empty() && seeds.size() != count)
            throw std::invalid_argument("one seed for each run");
        m_runs.push_back(
            std::make_unique<InProcessRun>(text(setupPath), text(recordFolder), text(name)));
        for (size_t index = 1; index < count; ++index)
            m_runs.push_back(std::make_unique<InProcessRun>(*m_runs.front(), std::nullopt));
        reset(seeds);
    }

    void reset(const std::vector<uint64_t> &seeds) {
        if (!seeds.empty() && seeds.size() != m_runs.size())
            throw std::invalid_argument("one seed for each run");
        for (size_t index = 0; index < m_runs.size(); ++index)
            m_runs[index]->reset(seeds.empty() ? std::nullopt
                                               : std::optional<uint64_t>(seeds[index]));
    }

    py::array_t<double> step(py::array_t<double, py::array::c_style | py::array::forcecast> ui,
                             py::array_t<double, py::array::c_style | py::array::forcecast> uo) {
        const size_t count = m_runs.size();
        if (size_t(ui.size()) != count || size_t(uo.size()) != count)
            throw std::invalid_argument("one order of each kind for each run");
        py::array_t<double> out({count, size_t(10)});
        const double *in = ui.data();
        const double *outflow = uo.data();
        double *rows = out.mutable_data();
        std::exception_ptr failure;
        {
            py::gil_scoped_release released;
            // The cores are counted once: counting reads a system file each time.
            static const size_t cores = std::max(1u, std::thread::hardware_concurrency());
            const size_t allowed = m_recording ? 1 : m_threads > 0 ? m_threads : cores;
            // Below some 3,000 runs a period of all of them takes less than waking a thread.
            const size_t workers = std::min(allowed, std::max<size_t>(1, count / 1500));
            std::vector<std::exception_ptr> failures(workers);
            const auto play = [&](size_t worker) {
                // A block of runs each: threads that wrote neighbouring rows would share the
                // rows' cache lines.
                try {
                    const size_t end = count * (worker + 1) / workers;
                    for (size_t i = count * worker / workers; i < end; ++i)
                        writeRow(rows + 10 * i, m_runs[i]->step(in[i], outflow[i]));
                } catch (...) {
                    failures[worker] = std::current_exception();
                }
            };
            std::vector<std::thread> threads;
            for (size_t worker = 1; worker < workers; ++worker)
                threads.emplace_back(play, worker);
            play(0); // this thread plays its share too
            for (std::thread &thread : threads)
                thread.join();
            for (const std::exception_ptr &caught : failures)
                failure = failure ? failure : caught;
        }
        if (failure)
            std::rethrow_exception(failure);
        return out;
    }

    size_t size() const { return m_runs.size(); }

    void close() {
        for (const std::unique_ptr<InProcessRun> &run : m_runs)
            run->close();
    }

private:
    static void writeRow(double *row, const StepFigures &f) {
        const double values[10] = {
            double(f.time), f.amount,          f.goal,        f.envInflow,
            f.envOutflow,   f.userInflow,      f.userOutflow, f.inBand ? 1.0 : 0.0,
            f.totalBonus,   f.last ? 1.0 : 0.0};
        std::copy(values, values + 10, row);
    }

    bool m_recording = false;
    size_t m_threads = 0;
    std::vector<std::unique_ptr<InProcessRun>> m_runs;
};

// Engine.step(ui, uo, ei=None, eo=None), the fast path: plain numbers in, a tuple of plain
// numbers out, called with Python's own vector convention. pybind11's general dispatch costs
// more than the period it would play.
PyObject *fastStep(PyObject *self, PyObject *const *args, Py_ssize_t count, PyObject *names) {
    try {
        py::handle flows[2] = {Py_None, Py_None};
        const Py_ssize_t named = names ? PyTuple_GET_SIZE(names) : 0;
        if (count < 2 || count + named > 4)
            throw py::type_error("step(ui, uo, ei=None, eo=None)");
        for (Py_ssize_t index = 2; index < count; ++index)
            flows[index - 2] = args[index];
        for (Py_ssize_t index = 0; index < named; ++index) {
            const std::string name = py::str(PyTuple_GET_ITEM(names, index));
            if (name != "ei" && name != "eo")
                throw py::type_error("step() takes the keywords ei and eo, not " + name);
            flows[name == "ei" ? 0 : 1] = args[count + index];
        }
        InProcessRun &run = py::cast<InProcessRun &>(py::handle(self));
        const StepFigures figures = run.step(number(args[0]), number(args[1]),
                                             optionalFlow(flows[0]), optionalFlow(flows[1]));
        return tupleOf(figures).release().ptr();
    } catch (py::error_already_set &error) {
        error.restore();
    } catch (const py::builtin_exception &error) {
        error.set_error();
    } catch (const std::invalid_argument &error) {
        PyErr_SetString(PyExc_ValueError, error.what());
    } catch (const std::exception &error) {
        PyErr_SetString(PyExc_RuntimeError, error.what());
    }
    return nullptr;
}

void addFastStep(py::handle engine) {
    static PyMethodDef step = {
        "step", reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(fastStep)),
        METH_FASTCALL | METH_KEYWORDS,
        "step(ui, uo, ei=None, eo=None): plays one period; the figures as a tuple"};
    PyObject *method = PyDescr_NewMethod(reinterpret_cast<PyTypeObject *>(engine.ptr()), &step);
    if (!method)
        throw py::error_already_set();
    py::setattr(engine, "step", py::reinterpret_steal<py::object>(method));
}

// The core's objects live on Qt's main thread; Python's main thread becomes it. The
// application object stays until the process ends.
void adoptMainThread() {
    if (QCoreApplication::instance())
        return;
    platform::prepareProcess(); // as the program prepares itself: the time zone read once
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
        .def("pipeline",
             [](const InProcessRun &run) {
                 return py::make_tuple(run.pipeline(true), run.pipeline(false));
             })
        .def_property_readonly("figures",
                               [](const InProcessRun &run) { return tupleOf(run.figures()); })
        .def_property_readonly("scenario",
                               [](const InProcessRun &run) { return scenarioOf(run.state()); })
        .def_property_readonly("result",
                               [](const InProcessRun &run) { return resultOf(run.state()); })
        .def("close", &InProcessRun::close);

    addFastStep(module.attr("Engine"));

    py::class_<VectorRuns>(module, "VectorEngine")
        .def(py::init<const std::string &, size_t, std::vector<uint64_t>, const std::string &,
                      const std::string &, size_t>(),
             py::arg("setup_path"), py::arg("count"), py::arg("seeds") = std::vector<uint64_t>(),
             py::arg("record_folder") = "", py::arg("name") = "model", py::arg("threads") = 0)
        .def("close", &VectorRuns::close)
        .def("reset", &VectorRuns::reset, py::arg("seeds") = std::vector<uint64_t>())
        .def("step", &VectorRuns::step, py::arg("ui"), py::arg("uo"))
        .def("__len__", &VectorRuns::size);
}
