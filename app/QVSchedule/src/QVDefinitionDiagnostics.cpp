#include "QVDefinitionDiagnostics.h"

#include "QVDefinitionReport.h"
#include "QVMutex.h"
#include "QVSchedBaseBuilder.h"

#include <utility>

namespace {

// The record of the last load.
struct LastLoad {
  QVMutex mutex;  // guards the record; a leaf lock
  std::vector<QVDefinitionDiagnostic> diagnostics QV_GUARDED_BY(mutex);
  bool refused QV_GUARDED_BY(mutex) = false;
};

LastLoad& lastLoad() {
  static LastLoad* record = new LastLoad();  // never destroyed: readable until the process ends
  return *record;
}

}  // namespace

void QVPublishDefinitionDiagnostics(std::vector<QVDefinitionDiagnostic> diagnostics, bool refused) {
  LastLoad& record = lastLoad();
  QVMutexLock lock(record.mutex);
  record.diagnostics = std::move(diagnostics);
  record.refused = refused;
}

std::vector<QVDefinitionDiagnostic> CQVDefinitionDiagnostics::getLastLoadDiagnostics() {
  LastLoad& record = lastLoad();
  QVMutexLock lock(record.mutex);
  return record.diagnostics;
}

bool CQVDefinitionDiagnostics::getLastLoadError(QVDefinitionDiagnostic& error) {
  LastLoad& record = lastLoad();
  QVMutexLock lock(record.mutex);
  if (!record.refused || record.diagnostics.empty()) return false;
  error = record.diagnostics.back();
  return true;
}

int CQVDefinitionDiagnostics::readNumber(const std::string& text) { return QVReadDefinitionNumber(text); }
