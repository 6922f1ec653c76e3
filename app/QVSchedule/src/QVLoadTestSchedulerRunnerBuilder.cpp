#include "QVLoadTestSchedulerRunnerBuilder.h"

#include "QVDefinitionReport.h"
#include "QVDefinitionVocabulary.h"
#include "QVGroupsBuilder.h"
#include "QVScenarioBuilder.h"
#include "QVScenarioContext.h"
#include "QVScenarioRunner.h"
#include "QVSchedBaseBuilder.h"
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

// The ID attributes of the Scheduler elements of the document, quoted, at most `limit` of them.
std::string schedulerIds(const QVXmlNode& anyNode, std::size_t limit) {
  std::string ids;
  std::size_t listed = 0;
  for (const QVXmlNode& scheduler : anyNode.selectNodes("//Scheduler")) {
    std::string id;
    if (!scheduler.attribute("ID", id)) continue;
    if (listed++ == limit) return ids + ", ...";
    ids += (ids.empty() ? "\"" : ", \"") + id + "\"";
  }
  return ids;
}

// A suggestion for a SchedulerType text near Global or Groups, or for a body element near the
// one the type names ("Group" for "Groups").
std::string bodyHint(const QVXmlNode& manual, const std::string& type) {
  const std::string nearType = QVNearestName(type, {"Global", "Groups"});
  if (!nearType.empty()) return "; did you mean " + nearType + "?";
  for (QVXmlNode child = manual.firstChild(); child; child = child.nextSibling()) {
    if (child.isElement() && !QVNearestName(child.nodeName(), {type}).empty()) {
      return "; did you mean " + type + " for " + child.nodeName() + "?";
    }
  }
  return std::string();
}

// Why the document holds no definition in use: it did not load, nothing names the current
// scheduler, no Scheduler has that ID, or the one that has it holds no Manual. The loader logs
// nothing in these cases; only the diagnostics say which.
void reportDefinitionNotFound(CXmlReader& reader) {
  if (reader.GetParseError().code != 0) {
    QVDefinitionParseError(reader.GetParseError());
    return;
  }
  if (!reader.GetRoot()) {  // no document at all: an empty file name, a failed platform call
    QVDefinitionError(QVXmlNode(), reader.getErrorText().empty() ? "no document was loaded" : reader.getErrorText());
    return;
  }
  QVXmlNode current;
  if (!QVSelectDefinitionNode(reader.GetRoot(), "//Schedulers/CurrentSchedulerId", current)) {
    QVDefinitionError(reader.GetRoot(), "no Schedulers/CurrentSchedulerId: nothing names the definition to use", "",
                      "a Schedulers element (in no namespace) holding CurrentSchedulerId, the ID of the Scheduler "
                      "to use");
    return;
  }
  const std::string id = current.text();
  for (const QVXmlNode& scheduler : current.selectNodes("//Scheduler")) {
    std::string schedulerId;
    if (!scheduler.attribute("ID", schedulerId) || schedulerId != id) continue;
    if (scheduler.childElement("Manual")) {
      QVDefinitionError(current, "CurrentSchedulerId names no Scheduler: its text must equal the ID exactly, white "
                                 "space included",
                        id, "the ID \"" + id + "\" with no white space around it");
    } else {
      QVDefinitionError(scheduler, "the Scheduler with ID \"" + id + "\" has no Manual", "",
                        QVExpectedChild(scheduler, {"Manual"}, ", which holds the definition"));
    }
    return;
  }
  const std::string ids = schedulerIds(current, 5);
  QVDefinitionError(current, "no Scheduler has the ID \"" + id + "\" that CurrentSchedulerId names", id,
                    ids.empty() ? std::string("a Scheduler element with that ID attribute")
                                : "the ID of a Scheduler: " + ids);
}

}  // namespace

bool CQVLoadTestSchedulerRunnerBuilder::buildFromXMLFile(CQVLoadTestSchedulerRunner& root, const char* path) {
  QV_TRACE_SCOPE("CQVLoadTestSchedulerRunnerBuilder::buildFromXMLFile");
  CQVDefinitionReport report;
  CXmlReader reader;
  reader.CreateDocument();
  ScopedOsStr osPath;
  makeOsStr(osPath, path);
  // A file that does not load leaves no document element; build then finds no definition.
  reader.Load(osPath.get());
  const bool loaded = build(root, reader);
  report.finish(loaded);
  return loaded;
}

bool CQVLoadTestSchedulerRunnerBuilder::buildFromXMLString(CQVLoadTestSchedulerRunner& root, const char* xml) {
  QV_TRACE_SCOPE("CQVLoadTestSchedulerRunnerBuilder::buildFromXMLString");
  CQVDefinitionReport report;
  CXmlReader reader;
  reader.CreateDocument();
  ScopedOsStr osText;
  makeOsStr(osText, xml);
  reader.LoadXML(osText.get());
  const bool loaded = build(root, reader);
  report.finish(loaded);
  return loaded;
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
    reportDefinitionNotFound(reader);
    return false;
  }
  QVXmlNode typeNode;
  if (!QVSelectDefinitionNode(manual, "SchedulerType", typeNode)) {
    QVDefinitionError(manual, "Manual has no SchedulerType", "",
                      QVExpectedChild(manual, {"SchedulerType"}, ": Global or Groups"));
    return false;
  }
  // The type text names the child of "Manual" that holds the body; it is looked up as a name and
  // never evaluated. A text that is no element name (empty, holding a space or a path) names no
  // child and is reported like a missing one.
  const std::string type = typeNode.text();
  QVCheckDefinitionVocabulary(manual, type);
  const QVXmlNode body = manual.childElement(type);
  if (body.isNull()) {
    const char* const missingNode = "Error occured while parsing scheduler's XML - Missing node: %_1_s";
    QVScheduleLog().logErrorFormatted(missingNode, __LINE__, qvSourceFile, {"SchedulerType"});
    QVDefinitionError(typeNode, QVFormatPositional(missingNode, {"SchedulerType"}), type,
                      "Global or Groups, and an element of that name in Manual" + bodyHint(manual, type));
    return false;
  }
  if (type == "Global") {
    return buildSchedulerByScenario(root, body);
  }
  if (type == "Groups") {
    CQVGroupsBuilder groupsBuilder(services);
    return groupsBuilder.buildSchedulerByGroups(root, body);
  }
  const char* const unexpectedType = "Unexpected scheduler type: %_1_s";
  QVScheduleLog().logErrorFormatted(unexpectedType, __LINE__, qvSourceFile, {type});
  QVDefinitionError(typeNode, QVFormatPositional(unexpectedType, {type}), type,
                    "Global or Groups" + bodyHint(manual, type));
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
