#include "Session.h"

#include "QVClock.h"
#include "QVSchedule.h"

#include <algorithm>
#include <iostream>

namespace {

void warnUnknownGroups(const SimulatedVusers::Settings& settings, const DefinitionSummary& summary) {
  const std::vector<std::string> names = summary.groupNames();
  for (const auto& item : settings.groupVusers) {
    if (std::find(names.begin(), names.end(), item.first) == names.end()) {
      std::cerr << "qvschedule: warning: the definition has no group " << item.first << '\n';
    }
  }
}

}  // namespace

bool Session::open(const Definition& definition, const SimulatedVusers::Settings& settings, bool showLibraryLines,
                   const std::string& logPath) {
  const HostMaker makeSimulated = [&](const DefinitionSummary& read, VusersHost::Listener listener) {
    warnUnknownGroups(settings, read);
    auto made = std::make_unique<SimulatedVusers>(settings, read.byGroup(), read.groupNames(), std::move(listener));
    host = made.get();
    return std::unique_ptr<VusersHost>(std::move(made));
  };
  return open(definition, makeSimulated, showLibraryLines, logPath);
}

bool Session::open(const Definition& definition, const HostMaker& makeHost, bool showLibraryLines,
                   const std::string& logPath) {
  console.setOrigin(QVNowFileTime());
  sink = std::make_shared<CliLogSink>(showLibraryLines, logPath);
  sink->setOrigin(console.origin());
  if (!logPath.empty() && !sink->fileOk()) return false;  // reported by the sink
  QVLogger::SetSink(sink);
  QVLogger::SetEnabled("QVScheduleTest", true);
  if (!logPath.empty()) QVLogger::SetEnabled("QVSchedule", true);

  summary = summarizeDefinition(definition.text);
  vusers = makeHost(summary, [this](const TimelineEntry& entry) { console.entry(entry); });
  CQVSchedulerFacade::setVusersServices(vusers.get());

  DefinitionVerdict verdict = loadDefinition(definition);
  if (verdict.loaded) {
    const auto poolSize = [this](const std::string& group) {
      return vusers->counts(group.empty() ? SimulatedVusers::kScenarioPool : group).total;
    };
    for (QVDefinitionDiagnostic& warning : poolWarnings(summary, poolSize)) verdict.diagnostics.push_back(warning);
  }
  reportDiagnostics(definition, verdict.diagnostics, strict);
  if (verdict.refused(strict)) return false;
  sink->attach(&console);
  return true;
}

void Session::begin(std::uint64_t origin) {
  console.setOrigin(origin);
  sink->setOrigin(origin);
  vusers->begin(origin);
}

void Session::close() {
  if (sink) sink->mute();
  CQVSchedulerFacade::stop();
  if (vusers) vusers->shutdown();
  QVLogger::SetEnabled("QVSchedule", false);
  QVLogger::SetEnabled("QVScheduleTest", false);
  QVLogger::SetSink(nullptr);
}
