// Tests of the events library: registrations and their reports, the request and event queue, the
// host's definitions and the process-wide manager under several threads.
#include "qveventsmanagement.h"
#include "QVNodePool.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <cstring>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <new>
#include <random>
#include <string>
#include <thread>
#include <vector>

using ::testing::ElementsAre;
using ::testing::IsEmpty;
using ::testing::UnorderedElementsAre;

namespace {

// Lines written by handlers, requests and manager hooks, in call order, from any thread.
class Journal {
 public:
  void add(const std::string& line) {
    std::lock_guard<std::mutex> lock(mutex_);
    lines_.push_back(line);
  }
  // Returns the lines so far and starts afresh.
  std::vector<std::string> take() {
    std::lock_guard<std::mutex> lock(mutex_);
    std::vector<std::string> lines;
    lines.swap(lines_);
    return lines;
  }

 private:
  std::mutex mutex_;
  std::vector<std::string> lines_;
};

// Definition keyed by a number; each Tag makes a class of its own, named Tag::name.
template <typename Tag>
class NumberedDef : public CQVEventDef {
 public:
  explicit NumberedDef(int key) : key_(key) {}
  CQVEventDef* clone() const override { return new NumberedDef(*this); }
  std::string toString() const override { return std::string(Tag::name) + " " + std::to_string(key_); }
  bool equals(const CQVEventDef& other) const override {
    const auto* o = dynamic_cast<const NumberedDef*>(&other);
    return o != nullptr && o->key_ == key_;
  }
  bool lessThan(const CQVEventDef& other) const override {
    const auto* o = dynamic_cast<const NumberedDef*>(&other);
    return o != nullptr && key_ < o->key_;
  }
  // Two values on purpose: keys of one parity collide, and so do definitions of two classes with
  // one key, so that every test also matches within a shared bucket.
  std::size_t hash() const override { return static_cast<std::size_t>(key_ & 1); }

 private:
  int key_;
};

struct KeyDefTag {
  static constexpr const char* name = "KeyDef";
};
using KeyDef = NumberedDef<KeyDefTag>;

// Another class whose equals() (inherited) accepts a KeyDef with the same key.
class DerivedKeyDef : public KeyDef {
 public:
  explicit DerivedKeyDef(int key) : KeyDef(key) {}
  CQVEventDef* clone() const override { return new DerivedKeyDef(*this); }
  std::string toString() const override { return "Derived" + KeyDef::toString(); }
};

// A definition whose copies cannot be made.
class UncopyableDef : public KeyDef {
 public:
  explicit UncopyableDef(int key) : KeyDef(key) {}
  CQVEventDef* clone() const override { throw std::bad_alloc(); }
};

// A class whose equals() accepts any definition at all.
class AnyDef : public CQVEventDef {
 public:
  CQVEventDef* clone() const override { return new AnyDef(*this); }
  std::string toString() const override { return "AnyDef"; }
  bool equals(const CQVEventDef&) const override { return true; }
  bool lessThan(const CQVEventDef&) const override { return false; }
};

// Journals "<name> on <def>" for each event, then runs `action` (followed by "<name> end") and
// "<name> released <def> -> <remaining>" for each report. Deletes itself on a report of 0 when
// `deleteWhenReleased` is set.
class RecordingHandler : public CQVEventHandler {
 public:
  RecordingHandler(std::string name, Journal& journal) : name_(std::move(name)), journal_(journal) {}
  ~RecordingHandler() override {
    if (deleteWhenReleased) journal_.add(name_ + " deleted");
  }

  void onEvent(const CQVEventDef& def) override {
    journal_.add(name_ + " on " + def.toString());
    if (action) {
      action(def);
      journal_.add(name_ + " end");
    }
  }
  void setUnregisteredFromEvent(const CQVEventDef& def, long remaining) override {
    journal_.add(name_ + " released " + def.toString() + " -> " + std::to_string(remaining));
    if (deleteWhenReleased && remaining == 0) delete this;
  }
  std::string getName() const override { return name_; }

  std::function<void(const CQVEventDef&)> action;
  bool deleteWhenReleased = false;

 private:
  std::string name_;
  Journal& journal_;
};

// Journals "request <label>" and runs `action`.
class TestRequest : public CQVEventRequest {
 public:
  TestRequest(std::string label, Journal& journal, std::function<void()> action = {})
      : label(std::move(label)), journal_(&journal), action_(std::move(action)) {}
  CQVEventRequest* clone() const override { return new TestRequest(*this); }
  bool execute() override {
    journal_->add("request " + label);
    if (action_) action_();
    return true;
  }

  std::string label;

 private:
  Journal* journal_;
  std::function<void()> action_;
};

// A manager that journals its hooks ("first <def>", "last <def>", "pre", "post") and whose
// queue runs only while `open` is set.
class TestManager : public CQVBaseEventsManager {
 public:
  explicit TestManager(Journal& journal) : journal_(journal) {}

  using CQVBaseEventsManager::addEventToNotifyOn;
  using CQVBaseEventsManager::addRequest;
  using CQVBaseEventsManager::notifyOnEventsNow;
  using CQVBaseEventsManager::unregisterAllHandlers;

  std::atomic<bool> open{true};

 protected:
  void registeredFirstHandlerForEvent(const CQVEventDef& def) override {
    journal_.add("first " + def.toString());
  }
  void unregisteredLastHandlerForEvent(const CQVEventDef& def) override {
    journal_.add("last " + def.toString());
  }
  bool canExecuteRequests() override { return open; }
  void preExecuteEventRequests() override {
    journal_.add("pre");
    runOnce(duringPre);
  }
  void postExecuteEventRequests() override {
    journal_.add("post");
    runOnce(duringPost);
  }

 public:
  // Each run once, inside the next pre- or postExecuteEventRequests().
  std::function<void()> duringPre;
  std::function<void()> duringPost;

 private:
  static void runOnce(std::function<void()>& slot) {
    if (!slot) return;
    const std::function<void()> action = std::move(slot);
    slot = nullptr;
    action();
  }

  Journal& journal_;
};

// One-shot signal between two threads.
class Signal {
 public:
  void set() {
    {
      std::lock_guard<std::mutex> lock(mutex_);
      set_ = true;
    }
    cv_.notify_all();
  }
  void wait() {
    std::unique_lock<std::mutex> lock(mutex_);
    cv_.wait(lock, [this] { return set_; });
  }
  bool isSet() {
    std::lock_guard<std::mutex> lock(mutex_);
    return set_;
  }

 private:
  std::mutex mutex_;
  std::condition_variable cv_;
  bool set_ = false;
};

}  // namespace

TEST(EventsLibrary, FirstAndLastHandlerCallbacks) {
  Journal journal;
  TestManager manager(journal);
  RecordingHandler a("A", journal);
  RecordingHandler b("B", journal);

  // Equal definitions given as different objects share one entry: one first callback.
  EXPECT_TRUE(manager.registerOnEvent(KeyDef(1), &a));
  EXPECT_TRUE(manager.registerOnEvent(KeyDef(1), &b));
  EXPECT_TRUE(manager.registerOnEvent(KeyDef(2), &b));
  EXPECT_FALSE(manager.registerOnEvent(KeyDef(3), nullptr));
  EXPECT_THAT(journal.take(), ElementsAre("first KeyDef 1", "first KeyDef 2"));
  EXPECT_EQ(manager.registrationCount(&a), 1);
  EXPECT_EQ(manager.registrationCount(&b), 2);

  // The last callback comes only with the last handler, and before that handler's report.
  EXPECT_TRUE(manager.unregisterOnEvent(KeyDef(1), &a));
  EXPECT_THAT(journal.take(), ElementsAre("A released KeyDef 1 -> 0"));
  EXPECT_TRUE(manager.unregisterOnEvent(KeyDef(1), &b));
  EXPECT_THAT(journal.take(), ElementsAre("last KeyDef 1", "B released KeyDef 1 -> 1"));
  EXPECT_TRUE(manager.unregisterOnEvent(KeyDef(2), &b));
  EXPECT_THAT(journal.take(), ElementsAre("last KeyDef 2", "B released KeyDef 2 -> 0"));
  EXPECT_EQ(manager.registrationCount(&a), 0);
  EXPECT_EQ(manager.registrationCount(&b), 0);

  // A definition that lost all its handlers starts over.
  EXPECT_TRUE(manager.registerOnEvent(KeyDef(1), &a));
  EXPECT_TRUE(manager.unregisterOnEvent(KeyDef(1), &a));
  EXPECT_THAT(journal.take(),
              ElementsAre("first KeyDef 1", "last KeyDef 1", "A released KeyDef 1 -> 0"));
}

TEST(EventsLibrary, DefinitionsOfDifferentClassesNeverMatch) {
  // The premise: equals() alone would accept these pairs.
  EXPECT_TRUE(KeyDef(1).equals(DerivedKeyDef(1)));
  EXPECT_TRUE(AnyDef().equals(KeyDef(1)));
  EXPECT_FALSE(KeyDef(1) == DerivedKeyDef(1));
  EXPECT_FALSE(AnyDef() == KeyDef(1));
  EXPECT_TRUE(KeyDef(1) == KeyDef(1));
  EXPECT_FALSE(KeyDef(1) == KeyDef(2));

  Journal journal;
  TestManager manager(journal);
  RecordingHandler a("A", journal);
  RecordingHandler b("B", journal);
  ASSERT_TRUE(manager.registerOnEvent(KeyDef(1), &a));
  EXPECT_FALSE(manager.unregisterOnEvent(DerivedKeyDef(1), &a));
  EXPECT_FALSE(manager.unregisterOnEvent(AnyDef(), &a));
  manager.notifyOnEvent(DerivedKeyDef(1));
  manager.notifyOnEvent(AnyDef());
  EXPECT_THAT(journal.take(), ElementsAre("first KeyDef 1", "pre", "post", "pre", "post"));
  EXPECT_EQ(manager.registrationCount(&a), 1);

  // The other class gets its own entry and its own first callback.
  ASSERT_TRUE(manager.registerOnEvent(DerivedKeyDef(1), &b));
  manager.notifyOnEvent(KeyDef(1));
  manager.notifyOnEvent(DerivedKeyDef(1));
  EXPECT_THAT(journal.take(), ElementsAre("first DerivedKeyDef 1", "pre", "A on KeyDef 1", "post",
                                          "pre", "B on DerivedKeyDef 1", "post"));

  EXPECT_TRUE(manager.unregisterOnEvent(KeyDef(1), &a));
  EXPECT_TRUE(manager.unregisterOnEvent(DerivedKeyDef(1), &b));
  EXPECT_THAT(journal.take(), ElementsAre("last KeyDef 1", "A released KeyDef 1 -> 0",
                                          "last DerivedKeyDef 1", "B released DerivedKeyDef 1 -> 0"));
}

TEST(EventsLibrary, RemainingRegistrationsAndSelfDeletion) {
  Journal journal;
  TestManager manager(journal);

  // Two registrations for one definition are two deliveries and count down one at a time.
  RecordingHandler a("A", journal);
  ASSERT_TRUE(manager.registerOnEvent(KeyDef(1), &a));
  ASSERT_TRUE(manager.registerOnEvent(KeyDef(1), &a));
  ASSERT_TRUE(manager.registerOnEvent(KeyDef(2), &a));
  manager.notifyOnEvent(KeyDef(1));
  EXPECT_THAT(journal.take(), ElementsAre("first KeyDef 1", "first KeyDef 2", "pre",
                                          "A on KeyDef 1", "A on KeyDef 1", "post"));
  EXPECT_TRUE(manager.unregisterOnEvent(KeyDef(1), &a));
  manager.notifyOnEvent(KeyDef(1));
  EXPECT_TRUE(manager.unregisterOnEvent(KeyDef(2), &a));
  EXPECT_TRUE(manager.unregisterOnEvent(KeyDef(1), &a));
  EXPECT_FALSE(manager.unregisterOnEvent(KeyDef(1), &a));
  EXPECT_THAT(journal.take(),
              ElementsAre("A released KeyDef 1 -> 2", "pre", "A on KeyDef 1", "post",
                          "last KeyDef 2", "A released KeyDef 2 -> 1", "last KeyDef 1",
                          "A released KeyDef 1 -> 0"));

  // A handler that deletes itself on its last report is never touched again.
  auto* h = new RecordingHandler("H", journal);
  h->deleteWhenReleased = true;
  ASSERT_TRUE(manager.registerOnEvent(KeyDef(3), h));
  ASSERT_TRUE(manager.registerOnEvent(KeyDef(4), h));
  EXPECT_TRUE(manager.unregisterOnEvent(KeyDef(3), h));
  EXPECT_THAT(journal.take(), ElementsAre("first KeyDef 3", "first KeyDef 4", "last KeyDef 3",
                                          "H released KeyDef 3 -> 1"));
  EXPECT_TRUE(manager.unregisterOnEvent(KeyDef(4), h));
  manager.notifyOnEvent(KeyDef(3));
  manager.notifyOnEvent(KeyDef(4));
  EXPECT_THAT(journal.take(), ElementsAre("last KeyDef 4", "H released KeyDef 4 -> 0", "H deleted",
                                          "pre", "post", "pre", "post"));
}

TEST(EventsLibrary, UnregisteringWhatWasNeverRegistered) {
  Journal journal;
  TestManager manager(journal);
  RecordingHandler a("A", journal);
  RecordingHandler b("B", journal);
  EXPECT_FALSE(manager.unregisterOnEvent(KeyDef(1), &a));
  ASSERT_TRUE(manager.registerOnEvent(KeyDef(1), &a));
  EXPECT_FALSE(manager.unregisterOnEvent(KeyDef(2), &a));
  EXPECT_FALSE(manager.unregisterOnEvent(KeyDef(1), &b));
  EXPECT_FALSE(manager.unregisterOnEvent(KeyDef(1), nullptr));
  EXPECT_THAT(journal.take(), ElementsAre("first KeyDef 1"));
  EXPECT_EQ(manager.registrationCount(&a), 1);
  EXPECT_EQ(manager.registrationCount(&b), 0);
  EXPECT_TRUE(manager.unregisterOnEvent(KeyDef(1), &a));
  EXPECT_THAT(journal.take(), ElementsAre("last KeyDef 1", "A released KeyDef 1 -> 0"));
}

TEST(EventsLibrary, RegistrationChangesDuringDelivery) {
  Journal journal;
  TestManager manager(journal);
  RecordingHandler a("A", journal);
  RecordingHandler b("B", journal);
  RecordingHandler c("C", journal);
  RecordingHandler d("D", journal);
  ASSERT_TRUE(manager.registerOnEvent(KeyDef(1), &a));
  ASSERT_TRUE(manager.registerOnEvent(KeyDef(1), &b));
  ASSERT_TRUE(manager.registerOnEvent(KeyDef(1), &c));
  journal.take();

  // A drops B (reported at once: B is not running) and itself (reported once A's onEvent has
  // returned), and adds D, which does not get the event in progress.
  a.action = [&](const CQVEventDef&) {
    EXPECT_TRUE(manager.unregisterOnEvent(KeyDef(1), &b));
    EXPECT_TRUE(manager.unregisterOnEvent(KeyDef(1), &a));
    EXPECT_TRUE(manager.registerOnEvent(KeyDef(1), &d));
  };
  manager.notifyOnEvent(KeyDef(1));
  EXPECT_THAT(journal.take(), ElementsAre("pre", "A on KeyDef 1", "B released KeyDef 1 -> 0", "A end",
                                          "A released KeyDef 1 -> 0", "C on KeyDef 1", "post"));

  manager.notifyOnEvent(KeyDef(1));
  EXPECT_THAT(journal.take(), ElementsAre("pre", "C on KeyDef 1", "D on KeyDef 1", "post"));

  // Dropping every registration during a delivery stops the rest of it.
  c.action = [&](const CQVEventDef&) { manager.unregisterAllHandlers(); };
  manager.notifyOnEvent(KeyDef(1));
  EXPECT_THAT(journal.take(), ElementsAre("pre", "C on KeyDef 1", "last KeyDef 1", "C end", "post"));
  EXPECT_EQ(manager.registrationCount(&c), 0);
  EXPECT_EQ(manager.registrationCount(&d), 0);
}

TEST(EventsLibrary, SelfDeletingHandlersDuringDelivery) {
  Journal journal;
  TestManager manager(journal);

  // E holds three registrations and drops them all from its onEvent: its second registration for
  // the event is not called, and the reports wait for onEvent to return and count down to 0.
  auto* e = new RecordingHandler("E", journal);
  e->deleteWhenReleased = true;
  ASSERT_TRUE(manager.registerOnEvent(KeyDef(2), e));
  ASSERT_TRUE(manager.registerOnEvent(KeyDef(2), e));
  ASSERT_TRUE(manager.registerOnEvent(KeyDef(3), e));
  e->action = [&manager, e](const CQVEventDef&) {
    manager.unregisterOnEvent(KeyDef(2), e);
    manager.unregisterOnEvent(KeyDef(3), e);
    manager.unregisterOnEvent(KeyDef(2), e);
  };
  journal.take();
  manager.notifyOnEvent(KeyDef(2));
  EXPECT_THAT(journal.take(),
              ElementsAre("pre", "E on KeyDef 2", "last KeyDef 3", "last KeyDef 2", "E end",
                          "E released KeyDef 2 -> 2", "E released KeyDef 3 -> 1",
                          "E released KeyDef 2 -> 0", "E deleted", "post"));

  // F drops G, which is not running and goes at once (its place in this delivery is skipped),
  // then drops itself and goes after its onEvent.
  auto* f = new RecordingHandler("F", journal);
  auto* g = new RecordingHandler("G", journal);
  f->deleteWhenReleased = true;
  g->deleteWhenReleased = true;
  ASSERT_TRUE(manager.registerOnEvent(KeyDef(4), f));
  ASSERT_TRUE(manager.registerOnEvent(KeyDef(4), g));
  f->action = [&manager, f, g](const CQVEventDef&) {
    manager.unregisterOnEvent(KeyDef(4), g);
    manager.unregisterOnEvent(KeyDef(4), f);
  };
  manager.notifyOnEvent(KeyDef(4));
  EXPECT_THAT(journal.take(),
              ElementsAre("first KeyDef 4", "pre", "F on KeyDef 4", "G released KeyDef 4 -> 0",
                          "G deleted", "last KeyDef 4", "F end", "F released KeyDef 4 -> 0",
                          "F deleted", "post"));
}

TEST(EventsLibrary, NestedEventsRunAfterTheCurrentOneInArrivalOrder) {
  Journal journal;
  TestManager manager(journal);
  RecordingHandler a("A", journal);
  RecordingHandler b("B", journal);
  RecordingHandler c("C", journal);
  RecordingHandler d("D", journal);
  std::size_t pendingInsideA = 0;
  a.action = [&](const CQVEventDef&) {
    manager.notifyOnEvent(KeyDef(2));
    manager.addRequest(TestRequest("r", journal));
    manager.notifyOnEvent(KeyDef(3));
    pendingInsideA = manager.pendingCount();
  };
  b.action = [&](const CQVEventDef&) { manager.notifyOnEvent(KeyDef(4)); };
  ASSERT_TRUE(manager.registerOnEvent(KeyDef(1), &a));
  ASSERT_TRUE(manager.registerOnEvent(KeyDef(2), &b));
  ASSERT_TRUE(manager.registerOnEvent(KeyDef(3), &c));
  ASSERT_TRUE(manager.registerOnEvent(KeyDef(4), &d));
  journal.take();

  manager.notifyOnEvent(KeyDef(1));
  EXPECT_EQ(pendingInsideA, 3u);
  EXPECT_EQ(manager.pendingCount(), 0u);
  EXPECT_THAT(journal.take(), ElementsAre("pre", "A on KeyDef 1", "A end", "B on KeyDef 2", "B end",
                                          "request r", "C on KeyDef 3", "D on KeyDef 4", "post"));
}

TEST(EventsLibrary, HeldRequestsRunOnNotifyOnEventsNowInArrivalOrder) {
  Journal journal;
  TestManager manager(journal);
  RecordingHandler a("A", journal);
  RecordingHandler b("B", journal);
  ASSERT_TRUE(manager.registerOnEvent(KeyDef(1), &a));
  ASSERT_TRUE(manager.registerOnEvent(KeyDef(2), &b));
  journal.take();

  manager.open = false;
  TestRequest first("r1", journal);
  manager.addRequest(first);
  first.label = "changed";  // the manager runs its own copy
  manager.addEventToNotifyOn(KeyDef(1));
  manager.notifyOnEvent(KeyDef(2));
  manager.addRequest(TestRequest("r2", journal));
  manager.notifyOnEventsNow();  // still closed
  EXPECT_THAT(journal.take(), IsEmpty());
  EXPECT_EQ(manager.pendingCount(), 4u);

  manager.open = true;
  manager.notifyOnEventsNow();
  EXPECT_THAT(journal.take(), ElementsAre("pre", "request r1", "A on KeyDef 1", "B on KeyDef 2",
                                          "request r2", "post"));
  EXPECT_EQ(manager.pendingCount(), 0u);

  // A request that closes the manager ends its batch; the rest waits for the next one.
  manager.open = false;
  manager.addRequest(TestRequest("close", journal, [&] { manager.open = false; }));
  manager.addRequest(TestRequest("r3", journal));
  manager.open = true;
  manager.notifyOnEventsNow();
  EXPECT_THAT(journal.take(), ElementsAre("pre", "request close", "post"));
  EXPECT_EQ(manager.pendingCount(), 1u);
  manager.open = true;
  manager.notifyOnEventsNow();
  EXPECT_THAT(journal.take(), ElementsAre("pre", "request r3", "post"));

  // While open, each item runs at once in a batch of its own.
  manager.addRequest(TestRequest("r4", journal));
  EXPECT_THAT(journal.take(), ElementsAre("pre", "request r4", "post"));

  // Nothing queued: no batch at all.
  manager.notifyOnEventsNow();
  EXPECT_THAT(journal.take(), IsEmpty());

  // Reopened but not yet asked to run: an event raised now joins the held items' batch, behind
  // them and ahead of what they add.
  manager.open = false;
  manager.addRequest(TestRequest("held", journal, [&] { manager.addRequest(TestRequest("nested", journal)); }));
  manager.open = true;
  manager.addEventToNotifyOn(KeyDef(1));
  EXPECT_THAT(journal.take(), ElementsAre("pre", "request held", "A on KeyDef 1", "request nested", "post"));

  // A copy that cannot be made behind held items: the call throws, the held items still run and
  // the queue is free for the next item.
  manager.open = false;
  manager.addRequest(TestRequest("held", journal));
  manager.open = true;
  EXPECT_THROW(manager.addEventToNotifyOn(UncopyableDef(1)), std::bad_alloc);
  EXPECT_THAT(journal.take(), ElementsAre("pre", "request held", "post"));
  manager.addEventToNotifyOn(KeyDef(1));
  EXPECT_THAT(journal.take(), ElementsAre("pre", "A on KeyDef 1", "post"));

  // Closed while the running thread waited in its pre hook (a pause taking the hook's lock first):
  // neither the item it came with nor the held ones run, and they keep their order.
  manager.duringPre = [&] { manager.open = false; };
  manager.addEventToNotifyOn(KeyDef(1));
  manager.addRequest(TestRequest("r5", journal));
  EXPECT_THAT(journal.take(), ElementsAre("pre", "post"));
  manager.duringPre = [&] { manager.open = false; };
  manager.open = true;
  manager.notifyOnEventsNow();
  EXPECT_THAT(journal.take(), ElementsAre("pre", "post"));
  EXPECT_EQ(manager.pendingCount(), 2u);
  manager.open = true;
  manager.notifyOnEventsNow();
  EXPECT_THAT(journal.take(), ElementsAre("pre", "A on KeyDef 1", "request r5", "post"));
}

TEST(EventsLibrary, ItemsArrivingAsABatchEndsStillRun) {
  Journal journal;
  TestManager manager(journal);

  // Another thread adds a request while this one is finishing its batch: that thread finds the
  // queue still running and leaves the request to this one, which runs it in a new batch.
  manager.duringPost = [&] {
    std::thread([&] {
      manager.addRequest(TestRequest("late", journal));
      journal.add("added");
    }).join();
  };
  manager.addRequest(TestRequest("first", journal));
  EXPECT_THAT(journal.take(), ElementsAre("pre", "request first", "post", "added", "pre",
                                          "request late", "post"));
  EXPECT_EQ(manager.pendingCount(), 0u);

  // A batch ends because the manager closed; another thread reopens it and asks for the held
  // items while that batch is finishing: they still run.
  manager.open = false;
  manager.addRequest(TestRequest("close", journal, [&] { manager.open = false; }));
  manager.addRequest(TestRequest("held", journal));
  manager.duringPost = [&] {
    std::thread([&] {
      manager.open = true;
      manager.notifyOnEventsNow();
      journal.add("reopened");
    }).join();
  };
  manager.open = true;
  manager.notifyOnEventsNow();
  EXPECT_THAT(journal.take(), ElementsAre("pre", "request close", "post", "reopened", "pre",
                                          "request held", "post"));
  EXPECT_EQ(manager.pendingCount(), 0u);
}

TEST(EventsLibrary, UnregisterAllHandlers) {
  Journal journal;
  TestManager manager(journal);
  TestManager other(journal);
  RecordingHandler a("A", journal);
  RecordingHandler b("B", journal);
  ASSERT_TRUE(manager.registerOnEvent(KeyDef(1), &a));
  ASSERT_TRUE(manager.registerOnEvent(KeyDef(1), &b));
  ASSERT_TRUE(manager.registerOnEvent(KeyDef(2), &b));
  ASSERT_TRUE(other.registerOnEvent(KeyDef(1), &a));
  journal.take();

  // One last callback per definition, no reports, and only this manager's registrations go.
  manager.unregisterAllHandlers();
  EXPECT_THAT(journal.take(), UnorderedElementsAre("last KeyDef 1", "last KeyDef 2"));
  EXPECT_EQ(manager.registrationCount(&a), 0);
  EXPECT_EQ(manager.registrationCount(&b), 0);
  EXPECT_EQ(other.registrationCount(&a), 1);

  manager.notifyOnEvent(KeyDef(1));
  manager.notifyOnEvent(KeyDef(2));
  EXPECT_FALSE(manager.unregisterOnEvent(KeyDef(1), &a));
  EXPECT_THAT(journal.take(), ElementsAre("pre", "post", "pre", "post"));

  manager.unregisterAllHandlers();  // nothing left: no callback
  EXPECT_THAT(journal.take(), IsEmpty());

  ASSERT_TRUE(manager.registerOnEvent(KeyDef(1), &b));
  manager.notifyOnEvent(KeyDef(1));
  EXPECT_TRUE(manager.unregisterOnEvent(KeyDef(1), &b));
  EXPECT_TRUE(other.unregisterOnEvent(KeyDef(1), &a));
  EXPECT_THAT(journal.take(),
              ElementsAre("first KeyDef 1", "pre", "B on KeyDef 1", "post", "last KeyDef 1",
                          "B released KeyDef 1 -> 0", "last KeyDef 1", "A released KeyDef 1 -> 0"));
}

// A delivery first tries the entry of its class made after the one delivered last. Whatever the
// order of deliveries, registrations and unregistrations, an event reaches the handler of its own
// definition and class only (DerivedKeyDef's equals() accepts a KeyDef of the same key).
TEST(EventsLibrary, DeliveriesFindTheirDefinitionInAnyOrder) {
  // Operations: d<k>/D<k> deliver KeyDef/DerivedKeyDef k; u<k>/r<k> unregister/register KeyDef k.
  std::vector<std::vector<std::string>> cases = {
      {"d0", "d1", "d2", "d3", "d4", "d5", "d0"},
      {"d5", "d4", "d3", "d2", "d1", "d0"},
      {"d0", "D0", "d1", "D1", "D2", "d2"},
      {"d0", "u1", "d1", "d2", "d1", "r1", "d1", "d5", "d1", "d2"},
      {"d5", "u5", "d5", "r5", "d4", "d5", "d5"},
      {"u0", "u1", "u2", "u3", "u4", "u5", "d0", "r2", "r0", "d2", "d0", "d2"},
  };
  std::mt19937 random(7);
  std::vector<std::string>& mixed = cases.emplace_back();
  for (int i = 0; i < 300; ++i) mixed.push_back(std::string(1, "dDur"[random() % 4]) + std::to_string(random() % 6));

  for (const auto& ops : cases) {
    Journal journal;
    TestManager manager(journal);
    std::vector<std::unique_ptr<RecordingHandler>> handlers;
    std::vector<bool> registered(6, true);
    for (int k = 0; k < 6; ++k) {
      handlers.push_back(std::make_unique<RecordingHandler>("K" + std::to_string(k), journal));
      handlers.push_back(std::make_unique<RecordingHandler>("D" + std::to_string(k), journal));
      ASSERT_TRUE(manager.registerOnEvent(KeyDef(k), handlers[2 * k].get()));
      ASSERT_TRUE(manager.registerOnEvent(DerivedKeyDef(k), handlers[2 * k + 1].get()));
    }
    std::vector<std::string> expected;
    journal.take();
    for (const std::string& op : ops) {
      const int k = op[1] - '0';
      const std::string key = op.substr(1);
      if (op[0] == 'd') {
        manager.notifyOnEvent(KeyDef(k));
        if (registered[k]) expected.push_back("K" + key + " on KeyDef " + key);
      } else if (op[0] == 'D') {
        manager.notifyOnEvent(DerivedKeyDef(k));
        expected.push_back("D" + key + " on DerivedKeyDef " + key);
      } else if (op[0] == 'u') {
        EXPECT_EQ(manager.unregisterOnEvent(KeyDef(k), handlers[2 * k].get()), registered[k]);
        registered[k] = false;
      } else if (!registered[k]) {  // 'r'
        ASSERT_TRUE(manager.registerOnEvent(KeyDef(k), handlers[2 * k].get()));
        registered[k] = true;
      }
    }
    std::vector<std::string> delivered;
    for (const std::string& line : journal.take()) {
      if (line.find(" on ") != std::string::npos) delivered.push_back(line);
    }
    EXPECT_EQ(delivered, expected) << "operations from " << ops.front() << ", " << ops.size() << " of them";
  }
}

TEST(EventsLibrary, ReportWaitsForDeliveryOnAnotherThread) {
  Journal journal;
  TestManager manager(journal);

  // H blocks inside onEvent until told to go on.
  class BlockingHandler : public CQVEventHandler {
   public:
    void onEvent(const CQVEventDef&) override {
      running = true;
      entered.set();
      proceed.wait();
      running = false;
    }
    void setUnregisteredFromEvent(const CQVEventDef&, long remaining) override {
      reportedWhileRunning = running.load();
      reportThread = std::this_thread::get_id();
      reportedRemaining = remaining;
      reported.set();
    }
    std::string getName() const override { return "H"; }

    Signal entered, proceed, reported;
    std::atomic<bool> running{false};
    bool reportedWhileRunning = false;
    std::thread::id reportThread;
    long reportedRemaining = -1;
  } h;
  RecordingHandler x("X", journal);
  ASSERT_TRUE(manager.registerOnEvent(KeyDef(1), &h));
  ASSERT_TRUE(manager.registerOnEvent(KeyDef(2), &x));
  journal.take();

  std::thread::id deliveringThread;
  std::thread delivering([&] {
    deliveringThread = std::this_thread::get_id();
    manager.notifyOnEvent(KeyDef(1));
  });
  h.entered.wait();

  // The queue is being run on the other thread: this event is left to it.
  manager.notifyOnEvent(KeyDef(2));
  EXPECT_EQ(manager.pendingCount(), 1u);

  EXPECT_TRUE(manager.unregisterOnEvent(KeyDef(1), &h));
  EXPECT_EQ(manager.registrationCount(&h), 0);
  EXPECT_FALSE(h.reported.isSet());

  h.proceed.set();
  delivering.join();
  ASSERT_TRUE(h.reported.isSet());
  EXPECT_FALSE(h.reportedWhileRunning);
  EXPECT_EQ(h.reportThread, deliveringThread);
  EXPECT_EQ(h.reportedRemaining, 0);
  EXPECT_THAT(journal.take(), ElementsAre("pre", "last KeyDef 1", "X on KeyDef 2", "post"));
  EXPECT_TRUE(manager.unregisterOnEvent(KeyDef(2), &x));
}

// A manager that, like a scheduler's, forwards its definitions to an upstream manager while it
// has local handlers for them, and deletes itself once released and no longer registered there.
class ForwardingManager : public CQVBaseEventsManager, public CQVEventHandler {
 public:
  ForwardingManager(CQVBaseEventsManager& upstream, Journal& journal, bool& deleted)
      : upstream_(upstream), journal_(journal), deleted_(deleted) {}
  ~ForwardingManager() override { deleted_ = true; }

  void release() {
    released_ = true;
    if (remaining_ == 0) delete this;
  }

  void onEvent(const CQVEventDef& def) override { addEventToNotifyOn(def); }
  void setUnregisteredFromEvent(const CQVEventDef& def, long remaining) override {
    journal_.add("forwarder released " + def.toString() + " -> " + std::to_string(remaining));
    remaining_ = remaining;
    if (released_ && remaining_ == 0) delete this;
  }
  std::string getName() const override { return "forwarder"; }

 protected:
  void registeredFirstHandlerForEvent(const CQVEventDef& def) override {
    ++remaining_;
    upstream_.registerOnEvent(def, this);
  }
  void unregisteredLastHandlerForEvent(const CQVEventDef& def) override {
    upstream_.unregisterOnEvent(def, this);
  }

 private:
  CQVBaseEventsManager& upstream_;
  Journal& journal_;
  bool& deleted_;
  bool released_ = false;
  long remaining_ = 0;
};

TEST(EventsLibrary, ManagerMayDeleteItselfFromItsLastHook) {
  Journal journal;
  TestManager upstream(journal);
  bool deleted = false;
  auto* forwarder = new ForwardingManager(upstream, journal, deleted);
  RecordingHandler a("A", journal);
  RecordingHandler b("B", journal);

  ASSERT_TRUE(forwarder->registerOnEvent(KeyDef(1), &a));
  ASSERT_TRUE(forwarder->registerOnEvent(KeyDef(1), &b));
  ASSERT_TRUE(forwarder->registerOnEvent(KeyDef(2), &a));
  EXPECT_EQ(upstream.registrationCount(forwarder), 2);
  upstream.notifyOnEvent(KeyDef(1));
  EXPECT_THAT(journal.take(), ElementsAre("first KeyDef 1", "first KeyDef 2", "pre", "A on KeyDef 1",
                                          "B on KeyDef 1", "post"));

  forwarder->release();
  EXPECT_TRUE(forwarder->unregisterOnEvent(KeyDef(1), &a));
  EXPECT_TRUE(forwarder->unregisterOnEvent(KeyDef(2), &a));
  EXPECT_FALSE(deleted);
  // The last local handler goes: the forwarder unregisters upstream, learns it holds nothing
  // there and deletes itself inside this call; B still gets its report.
  EXPECT_TRUE(forwarder->unregisterOnEvent(KeyDef(1), &b));
  EXPECT_TRUE(deleted);
  EXPECT_THAT(journal.take(),
              ElementsAre("A released KeyDef 1 -> 1", "last KeyDef 2",
                          "forwarder released KeyDef 2 -> 1", "A released KeyDef 2 -> 0",
                          "last KeyDef 1", "forwarder released KeyDef 1 -> 0",
                          "B released KeyDef 1 -> 0"));

  // Another thread may delete a manager as soon as the last hook of a run has returned (a derived
  // manager releases a lock there): the run leaves the queue without touching freed memory, which
  // the sanitizer builds check.
  const auto deletedInItsNextPost = [&journal] {
    auto* manager = new TestManager(journal);
    manager->duringPost = [manager] { std::thread([manager] { delete manager; }).join(); };
    return manager;
  };
  deletedInItsNextPost()->addRequest(TestRequest("last", journal));
  EXPECT_THAT(journal.take(), ElementsAre("pre", "request last", "post"));
  // The same when the run was an event's that found held items queued ahead of it.
  TestManager* heldFirst = deletedInItsNextPost();
  heldFirst->open = false;
  heldFirst->addRequest(TestRequest("held", journal));
  heldFirst->open = true;
  heldFirst->addEventToNotifyOn(KeyDef(1));
  EXPECT_THAT(journal.take(), ElementsAre("pre", "request held", "post"));
}

TEST(EventsLibrary, HostEventDefinitions) {
  const CQVGroupFinishedRunningEventDef finished1("g1");
  const CQVGroupFinishedRunningEventDef finished1Again("g1");
  const CQVGroupFinishedRunningEventDef finished2("g2");
  const CQVGroupFinishedRunningEventDef finishedUpper("G1");
  EXPECT_TRUE(finished1 == finished1Again);
  EXPECT_FALSE(finished1 == finished2);
  EXPECT_FALSE(finished1 == finishedUpper);
  EXPECT_TRUE(finished1.lessThan(finished2));
  EXPECT_FALSE(finished2.lessThan(finished1));
  EXPECT_FALSE(finished1.lessThan(finished1Again));
  EXPECT_EQ(finished2.getGroupName(), "g2");
  EXPECT_EQ(finished1.toString(), "CQVGroupFinishedRunningEventDef: groupName = g1");

  const CQVGroupAllVusersInitEventDef initFromString(std::string("g1"));
  const CQVGroupAllVusersInitEventDef initFromChars("g1");
  const CQVGroupAllVusersInitEventDef initFromNull(static_cast<const char*>(nullptr));
  const CQVGroupAllVusersInitEventDef init2("g2");
  EXPECT_TRUE(initFromString == initFromChars);
  EXPECT_FALSE(initFromString == init2);
  EXPECT_TRUE(initFromString.lessThan(init2));
  EXPECT_FALSE(init2.lessThan(initFromString));
  EXPECT_EQ(initFromNull.getGroupName(), "");
  EXPECT_EQ(initFromChars.toString(), "CQVGroupAllVusersInitEventDef: groupName = g1");
  EXPECT_EQ(initFromNull.toString(), "CQVGroupAllVusersInitEventDef: groupName = ");

  // The two group definitions of one group are different events.
  EXPECT_FALSE(initFromString.equals(finished1));
  EXPECT_FALSE(finished1.equals(initFromString));
  EXPECT_FALSE(initFromString.lessThan(finished2));
  EXPECT_FALSE(finished1 == initFromString);

  const CQVScenarioAllVusersInitEventDef scenario;
  const CQVScenarioAllVusersInitEventDef scenarioAgain;
  EXPECT_TRUE(scenario == scenarioAgain);
  EXPECT_TRUE(scenario.equals(finished1));
  EXPECT_FALSE(scenario == finished1);
  EXPECT_FALSE(scenario.lessThan(scenarioAgain));
  EXPECT_EQ(scenario.toString(), "CQVScenarioAllVusersInitEventDef");

  // Copies are equal, of the same class, and described alike.
  for (const CQVEventDef* def : std::vector<const CQVEventDef*>{&finished1, &initFromNull, &scenario}) {
    const std::unique_ptr<CQVEventDef> copy(def->clone());
    EXPECT_TRUE(*copy == *def) << def->toString();
    EXPECT_EQ(copy->toString(), def->toString());
  }

  // The comparator keys a map by class, then by each class's order.
  std::map<const CQVEventDef*, int, CQVEventDefLess> keyed;
  keyed[&finished1] = 1;
  keyed[&finished2] = 2;
  keyed[&initFromString] = 3;
  keyed[&scenario] = 4;
  keyed[&finished1Again] = 5;  // same key as finished1
  keyed[&scenarioAgain] = 6;   // same key as scenario
  EXPECT_EQ(keyed.size(), 4u);
  const CQVGroupFinishedRunningEventDef probe1("g1");
  const CQVGroupAllVusersInitEventDef probe3("g1");
  EXPECT_EQ(keyed.at(&probe1), 5);
  EXPECT_EQ(keyed.at(&finished2), 2);
  EXPECT_EQ(keyed.at(&probe3), 3);
  EXPECT_EQ(keyed.at(&scenario), 6);
  const CQVGroupAllVusersInitEventDef missing("g2");
  EXPECT_EQ(keyed.count(&missing), 0u);
  const CQVEventDefLess less;
  EXPECT_NE(less(finished1, initFromString), less(initFromString, finished1));
  EXPECT_NE(less(scenario, finished2), less(finished2, scenario));
}

TEST(EventsLibrary, ProcessWideManagerDeliversHostEvents) {
  CQVEventsManager* manager = CQVEventsManager::instance();
  ASSERT_NE(manager, nullptr);
  CQVEventsManager* fromOtherThread = nullptr;
  std::thread([&] { fromOtherThread = CQVEventsManager::instance(); }).join();
  EXPECT_EQ(fromOtherThread, manager);

  Journal journal;
  RecordingHandler h("H", journal);
  ASSERT_TRUE(manager->registerOnEvent(CQVGroupFinishedRunningEventDef("events-test-group"), &h));
  ASSERT_TRUE(manager->registerOnEvent(CQVScenarioAllVusersInitEventDef(), &h));
  manager->notifyOnEvent(CQVGroupFinishedRunningEventDef("events-test-other"));
  manager->notifyOnEvent(CQVGroupAllVusersInitEventDef("events-test-group"));
  manager->notifyOnEvent(CQVGroupFinishedRunningEventDef("events-test-group"));
  manager->notifyOnEvent(CQVScenarioAllVusersInitEventDef());
  EXPECT_TRUE(manager->unregisterOnEvent(CQVGroupFinishedRunningEventDef("events-test-group"), &h));
  EXPECT_TRUE(manager->unregisterOnEvent(CQVScenarioAllVusersInitEventDef(), &h));
  EXPECT_EQ(manager->registrationCount(&h), 0);
  EXPECT_THAT(journal.take(),
              ElementsAre("H on CQVGroupFinishedRunningEventDef: groupName = events-test-group",
                          "H on CQVScenarioAllVusersInitEventDef",
                          "H released CQVGroupFinishedRunningEventDef: groupName = events-test-group -> 1",
                          "H released CQVScenarioAllVusersInitEventDef -> 0"));
}

namespace {

// Definition used only by the multi-threaded test, so that nothing else registered on the
// process-wide manager can receive its events.
struct ThreadTestDefTag {
  static constexpr const char* name = "ThreadTestDef";
};
using ThreadTestDef = NumberedDef<ThreadTestDefTag>;

// Checks, on whatever thread calls it, that it is never called after its last report and never
// reported to while one of its calls runs.
class Probe : public CQVEventHandler {
 public:
  void onEvent(const CQVEventDef&) override {
    if (released_) ++callsAfterRelease;
    ++inFlight_;
    {
      std::lock_guard<std::mutex> lock(mutex_);
      ++calls_;
    }
    changed_.notify_all();
    --inFlight_;
  }
  void setUnregisteredFromEvent(const CQVEventDef&, long remaining) override {
    // A report of 0 must never overlap a call. (While registrations remain, a later delivery
    // through them may legitimately run alongside a report.)
    if (remaining == 0 && inFlight_ != 0) ++reportsDuringCall;
    {
      std::lock_guard<std::mutex> lock(mutex_);
      reports_.push_back(remaining);
      if (remaining == 0) released_ = true;
    }
    changed_.notify_all();
  }
  std::string getName() const override { return "probe"; }

  void waitForCall() {
    std::unique_lock<std::mutex> lock(mutex_);
    changed_.wait(lock, [this] { return calls_ > 0; });
  }
  // Waits for the report of 0 and answers the number of calls made until then.
  long waitForRelease() {
    std::unique_lock<std::mutex> lock(mutex_);
    changed_.wait(lock, [this] { return released_.load(); });
    return calls_;
  }
  long calls() {
    std::lock_guard<std::mutex> lock(mutex_);
    return calls_;
  }
  std::vector<long> reports() {
    std::lock_guard<std::mutex> lock(mutex_);
    return reports_;
  }

  std::atomic<int> callsAfterRelease{0};
  std::atomic<int> reportsDuringCall{0};

 private:
  std::atomic<int> inFlight_{0};
  std::atomic<bool> released_{false};
  std::mutex mutex_;
  std::condition_variable changed_;
  long calls_ = 0;
  std::vector<long> reports_;
};

// Counts every event it receives.
class Counter : public CQVEventHandler {
 public:
  void onEvent(const CQVEventDef&) override { ++count; }
  void setUnregisteredFromEvent(const CQVEventDef&, long) override {}
  std::string getName() const override { return "counter"; }
  std::atomic<long> count{0};
};

}  // namespace

TEST(EventsLibrary, ProcessWideManagerAcrossThreads) {
  CQVEventsManager* manager = CQVEventsManager::instance();
  constexpr int kRaisers = 3;
  constexpr int kCycles = 200;
  constexpr int kCountedKey = 7;

  Counter counter;
  ASSERT_TRUE(manager->registerOnEvent(ThreadTestDef(kCountedKey), &counter));

  std::atomic<bool> stop{false};
  std::atomic<int> started{0};
  std::mutex startMutex;
  std::condition_variable startCv;
  std::vector<long> countedRaised(kRaisers, 0);
  std::vector<std::thread> raisers;
  for (int t = 0; t < kRaisers; ++t) {
    raisers.emplace_back([&, t] {
      {
        std::lock_guard<std::mutex> lock(startMutex);
        ++started;
      }
      startCv.notify_all();
      for (int i = 0; !stop; ++i) {
        manager->notifyOnEvent(ThreadTestDef(i % 3));
        if (i % 4 == 0) {
          manager->notifyOnEvent(ThreadTestDef(kCountedKey));
          ++countedRaised[t];
        }
        std::this_thread::yield();  // let the registering thread in on small machines
      }
    });
  }
  {
    std::unique_lock<std::mutex> lock(startMutex);
    startCv.wait(lock, [&] { return started == kRaisers; });
  }

  // Each cycle registers a fresh probe once or twice, lets it receive at least one event, then
  // unregisters it while the raisers go on.
  std::vector<std::unique_ptr<Probe>> probes;
  std::vector<long> callsAtRelease;
  for (int cycle = 0; cycle < kCycles; ++cycle) {
    probes.push_back(std::make_unique<Probe>());
    Probe* probe = probes.back().get();
    const ThreadTestDef def(cycle % 3);
    const bool twice = cycle % 2 == 1;
    ASSERT_TRUE(manager->registerOnEvent(def, probe));
    if (twice) {
      ASSERT_TRUE(manager->registerOnEvent(def, probe));
    }
    probe->waitForCall();
    if (twice) {
      ASSERT_TRUE(manager->unregisterOnEvent(def, probe));
    }
    ASSERT_TRUE(manager->unregisterOnEvent(def, probe));
    EXPECT_EQ(manager->registrationCount(probe), 0);
    callsAtRelease.push_back(probe->waitForRelease());
  }

  stop = true;
  for (std::thread& raiser : raisers) raiser.join();
  EXPECT_TRUE(manager->unregisterOnEvent(ThreadTestDef(kCountedKey), &counter));

  // Every event raised was delivered: none was left behind in the queue.
  long raisedTotal = 0;
  for (long n : countedRaised) raisedTotal += n;
  EXPECT_EQ(counter.count.load(), raisedTotal);
  EXPECT_EQ(manager->pendingCount(), 0u);

  for (int cycle = 0; cycle < kCycles; ++cycle) {
    Probe& probe = *probes[cycle];
    SCOPED_TRACE("cycle " + std::to_string(cycle));
    EXPECT_EQ(probe.callsAfterRelease.load(), 0);
    EXPECT_EQ(probe.reportsDuringCall.load(), 0);
    EXPECT_EQ(probe.calls(), callsAtRelease[cycle]);
    if (cycle % 2 == 1) {
      EXPECT_THAT(probe.reports(), ElementsAre(1, 0));
    } else {
      EXPECT_THAT(probe.reports(), ElementsAre(0));
    }
  }
}

TEST(EventsLibrary, HeldItemsAreNeverLostAcrossThreads) {
  // Batches must not overlap and every request must run inside one.
  class GateManager : public CQVBaseEventsManager {
   public:
    using CQVBaseEventsManager::addRequest;
    using CQVBaseEventsManager::addRequestInPlace;
    using CQVBaseEventsManager::notifyOnEventsNow;
    std::atomic<bool> open{true};
    std::atomic<bool> inBatch{false};
    std::atomic<int> overlappingBatches{0};

   protected:
    bool canExecuteRequests() override { return open; }
    void preExecuteEventRequests() override {
      if (inBatch.exchange(true)) ++overlappingBatches;
    }
    void postExecuteEventRequests() override { inBatch = false; }
  } manager;

  class CountingRequest : public CQVEventRequest {
   public:
    CountingRequest(GateManager& manager, std::atomic<long>& executed, std::atomic<long>& outside)
        : manager_(manager), executed_(executed), outside_(outside) {}
    CQVEventRequest* clone() const override { return new CountingRequest(*this); }
    bool execute() override {
      if (!manager_.inBatch) ++outside_;
      ++executed_;
      return true;
    }

   private:
    GateManager& manager_;
    std::atomic<long>& executed_;
    std::atomic<long>& outside_;
  };

  constexpr int kAdders = 4;
  constexpr int kRequestsEach = 2000;
  std::atomic<long> executed{0};
  std::atomic<long> outside{0};
  std::atomic<int> addersDone{0};
  std::vector<std::thread> threads;
  for (int t = 0; t < kAdders; ++t) {
    // Half the adders let an idle queue run their request in place, claiming it without its lock.
    threads.emplace_back([&, inPlace = t % 2 == 1] {
      CountingRequest request(manager, executed, outside);
      for (int i = 0; i < kRequestsEach; ++i) {
        if (inPlace) {
          manager.addRequestInPlace(request);
        } else {
          manager.addRequest(request);
        }
      }
      ++addersDone;
    });
  }
  // Opens and closes the gate while the adders run; each opening asks for the held items.
  threads.emplace_back([&] {
    for (bool open = false; addersDone < kAdders; open = !open) {
      manager.open = open;
      if (open) manager.notifyOnEventsNow();
    }
  });
  for (std::thread& thread : threads) thread.join();

  manager.open = true;
  manager.notifyOnEventsNow();
  EXPECT_EQ(executed.load(), static_cast<long>(kAdders) * kRequestsEach);
  EXPECT_EQ(manager.pendingCount(), 0u);
  EXPECT_EQ(manager.overlappingBatches.load(), 0);
  EXPECT_EQ(outside.load(), 0);
}

TEST(EventsLibrary, NothingIsLeftQueuedWhenConcurrentAddersReturn) {
  class Manager : public CQVBaseEventsManager {
   public:
    using CQVBaseEventsManager::addRequest;
    using CQVBaseEventsManager::addRequestInPlace;
  } manager;
  class CountingRequest : public CQVEventRequest {
   public:
    explicit CountingRequest(std::atomic<long>& executed) : executed_(executed) {}
    CQVEventRequest* clone() const override { return new CountingRequest(*this); }
    bool execute() override { return ++executed_ > 0; }

   private:
    std::atomic<long>& executed_;
  };

  // Two threads add at once, round after round, one letting an idle queue run its request in
  // place. Nobody asks for the queue again, so once both have returned nothing may wait in it.
  constexpr int kRounds = 20000;
  std::atomic<long> executed{0};
  std::atomic<int> round{0};
  std::atomic<int> added{0};
  std::vector<std::thread> adders;
  for (int t = 0; t < 2; ++t) {
    adders.emplace_back([&, inPlace = t == 1] {
      CountingRequest request(executed);
      for (int r = 1; r <= kRounds; ++r) {
        while (round.load() < r) std::this_thread::yield();
        if (inPlace) {
          manager.addRequestInPlace(request);
        } else {
          manager.addRequest(request);
        }
        ++added;
      }
    });
  }
  int roundsWithItemsLeft = 0;
  for (int r = 1; r <= kRounds; ++r) {
    round = r;
    while (added.load() < 2 * r) std::this_thread::yield();
    if (manager.pendingCount() != 0) ++roundsWithItemsLeft;
  }
  for (std::thread& adder : adders) adder.join();
  EXPECT_EQ(roundsWithItemsLeft, 0);
  EXPECT_EQ(executed.load(), 2L * kRounds);
}

// A definition shared by many handlers (past the size where its registrations are indexed by
// handler): each unregistration still drops that handler's earliest registration, reports the
// right remaining count, and deliveries keep registration order, whatever the order of leaving.
TEST(EventsLibrary, ManyHandlersOfOneDefinitionLeaveInAnyOrder) {
  Journal journal;
  TestManager manager(journal);
  std::vector<std::unique_ptr<RecordingHandler>> handlers;
  for (int i = 0; i < 10; ++i) handlers.push_back(std::make_unique<RecordingHandler>("h" + std::to_string(i), journal));
  std::vector<int> model;  // handler index of each live registration, in registration order
  for (int i = 0; i < 30; ++i) {
    const int h = (i * 7 + i / 10) % 10;
    ASSERT_TRUE(manager.registerOnEvent(KeyDef(1), handlers[h].get()));
    model.push_back(h);
  }
  journal.take();
  const int leaving[] = {3, 9, 3, 0, 5, 3, 3, 8, 1, 2, 7, 6, 4, 0, 9, 5, 1, 2, 8, 6, 7, 4, 0, 9, 1, 2, 5, 6, 7, 8, 4};
  for (int h : leaving) {
    const auto found = std::find(model.begin(), model.end(), h);
    const bool registered = found != model.end();
    if (registered) model.erase(found);
    EXPECT_EQ(manager.unregisterOnEvent(KeyDef(1), handlers[h].get()), registered) << "h" << h;
    std::vector<std::string> expected;
    if (registered) {
      if (model.empty()) expected.push_back("last KeyDef 1");
      expected.push_back("h" + std::to_string(h) + " released KeyDef 1 -> " +
                         std::to_string(std::count(model.begin(), model.end(), h)));
    }
    EXPECT_EQ(journal.take(), expected) << "h" << h;
    manager.addEventToNotifyOn(KeyDef(1));
    expected = {"pre"};
    for (int each : model) expected.push_back("h" + std::to_string(each) + " on KeyDef 1");
    expected.push_back("post");
    ASSERT_EQ(journal.take(), expected) << "after h" << h;
  }
  EXPECT_TRUE(model.empty());
}

// The managers' node pool, driven at random against a model: live blocks never overlap (each
// keeps the bytes written into it), are aligned, and a block freed while others live goes to the
// next request of its size only; once every block is back, blocks come from the front again.
TEST(EventsLibrary, NodePoolBlocksNeverOverlap) {
  struct Live {
    unsigned char* block;
    std::size_t bytes;
    unsigned char fill;
  };
  QVNodePool pool;
  std::mt19937 random(7);
  std::vector<Live> live;
  unsigned char fill = 0;
  const auto intact = [](const Live& l) {
    for (std::size_t i = 0; i < l.bytes; ++i) {
      if (l.block[i] != l.fill) return false;
    }
    return true;
  };
  void* first = nullptr;
  for (int round = 0; round < 3; ++round) {
    for (int step = 0; step < 6000; ++step) {
      if (live.empty() || random() % 3 != 0) {
        const std::size_t bytes = 1 + random() % QVNodePool::kMaxBlock;
        auto* block = static_cast<unsigned char*>(pool.allocate(bytes));
        ASSERT_EQ(reinterpret_cast<std::uintptr_t>(block) % QVNodePool::kGranule, 0u);
        std::memset(block, ++fill, bytes);
        live.push_back({block, bytes, fill});
        if (first == nullptr) first = block;
      } else {
        const std::size_t k = random() % live.size();
        ASSERT_TRUE(intact(live[k])) << "round " << round << " step " << step;
        const Live freed = live[k];
        live[k] = live.back();
        live.pop_back();
        pool.deallocate(freed.block, freed.bytes);
        if (!live.empty()) {
          EXPECT_EQ(pool.allocate(freed.bytes), freed.block) << "a freed block goes to the next request of its size";
          pool.deallocate(freed.block, freed.bytes);
        }
      }
    }
    for (const Live& l : live) ASSERT_TRUE(intact(l)) << "round " << round;
    EXPECT_EQ(pool.live(), live.size());
    for (const Live& l : live) pool.deallocate(l.block, l.bytes);
    live.clear();
    void* again = pool.allocate(QVNodePool::kGranule);
    EXPECT_EQ(again, first) << "round " << round;
    pool.deallocate(again, QVNodePool::kGranule);
  }
}
