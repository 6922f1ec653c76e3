// Loading scheduler definitions (tests/data/*.xml and generated texts) into a root runner: what is
// refused with which message, and what the built runners look like.
#include "HostileInputSupport.h"
#include "QVGroupActionRunnerFinishedEventDef.h"
#include "QVGroupContext.h"
#include "QVGroupRunner.h"
#include "QVGroupsBuilder.h"
#include "QVDefinitionDiagnostics.h"
#include "QVHostEventDefs.h"
#include "QVLoadTestSchedulerRunner.h"
#include "QVLoadTestSchedulerRunnerBuilder.h"
#include "QVRunDurationActionRunner.h"
#include "QVScenarioActionRunnerFinishedEventDef.h"
#include "QVScenarioRunner.h"
#include "QVScheduleServices.h"
#include "QVSchedulerFacade.h"
#include "QVTestSupport.h"
#include "QVXmlDom.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <stdexcept>
#include <string>
#include <vector>

using testing::ElementsAre;
using testing::IsEmpty;

namespace {

const char* const kMissingNode = "Error occured while parsing scheduler's XML - Missing node: ";

std::string dataPath(const std::string& name) { return std::string(QV_TEST_DATA_DIR) + "/" + name; }

// A services object and a root runner as the controller holds them; the root goes first.
class LoadedDefinition {
 public:
  LoadedDefinition() = default;
  LoadedDefinition(const LoadedDefinition&) = delete;
  LoadedDefinition& operator=(const LoadedDefinition&) = delete;
  ~LoadedDefinition() { root.stop(); }

  // Loads as the controller does, under the scheduler lock; a null path or text is a load of nothing.
  bool loadFile(const std::string& name) { return loadPath(dataPath(name).c_str()); }
  bool loadPath(const char* path) {
    const CQVSchedulerLockGuard lock(services.getSchedulerLock());
    CQVLoadTestSchedulerRunnerBuilder builder(&services);
    return builder.buildFromXMLFile(root, path);
  }
  bool loadString(const char* xml) {
    const CQVSchedulerLockGuard lock(services.getSchedulerLock());
    CQVLoadTestSchedulerRunnerBuilder builder(&services);
    return builder.buildFromXMLString(root, xml);
  }
  bool loadString(const std::string& xml) { return loadString(xml.c_str()); }
  void setScheduleByGroup() {
    const CQVSchedulerLockGuard lock(services.getSchedulerLock());
    services.setScheduleByGroup();
  }

  // Scheduler runners in the order they were added (the root keeps them the other way round).
  std::vector<const CQVSchedulerRunner*> runners() {
    const CQVSchedulerLockGuard lock(services.getSchedulerLock());
    std::vector<const CQVSchedulerRunner*> result;
    const auto& list = root.getSchedulerRunners();
    for (auto it = list.rbegin(); it != list.rend(); ++it) result.push_back(it->get());
    return result;
  }

  CQVScheduleServices services;
  CQVLoadTestSchedulerRunner root;
};

std::string describeCondition(const CQVEventDef& def) {
  if (const auto* groupAction = dynamic_cast<const CQVGroupActionRunnerFinishedEventDef*>(&def)) {
    return "after " + groupAction->getGroupName() + ":" + std::to_string(groupAction->getActionId());
  }
  if (const auto* scenarioAction = dynamic_cast<const CQVScenarioActionRunnerFinishedEventDef*>(&def)) {
    return "after " + std::to_string(scenarioAction->getActionId());
  }
  if (dynamic_cast<const CQVScenarioAllVusersInitEventDef*>(&def)) {
    return "scenario initialized";
  }
  if (const auto* group = dynamic_cast<const CQVGroupFinishedRunningEventDef*>(&def)) {
    return "group " + group->getGroupName() + " finished";
  }
  return "unexpected " + def.toString();
}

// "<id> <description>[ pre-run][ [start conditions]]" per action, in list order.
std::vector<std::string> describeActions(const CQVSchedulerRunner& runner) {
  std::vector<std::string> result;
  for (const auto& action : runner.getActionRunners()) {
    std::string text = std::to_string(action->getActionId()) + " " + action->getDescription();
    if (dynamic_cast<const CQVRunDurationActionRunner*>(action.get()) && action->isPreRunAction()) {
      text += " pre-run";
    }
    std::string conditions;
    for (const CQVBaseRunnerEventHandler* handler : action->getStartConditionEventHandlers()) {
      conditions += (conditions.empty() ? "" : ", ") + describeCondition(handler->getEventDef());
    }
    if (!conditions.empty()) text += " [" + conditions + "]";
    result.push_back(text);
  }
  return result;
}

std::string groupName(const CQVSchedulerRunner& runner) {
  const auto* context = dynamic_cast<const CQVGroupContext*>(runner.getContext());
  return context ? context->getGroupName() : "<not a group>";
}

const CQVGroupRunner& asGroup(const CQVSchedulerRunner* runner) {
  const auto* group = dynamic_cast<const CQVGroupRunner*>(runner);
  if (!group) throw std::runtime_error("not a group runner");
  return *group;
}

std::vector<std::string> groupNames(LoadedDefinition& loaded) {
  std::vector<std::string> names;
  for (const CQVSchedulerRunner* runner : loaded.runners()) names.push_back(groupName(*runner));
  return names;
}

std::vector<std::string> errors(const ScopedMemoryLog& log) { return log->texts("QVSchedule", QVLogKind::Error); }

struct RefusedDefinition {
  const char* file;
  std::vector<std::string> errors;
};

// The refusal of the last load, as CQVDefinitionDiagnostics gives it to hosts: located in the
// document, with the logged message when there is one (else a description of its own).
void expectLocatedRefusal(const std::vector<std::string>& logged) {
  QVDefinitionDiagnostic error;
  ASSERT_TRUE(CQVDefinitionDiagnostics::getLastLoadError(error));
  EXPECT_EQ(error.severity, QVDefinitionDiagnostic::SEVERITY_ERROR);
  EXPECT_EQ(error.message, logged.empty() ? error.message : logged.back());
  EXPECT_FALSE(error.message.empty());
  EXPECT_GT(error.line, 0u);
  EXPECT_GT(error.column, 0u);
}

// Loads each file into a fresh root: refused, exactly the listed errors, a located refusal,
// nothing attached, and the schedule mode of the services object untouched.
void expectRefused(const std::vector<RefusedDefinition>& cases) {
  for (const RefusedDefinition& refused : cases) {
    SCOPED_TRACE(refused.file);
    ScopedMemoryLog log;
    LoadedDefinition loaded;
    bool result = true;
    EXPECT_NO_THROW(result = loaded.loadFile(refused.file));
    EXPECT_FALSE(result);
    EXPECT_EQ(errors(log), refused.errors);
    EXPECT_TRUE(loaded.runners().empty());
    expectLocatedRefusal(refused.errors);
  }
}

}  // namespace

TEST(DefinitionLoading, DefinitionNotFoundIsRefusedWithoutMessage) {
  for (const char* file :
       {"no_matching_scheduler.xml", "malformed.xml", "does_not_exist.xml", "missing_scheduler_type.xml",
        // Unprefixed names select elements in no namespace only.
        "default_namespace.xml", "undeclared_prefix.xml"}) {
    SCOPED_TRACE(file);
    ScopedMemoryLog log;
    LoadedDefinition loaded;
    loaded.setScheduleByGroup();
    EXPECT_FALSE(loaded.loadFile(file));
    EXPECT_THAT(errors(log), IsEmpty());
    EXPECT_TRUE(loaded.runners().empty());
    EXPECT_TRUE(loaded.services.isScheduleByGroup());
    EXPECT_EQ(loaded.root.getServices(), &loaded.services);
    // Only the diagnostics say why: a file that cannot be read has no position.
    if (std::string(file) == "does_not_exist.xml") {
      QVDefinitionDiagnostic error;
      ASSERT_TRUE(CQVDefinitionDiagnostics::getLastLoadError(error));
      EXPECT_EQ(error.message, "cannot read the file: No such file or directory");
      EXPECT_EQ(error.line, 0u);
    } else {
      expectLocatedRefusal({});
    }
  }
  ScopedMemoryLog log;
  LoadedDefinition loaded;
  EXPECT_FALSE(loaded.loadPath(nullptr));
  EXPECT_FALSE(loaded.loadString(static_cast<const char*>(nullptr)));
  EXPECT_FALSE(loaded.loadString(""));
  EXPECT_THAT(errors(log), IsEmpty());
}

TEST(DefinitionLoading, SchedulerTypeNamesTheBodyElement) {
  const std::string missingType = std::string(kMissingNode) + "SchedulerType";
  expectRefused({
      {"groups_type_without_groups.xml", {missingType}},
      {"lowercase_global_with_child.xml", {"Unexpected scheduler type: global"}},
      {"lowercase_global_without_child.xml", {missingType}},
      // Texts that are no element name are refused like a missing body, never by an exception.
      {"empty_scheduler_type.xml", {missingType}},
      {"scheduler_type_with_space.xml", {missingType}},
  });
}

TEST(DefinitionLoading, GroupsRefusedBeforeAnyGroupIsBuilt) {
  expectRefused({
      {"missing_init_all_before_start.xml", {std::string(kMissingNode) + "InitAllBeforeStart"}},
      // "InitAllBeforeStart" is missing here too, but it is not read when there are no groups.
      {"groups_without_group_scheduler.xml",
       {"Error occured while parsing scheduler's XML - No GroupScheduler node is found"}},
      {"group_without_name.xml", {std::string(kMissingNode) + "GroupName"}},
      {"group_without_startup_mode.xml", {std::string(kMissingNode) + "StartupMode"}},
  });
  ScopedMemoryLog log;
  LoadedDefinition loaded;
  EXPECT_FALSE(loaded.loadFile("missing_init_all_before_start.xml"));
  EXPECT_FALSE(loaded.services.isScheduleByGroup());
}

TEST(DefinitionLoading, GroupReferenceValidation) {
  const std::string loop = "Error occured while parsing scheduler's XML - loop of references between group schedulers.";
  const std::string missing = "Error occured while parsing scheduler's XML - group scheduler ";
  expectRefused({
      {"group_refs_self.xml", {loop}},
      {"group_refs_ring.xml", {loop}},
      {"group_refs_missing.xml", {missing + "a starts after non existing group x"}},
      // "a" is examined first; the loop of "b" is never reached.
      {"group_refs_missing_then_loop.xml", {missing + "a starts after non existing group x"}},
      // Starting at the scenario's beginning wins, but the reference is still checked.
      {"group_refs_both_modes_missing.xml", {missing + "b starts after non existing group nobody"}},
  });

  for (const char* file : {"group_refs_chain.xml", "group_refs_earlier_chain.xml"}) {
    SCOPED_TRACE(file);
    ScopedMemoryLog log;
    LoadedDefinition loaded;
    EXPECT_TRUE(loaded.loadFile(file));
    EXPECT_THAT(errors(log), IsEmpty());
    EXPECT_EQ(loaded.runners().size(), 3u);
  }

  // Only the first "g" counts for validation (the second names a missing group); both are built.
  ScopedMemoryLog log;
  LoadedDefinition loaded;
  EXPECT_TRUE(loaded.loadFile("group_refs_duplicate_names.xml"));
  EXPECT_THAT(errors(log), IsEmpty());
  ASSERT_EQ(loaded.runners().size(), 2u);
  EXPECT_THAT(groupNames(loaded), ElementsAre("g", "g"));
  EXPECT_EQ(asGroup(loaded.runners()[0]).getPreviousGroupName(), "");
  EXPECT_EQ(asGroup(loaded.runners()[1]).getPreviousGroupName(), "x");
  EXPECT_THAT(describeActions(*loaded.runners()[1]), ElementsAre("1 RunAll @ [group x finished]"));
}

TEST(DefinitionLoading, FailedGroupBuildKeepsTheGroupsBuiltBeforeIt) {
  struct Case {
    const char* file;
    std::vector<std::string> errors;
    std::vector<std::string> attached;
  };
  const std::vector<Case> cases = {
      {"groups_unknown_action_in_second.xml", {"Unknown action runner name: Jump"}, {"a"}},
      {"group_without_known_startup_mode.xml",
       {"Error occured while parsing scheduler's XML - Missing startup mode"},
       {"g1"}},
      {"group_without_scheduling.xml", {}, {"g1"}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.file);
    ScopedMemoryLog log;
    LoadedDefinition loaded;
    EXPECT_FALSE(loaded.loadFile(c.file));
    EXPECT_EQ(errors(log), c.errors);
    expectLocatedRefusal(c.errors);
    EXPECT_EQ(groupNames(loaded), c.attached);
    EXPECT_TRUE(loaded.services.isScheduleByGroup());
  }
}

TEST(DefinitionLoading, ScheduleBodyMessages) {
  const std::string batch = "Failed to retrieve action's batch data.";
  const std::string total = "Failed to retrieve action's total vusers amount.";
  expectRefused({
      {"global_without_scheduling.xml", {}},
      {"initialization_without_action.xml",
       {"Error occurred while parsing the dynamic scheduler XML. missing data inside \"RampInit\" node."}},
      {"scheduling_without_body.xml",
       {"Error occurred while parsing the dynamic scheduler XML. missing \"DynamicScheduling\" node."}},
      {"until_complete_empty.xml", {"Action runner name was empty while building action runners list."}},
      {"until_complete_run_indefinitely.xml", {}},
      {"unknown_action.xml", {"Unknown action runner name: runAll"}},
      {"comment_among_actions.xml", {"Unknown action runner name: #comment"}},
      // A processing instruction is a child node named after its target.
      {"pi_among_actions.xml", {"Unknown action runner name: Jump"}},
      {"pi_first_in_until_complete.xml", {"Unknown action runner name: note"}},
      {"prefixed_action.xml", {"Unknown action runner name: q:StopAll"}},
      {"init_all_in_dynamic.xml", {"Unknown action runner name: InitAll"}},
      {"batch_missing.xml", {batch}},
      {"batch_without_interval.xml", {batch}},
      {"batch_count_letters.xml", {batch}},
      {"batch_interval_zero.xml", {batch}},
      {"total_missing.xml", {total}},
      {"total_zero.xml", {total}},
      {"duration_without_run_for.xml", {"Failed to create duration action runner - missing \"RunFor\" node."}},
  });
}

TEST(DefinitionLoading, ScenarioScheduleActionsAreNumberedAndChained) {
  ScopedMemoryLog log;
  LoadedDefinition loaded;
  loaded.setScheduleByGroup();
  ASSERT_TRUE(loaded.loadFile("global_all_actions.xml"));
  EXPECT_THAT(errors(log), IsEmpty());
  EXPECT_EQ(log->count("No initialization part was found in the dynamic scheduler."), 0u);
  EXPECT_FALSE(loaded.services.isScheduleByGroup());
  ASSERT_EQ(loaded.runners().size(), 1u);
  const CQVSchedulerRunner& scenario = *loaded.runners()[0];
  EXPECT_NE(dynamic_cast<const CQVScenarioRunner*>(&scenario), nullptr);
  EXPECT_EQ(scenario.getServices(), &loaded.services);
  ASSERT_NE(scenario.getContext(), nullptr);
  EXPECT_EQ(scenario.getContext()->runMode, CQVVusersServices::RUN_INDEFINITELY);
  // "5 vusers", " 20" and "+12" read as numbers; "RunIndefinitely" adds nothing; "RunFor" -5 is 0;
  // processing instructions outside the actions are ignored.
  EXPECT_THAT(
      describeActions(scenario),
      ElementsAre("1 InitAll", "2 Duration @ 30 sec [after 1]", "3 Run @ 5 vusers [after 2]", "4 RunAll @ [after 3]",
                  "5 RampUp @ total 12, 5 every 20 sec [after 4]", "6 RampUpAll @ 4 every 7 sec [after 5]",
                  "7 Duration @ 0 sec [after 6]", "8 Stop @ 2 vusers [after 7]",
                  "9 RampDown @ total 6, 1 every 3 sec [after 8]", "10 RampDownAll @ 2 every 9 sec [after 9]",
                  "11 Duration @ 0 sec [after 10]", "12 StopAll [after 11]"));
  for (const auto& action : scenario.getActionRunners()) {
    EXPECT_EQ(action->getServices(), &loaded.services);
    EXPECT_EQ(action->getContext(), scenario.getContext());
  }

  // Only the first child of "RunUntilComplete" is read and "DynamicScheduling" is ignored;
  // "DelayAfterInitialization" 0 adds no wait.
  ASSERT_TRUE(loaded.loadFile("global_until_complete_and_dynamic.xml"));
  ASSERT_EQ(loaded.runners().size(), 1u);
  EXPECT_EQ(loaded.runners()[0]->getContext()->runMode, CQVVusersServices::RUN_UNTIL_COMPLETE);
  EXPECT_THAT(describeActions(*loaded.runners()[0]),
              ElementsAre("1 RampInitAll @ 10 every 5 sec", "2 RampUpAll @ 2 every 15 sec [after 1]"));

  ASSERT_TRUE(loaded.loadFile("global_without_initialization.xml"));
  EXPECT_EQ(log->count("No initialization part was found in the dynamic scheduler."), 1u);
  EXPECT_THAT(log->texts("QVSchedule", QVLogKind::Notice),
              ElementsAre("No initialization part was found in the dynamic scheduler."));
  ASSERT_EQ(loaded.runners().size(), 1u);
  EXPECT_THAT(describeActions(*loaded.runners()[0]),
              ElementsAre("1 RampUpAll @ 2 every 15 sec", "2 Duration @ 300 sec [after 1]", "3 StopAll [after 2]"));

  ASSERT_TRUE(loaded.loadFile("global_empty_dynamic.xml"));
  ASSERT_EQ(loaded.runners().size(), 1u);
  EXPECT_THAT(describeActions(*loaded.runners()[0]), ElementsAre("1 InitAll"));
  EXPECT_THAT(errors(log), IsEmpty());
}

TEST(DefinitionLoading, GroupStartConditions) {
  ScopedMemoryLog log;
  LoadedDefinition loaded;
  ASSERT_TRUE(loaded.loadFile("groups_start_conditions.xml"));
  EXPECT_THAT(errors(log), IsEmpty());
  EXPECT_TRUE(loaded.services.isScheduleByGroup());
  EXPECT_THAT(groupNames(loaded), ElementsAre("begin", "delayed", "zero", "after", "afterInit", "emptyRef", "both"));
  const std::vector<const CQVSchedulerRunner*> groups = loaded.runners();
  ASSERT_EQ(groups.size(), 7u);
  EXPECT_THAT(describeActions(*groups[0]), ElementsAre("1 RampInitAll @ 5 every 10 sec", "2 RunAll @ [after begin:1]"));
  EXPECT_THAT(describeActions(*groups[1]), ElementsAre("1 Duration @ 60 sec pre-run", "2 InitAll [after delayed:1]",
                                                       "3 RunAll @ [after delayed:2]"));
  EXPECT_THAT(describeActions(*groups[2]), ElementsAre("1 RunAll @"));
  EXPECT_THAT(describeActions(*groups[3]),
              ElementsAre("1 RunAll @ [group begin finished]", "2 StopAll [after after:1]"));
  EXPECT_THAT(describeActions(*groups[4]),
              ElementsAre("1 InitAll [group begin finished]", "2 Duration @ 15 sec [after afterInit:1]",
                          "3 RunAll @ [after afterInit:2]"));
  EXPECT_THAT(describeActions(*groups[5]), ElementsAre("1 RunAll @"));
  EXPECT_THAT(describeActions(*groups[6]), ElementsAre("1 RunAll @"));
  const std::vector<std::string> previous = {"", "", "", "begin", "begin", "", ""};
  for (std::size_t i = 0; i < groups.size(); ++i) {
    SCOPED_TRACE(groupName(*groups[i]));
    EXPECT_EQ(asGroup(groups[i]).getPreviousGroupName(), previous[i]);
    EXPECT_EQ(groups[i]->getContext()->runMode, CQVVusersServices::RUN_INDEFINITELY);
    EXPECT_EQ(groups[i]->getServices(), &loaded.services);
  }

  ASSERT_TRUE(loaded.loadFile("groups_start_conditions_init_all.xml"));
  EXPECT_THAT(errors(log), IsEmpty());
  EXPECT_THAT(groupNames(loaded), ElementsAre("plain", "ramp", "delayed", "idle"));
  const std::vector<const CQVSchedulerRunner*> initGroups = loaded.runners();
  ASSERT_EQ(initGroups.size(), 4u);
  EXPECT_THAT(describeActions(*initGroups[0]),
              ElementsAre("1 InitAll", "2 RunAll @ [after plain:1, scenario initialized]"));
  EXPECT_THAT(describeActions(*initGroups[1]),
              ElementsAre("1 RampInitAll @ 5 every 10 sec",
                          "2 RunAll @ [after ramp:1, scenario initialized, group plain finished]"));
  EXPECT_EQ(asGroup(initGroups[1]).getPreviousGroupName(), "plain");
  EXPECT_THAT(describeActions(*initGroups[2]),
              ElementsAre("1 InitAll", "2 Duration @ 30 sec [after delayed:1]",
                          "3 Duration @ 60 sec pre-run [after delayed:2, scenario initialized]",
                          "4 RunAll @ [after delayed:3]"));
  EXPECT_EQ(initGroups[2]->getContext()->runMode, CQVVusersServices::RUN_UNTIL_COMPLETE);
  EXPECT_THAT(describeActions(*initGroups[3]), ElementsAre("1 InitAll"));

  // Only the exact text "true" initializes before the start.
  ASSERT_TRUE(loaded.loadFile("groups_init_all_capitalized_true.xml"));
  ASSERT_EQ(loaded.runners().size(), 1u);
  EXPECT_THAT(describeActions(*loaded.runners()[0]), ElementsAre("1 RunAll @"));
}

// A definition that would run, made not well-formed in each way a lenient parser lets through:
// refused like a document that did not load, without a message of the loader's.
TEST(DefinitionLoading, MalformedDefinitionsAreRefusedWithoutMessage) {
  const auto definition = [](const std::string& note, const std::string& before = "",
                             const std::string& after = "") {
    return before + "<?xml version=\"1.0\"?><LoadTest>" + note +
           "<Schedulers><CurrentSchedulerId>1</CurrentSchedulerId></Schedulers><Scheduler ID=\"1\"><Manual>"
           "<SchedulerType>Global</SchedulerType><Global><Scheduling><DynamicScheduling><RunAll/><StopAll/>"
           "</DynamicScheduling></Scheduling></Global></Manual></Scheduler></LoadTest>" +
           after;
  };
  ScopedMemoryLog log;
  LoadedDefinition loaded;
  ASSERT_TRUE(loaded.loadString(definition("<Note>fine &amp; &#x41;</Note><!-- fine -->")));
  const std::string malformed[] = {
      definition("", "", "<LoadTest/>"),
      definition("", "", "text"),
      definition("<Note>&undefined;</Note>"),
      definition("<Note>fish & chips</Note>"),
      definition("<Note a='x<y'/>"),
      definition("<Note a='1' a='2'/>"),
      definition("<Note>\x01</Note>"),
      definition("<Note>&#xZZ;</Note>"),
      definition("<!-- a -- b -->"),
      definition("", "\n"),
      definition("<p:Note/>"),
      definition("<Note>\xff</Note>"),
  };
  for (const std::string& xml : malformed) {
    SCOPED_TRACE(xml.substr(0, 60));
    EXPECT_FALSE(loaded.loadString(xml));
    EXPECT_TRUE(loaded.runners().empty());
    expectLocatedRefusal({});  // the parser's description, where it stopped
  }
  EXPECT_THAT(errors(log), IsEmpty());
}

// Shapes that used to crash a load or take minutes: each is decided in linear time, without
// recursion on depth or path length (on a 256 KB stack), and under a generous time bound.
TEST(DefinitionLoading, HostileShapesAreDecidedQuicklyOnASmallStack) {
  const auto definition = [](const std::string& type, const std::string& schedulers = "", const char* id = "1") {
    return "<LoadTest><Schedulers><CurrentSchedulerId>" + std::string(id) + "</CurrentSchedulerId></Schedulers>" +
           schedulers + "<Scheduler ID=\"" + id + "\"><Manual><SchedulerType>" + type +
           "</SchedulerType><Global><Scheduling><DynamicScheduling><RunAll/></DynamicScheduling></Scheduling>"
           "</Global></Manual></Scheduler></LoadTest>";
  };
  // Evaluated as XPath over this small document, the expression takes many seconds.
  std::string expression = "//*";
  for (int i = 0; i < 8; ++i) expression = "//*[count(" + expression + ")>0]";
  std::string steps = "Global";
  for (int i = 0; i < 100000; ++i) steps += "/Global";
  std::string schedulers;
  for (int i = 0; i < 60000; ++i) schedulers += "<Scheduler ID=\"s" + std::to_string(i) + "\"><Manual/></Scheduler>";
  // Made of warnings: elements nobody reads, numbers with units, and an unknown action after them.
  std::string unread;
  for (int i = 0; i < 300000; ++i) unread += "<Shedulin/>";
  std::string guesses;
  for (int i = 0; i < 100000; ++i) guesses += "<Duration><RunFor>5m</RunFor><Runfor/></Duration>";
  const auto warned = [&](const std::string& last) {
    return "<L><Schedulers><CurrentSchedulerId>1</CurrentSchedulerId></Schedulers><Scheduler ID=\"1\"><Manual>"
           "<SchedulerType>Global</SchedulerType><Global>" + unread + "<Scheduling><DynamicScheduling>" + guesses +
           last + "</DynamicScheduling></Scheduling></Global></Manual></Scheduler></L>";
  };
  struct Case {
    const char* what;
    std::string xml;
    bool accepted;
    std::vector<std::string> errors;
  };
  const std::string missingType = std::string(kMissingNode) + "SchedulerType";
  const std::vector<Case> cases = {
      {"type text at the nesting limit", definition(nestedIn(QVXmlDocument::kMaxDepth - 5, "Global")), true, {}},
      {"type text 200,000 levels deep", definition(nestedIn(200000, "Global")), false, {}},
      {"1,000,000 levels", nestedIn(1000000, ""), false, {}},
      {"type text as a path of 100,000 steps", definition(steps), false, {missingType}},
      {"type text as a nested expression", definition(expression), false, {missingType}},
      {"60,000 schedulers before the current one", definition("Global", schedulers, "last"), true, {}},
      {"500,000 warnings", warned(""), true, {}},
      {"500,000 warnings and an unknown action", warned("<Jump/>"), false, {"Unknown action runner name: Jump"}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    ScopedMemoryLog log(false, false);  // errors still reach the sink
    LoadedDefinition loaded;
    bool accepted = !c.accepted;
    const double seconds = secondsTaken([&] { runOnSmallStack([&] { accepted = loaded.loadString(c.xml); }); });
    EXPECT_EQ(accepted, c.accepted);
    EXPECT_EQ(errors(log), c.errors);
    EXPECT_LE(CQVDefinitionDiagnostics::getLastLoadDiagnostics().size(), CQVDefinitionDiagnostics::kMaxWarnings + 1);
    EXPECT_LT(seconds, 10.0);
  }
}

TEST(DefinitionLoading, LongChainOfGroupReferences) {
  // Group i starts after group i + 1, so the chain examined from the smallest name is 100,000 long.
  const int kGroups = 100000;
  const auto name = [](int i) {
    std::string digits = std::to_string(i);
    return "g" + std::string(6 - digits.size(), '0') + digits;
  };
  const std::string loop = "Error occured while parsing scheduler's XML - loop of references between group schedulers.";
  // Traces of 100,000 groups are not kept; errors still reach the sink.
  ScopedMemoryLog log(false, false);
  CQVScheduleServices services;
  CQVGroupsBuilder groupsBuilder(&services);
  const auto validate = [&](const std::string& lastReference) {
    CQVGroupsBuilder::GroupsReferences references;
    CQVGroupsBuilder::GroupNames names;
    for (int i = 0; i < kGroups; ++i) {
      references.emplace(name(i), i + 1 < kGroups ? name(i + 1) : lastReference);
      names.insert(name(i));
    }
    log->clear();
    return groupsBuilder.validateGroups(references, names);
  };
  // A ring through all of them, and a chain whose far end names no group.
  EXPECT_FALSE(validate(name(0)));
  EXPECT_THAT(errors(log), ElementsAre(loop));
  EXPECT_FALSE(validate("h"));
  EXPECT_THAT(errors(log), ElementsAre("Error occured while parsing scheduler's XML - group scheduler g099999 starts "
                                       "after non existing group h"));

  // The same chain as a definition. "InitAllBeforeStart" is left out: it is read only after the
  // references were found valid, so its message alone shows that the chain passed (building
  // 100,000 groups is left out to keep this fast).
  std::string xml =
      "<LoadTest><Schedulers><CurrentSchedulerId>1</CurrentSchedulerId></Schedulers><Scheduler ID=\"1\"><Manual>"
      "<SchedulerType>Groups</SchedulerType><Groups>";
  xml.reserve(static_cast<std::size_t>(kGroups) * 110);
  for (int i = 0; i < kGroups; ++i) {
    const std::string startup =
        i + 1 < kGroups ? "<StartAfterGroup>" + name(i + 1) + "</StartAfterGroup>" : "<StartAtScenarioBegining/>";
    xml += "<GroupScheduler><GroupName>" + name(i) + "</GroupName><StartupMode>" + startup +
           "</StartupMode></GroupScheduler>";
  }
  xml += "</Groups></Manual></Scheduler></LoadTest>";
  log->clear();
  LoadedDefinition loaded;
  EXPECT_FALSE(loaded.loadString(xml));
  EXPECT_THAT(errors(log), ElementsAre(std::string(kMissingNode) + "InitAllBeforeStart"));
  EXPECT_TRUE(loaded.runners().empty());
}

TEST(DefinitionLoading, LongGroupNamesAreKeptWhole) {
  const std::string longName(5000, 'n');
  const std::string otherName = std::string(3000, 'o') + "x";
  const auto group = [](const std::string& name, const std::string& startup) {
    return "<GroupScheduler><GroupName>" + name + "</GroupName><StartupMode>" + startup +
           "</StartupMode><Scheduling><DynamicScheduling><RunAll/></DynamicScheduling></Scheduling></GroupScheduler>";
  };
  const auto definition = [](const std::string& groups) {
    return "<LoadTest><Schedulers><CurrentSchedulerId>1</CurrentSchedulerId></Schedulers><Scheduler ID=\"1\"><Manual>"
           "<SchedulerType>Groups</SchedulerType><Groups><InitAllBeforeStart>false</InitAllBeforeStart>" +
           groups + "</Groups></Manual></Scheduler></LoadTest>";
  };
  ScopedMemoryLog log;
  LoadedDefinition loaded;
  ASSERT_TRUE(loaded.loadString(definition(group(longName, "<StartAtScenarioBegining/>") +
                                           group(otherName, "<StartAfterGroup>" + longName + "</StartAfterGroup>"))));
  EXPECT_THAT(errors(log), IsEmpty());
  EXPECT_THAT(groupNames(loaded), ElementsAre(longName, otherName));
  const std::vector<const CQVSchedulerRunner*> groups = loaded.runners();
  ASSERT_EQ(groups.size(), 2u);
  EXPECT_EQ(asGroup(groups[1]).getPreviousGroupName(), longName);
  EXPECT_THAT(describeActions(*groups[1]), ElementsAre("1 RunAll @ [group " + longName + " finished]"));

  // A reference that differs from a long name only in its last character names no group.
  const std::string nearlyLong = std::string(4999, 'n') + "m";
  EXPECT_FALSE(
      loaded.loadString(definition(group(longName, "<StartAtScenarioBegining/>") +
                                   group(otherName, "<StartAfterGroup>" + nearlyLong + "</StartAfterGroup>"))));
  EXPECT_THAT(errors(log), ElementsAre("Error occured while parsing scheduler's XML - group scheduler " + otherName +
                                       " starts after non existing group " + nearlyLong));
}

TEST(DefinitionLoading, EachLoadReplacesTheWholeSchedule) {
  ScopedMemoryLog log;
  LoadedDefinition loaded;
  ASSERT_TRUE(loaded.loadFile("global_typical_road.xml"));
  ASSERT_EQ(loaded.runners().size(), 1u);
  EXPECT_THAT(
      describeActions(*loaded.runners()[0]),
      ElementsAre("1 RampUp @ total 10, 3 every 15 sec", "2 Duration @ 60 sec [after 1]", "3 StopAll [after 2]"));

  ASSERT_TRUE(loaded.loadFile("groups_example.xml"));
  EXPECT_THAT(groupNames(loaded), ElementsAre("g1", "g2"));
  EXPECT_THAT(describeActions(*loaded.runners()[0]),
              ElementsAre("1 RampInitAll @ 5 every 10 sec", "2 RampUpAll @ 2 every 15 sec [after g1:1]",
                          "3 Duration @ 300 sec [after g1:2]", "4 StopAll [after g1:3]"));
  EXPECT_THAT(describeActions(*loaded.runners()[1]), ElementsAre("1 RunAll @ [group g1 finished]"));
  EXPECT_EQ(loaded.runners()[0]->getContext()->runMode, CQVVusersServices::RUN_INDEFINITELY);
  EXPECT_EQ(loaded.runners()[1]->getContext()->runMode, CQVVusersServices::RUN_UNTIL_COMPLETE);

  // A refused definition leaves nothing of the one before.
  EXPECT_FALSE(loaded.loadFile("no_matching_scheduler.xml"));
  EXPECT_TRUE(loaded.runners().empty());
  EXPECT_THAT(errors(log), IsEmpty());
}

TEST(DefinitionLoading, FacadeLoadsFilesAndStrings) {
  ScopedMemoryLog log;
  CQVVusersServices::RunMode mode = CQVVusersServices::RUN_INDEFINITELY;

  EXPECT_TRUE(CQVSchedulerFacade::setXMLFile(dataPath("global_typical_road.xml").c_str()));
  EXPECT_TRUE(CQVSchedulerFacade::GetScenarioRunMode(mode));
  EXPECT_EQ(mode, CQVVusersServices::RUN_INDEFINITELY);

  EXPECT_TRUE(CQVSchedulerFacade::setXMLFile(dataPath("groups_example.xml").c_str()));
  EXPECT_FALSE(CQVSchedulerFacade::GetScenarioRunMode(mode));
  EXPECT_TRUE(CQVSchedulerFacade::GetGroupRunMode("g2", mode));
  EXPECT_EQ(mode, CQVVusersServices::RUN_UNTIL_COMPLETE);
  EXPECT_TRUE(CQVSchedulerFacade::GetGroupRunMode("g1", mode));
  EXPECT_EQ(mode, CQVVusersServices::RUN_INDEFINITELY);
  EXPECT_THAT(errors(log), IsEmpty());

  // A path that does not exist: refused without a message, and the groups are gone.
  EXPECT_FALSE(CQVSchedulerFacade::setXMLFile(dataPath("no_such_definition.xml").c_str()));
  EXPECT_FALSE(CQVSchedulerFacade::GetGroupRunMode("g1", mode));
  EXPECT_THAT(errors(log), IsEmpty());

  EXPECT_FALSE(CQVSchedulerFacade::setXMLFile(dataPath("lowercase_global_with_child.xml").c_str()));
  EXPECT_THAT(errors(log), ElementsAre("Unexpected scheduler type: global"));
  QVDefinitionDiagnostic error;
  ASSERT_TRUE(CQVDefinitionDiagnostics::getLastLoadError(error));
  EXPECT_EQ(error.message, "Unexpected scheduler type: global");
  EXPECT_EQ(error.path, "/LoadTest/Scheduler[@ID=\"1\"]/Manual/SchedulerType");
  EXPECT_EQ(error.line, 8u);
  EXPECT_EQ(error.column, 7u);
  EXPECT_EQ(error.value, "global");
  EXPECT_EQ(error.expected, "Global or Groups; did you mean Global?");

  EXPECT_TRUE(CQVSchedulerFacade::setXMLString(
      "<D><Schedulers><CurrentSchedulerId>4</CurrentSchedulerId></Schedulers><Scheduler ID=\"4\"><Manual>"
      "<SchedulerType>Global</SchedulerType><Global><Scheduling><RunUntilComplete><RunAll/></RunUntilComplete>"
      "</Scheduling></Global></Manual></Scheduler></D>"));
  EXPECT_TRUE(CQVSchedulerFacade::GetScenarioRunMode(mode));
  EXPECT_EQ(mode, CQVVusersServices::RUN_UNTIL_COMPLETE);
  EXPECT_FALSE(CQVDefinitionDiagnostics::getLastLoadError(error));
  EXPECT_THAT(CQVDefinitionDiagnostics::getLastLoadDiagnostics(), IsEmpty());
  EXPECT_FALSE(CQVSchedulerFacade::setXMLString(nullptr));
  EXPECT_FALSE(CQVSchedulerFacade::GetScenarioRunMode(mode));
  CQVSchedulerFacade::stop();
}

// What the reader guesses is warned about, in document order, on top of a load that is not
// changed by it; a later load replaces the warnings; a flood of them is cut at the limit.
TEST(DefinitionLoading, WarningsOfALoadAreKeptInDocumentOrderAndBounded) {
  ScopedMemoryLog log;
  LoadedDefinition loaded;
  ASSERT_TRUE(loaded.loadFile("group_refs_duplicate_names.xml"));
  std::vector<std::string> warnings;
  for (const QVDefinitionDiagnostic& d : CQVDefinitionDiagnostics::getLastLoadDiagnostics()) {
    EXPECT_EQ(d.severity, QVDefinitionDiagnostic::SEVERITY_WARNING);
    warnings.push_back(std::to_string(d.line) + ":" + std::to_string(d.column) + " " + d.message);
  }
  EXPECT_THAT(warnings,
              ElementsAre("21:11 group name \"g\" is used by an earlier group too: both groups are built, and only "
                          "the first one's StartAfterGroup is checked",
                          "22:24 group g can never start: it waits for group x to finish running, and group x does "
                          "not exist"));
  QVDefinitionDiagnostic error;
  EXPECT_FALSE(CQVDefinitionDiagnostics::getLastLoadError(error));
  EXPECT_THAT(errors(log), IsEmpty());

  // Refused: the warnings found before the refusal, then the error last.
  ASSERT_FALSE(loaded.loadFile("group_without_known_startup_mode.xml"));
  const std::vector<QVDefinitionDiagnostic> refused = CQVDefinitionDiagnostics::getLastLoadDiagnostics();
  ASSERT_EQ(refused.size(), 2u);
  EXPECT_EQ(refused[0].message, "unknown element StartAtScenarioBeginning in StartupMode is not read");
  EXPECT_EQ(refused[1].severity, QVDefinitionDiagnostic::SEVERITY_ERROR);
  EXPECT_EQ(refused[1].message, "Error occured while parsing scheduler's XML - Missing startup mode");

  ASSERT_TRUE(loaded.loadFile("global_typical_road.xml"));
  EXPECT_THAT(CQVDefinitionDiagnostics::getLastLoadDiagnostics(), IsEmpty());

  std::string durations;
  for (int i = 0; i < 150; ++i) durations += "<Duration><RunFor>5m</RunFor></Duration>";
  ASSERT_TRUE(loaded.loadString(
      "<L><Schedulers><CurrentSchedulerId>1</CurrentSchedulerId></Schedulers><Scheduler ID=\"1\"><Manual>"
      "<SchedulerType>Global</SchedulerType><Global><Scheduling><DynamicScheduling>" +
      durations + "</DynamicScheduling></Scheduling></Global></Manual></Scheduler></L>"));
  const std::vector<QVDefinitionDiagnostic> flood = CQVDefinitionDiagnostics::getLastLoadDiagnostics();
  ASSERT_EQ(flood.size(), CQVDefinitionDiagnostics::kMaxWarnings);
  EXPECT_EQ(flood.front().path, "/L/Scheduler[@ID=\"1\"]/Manual/Global/Scheduling/DynamicScheduling/Duration[1]/RunFor");
  EXPECT_EQ(flood[98].path, "/L/Scheduler[@ID=\"1\"]/Manual/Global/Scheduling/DynamicScheduling/Duration[99]/RunFor");
  EXPECT_EQ(flood.back().message, "51 more warnings not listed");
  EXPECT_EQ(loaded.runners()[0]->getActionRunners().size(), 150u);
}
