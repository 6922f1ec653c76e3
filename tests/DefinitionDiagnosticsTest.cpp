// Diagnostics of definitions as the qvschedule program prints them (located errors and warnings,
// from the library's CQVDefinitionDiagnostics and the program's own pool check), the schema
// against the library's verdicts, and the summary of the load that preview prints.
#include "ProcessRun.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <future>
#include <map>
#include <sstream>
#include <string>
#include <vector>

namespace {

namespace fs = std::filesystem;

const std::string kCli = QVSCHEDULE_CLI;
const std::string kDiagnostics = std::string(QV_TEST_DATA_DIR) + "/diagnostics";

struct CheckCase {
  std::vector<std::string> args;
  int exitCode;
  std::string errors;     // the whole of standard error
  std::string firstLine;  // standard output's first line; empty when it must be empty
};

// Run in tests/data/diagnostics, so that the file names in the messages are short.
const std::vector<CheckCase> kCases = {
      {{"check", "batch_missing.xml"}, 1,
       "batch_missing.xml:13:15: warning: Count is not read in RampDownAll\n"
       "  at:       /LoadTest/Scheduler[@ID=\"1\"]/Manual/Global/Scheduling/DynamicScheduling/RampDownAll/Count\n"
       "  expected: RampDownAll holds Batch\n"
       "batch_missing.xml:14:15: warning: Interval is not read in RampDownAll\n"
       "  at:       /LoadTest/Scheduler[@ID=\"1\"]/Manual/Global/Scheduling/DynamicScheduling/RampDownAll/Interval\n"
       "  expected: RampDownAll holds Batch\n"
       "batch_missing.xml:12:13: error: Failed to retrieve action's batch data.\n"
       "  at:       /LoadTest/Scheduler[@ID=\"1\"]/Manual/Global/Scheduling/DynamicScheduling/RampDownAll\n"
       "  expected: Batch in RampDownAll holding Count and Interval, both above 0\n",
       ""},
      {{"check", "batch_zero_count.xml"}, 1,
       "batch_zero_count.xml:14:17: error: Failed to retrieve action's batch data.\n"
       "  at:       /LoadTest/Scheduler[@ID=\"1\"]/Manual/Global/Scheduling/DynamicScheduling/RampUpAll/Batch/Count\n"
       "  found:    \"0\"\n"
       "  expected: a whole number of vusers per batch, above 0\n",
       ""},
      {{"check", "binary.xml"}, 1,
       "binary.xml:1:1: error: not well-formed (invalid token)\n"
       "  expected: a well-formed XML document without a document type declaration (parser error 4)\n",
       ""},
      {{"check", "comment_among_actions.xml"}, 1,
       "comment_among_actions.xml:13:13: error: Unknown action runner name: #comment\n"
       "  at:       /LoadTest/Scheduler[@ID=\"1\"]/Manual/Global/Scheduling/DynamicScheduling/comment()\n"
       "  found:    \"#comment\"\n"
       "  expected: an action element; every child of DynamicScheduling (and the first of RunUntilComplete) is read as an action, so comments and text belong elsewhere\n",
       ""},
      {{"check", "duplicate_group_names.xml"}, 0,
       "duplicate_group_names.xml:22:11: warning: group name \"a\" is used by an earlier group too: both groups are built, and only the first one's StartAfterGroup is checked\n"
       "  at:       /LoadTest/Scheduler[@ID=\"1\"]/Manual/Groups/GroupScheduler[2]/GroupName\n"
       "  found:    \"a\"\n"
       "  expected: a name of its own for every group\n",
       "valid: duplicate_group_names.xml"},
      {{"check", "duration_without_run_for.xml"}, 1,
       "duration_without_run_for.xml:14:15: warning: unknown element Runfor in Duration is not read\n"
       "  at:       /LoadTest/Scheduler[@ID=\"1\"]/Manual/Global/Scheduling/DynamicScheduling/Duration/Runfor\n"
       "  expected: Duration holds RunFor; did you mean RunFor?\n"
       "duration_without_run_for.xml:13:13: error: Failed to create duration action runner - missing \"RunFor\" node.\n"
       "  at:       /LoadTest/Scheduler[@ID=\"1\"]/Manual/Global/Scheduling/DynamicScheduling/Duration\n"
       "  expected: RunFor in Duration: a whole number of seconds, 0 or more; did you mean RunFor for Runfor?\n",
       ""},
      {{"check", "empty.xml"}, 1,
       "empty.xml: error: the file is empty\n",
       ""},
      {{"check", "empty_dynamic_scheduling.xml"}, 0,
       "empty_dynamic_scheduling.xml:12:11: warning: DynamicScheduling has no actions: the schedule does nothing after its initialization\n"
       "  at:       /LoadTest/Scheduler[@ID=\"1\"]/Manual/Global/Scheduling/DynamicScheduling\n",
       "valid: empty_dynamic_scheduling.xml"},
      {{"check", "group_for_groups.xml"}, 1,
       "group_for_groups.xml:9:7: warning: unknown element Group in Manual is not read\n"
       "  at:       /LoadTest/Scheduler[@ID=\"1\"]/Manual/Group\n"
       "  expected: Manual holds SchedulerType, Global or Groups; did you mean Groups?\n"
       "group_for_groups.xml:8:7: error: Error occured while parsing scheduler's XML - Missing node: SchedulerType\n"
       "  at:       /LoadTest/Scheduler[@ID=\"1\"]/Manual/SchedulerType\n"
       "  found:    \"Groups\"\n"
       "  expected: Global or Groups, and an element of that name in Manual; did you mean Groups for Group?\n",
       ""},
      {{"check", "group_without_name.xml"}, 1,
       "group_without_name.xml:22:11: warning: unknown element Name in GroupScheduler is not read\n"
       "  at:       /LoadTest/Scheduler[@ID=\"1\"]/Manual/Groups/GroupScheduler[2]/Name\n"
       "  expected: GroupScheduler holds GroupName, StartupMode or Scheduling\n"
       "group_without_name.xml:21:9: error: Error occured while parsing scheduler's XML - Missing node: GroupName\n"
       "  at:       /LoadTest/Scheduler[@ID=\"1\"]/Manual/Groups/GroupScheduler[2]\n"
       "  expected: GroupName in GroupScheduler\n",
       ""},
      {{"check", "group_without_scheduling.xml"}, 1,
       "group_without_scheduling.xml:14:11: warning: unknown element Schedule in GroupScheduler is not read\n"
       "  at:       /LoadTest/Scheduler[@ID=\"1\"]/Manual/Groups/GroupScheduler/Schedule\n"
       "  expected: GroupScheduler holds GroupName, StartupMode or Scheduling\n"
       "group_without_scheduling.xml:11:9: error: the GroupScheduler of group g1 has no Scheduling\n"
       "  at:       /LoadTest/Scheduler[@ID=\"1\"]/Manual/Groups/GroupScheduler\n"
       "  expected: Scheduling in GroupScheduler\n",
       ""},
      {{"check", "group_without_startup_mode.xml"}, 1,
       "group_without_startup_mode.xml:13:11: warning: unknown element Startup in GroupScheduler is not read\n"
       "  at:       /LoadTest/Scheduler[@ID=\"1\"]/Manual/Groups/GroupScheduler/Startup\n"
       "  expected: GroupScheduler holds GroupName, StartupMode or Scheduling\n"
       "group_without_startup_mode.xml:11:9: error: Error occured while parsing scheduler's XML - Missing node: StartupMode\n"
       "  at:       /LoadTest/Scheduler[@ID=\"1\"]/Manual/Groups/GroupScheduler\n"
       "  expected: StartupMode in GroupScheduler holding StartAtScenarioBegining, StartIntervalAfterScenarioBeginning or StartAfterGroup\n",
       ""},
      {{"check", "id_with_spaces.xml"}, 1,
       "id_with_spaces.xml:4:5: error: CurrentSchedulerId names no Scheduler: its text must equal the ID exactly, white space included\n"
       "  at:       /LoadTest/Schedulers/CurrentSchedulerId\n"
       "  found:    \"1\"\n"
       "  expected: the ID \"1\" with no white space around it\n",
       ""},
      {{"check", "init_all_before_start_word.xml"}, 0,
       "init_all_before_start_word.xml:10:9: warning: InitAllBeforeStart \"True\" means false: only the exact text true means true\n"
       "  at:       /LoadTest/Scheduler[@ID=\"1\"]/Manual/Groups/InitAllBeforeStart\n"
       "  found:    \"True\"\n"
       "  expected: true or false\n",
       "valid: init_all_before_start_word.xml"},
      {{"check", "initialization_empty.xml"}, 1,
       "initialization_empty.xml:11:11: error: Error occurred while parsing the dynamic scheduler XML. missing data inside \"RampInit\" node.\n"
       "  at:       /LoadTest/Scheduler[@ID=\"1\"]/Manual/Global/Scheduling/Initialization\n"
       "  expected: InitAll or RampInitAll in Initialization\n",
       ""},
      {{"check", "lowercase_type.xml"}, 1,
       "lowercase_type.xml:8:7: error: Error occured while parsing scheduler's XML - Missing node: SchedulerType\n"
       "  at:       /LoadTest/Scheduler[@ID=\"1\"]/Manual/SchedulerType\n"
       "  found:    \"global\"\n"
       "  expected: Global or Groups, and an element of that name in Manual; did you mean Global?\n",
       ""},
      {{"check", "mismatched_tag.xml"}, 1,
       "mismatched_tag.xml:8:5: error: mismatched tag\n"
       "  expected: a well-formed XML document without a document type declaration (parser error 7)\n",
       ""},
      {{"check", "missing_init_all_before_start.xml"}, 1,
       "missing_init_all_before_start.xml:9:7: error: Error occured while parsing scheduler's XML - Missing node: InitAllBeforeStart\n"
       "  at:       /LoadTest/Scheduler[@ID=\"1\"]/Manual/Groups\n"
       "  expected: InitAllBeforeStart in Groups: true or false\n",
       ""},
      {{"check", "negative_values.xml"}, 0,
       "negative_values.xml:13:13: warning: DelayAfterInitialization -3 is below 0 and means no wait\n"
       "  at:       /LoadTest/Scheduler[@ID=\"1\"]/Manual/Global/Scheduling/Initialization/DelayAfterInitialization\n"
       "  found:    \"-3\"\n"
       "  expected: a whole number of seconds, 0 or more\n"
       "negative_values.xml:17:23: warning: RunFor -5 is below 0 and means 0 seconds\n"
       "  at:       /LoadTest/Scheduler[@ID=\"1\"]/Manual/Global/Scheduling/DynamicScheduling/Duration/RunFor\n"
       "  found:    \"-5\"\n"
       "  expected: a whole number of seconds, 0 or more\n",
       "valid: negative_values.xml"},
      {{"check", "never_starts.xml"}, 0,
       "never_starts.xml:23:24: warning: group b can never start: it waits for group a to finish running, and group a never finishes running: its schedule ends with its vusers running\n"
       "  at:       /LoadTest/Scheduler[@ID=\"1\"]/Manual/Groups/GroupScheduler[2]/StartupMode/StartAfterGroup\n"
       "  found:    \"a\"\n"
       "  expected: a group that ends: one that stops its vusers at the end (StopAll, RampDownAll) or runs until they complete\n"
       "never_starts.xml:33:24: warning: group c can never start: it waits for group b to finish running, and group b can never start either\n"
       "  at:       /LoadTest/Scheduler[@ID=\"1\"]/Manual/Groups/GroupScheduler[3]/StartupMode/StartAfterGroup\n"
       "  found:    \"b\"\n"
       "  expected: a group that ends: one that stops its vusers at the end (StopAll, RampDownAll) or runs until they complete\n",
       "valid: never_starts.xml"},
      {{"check", "no_group_scheduler.xml"}, 1,
       "no_group_scheduler.xml:11:9: warning: unknown element GroupSchedule in Groups is not read\n"
       "  at:       /LoadTest/Scheduler[@ID=\"1\"]/Manual/Groups/GroupSchedule\n"
       "  expected: Groups holds InitAllBeforeStart or GroupScheduler; did you mean GroupScheduler?\n"
       "no_group_scheduler.xml:9:7: error: Error occured while parsing scheduler's XML - No GroupScheduler node is found\n"
       "  at:       /LoadTest/Scheduler[@ID=\"1\"]/Manual/Groups\n"
       "  expected: GroupScheduler in Groups, one per group; did you mean GroupScheduler for GroupSchedule?\n",
       ""},
      {{"check", "no_scheduler_type.xml"}, 1,
       "no_scheduler_type.xml:7:5: error: Manual has no SchedulerType\n"
       "  at:       /LoadTest/Scheduler[@ID=\"1\"]/Manual\n"
       "  expected: SchedulerType in Manual: Global or Groups\n",
       ""},
      {{"check", "no_schedulers.xml"}, 1,
       "no_schedulers.xml:2:1: error: no Schedulers/CurrentSchedulerId: nothing names the definition to use\n"
       "  at:       /LoadTest\n"
       "  expected: a Schedulers element (in no namespace) holding CurrentSchedulerId, the ID of the Scheduler to use\n",
       ""},
      {{"check", "not_xml.xml"}, 1,
       "not_xml.xml:1:1: error: syntax error\n"
       "  expected: a well-formed XML document without a document type declaration (parser error 2)\n",
       ""},
      {{"check", "number_out_of_range.xml"}, 0,
       "number_out_of_range.xml:12:18: warning: TotalVusersNumber 99999999999999999999 is out of range and is read as 2147483647\n"
       "  at:       /LoadTest/Scheduler[@ID=\"1\"]/Manual/Global/Scheduling/DynamicScheduling/Run/TotalVusersNumber\n"
       "  found:    \"99999999999999999999\"\n"
       "  expected: a whole number of vusers, above 0\n",
       "valid: number_out_of_range.xml"},
      {{"check", "number_with_exponent.xml"}, 0,
       "number_with_exponent.xml:13:22: warning: Count \"1e3\" is read as 1 (the text after the number is ignored)\n"
       "  at:       /LoadTest/Scheduler[@ID=\"1\"]/Manual/Global/Scheduling/DynamicScheduling/RampUpAll/Batch/Count\n"
       "  found:    \"1e3\"\n"
       "  expected: a whole number of vusers per batch, above 0\n",
       "valid: number_with_exponent.xml"},
      {{"check", "number_with_unit.xml"}, 0,
       "number_with_unit.xml:13:23: warning: RunFor \"5m\" is read as 5 (the text after the number is ignored)\n"
       "  at:       /LoadTest/Scheduler[@ID=\"1\"]/Manual/Global/Scheduling/DynamicScheduling/Duration/RunFor\n"
       "  found:    \"5m\"\n"
       "  expected: a whole number of seconds, 0 or more\n",
       "valid: number_with_unit.xml"},
      {{"check", "reference_loop.xml"}, 1,
       "reference_loop.xml:23:24: error: Error occured while parsing scheduler's XML - loop of references between group schedulers.\n"
       "  at:       /LoadTest/Scheduler[@ID=\"1\"]/Manual/Groups/GroupScheduler[2]/StartupMode/StartAfterGroup\n"
       "  found:    \"a\"\n"
       "  expected: a group that does not wait for b, directly or through others; the chain: a -> c -> b -> a\n",
       ""},
      {{"check", "reference_missing.xml"}, 1,
       "reference_missing.xml:23:24: error: Error occured while parsing scheduler's XML - group scheduler buyers starts after non existing group browser\n"
       "  at:       /LoadTest/Scheduler[@ID=\"1\"]/Manual/Groups/GroupScheduler[2]/StartupMode/StartAfterGroup\n"
       "  found:    \"browser\"\n"
       "  expected: the GroupName of a group of this Groups element: browsers or buyers; did you mean browsers?\n",
       ""},
      {{"check", "scheduler_without_manual.xml"}, 1,
       "scheduler_without_manual.xml:6:3: error: the Scheduler with ID \"1\" has no Manual\n"
       "  at:       /LoadTest/Scheduler[@ID=\"1\"]\n"
       "  expected: Manual in Scheduler, which holds the definition; did you mean Manual for manual?\n",
       ""},
      {{"check", "scheduling_without_body.xml"}, 1,
       "scheduling_without_body.xml:11:11: warning: unknown element Dynamicscheduling in Scheduling is not read\n"
       "  at:       /LoadTest/Scheduler[@ID=\"1\"]/Manual/Global/Scheduling/Dynamicscheduling\n"
       "  expected: Scheduling holds Initialization, RunUntilComplete or DynamicScheduling; did you mean DynamicScheduling?\n"
       "scheduling_without_body.xml:10:9: error: Error occurred while parsing the dynamic scheduler XML. missing \"DynamicScheduling\" node.\n"
       "  at:       /LoadTest/Scheduler[@ID=\"1\"]/Manual/Global/Scheduling\n"
       "  expected: RunUntilComplete or DynamicScheduling in Scheduling; did you mean DynamicScheduling for Dynamicscheduling?\n",
       ""},
      {{"check", "startup_mode_misspelled.xml"}, 1,
       "startup_mode_misspelled.xml:13:24: warning: unknown element StartAtScenarioBeginning in StartupMode is not read\n"
       "  at:       /LoadTest/Scheduler[@ID=\"1\"]/Manual/Groups/GroupScheduler/StartupMode/StartAtScenarioBeginning\n"
       "  expected: StartupMode holds StartAtScenarioBegining, StartIntervalAfterScenarioBeginning or StartAfterGroup; did you mean StartAtScenarioBegining?\n"
       "startup_mode_misspelled.xml:13:11: error: Error occured while parsing scheduler's XML - Missing startup mode\n"
       "  at:       /LoadTest/Scheduler[@ID=\"1\"]/Manual/Groups/GroupScheduler/StartupMode\n"
       "  found:    \"StartAtScenarioBeginning\"\n"
       "  expected: StartAtScenarioBegining, StartIntervalAfterScenarioBeginning or StartAfterGroup in StartupMode; did you mean StartAtScenarioBegining for StartAtScenarioBeginning?\n",
       ""},
      {{"check", "total_missing.xml"}, 1,
       "total_missing.xml:13:15: warning: unknown element TotalVusers in Run is not read\n"
       "  at:       /LoadTest/Scheduler[@ID=\"1\"]/Manual/Global/Scheduling/DynamicScheduling/Run/TotalVusers\n"
       "  expected: Run holds TotalVusersNumber\n"
       "total_missing.xml:12:13: error: Failed to retrieve action's total vusers amount.\n"
       "  at:       /LoadTest/Scheduler[@ID=\"1\"]/Manual/Global/Scheduling/DynamicScheduling/Run\n"
       "  expected: TotalVusersNumber in Run: a whole number of vusers, above 0\n",
       ""},
      {{"check", "two_startup_modes.xml"}, 0,
       "two_startup_modes.xml:23:50: warning: StartAfterGroup in StartupMode is not read: StartAtScenarioBegining is taken first\n"
       "  at:       /LoadTest/Scheduler[@ID=\"1\"]/Manual/Groups/GroupScheduler[2]/StartupMode/StartAfterGroup\n"
       "  expected: StartAtScenarioBegining, StartIntervalAfterScenarioBeginning or StartAfterGroup (the first present is read)\n",
       "valid: two_startup_modes.xml"},
      {{"check", "unexpected_type.xml"}, 1,
       "unexpected_type.xml:9:7: warning: unknown element Weekly in Manual is not read\n"
       "  at:       /LoadTest/Scheduler[@ID=\"1\"]/Manual/Weekly\n"
       "  expected: Manual holds SchedulerType, Global or Groups\n"
       "unexpected_type.xml:8:7: error: Unexpected scheduler type: Weekly\n"
       "  at:       /LoadTest/Scheduler[@ID=\"1\"]/Manual/SchedulerType\n"
       "  found:    \"Weekly\"\n"
       "  expected: Global or Groups\n",
       ""},
      {{"check", "unknown_action.xml"}, 1,
       "unknown_action.xml:12:13: error: Unknown action runner name: Rampup\n"
       "  at:       /LoadTest/Scheduler[@ID=\"1\"]/Manual/Global/Scheduling/DynamicScheduling/Rampup\n"
       "  found:    \"Rampup\"\n"
       "  expected: one of Run, RunAll, RampUp, RampUpAll, Stop, StopAll, RampDown, RampDownAll, Duration or RunIndefinitely; did you mean RampUp?\n",
       ""},
      {{"check", "unknown_elements.xml"}, 0,
       "unknown_elements.xml:11:11: warning: unknown element Intialization in Scheduling is not read\n"
       "  at:       /LoadTest/Scheduler[@ID=\"1\"]/Manual/Global/Scheduling/Intialization\n"
       "  expected: Scheduling holds Initialization, RunUntilComplete or DynamicScheduling; did you mean Initialization?\n"
       "unknown_elements.xml:14:38: warning: unknown element Size in Batch is not read\n"
       "  at:       /LoadTest/Scheduler[@ID=\"1\"]/Manual/Global/Scheduling/DynamicScheduling/RampUp/Batch/Size\n"
       "  expected: Batch holds Count or Interval\n"
       "unknown_elements.xml:23:7: warning: unknown element global in Manual is not read\n"
       "  at:       /LoadTest/Scheduler[@ID=\"1\"]/Manual/global\n"
       "  expected: Manual holds SchedulerType, Global or Groups; did you mean Global?\n",
       "valid: unknown_elements.xml"},
      {{"check", "unmatched_id.xml"}, 1,
       "unmatched_id.xml:4:5: error: no Scheduler has the ID \"2\" that CurrentSchedulerId names\n"
       "  at:       /LoadTest/Schedulers/CurrentSchedulerId\n"
       "  found:    \"2\"\n"
       "  expected: the ID of a Scheduler: \"1\"\n",
       ""},
      {{"check", "until_complete_and_dynamic.xml"}, 0,
       "until_complete_and_dynamic.xml:13:13: warning: only the first child of RunUntilComplete is read: StopAll is not\n"
       "  at:       /LoadTest/Scheduler[@ID=\"1\"]/Manual/Global/Scheduling/RunUntilComplete/StopAll\n"
       "until_complete_and_dynamic.xml:15:11: warning: DynamicScheduling in Scheduling is not read: RunUntilComplete is taken first\n"
       "  at:       /LoadTest/Scheduler[@ID=\"1\"]/Manual/Global/Scheduling/DynamicScheduling\n"
       "  expected: RunUntilComplete or DynamicScheduling (the first present is read)\n",
       "valid: until_complete_and_dynamic.xml"},
      {{"check", "until_complete_empty.xml"}, 1,
       "until_complete_empty.xml:11:11: error: Action runner name was empty while building action runners list.\n"
       "  at:       /LoadTest/Scheduler[@ID=\"1\"]/Manual/Global/Scheduling/RunUntilComplete\n"
       "  expected: one action element in RunUntilComplete\n",
       ""},
      {{"check", "until_complete_run_indefinitely.xml"}, 1,
       "until_complete_run_indefinitely.xml:12:13: error: RunIndefinitely cannot be the action of RunUntilComplete\n"
       "  at:       /LoadTest/Scheduler[@ID=\"1\"]/Manual/Global/Scheduling/RunUntilComplete/RunIndefinitely\n"
       "  found:    \"RunIndefinitely\"\n"
       "  expected: an action that starts vusers (RunAll, RampUpAll, Run or RampUp), after which they run until they complete\n",
       ""},
      {{"check", "utf16_without_declaration.xml"}, 0,
       "utf16_without_declaration.xml:12:23: warning: RunFor \"30 s\" is read as 30 (the text after the number is ignored)\n"
       "  at:       /LoadTest/Scheduler[@ID=\"1\"]/Manual/Global/Scheduling/DynamicScheduling/Duration/RunFor\n"
       "  found:    \"30 s\"\n"
       "  expected: a whole number of seconds, 0 or more\n",
       "valid: utf16_without_declaration.xml"},
      {{"check", "."}, 1,
       ".: error: cannot read the file: Is a directory\n",
       ""},
      {{"check", "no_such_file.xml"}, 1,
       "no_such_file.xml: error: cannot read the file: No such file or directory\n",
       ""},
      {{"check", "--strict", "number_with_unit.xml"}, 1,
       "number_with_unit.xml:13:23: error: RunFor \"5m\" is read as 5 (the text after the number is ignored) [--strict]\n"
       "  at:       /LoadTest/Scheduler[@ID=\"1\"]/Manual/Global/Scheduling/DynamicScheduling/Duration/RunFor\n"
       "  found:    \"5m\"\n"
       "  expected: a whole number of seconds, 0 or more\n",
       ""},
      {{"preview", "reference_missing.xml"}, 1,
       "reference_missing.xml:23:24: error: Error occured while parsing scheduler's XML - group scheduler buyers starts after non existing group browser\n"
       "  at:       /LoadTest/Scheduler[@ID=\"1\"]/Manual/Groups/GroupScheduler[2]/StartupMode/StartAfterGroup\n"
       "  found:    \"browser\"\n"
       "  expected: the GroupName of a group of this Groups element: browsers or buyers; did you mean browsers?\n",
       ""},
      {{"run", "--speed", "1000", "batch_zero_count.xml"}, 1,
       "batch_zero_count.xml:14:17: error: Failed to retrieve action's batch data.\n"
       "  at:       /LoadTest/Scheduler[@ID=\"1\"]/Manual/Global/Scheduling/DynamicScheduling/RampUpAll/Batch/Count\n"
       "  found:    \"0\"\n"
       "  expected: a whole number of vusers per batch, above 0\n",
       ""},
};

TEST(CliDiagnosticsTest, EveryProblemIsLocatedAndExplained) {
  ASSERT_GE(kCases.size(), 30u);
  for (const CheckCase& c : kCases) {
    std::vector<std::string> args{kCli};
    args.insert(args.end(), c.args.begin(), c.args.end());
    SCOPED_TRACE(testing::PrintToString(c.args));
    const ProcessResult r = runProcess(args, kDiagnostics);
    EXPECT_EQ(r.exitCode, c.exitCode) << r.errors;
    EXPECT_EQ(r.errors, c.errors);
    if (c.firstLine.empty()) {
      EXPECT_EQ(r.output, "");
    } else {
      EXPECT_EQ(r.output.substr(0, r.output.find('\n')), c.firstLine);
    }
  }
}

// ---------------------------------------------------------------------------------------------
// The schema against the library: xmllint and `qvschedule check` on every example and every test
// definition. Where they disagree, the difference must be one the schema's header comment lists.

// Definitions that show a known difference other than [warned] (the library loads with warnings
// what the schema refuses), by their name in the test.
const std::map<std::string, std::string> kKnownDifferences = {
    {"comment_among_actions.xml", "[actions]"},
    {"pi_among_actions.xml", "[actions]"},
    {"pi_first_in_until_complete.xml", "[actions]"},
    {"diagnostics/comment_among_actions.xml", "[actions]"},
    {"no_matching_scheduler.xml", "[current]"},
    {"diagnostics/unmatched_id.xml", "[current]"},
    {"diagnostics/id_with_spaces.xml", "[current]"},
    {"group_refs_self.xml", "[references]"},
    {"group_refs_ring.xml", "[references]"},
    {"diagnostics/reference_loop.xml", "[references]"},
    {"groups_type_without_groups.xml", "[type]"},
    {"diagnostics/other_root.xml", "[root]"},
    {"diagnostics/scheduler_with_description.xml", "[outside]"},
};

std::string readText(const std::string& path) {
  std::ifstream in(path);
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

// Name in the test -> path, for every definition.
std::map<std::string, std::string> allDefinitions() {
  std::map<std::string, std::string> files;
  const auto add = [&](const std::string& directory, const std::string& prefix) {
    for (const fs::directory_entry& entry : fs::directory_iterator(directory)) {
      if (entry.path().extension() == ".xml") files[prefix + entry.path().filename().string()] = entry.path().string();
    }
  };
  add(QVSCHEDULE_EXAMPLES_DIR, "examples/");
  add(QV_TEST_DATA_DIR, "");
  add(kDiagnostics, "diagnostics/");
  return files;
}

// The paths that xmllint says validate against the schema (one run over all of them).
std::vector<std::string> validatingPaths(const std::map<std::string, std::string>& files) {
  std::vector<std::string> args{QVSCHEDULE_XMLLINT, "--noout", "--nonet", "--schema", QVSCHEDULE_SCHEMA};
  for (const auto& file : files) args.push_back(file.second);
  const ProcessResult r = runProcess(args);
  std::vector<std::string> valid;
  std::istringstream lines(r.errors);
  for (std::string line; std::getline(lines, line);) {
    const std::string suffix = " validates";
    if (line.size() > suffix.size() && line.compare(line.size() - suffix.size(), suffix.size(), suffix) == 0) {
      valid.push_back(line.substr(0, line.size() - suffix.size()));
    }
  }
  return valid;
}

// The program's verdict (check --format json) on every file. Each check is a process of its own,
// and starting one costs most of its time under the sanitizers: several run at a time.
std::map<std::string, nlohmann::json> programVerdicts(const std::map<std::string, std::string>& files) {
  constexpr std::size_t kAtOnce = 8;
  std::map<std::string, nlohmann::json> verdicts;
  std::vector<std::pair<std::string, std::future<ProcessResult>>> running;
  const auto collect = [&] {
    for (auto& [name, result] : running) verdicts[name] = nlohmann::json::parse(result.get().output);
    running.clear();
  };
  for (const auto& [name, path] : files) {
    running.emplace_back(name, std::async(std::launch::async, [path = path] {
                           return runProcess({kCli, "check", "--format", "json", path});
                         }));
    if (running.size() == kAtOnce) collect();
  }
  collect();
  return verdicts;
}

TEST(DefinitionSchemaTest, LibraryAndSchemaAgreeOnEveryDefinition) {
  ASSERT_EQ(runProcess({QVSCHEDULE_XMLLINT, "--version"}).exitCode, 0) << "xmllint is missing: scripts/install-deps";
  const std::string schema = readText(QVSCHEDULE_SCHEMA);
  const std::string header = schema.substr(0, schema.find("-->"));
  const std::map<std::string, std::string> files = allDefinitions();
  ASSERT_GT(files.size(), 100u);
  const std::vector<std::string> valid = validatingPaths(files);
  const std::map<std::string, nlohmann::json> verdicts = programVerdicts(files);
  for (const auto& [name, path] : files) {
    SCOPED_TRACE(name);
    const nlohmann::json& verdict = verdicts.at(name);
    const bool accepted = verdict["valid"];
    bool warned = false;
    for (const nlohmann::json& d : verdict["diagnostics"]) warned = warned || d["severity"] == "warning";
    const bool validates = std::find(valid.begin(), valid.end(), path) != valid.end();
    if (name.rfind("examples/", 0) == 0) {
      EXPECT_TRUE(accepted && !warned && validates) << "every example loads without a warning and validates";
    }
    const auto known = kKnownDifferences.find(name);
    std::string difference;
    if (accepted != validates) difference = accepted && warned ? "[warned]" : "unexplained";
    if (known != kKnownDifferences.end()) {
      EXPECT_EQ(difference, "unexplained") << "listed as " << known->second << " but library and schema agree";
      difference = known->second;
    }
    if (difference.empty()) continue;
    EXPECT_NE(header.find(difference), std::string::npos)
        << "library " << (accepted ? "accepts" : "refuses") << ", schema " << (validates ? "accepts" : "refuses")
        << "; not a difference the schema lists: " << difference;
  }
}

}  // namespace
