#include "PythonHost.h"

#include "PythonGate.h"
#include "PythonLogSink.h"

#include <stdexcept>

namespace py = pybind11;

namespace {

// "ValueError: bad count" for an exception fetched from Python. With the GIL held.
std::string describe(const py::error_already_set& error) {
  try {
    return py::str(error.type().attr("__name__")).cast<std::string>() + ": " + py::str(error.value()).cast<std::string>();
  } catch (py::error_already_set&) {
    return "an exception that cannot be described";
  }
}

}  // namespace

PythonHost& PythonHost::instance() {
  // Never destroyed: the scheduler keeps its address for the whole process.
  static PythonHost* host = new PythonHost();
  return *host;
}

void PythonHost::setHost(py::object host) { host_ = std::move(host); }

void PythonHost::setTypes(py::object runModeType, py::object logHandler) {
  runModeType_ = std::move(runModeType);
  logHandler_ = std::move(logHandler);
}

void PythonHost::clear() {
  host_ = py::object();
  runModeType_ = py::object();
  logHandler_ = py::object();
}

void PythonHost::logError(const py::object& host, const char* method, const std::string& text,
                          const py::object& excInfo) const {
  if (!logHandler_) return;
  try {
    // Located at the host's method, so the record points at the host's code rather than at ours.
    py::object file = py::str();
    py::object line = py::int_(0);
    const py::object code = py::getattr(py::getattr(host.get_type(), method, py::none()), "__code__", py::none());
    if (!code.is_none()) {
      file = code.attr("co_filename");
      line = code.attr("co_firstlineno");
    }
    logHandler_("QVSchedule", "ERROR", text, file, line, excInfo);
  } catch (py::error_already_set& error) {
    error.discard_as_unraisable("qvschedule: logging a host error");
  }
}

// Logs the traceback and throws on a C++ exception the library catches, logs and counts as a
// failed call. With the GIL held.
void PythonHost::raiseToLibrary(const py::object& host, const char* method, const py::error_already_set& error) const {
  logError(host, method, std::string("Python host method ") + method + " raised an exception",
           py::make_tuple(error.type(), error.value(), error.trace()));
  throw std::runtime_error(std::string("Python host method ") + method + " raised " + describe(error));
}

py::object PythonHost::toPython(RunMode runMode) const {
  const int value = static_cast<int>(runMode);
  return runModeType_ ? runModeType_(value) : py::int_(value);
}

py::object PythonHost::toPython(const std::string& text) { return pythonText(text); }

template <typename... Args>
int PythonHost::forward(Answer answer, const char* method, int fallback, const Args&... args) {
  const PythonCall call;
  if (!call || !host_ || host_.is_none()) return fallback;
  // Declared after `call`, so released while the GIL is still held.
  const py::object host = host_;
  try {
    return convert(answer, host, method, host.attr(method)(toPython(args)...));
  } catch (py::error_already_set& error) {
    raiseToLibrary(host, method, error);
  }
}

int PythonHost::convert(Answer answer, const py::object& host, const char* method, const py::object& result) const {
  switch (answer) {
    case Answer::Nothing: return 0;
    case Answer::Truth: {
      const int truth = PyObject_IsTrue(result.ptr());
      if (truth < 0) throw py::error_already_set();
      return truth;
    }
    case Answer::Status: break;
  }
  if (py::isinstance<py::int_>(result) && !py::isinstance<py::bool_>(result)) {
    try {
      return result.cast<int>();
    } catch (py::cast_error&) {
      // Out of range: reported below.
    }
  }
  logError(host, method,
           std::string("Python host method ") + method + " returned " + py::repr(result).cast<std::string>() +
               ", not a qvschedule.Status; treated as failed",
           py::none());
  return VUSERS_STATUS_FAILED;
}

void PythonHost::onSchedulerFinished() { notify("on_scheduler_finished"); }
void PythonHost::onSchedulerPaused() { notify("on_scheduler_paused"); }
void PythonHost::onSchedulerResumed() { notify("on_scheduler_resumed"); }
void PythonHost::onGroupFinished(const std::string& groupName) { notify("on_group_finished", groupName); }

int PythonHost::initAllVusers(RunMode runMode) { return status("init_all_vusers", runMode); }
int PythonHost::initVusers(long count, RunMode runMode) { return status("init_vusers", count, runMode); }
int PythonHost::runAllVusers(RunMode runMode) { return status("run_all_vusers", runMode); }
int PythonHost::runVusers(RunMode runMode, long count) { return status("run_vusers", runMode, count); }
int PythonHost::stopAllVusers() { return status("stop_all_vusers"); }
int PythonHost::stopVusers(long count) { return status("stop_vusers", count); }
int PythonHost::canStartDuration() { return status("can_start_duration"); }
bool PythonHost::isInFinalStage() { return forward(Answer::Truth, "is_in_final_stage", 0) != 0; }

int PythonHost::initAllGroupVusers(const std::string& groupName, RunMode runMode) {
  return status("init_all_group_vusers", groupName, runMode);
}
int PythonHost::initGroupVusers(const std::string& groupName, long count, RunMode runMode) {
  return status("init_group_vusers", groupName, count, runMode);
}
int PythonHost::runAllGroupVusers(const std::string& groupName, RunMode runMode) {
  return status("run_all_group_vusers", groupName, runMode);
}
int PythonHost::runGroupVusers(const std::string& groupName, RunMode runMode, long count) {
  return status("run_group_vusers", groupName, runMode, count);
}
int PythonHost::stopAllGroupVusers(const std::string& groupName) { return status("stop_all_group_vusers", groupName); }
int PythonHost::stopGroupVusers(const std::string& groupName, long count) {
  return status("stop_group_vusers", groupName, count);
}
int PythonHost::canStartGroupDuration(const std::string& groupName) {
  return status("can_start_group_duration", groupName);
}
