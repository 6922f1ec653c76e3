// Tests of the scheduler's event definitions (equality, order, copies, texts) and of the run
// contexts of the scenario and of groups.
#include "QVGroupActionRunnerFailedEventDef.h"
#include "QVGroupActionRunnerFinishedEventDef.h"
#include "QVGroupContext.h"
#include "QVHostEventDefs.h"
#include "QVScenarioActionRunnerFailedEventDef.h"
#include "QVScenarioActionRunnerFinishedEventDef.h"
#include "QVScenarioContext.h"
#include "QVSchedulerRunnerFailedEventDef.h"
#include "QVSchedulerRunnerFinishedEventDef.h"

#include <gtest/gtest.h>

#include <cstddef>
#include <memory>
#include <string>
#include <typeinfo>
#include <vector>

namespace {

void expectFaithfulCopy(const CQVEventDef& original, const CQVEventDef* copy) {
  ASSERT_NE(copy, nullptr);
  EXPECT_NE(copy, &original);
  EXPECT_EQ(typeid(*copy), typeid(original)) << original.toString();
  EXPECT_TRUE(*copy == original) << original.toString();
  EXPECT_TRUE(original == *copy) << original.toString();
  EXPECT_FALSE(copy->lessThan(original)) << original.toString();
  EXPECT_FALSE(original.lessThan(*copy)) << original.toString();
  EXPECT_EQ(copy->hash(), original.hash()) << original.toString();  // managers find definitions by hash
  EXPECT_EQ(copy->toString(), original.toString());
}

// Checks that a clone, and an in-place copy where the class makes them, is a separate object of
// the same class, equal to the original, with the same text and hash.
void expectFaithfulClone(const CQVEventDef& original) {
  const std::unique_ptr<CQVEventDef> copy(original.clone());
  expectFaithfulCopy(original, copy.get());
  const std::size_t size = original.cloneSize();
  if (size == 0) return;
  // Exactly the size asked for (rounded to the alignment): AddressSanitizer sees a copy overrunning it.
  std::vector<std::max_align_t> storage((size + sizeof(std::max_align_t) - 1) / sizeof(std::max_align_t));
  CQVEventDef* inPlace = original.cloneAt(storage.data());
  expectFaithfulCopy(original, inPlace);
  if (inPlace) inPlace->~CQVEventDef();
}

// Stands for a scheduler runner; the definitions only keep the pointer.
alignas(64) unsigned char fakeRunnerStorage[64];

CQVSchedulerRunner* fakeRunner() { return reinterpret_cast<CQVSchedulerRunner*>(fakeRunnerStorage); }

}  // namespace

TEST(EventDefs, GroupActionFinishedEqualityAndOrder) {
  const CQVGroupActionRunnerFinishedEventDef a2("A", 2);
  const CQVGroupActionRunnerFinishedEventDef a3("A", 3);
  const CQVGroupActionRunnerFinishedEventDef b1("B", 1);
  const CQVGroupActionRunnerFinishedEventDef b2("B", 2);
  const CQVGroupActionRunnerFinishedEventDef lowerA2("a", 2);

  EXPECT_TRUE(a2 == CQVGroupActionRunnerFinishedEventDef("A", 2));
  EXPECT_TRUE(a2.equals(CQVGroupActionRunnerFinishedEventDef("A", 2)));
  EXPECT_FALSE(a2 == a3);
  EXPECT_FALSE(a2 == b2);
  EXPECT_FALSE(a2 == lowerA2);  // names compare exactly
  EXPECT_FALSE(a2.equals(a3));
  EXPECT_FALSE(a2.equals(b2));

  // By group name first, then by action id.
  EXPECT_TRUE(a3.lessThan(b1));
  EXPECT_FALSE(b1.lessThan(a3));
  EXPECT_TRUE(a2.lessThan(a3));
  EXPECT_FALSE(a3.lessThan(a2));
  EXPECT_TRUE(a2.lessThan(b2));
  EXPECT_FALSE(b2.lessThan(a2));
  EXPECT_FALSE(a2.lessThan(CQVGroupActionRunnerFinishedEventDef("A", 2)));
  EXPECT_TRUE(CQVGroupActionRunnerFinishedEventDef("A", 9).lessThan(CQVGroupActionRunnerFinishedEventDef("AB", 1)));
  EXPECT_TRUE(CQVGroupActionRunnerFinishedEventDef("B", 1).lessThan(lowerA2));  // plain character order
  EXPECT_TRUE(CQVGroupActionRunnerFinishedEventDef("A", -1).lessThan(CQVGroupActionRunnerFinishedEventDef("A", 0)));

  // Another kind of definition is never greater or smaller.
  EXPECT_FALSE(a2.lessThan(CQVGroupActionRunnerFailedEventDef("B")));
  EXPECT_FALSE(a2.lessThan(CQVSchedulerRunnerFinishedEventDef()));
  EXPECT_FALSE(a2.equals(CQVGroupActionRunnerFailedEventDef("A")));

  EXPECT_EQ(a3.getGroupName(), "A");
  EXPECT_EQ(a3.getActionId(), 3);
  expectFaithfulClone(a2);
  const std::unique_ptr<CQVEventDef> copy(a2.clone());
  EXPECT_FALSE(*copy == a3);
  EXPECT_FALSE(*copy == b2);
}

TEST(EventDefs, ScenarioActionFinishedEqualityAndOrder) {
  const CQVScenarioActionRunnerFinishedEventDef four(4);
  EXPECT_TRUE(four == CQVScenarioActionRunnerFinishedEventDef(4));
  EXPECT_FALSE(four == CQVScenarioActionRunnerFinishedEventDef(5));
  EXPECT_TRUE(four.lessThan(CQVScenarioActionRunnerFinishedEventDef(5)));
  EXPECT_FALSE(CQVScenarioActionRunnerFinishedEventDef(5).lessThan(four));
  EXPECT_FALSE(four.lessThan(CQVScenarioActionRunnerFinishedEventDef(4)));
  EXPECT_FALSE(four.lessThan(CQVScenarioActionRunnerFailedEventDef()));
  EXPECT_FALSE(four.equals(CQVScenarioActionRunnerFailedEventDef()));
  EXPECT_EQ(four.getActionId(), 4);
  expectFaithfulClone(four);
}

TEST(EventDefs, DefinitionsWithoutDataAllMatch) {
  const CQVScenarioActionRunnerFailedEventDef scenarioFailed;
  const CQVSchedulerRunnerFinishedEventDef schedulerFinished;
  const CQVSchedulerRunnerFailedEventDef withoutRunner;
  const CQVSchedulerRunnerFailedEventDef withRunner(fakeRunner());

  EXPECT_TRUE(scenarioFailed == CQVScenarioActionRunnerFailedEventDef());
  EXPECT_FALSE(scenarioFailed.lessThan(CQVScenarioActionRunnerFailedEventDef()));
  EXPECT_TRUE(schedulerFinished == CQVSchedulerRunnerFinishedEventDef());
  EXPECT_FALSE(schedulerFinished.lessThan(CQVSchedulerRunnerFinishedEventDef()));

  // The failed runner takes no part in equality or order.
  EXPECT_EQ(withoutRunner.getFailedRunner(), nullptr);
  EXPECT_EQ(withRunner.getFailedRunner(), fakeRunner());
  EXPECT_TRUE(withRunner == withoutRunner);
  EXPECT_TRUE(withoutRunner == withRunner);
  EXPECT_FALSE(withRunner.lessThan(withoutRunner));
  EXPECT_FALSE(withoutRunner.lessThan(withRunner));

  // A copy keeps the runner.
  const std::unique_ptr<CQVEventDef> copy(withRunner.clone());
  const auto* failedCopy = dynamic_cast<const CQVSchedulerRunnerFailedEventDef*>(copy.get());
  ASSERT_NE(failedCopy, nullptr);
  EXPECT_EQ(failedCopy->getFailedRunner(), fakeRunner());
  expectFaithfulClone(withRunner);
  expectFaithfulClone(withoutRunner);
  expectFaithfulClone(scenarioFailed);
  expectFaithfulClone(schedulerFinished);
}

TEST(EventDefs, GroupActionFailedEqualityAndOrder) {
  const CQVGroupActionRunnerFailedEventDef g1("g1");
  EXPECT_TRUE(g1 == CQVGroupActionRunnerFailedEventDef("g1"));
  EXPECT_FALSE(g1 == CQVGroupActionRunnerFailedEventDef("g2"));
  EXPECT_FALSE(g1 == CQVGroupActionRunnerFailedEventDef("G1"));
  EXPECT_TRUE(g1.lessThan(CQVGroupActionRunnerFailedEventDef("g2")));
  EXPECT_FALSE(CQVGroupActionRunnerFailedEventDef("g2").lessThan(g1));
  EXPECT_FALSE(g1.lessThan(CQVGroupActionRunnerFailedEventDef("g1")));
  EXPECT_FALSE(g1.lessThan(CQVGroupActionRunnerFinishedEventDef("g2", 1)));
  EXPECT_FALSE(g1.equals(CQVGroupActionRunnerFinishedEventDef("g1", 1)));
  EXPECT_EQ(g1.getGroupName(), "g1");
  expectFaithfulClone(g1);
}

TEST(EventDefs, DescriptionTexts) {
  EXPECT_EQ(CQVScenarioActionRunnerFinishedEventDef(4).toString(), "CQVScenarioActionRunnerFinishedEventDef: actionId = 4");
  EXPECT_EQ(CQVScenarioActionRunnerFinishedEventDef(-12).toString(),
            "CQVScenarioActionRunnerFinishedEventDef: actionId = -12");
  EXPECT_EQ(CQVGroupActionRunnerFinishedEventDef("g1", 3).toString(),
            "CQVGroupActionRunnerFinishedEventDef: groupName = g1, actionId = 3");
  EXPECT_EQ(CQVGroupActionRunnerFinishedEventDef("", 0).toString(),
            "CQVGroupActionRunnerFinishedEventDef: groupName = , actionId = 0");
  EXPECT_EQ(CQVScenarioActionRunnerFailedEventDef().toString(), "CQVScenarioActionRunnerFailedEventDef");
  EXPECT_EQ(CQVGroupActionRunnerFailedEventDef("g1").toString(), "CQVGroupActionRunnerFailedEventDef: groupName = g1");
  EXPECT_EQ(CQVSchedulerRunnerFinishedEventDef().toString(), "CQVSchedulerRunnerFinishedEventDef");
  EXPECT_EQ(CQVSchedulerRunnerFailedEventDef().toString(), "CQVSchedulerRunnerFailedEventDef");
  EXPECT_EQ(CQVSchedulerRunnerFailedEventDef(fakeRunner()).toString(), "CQVSchedulerRunnerFailedEventDef");

  // Group names of any length come out whole, around the 300-character mark and far beyond it.
  for (const std::size_t length : {250u, 299u, 300u, 10000u}) {
    std::string name;
    for (std::size_t i = 0; i < length; ++i) name += static_cast<char>('a' + i % 26);
    EXPECT_EQ(CQVGroupActionRunnerFinishedEventDef(name, 2147483647).toString(),
              "CQVGroupActionRunnerFinishedEventDef: groupName = " + name + ", actionId = 2147483647")
        << length;
    EXPECT_EQ(CQVGroupActionRunnerFailedEventDef(name).toString(), "CQVGroupActionRunnerFailedEventDef: groupName = " + name)
        << length;
  }
}

TEST(EventDefs, DefinitionsOfDifferentClassesNeverMatch) {
  std::vector<std::unique_ptr<CQVEventDef>> defs;
  defs.emplace_back(new CQVScenarioActionRunnerFinishedEventDef(1));
  defs.emplace_back(new CQVGroupActionRunnerFinishedEventDef("g1", 1));
  defs.emplace_back(new CQVScenarioActionRunnerFailedEventDef());
  defs.emplace_back(new CQVGroupActionRunnerFailedEventDef("g1"));
  defs.emplace_back(new CQVSchedulerRunnerFinishedEventDef());
  defs.emplace_back(new CQVSchedulerRunnerFailedEventDef());
  defs.emplace_back(new CQVGroupAllVusersInitEventDef("g1"));
  defs.emplace_back(new CQVScenarioAllVusersInitEventDef());

  for (std::size_t i = 0; i < defs.size(); ++i) {
    for (std::size_t j = 0; j < defs.size(); ++j) {
      EXPECT_EQ(*defs[i] == *defs[j], i == j) << defs[i]->toString() << " vs " << defs[j]->toString();
    }
  }
  // Some of them would accept the other through equals() alone.
  EXPECT_TRUE(defs[2]->equals(*defs[4]));
  EXPECT_TRUE(defs[0]->equals(*defs[1]));
}

TEST(EventDefsRunContexts, ScenarioContext) {
  const CQVScenarioContext context;
  EXPECT_EQ(context.getLogName(), "SCENARIO @ ");
  EXPECT_EQ(context.getScheduleModeName(), "by scenario");
  EXPECT_EQ(context.runMode, CQVVusersServices::RUN_INDEFINITELY);
  EXPECT_TRUE(context.getAllVusersInitEventDef() == CQVScenarioAllVusersInitEventDef());

  const std::unique_ptr<CQVEventDef> finished(context.createActionFinishedEventDef(3));
  EXPECT_TRUE(*finished == CQVScenarioActionRunnerFinishedEventDef(3));
  EXPECT_FALSE(*finished == CQVScenarioActionRunnerFinishedEventDef(2));
  const std::unique_ptr<CQVEventDef> failed(context.createActionFailedEventDef());
  EXPECT_TRUE(*failed == CQVScenarioActionRunnerFailedEventDef());

  EXPECT_TRUE(context.equals(CQVScenarioContext()));
  EXPECT_FALSE(CQVGroupContext("g1").equals(context));
}

TEST(EventDefsRunContexts, GroupContext) {
  const std::string name = "g1";
  const CQVGroupContext fromString(name);
  const CQVGroupContext fromChars("g1");
  const CQVGroupContext other("g2");

  EXPECT_EQ(fromString.getLogName(), "GROUP @ g1");
  EXPECT_EQ(other.getLogName(), "GROUP @ g2");
  EXPECT_EQ(fromString.getScheduleModeName(), "by group g1");
  EXPECT_EQ(fromString.getGroupName(), "g1");
  EXPECT_EQ(fromChars.getGroupName(), "g1");
  EXPECT_EQ(fromString.runMode, CQVVusersServices::RUN_INDEFINITELY);

  EXPECT_TRUE(fromString.equals(fromChars));
  EXPECT_TRUE(fromChars.equals(fromString));
  EXPECT_FALSE(fromString.equals(other));
  EXPECT_FALSE(other.equals(fromChars));
  EXPECT_FALSE(CQVGroupContext("G1").equals(fromString));

  const std::unique_ptr<CQVEventDef> finished(fromString.createActionFinishedEventDef(1));
  EXPECT_TRUE(*finished == CQVGroupActionRunnerFinishedEventDef("g1", 1));
  EXPECT_FALSE(*finished == CQVGroupActionRunnerFinishedEventDef("g1", 2));
  EXPECT_FALSE(*finished == CQVGroupActionRunnerFinishedEventDef("g2", 1));
  const std::unique_ptr<CQVEventDef> otherFinished(other.createActionFinishedEventDef(7));
  EXPECT_TRUE(*otherFinished == CQVGroupActionRunnerFinishedEventDef("g2", 7));

  const std::unique_ptr<CQVEventDef> failed(fromChars.createActionFailedEventDef());
  EXPECT_TRUE(*failed == CQVGroupActionRunnerFailedEventDef("g1"));
  EXPECT_FALSE(*failed == CQVGroupActionRunnerFailedEventDef("g2"));

  EXPECT_TRUE(fromString.getAllVusersInitEventDef() == CQVGroupAllVusersInitEventDef("g1"));
  EXPECT_TRUE(fromChars.getAllVusersInitEventDef() == CQVGroupAllVusersInitEventDef("g1"));
  EXPECT_FALSE(fromString.getAllVusersInitEventDef() == CQVGroupAllVusersInitEventDef("g2"));
  EXPECT_TRUE(other.getAllVusersInitEventDef() == CQVGroupAllVusersInitEventDef("g2"));

  // A copy of a context names the same group.
  const CQVGroupContext copy(fromChars);
  EXPECT_TRUE(copy.equals(fromChars));
  EXPECT_EQ(copy.getLogName(), "GROUP @ g1");
  EXPECT_TRUE(copy.getAllVusersInitEventDef() == CQVGroupAllVusersInitEventDef("g1"));
  expectFaithfulClone(copy.getAllVusersInitEventDef());
  expectFaithfulClone(CQVGroupFinishedRunningEventDef("g1"));
  expectFaithfulClone(CQVGroupAllVusersInitEventDef(std::string(40, 'g')));  // a name on the heap
  expectFaithfulClone(CQVScenarioAllVusersInitEventDef());
}
