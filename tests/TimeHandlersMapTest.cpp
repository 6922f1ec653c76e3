// Tests of the time handler maps: tolerant keys, the isFirst flag, removal, the current position,
// merging whole lists, and how the absolute and relative maps turn times into keys and back.
#include "QVAbsTimeHandlersMap.h"
#include "QVRelTimeHandlersMap.h"
#include "QVTestSupport.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <map>
#include <memory>
#include <utility>
#include <vector>

namespace {

constexpr std::uint64_t kSecond = QV_FILE_TIME_UNITS_PER_SECOND;
constexpr std::uint64_t kMillisecond = QV_FILE_TIME_UNITS_PER_MILLISECOND;

class DummyHandler final : public CQVTimeHandler {
 public:
  void onTime() override {}
};

using Entry = std::pair<std::uint64_t, std::vector<CQVTimeHandler*>>;

// The map's entries in key order, each with its handlers in list order.
std::vector<Entry> contents(const CQVBaseTimeHandlersMap& map) {
  std::vector<Entry> result;
  for (const auto& entry : map.entries()) {
    result.emplace_back(entry.first, std::vector<CQVTimeHandler*>(entry.second->begin(), entry.second->end()));
  }
  return result;
}

ULARGE_INTEGER key(std::uint64_t value) { return QVMakeULargeInteger(value); }

std::unique_ptr<CQVTimeHandlerList> listOf(std::initializer_list<CQVTimeHandler*> handlers) {
  return std::make_unique<CQVTimeHandlerList>(handlers);
}

}  // namespace

TEST(TimeHandlersMap, KeysWithinOneMillisecondShareAnEntry) {
  DummyHandler a, b, c, d;

  // 100 ms and 101.5 ms (whole milliseconds 100 and 101): one entry, keeping the first key.
  CQVRelTimeHandlersMap joined;
  joined.addHandler(key(1000000), &a);
  joined.addHandler(key(1015000), &b);
  EXPECT_EQ(contents(joined), (std::vector<Entry>{{1000000, {&a, &b}}}));

  // Whole milliseconds 100 and 102: two entries.
  CQVRelTimeHandlersMap apart;
  apart.addHandler(key(1000000), &a);
  apart.addHandler(key(1020000), &b);
  EXPECT_EQ(contents(apart), (std::vector<Entry>{{1000000, {&a}}, {1020000, {&b}}}));

  // Times are cut to whole milliseconds before comparing: 100.9999 ms and 102 ms are two
  // entries, 100 ms and 101.9999 ms one.
  CQVRelTimeHandlersMap truncated;
  truncated.addHandler(key(1009999), &a);
  truncated.addHandler(key(1020000), &b);
  truncated.addHandler(key(3000000), &c);
  truncated.addHandler(key(3019999), &d);
  EXPECT_EQ(contents(truncated), (std::vector<Entry>{{1009999, {&a}}, {1020000, {&b}}, {3000000, {&c, &d}}}));

  // A time just before an existing entry joins it too; the entry keeps the key that created it.
  CQVRelTimeHandlersMap earlier;
  earlier.addHandler(key(1015000), &a);
  earlier.addHandler(key(1000000), &b);
  earlier.addHandler(key(1015000), &a);  // the same handler may be in one entry twice
  EXPECT_EQ(contents(earlier), (std::vector<Entry>{{1015000, {&a, &b, &a}}}));

  // The same tolerance holds through the virtual additions of both maps.
  CQVRelTimeHandlersMap rel;
  bool isFirst = false;
  rel.addTimeHandlerByRelTime(key(1000000), &a, isFirst);
  rel.addTimeHandlerByRelTime(key(1015000), &b, isFirst);
  rel.addTimeHandlerByRelTime(key(1020000), &c, isFirst);
  EXPECT_EQ(contents(rel), (std::vector<Entry>{{1000000, {&a, &b}}, {1020000, {&c}}}));

  ScopedManualClock clock;
  const std::uint64_t now = clock->now();
  CQVAbsTimeHandlersMap abs;
  abs.addTimeHandlerByRelTime(key(1000000), &a, isFirst);
  abs.addTimeHandlerByRelTime(key(1015000), &b, isFirst);
  abs.addTimeHandlerByRelTime(key(1025000), &c, isFirst);
  EXPECT_EQ(contents(abs), (std::vector<Entry>{{now + 1000000, {&a, &b}}, {now + 1025000, {&c}}}));
}

TEST(TimeHandlersMap, KeyBetweenTwoEntriesJoinsTheEarlier) {
  DummyHandler a, b, c;

  CQVRelTimeHandlersMap map;
  map.addHandler(key(1000000), &a);  // 100 ms
  map.addHandler(key(1020000), &b);  // 102 ms
  map.addHandler(key(1010000), &c);  // 101 ms: within tolerance of both
  EXPECT_EQ(contents(map), (std::vector<Entry>{{1000000, {&a, &c}}, {1020000, {&b}}}));

  // Whatever order the two entries were made in.
  CQVRelTimeHandlersMap reversed;
  reversed.addHandler(key(1020000), &b);
  reversed.addHandler(key(1000000), &a);
  reversed.addHandler(key(1019999), &c);  // still 101 ms
  EXPECT_EQ(contents(reversed), (std::vector<Entry>{{1000000, {&a, &c}}, {1020000, {&b}}}));
}

TEST(TimeHandlersMap, IsFirstUsesPlainComparison) {
  DummyHandler a, b, c, d, e;
  CQVRelTimeHandlersMap map;
  bool isFirst = false;

  map.addTimeHandlerByRelTime(key(5000000), &a, isFirst);  // empty map
  EXPECT_TRUE(isFirst);
  map.addTimeHandlerByRelTime(key(9000000), &b, isFirst);  // later
  EXPECT_FALSE(isFirst);
  map.addTimeHandlerByRelTime(key(5000000), &c, isFirst);  // equal to the first key
  EXPECT_FALSE(isFirst);
  map.addTimeHandlerByRelTime(key(2000000), &d, isFirst);  // earlier
  EXPECT_TRUE(isFirst);
  EXPECT_EQ(contents(map), (std::vector<Entry>{{2000000, {&d}}, {5000000, {&a, &c}}, {9000000, {&b}}}));

  // Just under the first key: reported first, but it joins the existing first entry.
  map.addTimeHandlerByRelTime(key(1999999), &e, isFirst);
  EXPECT_TRUE(isFirst);
  EXPECT_EQ(contents(map), (std::vector<Entry>{{2000000, {&d, &e}}, {5000000, {&a, &c}}, {9000000, {&b}}}));

  // Slot 0 of the absolute map: 5 s, then 10 s, then 2 s.
  ScopedManualClock clock;
  CQVAbsTimeHandlersMap abs;
  abs.addTimeHandlerByRelTime(5L, &a, isFirst);
  EXPECT_TRUE(isFirst);
  abs.addTimeHandlerByRelTime(10L, &b, isFirst);
  EXPECT_FALSE(isFirst);
  abs.addTimeHandlerByRelTime(2L, &c, isFirst);
  EXPECT_TRUE(isFirst);

  // Slot 0 of the relative map.
  CQVRelTimeHandlersMap rel;
  rel.addTimeHandlerByRelTime(7L, &a, isFirst);
  EXPECT_TRUE(isFirst);
  rel.addTimeHandlerByRelTime(8L, &b, isFirst);
  EXPECT_FALSE(isFirst);
  rel.addTimeHandlerByRelTime(1L, &c, isFirst);
  EXPECT_TRUE(isFirst);
}

TEST(TimeHandlersMap, RemoveTimeHandlerRemovesOnlyTheEarliestRegistration) {
  DummyHandler a, b, c;

  // Registered in two entries: the earlier entry loses it.
  CQVRelTimeHandlersMap twoEntries;
  twoEntries.addHandler(key(3000000), &a);
  twoEntries.addHandler(key(1000000), &a);
  twoEntries.addHandler(key(1000000), &b);
  twoEntries.removeTimeHandler(&a);
  EXPECT_EQ(contents(twoEntries), (std::vector<Entry>{{1000000, {&b}}, {3000000, {&a}}}));

  // Registered twice in one entry: the front one goes.
  CQVRelTimeHandlersMap oneEntry;
  oneEntry.addHandler(key(1000000), &a);
  oneEntry.addHandler(key(1000000), &b);
  oneEntry.addHandler(key(1000000), &a);
  oneEntry.removeTimeHandler(&a);
  EXPECT_EQ(contents(oneEntry), (std::vector<Entry>{{1000000, {&b, &a}}}));

  // Removing the only handler of an entry erases the entry; the others stay.
  CQVRelTimeHandlersMap erase;
  erase.addHandler(key(1000000), &a);
  erase.addHandler(key(2000000), &b);
  erase.addHandler(key(3000000), &c);
  erase.removeTimeHandler(&b);
  EXPECT_EQ(contents(erase), (std::vector<Entry>{{1000000, {&a}}, {3000000, {&c}}}));
  erase.removeTimeHandler(&a);
  erase.removeTimeHandler(&c);
  EXPECT_TRUE(erase.empty());

  // A handler that is not registered: nothing changes.
  CQVRelTimeHandlersMap absent;
  absent.addHandler(key(1000000), &a);
  absent.removeTimeHandler(&b);
  EXPECT_EQ(contents(absent), (std::vector<Entry>{{1000000, {&a}}}));
  CQVRelTimeHandlersMap empty;
  empty.removeTimeHandler(&a);
  EXPECT_TRUE(empty.empty());
}

TEST(TimeHandlersMap, PopHandlerAndEraseCurrIfEmpty) {
  DummyHandler a, b, c;
  CQVRelTimeHandlersMap map;

  // Nothing to pop in an empty map; the current time at the end is 0.
  map.setCurrToFirst();
  EXPECT_EQ(map.popHandler(), nullptr);
  EXPECT_EQ(map.getCurrTime().QuadPart, 0u);
  map.eraseCurrIfEmpty();
  EXPECT_TRUE(map.empty());

  map.addHandler(key(3000000), &c);
  map.addHandler(key(1000000), &a);
  map.addHandler(key(1000000), &b);
  map.setCurrToFirst();
  EXPECT_EQ(map.getCurrTime().QuadPart, 1000000u);

  map.eraseCurrIfEmpty();  // not empty: stays
  EXPECT_EQ(map.entryCount(), 2u);

  EXPECT_EQ(map.popHandler(), &a);
  EXPECT_EQ(map.popHandler(), &b);
  // The emptied entry stays until eraseCurrIfEmpty.
  EXPECT_EQ(contents(map), (std::vector<Entry>{{1000000, {}}, {3000000, {&c}}}));
  EXPECT_EQ(map.popHandler(), nullptr);
  map.eraseCurrIfEmpty();
  EXPECT_EQ(contents(map), (std::vector<Entry>{{3000000, {&c}}}));

  map.setCurrToFirst();
  EXPECT_EQ(map.getCurrTime().QuadPart, 3000000u);
  EXPECT_EQ(map.popHandler(), &c);
  map.eraseCurrIfEmpty();
  EXPECT_TRUE(map.empty());

  // clear() drops every entry; the map then works as a new one.
  bool isFirst = false;
  map.addHandler(key(1000000), &a);
  map.addHandler(key(5000000), &b);
  map.clear();
  EXPECT_TRUE(map.empty());
  map.setCurrToFirst();
  EXPECT_EQ(map.popHandler(), nullptr);
  map.addTimeHandlerByRelTime(key(9000000), &c, isFirst);
  EXPECT_TRUE(isFirst);
  EXPECT_EQ(contents(map), (std::vector<Entry>{{9000000, {&c}}}));
}

TEST(TimeHandlersMap, AddHandlersMergesAfterExistingHandlers) {
  DummyHandler a, b, c, d, e, f;
  CQVRelTimeHandlersMap map;

  map.addHandler(key(1000000), &a);
  map.addHandler(key(1000000), &b);
  map.addHandlers(key(1015000), listOf({&c, &d}));  // equivalent key: appended, key kept
  EXPECT_EQ(contents(map), (std::vector<Entry>{{1000000, {&a, &b, &c, &d}}}));

  map.addHandlers(key(5000000), listOf({&e, &a}));  // new key: the list becomes the entry
  EXPECT_EQ(contents(map), (std::vector<Entry>{{1000000, {&a, &b, &c, &d}}, {5000000, {&e, &a}}}));

  // Slot 2 of the relative map keys by the relative time itself.
  map.addTimeHandlersByRelTime(key(4990000), listOf({&f}));
  EXPECT_EQ(contents(map), (std::vector<Entry>{{1000000, {&a, &b, &c, &d}}, {5000000, {&e, &a, &f}}}));

  // Slot 2 of the absolute map keys by now + relative time.
  ScopedManualClock clock;
  const std::uint64_t now = clock->now();
  CQVAbsTimeHandlersMap abs;
  abs.addHandler(key(now + 2 * kSecond), &a);
  abs.addTimeHandlersByRelTime(key(2 * kSecond + kMillisecond), listOf({&b, &c}));
  abs.addTimeHandlersByRelTime(key(7 * kSecond), listOf({&d}));
  EXPECT_EQ(contents(abs), (std::vector<Entry>{{now + 2 * kSecond, {&a, &b, &c}}, {now + 7 * kSecond, {&d}}}));
}

TEST(TimeHandlersMap, AbsoluteMapKeysAndRemainingSeconds) {
  ScopedManualClock clock;
  const std::uint64_t now = clock->now();
  DummyHandler a, b, c, d, absent;
  CQVAbsTimeHandlersMap map;
  bool isFirst = false;

  map.addTimeHandlerByRelTime(5L, &a, isFirst);                        // now + 5 s
  map.addTimeHandlerByRelTime(-2L, &b, isFirst);                       // now - 2 s: already due
  map.addTimeHandlerByRelTime(key(39000000), &c, isFirst);             // now + 3.9 s
  map.addTimeHandlerByRelTime(0L, &d, isFirst);                        // now
  EXPECT_EQ(contents(map), (std::vector<Entry>{{now - 2 * kSecond, {&b}},
                                               {now, {&d}},
                                               {now + 39000000, {&c}},
                                               {now + 5 * kSecond, {&a}}}));

  long seconds = -77;
  EXPECT_TRUE(map.getRelativeTimeToNotifyHandler(&a, seconds));
  EXPECT_EQ(seconds, 5);
  EXPECT_TRUE(map.getRelativeTimeToNotifyHandler(&c, seconds));
  EXPECT_EQ(seconds, 3);  // 3.9 s, truncated
  seconds = -77;
  EXPECT_TRUE(map.getRelativeTimeToNotifyHandler(&b, seconds));
  EXPECT_EQ(seconds, 0);  // past: 0
  seconds = -77;
  EXPECT_TRUE(map.getRelativeTimeToNotifyHandler(&d, seconds));
  EXPECT_EQ(seconds, 0);
  seconds = -77;
  EXPECT_FALSE(map.getRelativeTimeToNotifyHandler(&absent, seconds));
  EXPECT_EQ(seconds, -77);  // untouched

  // The answer follows the clock.
  clock->advance(std::chrono::milliseconds(1500));
  EXPECT_TRUE(map.getRelativeTimeToNotifyHandler(&c, seconds));
  EXPECT_EQ(seconds, 2);  // 2.4 s left
  EXPECT_TRUE(map.getRelativeTimeToNotifyHandler(&a, seconds));
  EXPECT_EQ(seconds, 3);  // 3.5 s left
  clock->advance(std::chrono::milliseconds(2500));
  EXPECT_TRUE(map.getRelativeTimeToNotifyHandler(&c, seconds));
  EXPECT_EQ(seconds, 0);  // overdue by 0.1 s

  // The earliest registration of a handler answers.
  map.addTimeHandlerByRelTime(-1L, &a, isFirst);
  EXPECT_TRUE(map.getRelativeTimeToNotifyHandler(&a, seconds));
  EXPECT_EQ(seconds, 0);
  map.removeTimeHandler(&a);
  EXPECT_TRUE(map.getRelativeTimeToNotifyHandler(&a, seconds));
  EXPECT_EQ(seconds, 1);  // now + 4 s passed; 1 s left of the 5 s

  // Current position: absolute key, time remaining; 0 at the end.
  const std::uint64_t later = clock->now();
  map.setCurrToFirst();
  EXPECT_EQ(map.getCurrAbsTime().QuadPart, now - 2 * kSecond);
  EXPECT_EQ(map.getCurrTime().QuadPart, now - 2 * kSecond);
  EXPECT_EQ(map.getCurrRelTime().QuadPart, (now - 2 * kSecond) - later);  // modulo 2^64: negative
  EXPECT_EQ(static_cast<std::int64_t>(map.getCurrRelTime().QuadPart), -6 * static_cast<std::int64_t>(kSecond));
  map.clear();
  map.addTimeHandlerByRelTime(key(12345678), &a, isFirst);
  map.setCurrToFirst();
  EXPECT_EQ(map.getCurrRelTime().QuadPart, 12345678u);
  EXPECT_EQ(map.getCurrAbsTime().QuadPart, later + 12345678u);
  map.clear();
  map.setCurrToFirst();
  EXPECT_EQ(map.getCurrRelTime().QuadPart, 0u);
  EXPECT_EQ(map.getCurrAbsTime().QuadPart, 0u);
}

TEST(TimeHandlersMap, RelativeMapKeysAndRemainingSeconds) {
  ScopedManualClock clock;
  DummyHandler a, b, c, absent;
  CQVRelTimeHandlersMap map;
  bool isFirst = false;

  map.addTimeHandlerByRelTime(7L, &a, isFirst);               // 7 s as the key itself
  map.addTimeHandlerByRelTime(key(39000000), &b, isFirst);    // 3.9 s
  map.addTimeHandlersByRelTime(key(120 * kSecond), listOf({&c}));
  EXPECT_EQ(contents(map), (std::vector<Entry>{{39000000, {&b}}, {7 * kSecond, {&a}}, {120 * kSecond, {&c}}}));

  long seconds = -77;
  EXPECT_TRUE(map.getRelativeTimeToNotifyHandler(&a, seconds));
  EXPECT_EQ(seconds, 7);
  EXPECT_TRUE(map.getRelativeTimeToNotifyHandler(&b, seconds));
  EXPECT_EQ(seconds, 3);
  EXPECT_TRUE(map.getRelativeTimeToNotifyHandler(&c, seconds));
  EXPECT_EQ(seconds, 120);
  seconds = -77;
  EXPECT_FALSE(map.getRelativeTimeToNotifyHandler(&absent, seconds));
  EXPECT_EQ(seconds, -77);

  // Remaining durations do not run down with the clock.
  clock->advance(std::chrono::seconds(5));
  EXPECT_TRUE(map.getRelativeTimeToNotifyHandler(&a, seconds));
  EXPECT_EQ(seconds, 7);

  // Current position: the key is the relative time; the absolute time is now + key.
  const std::uint64_t now = clock->now();
  map.setCurrToFirst();
  EXPECT_EQ(map.getCurrRelTime().QuadPart, 39000000u);
  EXPECT_EQ(map.getCurrTime().QuadPart, 39000000u);
  EXPECT_EQ(map.getCurrAbsTime().QuadPart, now + 39000000u);
  map.clear();
  map.setCurrToFirst();
  EXPECT_EQ(map.getCurrRelTime().QuadPart, 0u);
  EXPECT_EQ(map.getCurrAbsTime().QuadPart, 0u);
}

// Random adds, removals, pops, clears and whole-entry moves, checked after every step against a
// plain model that scans every entry (removal takes the first entry in key order holding the
// handler, nearest the front). Few handlers and few keys, so handlers repeat within and across
// entries and lists merge into entries that already hold the same handlers.
TEST(TimeHandlersMap, RemovalIndexAgreesWithAFullScan) {
  ScopedManualClock clock;
  CQVRelTimeHandlersMap map;
  CQVRelTimeHandlersMap other;  // receives whole entries, as a pause moves them
  DummyHandler handlers[6];
  std::map<std::uint64_t, std::vector<CQVTimeHandler*>> model;
  std::map<std::uint64_t, std::vector<CQVTimeHandler*>> otherModel;
  std::uint32_t seed = 12345;
  auto next = [&seed](std::uint32_t bound) {
    seed = seed * 1664525u + 1013904223u;
    return (seed >> 8) % bound;
  };
  auto modelContents = [](const std::map<std::uint64_t, std::vector<CQVTimeHandler*>>& m) {
    return std::vector<Entry>(m.begin(), m.end());
  };
  for (int step = 0; step < 20000; ++step) {
    CQVTimeHandler* h = &handlers[next(6)];
    const std::uint64_t k = (1 + next(12)) * kSecond;
    switch (next(10)) {
      case 0: case 1: case 2: case 3: {
        bool isFirst = false;
        map.addTimeHandlerByRelTime(key(k), h, isFirst);
        model[k].push_back(h);
        break;
      }
      case 4: case 5: {
        map.removeTimeHandler(h);
        for (auto it = model.begin(); it != model.end(); ++it) {
          auto found = std::find(it->second.begin(), it->second.end(), h);
          if (found == it->second.end()) continue;
          it->second.erase(found);
          if (it->second.empty()) model.erase(it);
          break;
        }
        break;
      }
      case 6: {
        map.setCurrToFirst();
        CQVTimeHandler* popped = map.popHandler();
        map.eraseCurrIfEmpty();
        ASSERT_EQ(popped, model.empty() ? nullptr : model.begin()->second.front()) << "step " << step;
        if (!model.empty()) {
          model.begin()->second.erase(model.begin()->second.begin());
          if (model.begin()->second.empty()) model.erase(model.begin());
        }
        break;
      }
      case 7: case 8: {
        // The first entry goes to the other map and one of the other map's entries comes back.
        map.setCurrToFirst();
        if (!map.currIsEnd()) {
          const std::uint64_t moved = map.getCurrTime().QuadPart;
          other.addTimeHandlersByRelTime(key(moved), map.takeCurrHandlers());
          auto& target = otherModel[moved];
          target.insert(target.end(), model.begin()->second.begin(), model.begin()->second.end());
          model.erase(model.begin());
        }
        other.setCurrToFirst();
        if (!other.currIsEnd() && next(2) == 0) {
          map.addTimeHandlersByRelTime(key(k), other.takeCurrHandlers());
          auto& target = model[k];
          target.insert(target.end(), otherModel.begin()->second.begin(), otherModel.begin()->second.end());
          otherModel.erase(otherModel.begin());
        }
        break;
      }
      default:
        if (next(50) == 0) {
          map.clear();
          model.clear();
        }
        break;
    }
    ASSERT_EQ(contents(map), modelContents(model)) << "step " << step;
    ASSERT_EQ(contents(other), modelContents(otherModel)) << "step " << step;
    for (DummyHandler& each : handlers) {
      long seconds = -1;
      const bool found = map.getRelativeTimeToNotifyHandler(&each, seconds);
      long expected = -1;
      for (const auto& entry : model) {
        if (std::find(entry.second.begin(), entry.second.end(), &each) != entry.second.end()) {
          expected = static_cast<long>(entry.first / kSecond);
          break;
        }
      }
      ASSERT_EQ(found, expected >= 0) << "step " << step;
      if (found) {
        ASSERT_EQ(seconds, expected) << "step " << step;
      }
    }
  }
}
