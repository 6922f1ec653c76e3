#include "QVLoadTestSchedulerRunnerBuilder.h"

#include "QVGroupsBuilder.h"
#include "QVScenarioBuilder.h"
#include "QVScenarioContext.h"
#include "QVScenarioRunner.h"
#include "QVScheduleLog.h"
#include "QVScheduleServices.h"
#include "portlib32.h"

#include <cstring>
#include <memory>
#include <string>

QV_SOURCE_FILE("QVLoadTestSchedulerRunnerBuilder.cpp");

namespace {

// An OsStr owned for one scope.
class ScopedOsStr {
 public:
  ScopedOsStr() = default;
  ScopedOsStr(const ScopedOsStr&) = delete;
  ScopedOsStr& operator=(const ScopedOsStr&) = delete;
  ~ScopedOsStr() {
    if (str_ != nullptr) xfvOsStrDestruct(&str_);
  }
  OsStr* out() { return &str_; }
  OsStr get() const { return str_; }

 private:
  OsStr str_ = nullptr;
};

void makeOsStr(ScopedOsStr& out, const char* text) {
  const char* chars = text != nullptr ? text : "";
  xfvOsStrConstructFromCharArrayIgnoringNulls(out.out(), chars, std::strlen(chars));
}

}  // namespace

bool CQVLoadTestSchedulerRunnerBuilder::buildFromXMLFile(CQVLoadTestSchedulerRunner& root, const char* path) {
  QV_TRACE_SCOPE("CQVLoadTestSchedulerRunnerBuilder::buildFromXMLFile");
  CXmlReader reader;
  reader.CreateDocument();
  ScopedOsStr osPath;
  makeOsStr(osPath, path);
  // A file that does not load leaves no document element; build then finds no definition.
  reader.Load(osPath.get());
  return build(root, reader);
}

bool CQVLoadTestSchedulerRunnerBuilder::buildFromXMLString(CQVLoadTestSchedulerRunner& root, const char* xml) {
  QV_TRACE_SCOPE("CQVLoadTestSchedulerRunnerBuilder::buildFromXMLString");
  CXmlReader reader;
  reader.CreateDocument();
  ScopedOsStr osText;
  makeOsStr(osText, xml);
  reader.LoadXML(osText.get());
  return build(root, reader);
}

bool CQVLoadTestSchedulerRunnerBuilder::build(CQVLoadTestSchedulerRunner& root, CXmlReader& reader) {
  QV_TRACE_SCOPE("CQVLoadTestSchedulerRunnerBuilder::build");
  // Every earlier schedule is dropped before anything of the new definition is read.
  root.clear(false);
  root.setServices(services);

  ScopedOsStr currentIdPath;
  xfvOsStrFormat(currentIdPath.out(), "//%s/%s", "Schedulers", "CurrentSchedulerId");
  ScopedOsStr manualPath;
  xfvOsStrFormat(manualPath.out(), "//%s[@%s=%s]/%s", "Scheduler", "ID", currentIdPath.get(), "Manual");
  QVXmlNode manual;
  if (!reader.GetNode(manualPath.get(), manual)) {
    return false;
  }
  QVXmlNode typeNode;
  if (!QVSelectDefinitionNode(manual, "SchedulerType", typeNode)) {
    return false;
  }
  // The type text names the child of "Manual" that holds the body; it is looked up as a name and
  // never evaluated. A text that is no element name (empty, holding a space or a path) names no
  // child and is reported like a missing one.
  const std::string type = typeNode.text();
  const QVXmlNode body = manual.childElement(type);
  if (body.isNull()) {
    QVScheduleLog().logErrorFormatted("Error occured while parsing scheduler's XML - Missing node: %_1_s", __LINE__,
                                      qvSourceFile, {"SchedulerType"});
    return false;
  }
  if (type == "Global") {
    return buildSchedulerByScenario(root, body);
  }
  if (type == "Groups") {
    CQVGroupsBuilder groupsBuilder(services);
    return groupsBuilder.buildSchedulerByGroups(root, body);
  }
  QVScheduleLog().logErrorFormatted("Unexpected scheduler type: %_1_s", __LINE__, qvSourceFile, {type});
  return false;
}

bool CQVLoadTestSchedulerRunnerBuilder::buildSchedulerByScenario(CQVLoadTestSchedulerRunner& root,
                                                                 const QVXmlNode& bodyNode) {
  QV_TRACE_SCOPE("CQVLoadTestSchedulerRunnerBuilder::buildSchedulerByScenario");
  auto context = std::make_unique<CQVScenarioContext>();
  if (services) {
    services->setScheduleByScenario();
  }
  // The runner owns its context; it is deleted here unless the root runner takes it.
  auto runner = std::make_unique<CQVScenarioRunner>();
  runner->setServices(services);
  runner->setContext(context.release());
  CQVScenarioBuilder builder(services, runner->getContext());
  const bool ok = builder.build(*runner, bodyNode);
  if (ok) {
    root.addSchedulerRunner(runner.release());
  }
  return ok;
}
