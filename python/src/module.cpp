// qvschedule._core: the scheduler library for Python. The package qvschedule (Python) builds its
// public interface on these functions; nothing here is meant to be called directly.
//
// Every function that reaches the library releases the GIL for the library call, so that the
// library's threads, which take the GIL to call the Python host or to log, can always proceed: a
// host may query or stop from inside its own callbacks, and other Python threads may query while a
// callback runs. Functions called with the GIL held are marked so.
//
// Lock order: the library's locks (the scheduler lock and those after it) before the GIL. Library
// threads take the GIL while they hold the scheduler lock; code that holds the GIL never waits for
// a library lock that may be held while the GIL is wanted.
#include "PythonGate.h"
#include "PythonHost.h"
#include "PythonLogSink.h"

#include "QVClock.h"
#include "QVDefinitionDiagnostics.h"
#include "QVEventsManager.h"
#include "QVHostEventDefs.h"
#include "QVLogger.h"
#include "QVSchedulerFacade.h"
#include "QVWinTypes.h"

#include <pybind11/pybind11.h>
#include <pybind11/stl.h>

#include <atomic>
#include <cmath>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace py = pybind11;

namespace {

// Set by the first call that creates the library's scheduler; at exit only then is there a
// schedule to stop.
std::atomic<bool> gSchedulerUsed{false};

template <typename Call>
auto withoutGil(Call call) {
  gSchedulerUsed = true;
  const py::gil_scoped_release release;
  return call();
}

// Never destroyed (one reference is never dropped): library threads may still log through it
// while static objects are destroyed.
const std::shared_ptr<PythonLogSink>& logSink() {
  static auto* sink = new std::shared_ptr<PythonLogSink>(std::make_shared<PythonLogSink>());
  return *sink;
}

// With the GIL held: installs the run-mode type and the log handler, and the sink for the process.
void install(py::object runModeType, py::object logHandler) {
  PythonHost::instance().setTypes(std::move(runModeType), logHandler);
  logSink()->setHandler(std::move(logHandler));
  QVLogger::SetSink(logSink());
}

// With the GIL held, at interpreter exit: stops the schedule, waits (bounded) for calls into
// Python under way, then drops every Python reference; later records go to standard error.
void shutdown() {
  {
    const py::gil_scoped_release release;
    if (gSchedulerUsed) CQVSchedulerFacade::stop();
    PythonGate::instance().close(std::chrono::seconds(5));
  }
  PythonHost::instance().clear();
  logSink()->setHandler(py::object());
  QVLogger::SetSink(nullptr);
}

// With the GIL held: replaces the Python host (None detaches it).
void setHost(py::object host) {
  static bool handedOver = false;  // guarded by the GIL
  PythonHost::instance().setHost(std::move(host));
  if (!handedOver) {
    handedOver = true;
    withoutGil([] { return CQVSchedulerFacade::setVusersServices(&PythonHost::instance()); });
  }
}

// The diagnostics of the last load, each (severity, message, path, line, column, value, expected)
// with 0 for an unknown line or column.
py::list lastDiagnostics() {
  const std::vector<QVDefinitionDiagnostic> diagnostics = withoutGil(CQVDefinitionDiagnostics::getLastLoadDiagnostics);
  py::list out;
  for (const QVDefinitionDiagnostic& d : diagnostics) {
    out.append(py::make_tuple(d.severity == QVDefinitionDiagnostic::SEVERITY_WARNING ? "warning" : "error",
                              pythonText(d.message), pythonText(d.path), d.line, d.column, pythonText(d.value),
                              pythonText(d.expected)));
  }
  return out;
}

// (accepted, error messages the library wrote during the load, diagnostics of the load). The
// messages of a refused load are its error and are not logged; those of an accepted one are
// logged once it is done. An error of the XML services, which the library lets through, is one
// more message of a refused load.
py::tuple load(const std::string& argument, bool isFile) {
  std::vector<QVLogRecord> records;
  bool accepted = false;
  std::string problem;
  try {
    const DefinitionCapture capture(records);
    accepted = withoutGil([&] {
      return isFile ? CQVSchedulerFacade::setXMLFile(argument.c_str())
                    : CQVSchedulerFacade::setXMLString(argument.c_str());
    });
  } catch (const _com_error& error) {
    problem = std::string("XML services error: ") + error.ErrorMessage();
  }
  py::list messages;
  for (const QVLogRecord& record : records) {
    if (accepted) {
      logSink()->write(record);
    } else {
      messages.append(pythonText(record.text));
    }
  }
  if (!problem.empty()) messages.append(pythonText(problem));
  return py::make_tuple(accepted, messages, lastDiagnostics());
}

// (current stage, next stage, seconds to next, vusers in next batch, has next), or None.
py::object stage() {
  CQVSchedulerStage stage;
  if (!withoutGil([&] { return CQVSchedulerFacade::getSchedulerStage(stage); })) return py::none();
  return py::make_tuple(static_cast<int>(stage.getCurrActionStage()), static_cast<int>(stage.getNextActionStage()),
                        stage.getSecondsToNextStage(), stage.getNumberOfVusersInNextBatch(), stage.hasNextStage());
}

std::optional<long> runTime(const std::optional<std::string>& group) {
  long seconds = 0;
  const bool known = withoutGil([&] {
    return group ? CQVSchedulerFacade::getGroupRunTime(*group, seconds)
                 : CQVSchedulerFacade::getScenarioRunTime(seconds);
  });
  return known ? std::optional<long>(seconds) : std::nullopt;
}

std::optional<int> runMode(const std::optional<std::string>& group) {
  CQVVusersServices::RunMode mode = CQVVusersServices::RUN_INDEFINITELY;
  const bool known = withoutGil([&] {
    return group ? CQVSchedulerFacade::GetGroupRunMode(*group, mode) : CQVSchedulerFacade::GetScenarioRunMode(mode);
  });
  return known ? std::optional<int>(static_cast<int>(mode)) : std::nullopt;
}

void notify(const CQVEventDef& event) {
  const py::gil_scoped_release release;
  CQVEventsManager::instance()->notifyOnEvent(event);
}

// Seconds (a float) as 100-ns units; refuses what is negative, not a number or beyond 300 years.
std::uint64_t units(double seconds) {
  if (!(seconds >= 0.0 && seconds <= 1e10)) throw py::value_error("seconds must be between 0 and 1e10");
  return static_cast<std::uint64_t>(std::llround(seconds * QV_FILE_TIME_UNITS_PER_SECOND));
}

std::chrono::milliseconds milliseconds(double seconds) {
  return std::chrono::milliseconds(units(seconds) / QV_FILE_TIME_UNITS_PER_MILLISECOND);
}

void bindClocks(py::module_& m) {
  py::class_<QVClock, std::shared_ptr<QVClock>>(m, "Clock").def("now", [](const QVClock& clock) {
    return static_cast<double>(clock.now() - QV_UNIX_EPOCH_AS_FILE_TIME) / QV_FILE_TIME_UNITS_PER_SECOND;
  });
  py::class_<QVScaledClock, QVClock, std::shared_ptr<QVScaledClock>>(m, "ScaledClock")
      .def(py::init([](double speed) {
             if (!(speed > 0.0 && speed <= 1e6)) throw py::value_error("speed must be above 0 and at most 1e6");
             return std::make_shared<QVScaledClock>(speed);
           }),
           py::arg("speed"))
      .def_property_readonly("speed", &QVScaledClock::speed);
  py::class_<QVManualClock, QVClock, std::shared_ptr<QVManualClock>>(m, "ManualClock")
      .def(py::init([](double settleTimeout) {
             auto clock = std::make_shared<QVManualClock>();
             clock->setSettleTimeout(milliseconds(settleTimeout));
             return clock;
           }),
           py::arg("settle_timeout") = 60.0)
      .def("advance", [](QVManualClock& clock, double seconds) {
        const std::uint64_t delta = units(seconds);
        const py::gil_scoped_release release;
        clock.advanceUnits(delta);
      })
      .def("settle", &QVManualClock::settle, py::call_guard<py::gil_scoped_release>())
      .def("run_until_idle", [](QVManualClock& clock, double limit) {
        const auto bound = milliseconds(limit);
        const py::gil_scoped_release release;
        return clock.runUntilIdle(bound);
      });
  m.def("use_clock", [](std::shared_ptr<QVClock> clock) {
    const py::gil_scoped_release release;
    QVSetClock(std::move(clock));
  });
}

}  // namespace

PYBIND11_MODULE(_core, m) {
  m.doc() = "The QVSchedule scheduler library; use the qvschedule package instead.";
  m.def("install", &install);
  m.def("shutdown", &shutdown);
  m.def("set_host", &setHost);
  m.def("load", &load);
  m.def("last_diagnostics", &lastDiagnostics);
  m.def("start", [] { return withoutGil(CQVSchedulerFacade::start); });
  m.def("stop", [] { return withoutGil(CQVSchedulerFacade::stop); });
  m.def("pause", [] { return withoutGil(CQVSchedulerFacade::pause); });
  m.def("resume", [] { return withoutGil(CQVSchedulerFacade::resume); });
  m.def("is_running", [] { return withoutGil(CQVSchedulerFacade::isRunning); });
  m.def("is_paused", [] { return withoutGil(CQVSchedulerFacade::isPaused); });
  m.def("stage", &stage);
  m.def("run_time", &runTime);
  m.def("run_mode", &runMode);
  m.def("notify_all_vusers_initialized", [](const std::optional<std::string>& group) {
    if (group) {
      notify(CQVGroupAllVusersInitEventDef(*group));
    } else {
      notify(CQVScenarioAllVusersInitEventDef());
    }
  });
  m.def("notify_group_finished", [](const std::string& group) { notify(CQVGroupFinishedRunningEventDef(group)); });
  m.def("set_log_enabled", &QVLogger::SetEnabled, py::call_guard<py::gil_scoped_release>());
  m.def("log_enabled", &QVLogger::IsEnabled, py::call_guard<py::gil_scoped_release>());
  bindClocks(m);
}
