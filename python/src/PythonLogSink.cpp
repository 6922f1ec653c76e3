#include "PythonLogSink.h"

#include "PythonGate.h"

namespace py = pybind11;

namespace {
thread_local std::vector<QVLogRecord>* tCaptured = nullptr;
}  // namespace

DefinitionCapture::DefinitionCapture(std::vector<QVLogRecord>& records) : previous_(tCaptured) {
  tCaptured = &records;
}

DefinitionCapture::~DefinitionCapture() { tCaptured = previous_; }

py::str pythonText(const std::string& text) {
  PyObject* decoded = PyUnicode_DecodeUTF8(text.data(), static_cast<Py_ssize_t>(text.size()), "replace");
  if (!decoded) throw py::error_already_set();
  return py::reinterpret_steal<py::str>(decoded);
}

bool DefinitionCapture::offer(const QVLogRecord& record) {
  if (!tCaptured || record.kind != QVLogKind::Error || record.logger != "QVSchedule") return false;
  tCaptured->push_back(record);
  return true;
}

void PythonLogSink::write(const QVLogRecord& record) {
  if (DefinitionCapture::offer(record)) return;
  const PythonCall call;
  if (!call || !handler_) {
    standardError_.write(record);
    return;
  }
  // Our own reference: the handler may be replaced while Python releases the GIL inside it.
  const py::object handler = handler_;
  try {
    handler(record.logger, QVLogKindName(record.kind), pythonText(record.text), pythonText(record.file), record.line);
  } catch (py::error_already_set& error) {
    error.discard_as_unraisable("qvschedule: forwarding a log record");
  }
}
