#include "QVDefinitionDiagnostics.h"

#include "QVDefinitionReport.h"
#include "QVSchedBaseBuilder.h"

#include <mutex>
#include <utility>

namespace {

// The record of the last load. `mutex` guards `diagnostics` and `refused`; a leaf lock.
struct LastLoad {
  std::mutex mutex;
  std::vector<QVDefinitionDiagnostic> diagnostics;
  bool refused = false;
};

LastLoad& lastLoad() {
  static LastLoad* record = new LastLoad();  // never destroyed: readable until the process ends
  return *record;
}

}  // namespace

void QVPublishDefinitionDiagnostics(std::vector<QVDefinitionDiagnostic> diagnostics, bool refused) {
  LastLoad& record = lastLoad();
  std::lock_guard<std::mutex> lock(record.mutex);
  record.diagnostics = std::move(diagnostics);
  record.refused = refused;
}

std::vector<QVDefinitionDiagnostic> CQVDefinitionDiagnostics::getLastLoadDiagnostics() {
  LastLoad& record = lastLoad();
  std::lock_guard<std::mutex> lock(record.mutex);
  return record.diagnostics;
}

bool CQVDefinitionDiagnostics::getLastLoadError(QVDefinitionDiagnostic& error) {
  LastLoad& record = lastLoad();
  std::lock_guard<std::mutex> lock(record.mutex);
  if (!record.refused || record.diagnostics.empty()) return false;
  error = record.diagnostics.back();
  return true;
}

int CQVDefinitionDiagnostics::readNumber(const std::string& text) { return QVReadDefinitionNumber(text); }
