#include "QVBaseEventsManager.h"

#include "QVCriticalSection.h"
#include "QVEventDef.h"
#include "QVEventHandler.h"
#include "QVEventRequest.h"
#include "QVMutex.h"
#include "QVNodePool.h"

#include <absl/container/node_hash_map.h>
#include <absl/hash/hash.h>

#include <algorithm>
#include <atomic>
#include <deque>
#include <iterator>
#include <list>
#include <unordered_map>
#include <utility>
#include <vector>

namespace {

// Per handler: its registrations here, and the reports it is owed.
struct HandlerState {
  long count = 0;
  // onEvent calls to the handler running now, plus one while a thread is making reports to it.
  // An unregistration reports at once only when this is 0 (and takes a unit for its report);
  // otherwise it defers, and the thread that drops the last unit makes the deferred reports.
  int busy = 0;
  // Definitions of unregistrations not yet reported, oldest first.
  std::vector<std::unique_ptr<CQVEventDef>> deferred;
};

// One registration of a handler for a definition: a node of its definition's list while it lives.
// A delivery to several registrations works on a snapshot of their positions and holds a reference
// to each; a registration dropped meanwhile turns dead and waits in the manager's retired list
// until its last reference goes. So a snapshot never calls a handler after its unregistration and
// never reads a freed node. Everything but the two constant pointers is read and changed only with
// the data lock of the manager held, which the accessors name.
class Registration {
 public:
  Registration(CQVEventHandler* h, HandlerState* s) : handler(h), state(s) {}
  CQVEventHandler* const handler;
  // The handler's state in this manager: there while the registration is alive, or while the
  // reader holds a busy unit of it.
  HandlerState* const state;

  // `dataLock` names the lock for the compiler's check only.
  bool alive([[maybe_unused]] const QVMutex& dataLock) const QV_REQUIRES(dataLock) { return alive_; }
  void drop([[maybe_unused]] const QVMutex& dataLock) QV_REQUIRES(dataLock) { alive_ = false; }
  void hold([[maybe_unused]] const QVMutex& dataLock) QV_REQUIRES(dataLock) { ++references_; }
  // Drops one reference; true when it was the last.
  bool unhold([[maybe_unused]] const QVMutex& dataLock) QV_REQUIRES(dataLock) { return --references_ == 0; }

 private:
  bool alive_ = true;
  int references_ = 1;  // its list's, plus one per snapshot holding it
};

using RegistrationList = std::list<Registration, QVNodeAllocator<Registration>>;
using Position = RegistrationList::iterator;

// A manager's own copy of a definition: in its node pool when the class makes in-place copies
// that fit, else from clone().
class PooledDefDeleter {
 public:
  PooledDefDeleter(QVNodePool* pool = nullptr, std::size_t size = 0) : pool_(pool), size_(size) {}
  void operator()(CQVEventDef* def) const {
    if (size_ == 0) {
      delete def;
    } else {
      def->~CQVEventDef();
      pool_->deallocate(def, size_);
    }
  }

 private:
  QVNodePool* pool_;
  std::size_t size_;  // 0: made by clone()
};
using PooledDef = std::unique_ptr<CQVEventDef, PooledDefDeleter>;

PooledDef copyInto(QVNodePool& pool, const CQVEventDef& def) {
  const std::size_t size = QVInPlaceCopySize(def, QVNodePool::kMaxBlock);
  if (size == 0) return PooledDef(def.clone());
  void* where = pool.allocate(size);
  try {
    return PooledDef(def.cloneAt(where), PooledDefDeleter(&pool, size));
  } catch (...) {
    pool.deallocate(where, size);
    throw;
  }
}

// The registrations of one definition. Most definitions have a handful; one that many handlers
// share (every group waiting for the same event) gets an index from handler to its positions, so
// that unregistering stays cheap whatever the order handlers leave in.
class DefinitionEntry {
 public:
  DefinitionEntry(const CQVEventDef& definition, QVNodePool& pool)
      : def(copyInto(pool, definition)), registrations_(QVNodeAllocator<Registration>(&pool)) {}

  RegistrationList& registrations() { return registrations_; }
  bool empty() const { return registrations_.empty(); }

  void add(CQVEventHandler* handler, HandlerState* state) {
    registrations_.emplace_back(handler, state);
    if (index_) {
      (*index_)[handler].push_back(std::prev(registrations_.end()));
    } else if (registrations_.size() > kIndexFrom) {
      index_ = std::make_unique<Index>();
      for (auto it = registrations_.begin(); it != registrations_.end(); ++it) (*index_)[it->handler].push_back(it);
    }
  }

  // The earliest registration of `handler`, unindexed for its removal; end() when it has none.
  Position takeEarliest(CQVEventHandler* handler) {
    if (!index_) {
      return std::find_if(registrations_.begin(), registrations_.end(),
                          [handler](const Registration& r) { return r.handler == handler; });
    }
    const auto found = index_->find(handler);
    if (found == index_->end()) return registrations_.end();
    const Position position = found->second.front();
    found->second.erase(found->second.begin());
    if (found->second.empty()) index_->erase(found);
    return position;
  }

  PooledDef def;  // the table's key points at this copy
  // The entries of the same definition class made just before and just after this one.
  DefinitionEntry* earlierOfClass = nullptr;
  DefinitionEntry* laterOfClass = nullptr;

 private:
  static constexpr std::size_t kIndexFrom = 16;
  // A standard table, not abseil's as for the manager's own tables: with abseil's flat table, the
  // scale benchmark's stop of a started schedule of 10,000 groups took 79 to 91 ms, not 72 to 76.
  using Index = std::unordered_map<CQVEventHandler*, std::vector<Position>>;

  RegistrationList registrations_;  // live ones only, in registration order
  std::unique_ptr<Index> index_;    // each handler's positions, earliest first; for large entries
};

// Abseil's tables take a key's place from the high bits of its hash and a tag from the low seven,
// so the hash a definition gives (an action's number, say, or 0 and 1 in a test) is mixed first:
// otherwise definitions with small hashes would pile up at one place.
struct MixedDefHash {
  std::size_t operator()(const CQVEventDef* def) const { return absl::HashOf(def->hash()); }
};

// The entries of one definition class in the order they were made, and the one a delivery of
// that class is expected to want next: the entry made after the last one delivered. Runners that
// registered one after another (groups starting together) tend to announce their events in that
// same order, and the guess spares the lookup its reads at random places of a large table.
struct ClassOrder {
  const std::type_info* type;
  DefinitionEntry* newest = nullptr;
  DefinitionEntry* expected = nullptr;
};

// Exactly one of the two is set.
struct QueuedItem {
  std::unique_ptr<CQVEventRequest> request;
  std::unique_ptr<CQVEventDef> event;
};

// The manager's own copy of an item that cannot run in place.
QueuedItem copyOf(const CQVEventRequest* request, const CQVEventDef* event) {
  QueuedItem copy;
  if (request) {
    copy.request.reset(request->clone());
  } else {
    copy.event.reset(event->clone());
  }
  return copy;
}

}  // namespace

struct CQVBaseEventsManager::Impl {
  // Registration lock. Serialises registerOnEvent, unregisterOnEvent and unregisterAllHandlers of
  // this manager and is held across registeredFirstHandlerForEvent/unregisteredLastHandlerForEvent,
  // so that first/last hooks for one definition cannot reorder between threads. Recursive, as hooks
  // and the handlers they reach may register or unregister here again. Taken before `mutex`;
  // released before this manager makes any setUnregisteredFromEvent report.
  QVCriticalSection registrationLock;

  // Data lock: guards every member below. A leaf lock: nothing else is taken while it is held, and
  // no hook, handler or request is called under it (only definitions' hash/equals, for lookups,
  // and their copies, for a new entry or a report that has to wait).
  mutable QVMutex mutex;
  // The nodes of the three containers below and the entries' copies of definitions.
  QVNodePool pool QV_GUARDED_BY(mutex);
  // Open-addressing tables whose values live in nodes, which must not move: registrations point
  // at their handler's state, and entries at their neighbours in their class's order. A lookup
  // reads a group of control bytes, a slot and the node it wants. With std::unordered_map each
  // lookup also read the node before its bucket's first one, a node of some other bucket: at tens
  // of thousands of definitions that was one more cache miss per lookup, and a group's start makes
  // several.
  using Entries = absl::node_hash_map<const CQVEventDef*, DefinitionEntry, MixedDefHash, CQVEventDefEqual,
                                      QVNodeAllocator<std::pair<const CQVEventDef* const, DefinitionEntry>>>;
  using Handlers = absl::node_hash_map<CQVEventHandler*, HandlerState, absl::Hash<CQVEventHandler*>,
                                       std::equal_to<CQVEventHandler*>,
                                       QVNodeAllocator<std::pair<CQVEventHandler* const, HandlerState>>>;
  Entries entries QV_GUARDED_BY(mutex){Entries::allocator_type(&pool)};
  Handlers handlers QV_GUARDED_BY(mutex){Handlers::allocator_type(&pool)};
  // One per definition class that has had an entry here, with the entries' order (a handful).
  std::vector<ClassOrder> classOrders QV_GUARDED_BY(mutex);
  // Registrations dropped while a delivery's snapshot still held them.
  RegistrationList retired QV_GUARDED_BY(mutex){RegistrationList::allocator_type(&pool)};
  std::deque<QueuedItem> queue QV_GUARDED_BY(mutex);
  // queue.size(), stored with `mutex` held, read without it.
  std::atomic<std::size_t> queued{0};
  // A thread is between pre- and postExecuteEventRequests. Claimed by compare-and-swap and left by
  // a store, without `mutex` (on the events road each item would otherwise take the lock twice more
  // per manager). A thread that queues an item stores `queued`, then reads `running`; one that
  // claims or leaves writes `running`, then reads `queued`. These accesses are sequentially
  // consistent, so of two such threads at least one sees the other's write: an item is never left
  // queued with nobody to run it. The claim's read of the last leave's store also orders the two
  // threads' items, as the lock did.
  std::atomic<bool> running{false};

  // Claims the running state; false when another thread holds it.
  bool claim() {
    bool expected = false;
    return running.compare_exchange_strong(expected, true);
  }
  // Leaves the running state; true when items are queued (the caller runs the queue again).
  bool leave() {
    running.store(false);
    return anyQueued();
  }
  void countQueue() QV_REQUIRES(mutex) { queued.store(queue.size()); }
  bool anyQueued() const { return queued.load() != 0; }
  // Queues an item; true when a thread (maybe this one) runs the queue and will take it.
  bool enqueue(QueuedItem item) QV_EXCLUDES(mutex) {
    QVMutexLock lock(mutex);
    queue.push_back(std::move(item));
    countQueue();
    return running.load();
  }
  // Puts an item ahead of the queued ones (the running thread's own item, held back).
  void enqueueFirst(QueuedItem item) QV_EXCLUDES(mutex) {
    QVMutexLock lock(mutex);
    queue.push_front(std::move(item));
    countQueue();
  }

  // What unregistering one registration found (registration lock held).
  struct Removal {
    bool found = false;
    bool last = false;       // the definition lost its last handler
    bool reportNow = false;  // report at once (a busy unit is reserved for it)
    long remaining = 0;      // the handler's registrations left
    HandlerState* state = nullptr;  // with reportNow: the handler's state, kept by the busy unit
  };
  Removal remove(const CQVEventDef& def, CQVEventHandler* handler) QV_EXCLUDES(mutex);

  // The order of the class of `def`; null when no entry of that class was ever made here.
  ClassOrder* classOrderOf(const CQVEventDef& def) QV_REQUIRES(mutex) {
    const std::type_info& type = typeid(def);
    for (ClassOrder& order : classOrders) {
      if (order.type == &type || *order.type == type) return &order;
    }
    return nullptr;
  }
  // The order of the class of `def`, made if need be: asked before an entry goes into the table,
  // so that linking it cannot fail.
  ClassOrder& makeClassOrder(const CQVEventDef& def) QV_REQUIRES(mutex) {
    ClassOrder* order = classOrderOf(def);
    return order ? *order : classOrders.emplace_back(ClassOrder{&typeid(def)});
  }
  // Puts a new entry last in its class's order.
  static void link(DefinitionEntry& entry, ClassOrder& order) {
    entry.earlierOfClass = order.newest;
    if (order.newest) order.newest->laterOfClass = &entry;
    order.newest = &entry;
  }
  // Takes an entry about to be erased out of its class's order.
  void unlink(DefinitionEntry& entry) QV_REQUIRES(mutex) {
    ClassOrder& order = *classOrderOf(*entry.def);
    if (entry.earlierOfClass) entry.earlierOfClass->laterOfClass = entry.laterOfClass;
    if (entry.laterOfClass) entry.laterOfClass->earlierOfClass = entry.earlierOfClass;
    if (order.newest == &entry) order.newest = entry.earlierOfClass;
    if (order.expected == &entry) order.expected = nullptr;
  }
  // The entry of `def` for a delivery, or null.
  DefinitionEntry* entryToDeliver(const CQVEventDef& def) QV_REQUIRES(mutex) {
    ClassOrder* order = classOrderOf(def);
    if (!order) return nullptr;
    DefinitionEntry* entry = order->expected;
    if (!entry || !(*entry->def == def)) {
      const auto it = entries.find(&def);
      entry = it == entries.end() ? nullptr : &it->second;
    }
    if (entry) order->expected = entry->laterOfClass ? entry->laterOfClass : entry;
    return entry;
  }
  // Calls every handler registered for `def` now.
  void deliver(const CQVEventDef& def) QV_EXCLUDES(mutex);
  // Calls the handler registered at `position` if that registration is still alive, and lets go
  // of the snapshot's reference to it.
  void callHeld(Position position, const CQVEventDef& def) QV_EXCLUDES(mutex);
  // Reports one unregistration of `handler` whose busy unit the caller reserved, then releases it.
  void report(CQVEventHandler* handler, HandlerState* state, const CQVEventDef& def, long remaining)
      QV_EXCLUDES(mutex);
  // Drops one busy unit of `handler`; whoever drops the last one makes the deferred reports.
  void release(CQVEventHandler* handler, HandlerState* state) QV_EXCLUDES(mutex);
  // Takes the registration at `position` out of `from`: it turns dead, and its node goes at once
  // unless a snapshot holds it, in which case it waits in `retired` for the last reference.
  void retire(RegistrationList& from, Position position) QV_REQUIRES(mutex) {
    position->drop(mutex);
    if (position->unhold(mutex)) {
      from.erase(position);
    } else {
      retired.splice(retired.end(), from, position);
    }
  }
  // Lets go of a snapshot's reference to `position`.
  void unhold(Position position) QV_REQUIRES(mutex) {
    if (position->unhold(mutex)) retired.erase(position);  // only dead ones reach 0
  }

  // The positions a delivery holds; those it did not reach (a handler threw) are let go at the end.
  struct HeldSnapshot {
    explicit HeldSnapshot(Impl& owner) : impl(owner) {}
    ~HeldSnapshot() {
      if (next == positions.size()) return;
      QVMutexLock lock(impl.mutex);
      for (; next < positions.size(); ++next) impl.unhold(positions[next]);
    }
    HeldSnapshot(const HeldSnapshot&) = delete;
    HeldSnapshot& operator=(const HeldSnapshot&) = delete;

    Impl& impl;
    std::vector<Position> positions;
    std::size_t next = 0;
  };

  // Leaves the running state claimed by this thread when the scope ends: finish() does it and
  // tells whether items were left queued meanwhile; otherwise (an item threw) the destructor does.
  class RunningClaim {
   public:
    explicit RunningClaim(Impl& impl) : impl_(impl) {}
    ~RunningClaim() {
      if (!released_) finish();
    }
    RunningClaim(const RunningClaim&) = delete;
    RunningClaim& operator=(const RunningClaim&) = delete;

    bool finish() {
      released_ = true;
      return impl_.leave();
    }

   private:
    Impl& impl_;
    bool released_ = false;
  };
};

void CQVBaseEventsManager::Impl::deliver(const CQVEventDef& def) {
  // The first registration is called straight from the lookup (its busy unit keeps its state);
  // the others, if any, from a snapshot, each checked for being still alive just before its call.
  CQVEventHandler* firstHandler = nullptr;
  HandlerState* firstState = nullptr;
  HeldSnapshot rest(*this);
  {
    QVMutexLock lock(mutex);
    DefinitionEntry* const entry = entryToDeliver(def);
    if (!entry || entry->empty()) return;
    RegistrationList& registrations = entry->registrations();
    firstHandler = registrations.front().handler;
    firstState = registrations.front().state;
    ++firstState->busy;
    if (registrations.size() > 1) {
      rest.positions.reserve(registrations.size() - 1);
      for (auto position = std::next(registrations.begin()); position != registrations.end(); ++position) {
        position->hold(mutex);
        rest.positions.push_back(position);
      }
    }
  }
  firstHandler->onEvent(def);
  release(firstHandler, firstState);
  for (; rest.next < rest.positions.size(); ++rest.next) callHeld(rest.positions[rest.next], def);
}

void CQVBaseEventsManager::Impl::callHeld(Position position, const CQVEventDef& def) {
  CQVEventHandler* handler = nullptr;
  HandlerState* state = nullptr;
  {
    QVMutexLock lock(mutex);
    if (position->alive(mutex)) {
      handler = position->handler;
      state = position->state;
      ++state->busy;
    }
    unhold(position);
  }
  if (handler == nullptr) return;
  handler->onEvent(def);
  release(handler, state);
}

void CQVBaseEventsManager::Impl::report(CQVEventHandler* handler, HandlerState* state, const CQVEventDef& def,
                                        long remaining) {
  handler->setUnregisteredFromEvent(def, remaining);
  // The handler may be gone now: only its address is used from here on.
  release(handler, state);
}

void CQVBaseEventsManager::Impl::release(CQVEventHandler* handler, HandlerState* state) {
  QVMutexLock lock(mutex);
  for (;;) {
    if (state->busy > 1 || state->deferred.empty()) {
      if (--state->busy == 0 && state->count == 0 && state->deferred.empty()) handlers.erase(handler);
      return;
    }
    // Last busy unit and reports owed: keep the unit while reporting so that no other thread
    // reports to this handler meanwhile, then look again for reports queued in between. Report k
    // of n says count + (n - 1 - k), so only the last one can say 0.
    std::vector<std::unique_ptr<CQVEventDef>> batch = std::move(state->deferred);
    state->deferred.clear();
    const long count = state->count;
    lock.unlock();
    const long n = static_cast<long>(batch.size());
    for (long k = 0; k < n; ++k) handler->setUnregisteredFromEvent(*batch[k], count + (n - 1 - k));
    batch.clear();
    lock.lock();
  }
}

CQVBaseEventsManager::CQVBaseEventsManager() : impl_(std::make_shared<Impl>()) {}

CQVBaseEventsManager::~CQVBaseEventsManager() = default;

bool CQVBaseEventsManager::registerOnEvent(const CQVEventDef& def, CQVEventHandler* handler) {
  if (handler == nullptr) return false;
  const std::shared_ptr<Impl> impl = impl_;
  QVCriticalSectionLock registrationLock(impl->registrationLock);
  bool first = false;
  {
    QVMutexLock lock(impl->mutex);
    auto it = impl->entries.find(&def);
    if (it == impl->entries.end()) {
      DefinitionEntry entry(def, impl->pool);
      const CQVEventDef* key = entry.def.get();
      ClassOrder& order = impl->makeClassOrder(*key);
      it = impl->entries.emplace(key, std::move(entry)).first;
      Impl::link(it->second, order);
    }
    first = it->second.empty();
    HandlerState& state = impl->handlers[handler];  // a node: stays where it is while it exists
    ++state.count;
    it->second.add(handler, &state);
  }
  if (first) registeredFirstHandlerForEvent(def);
  return true;
}

CQVBaseEventsManager::Impl::Removal CQVBaseEventsManager::Impl::remove(const CQVEventDef& def,
                                                                       CQVEventHandler* handler) {
  Removal removal;
  QVMutexLock lock(mutex);
  const auto entry = entries.find(&def);
  if (entry == entries.end()) return removal;
  RegistrationList& registrations = entry->second.registrations();
  const Position removed = entry->second.takeEarliest(handler);
  if (removed == registrations.end()) return removal;
  removal.found = true;
  HandlerState& state = *removed->state;
  retire(registrations, removed);
  if (entry->second.empty()) {
    unlink(entry->second);
    entries.erase(entry);
    removal.last = true;
  }
  --state.count;
  if (state.busy > 0) {
    // A delivery to the handler (or a report to it) is in progress: whoever finishes it reports,
    // from a copy of the definition.
    state.deferred.emplace_back(def.clone());
  } else {
    ++state.busy;
    removal.reportNow = true;
    removal.remaining = state.count;
    removal.state = &state;
  }
  return removal;
}

bool CQVBaseEventsManager::unregisterOnEvent(const CQVEventDef& def, CQVEventHandler* handler) {
  if (handler == nullptr) return false;
  // Nothing below touches `this` after unregisteredLastHandlerForEvent: the manager may delete
  // itself there. `impl` keeps the state alive until the end.
  const std::shared_ptr<Impl> impl = impl_;
  Impl::Removal removal;
  {
    QVCriticalSectionLock registrationLock(impl->registrationLock);
    removal = impl->remove(def, handler);
    if (!removal.found) return false;
    if (removal.last) unregisteredLastHandlerForEvent(def);
  }
  // Last use of `handler` and `def`: the handler may delete itself, and it may own `def`.
  if (removal.reportNow) impl->report(handler, removal.state, def, removal.remaining);
  return true;
}

void CQVBaseEventsManager::unregisterAllHandlers() {
  const std::shared_ptr<Impl> impl = impl_;
  QVCriticalSectionLock registrationLock(impl->registrationLock);
  std::vector<PooledDef> dropped;
  // The copies may live in the pool: they go with the data lock held, whatever the hooks do.
  struct DropWithLock {
    Impl& impl;
    std::vector<PooledDef>& defs;
    ~DropWithLock() {
      QVMutexLock lock(impl.mutex);
      defs.clear();
    }
  } dropWithLock{*impl, dropped};
  {
    QVMutexLock lock(impl->mutex);
    for (auto& [key, entry] : impl->entries) {
      RegistrationList& registrations = entry.registrations();
      while (!registrations.empty()) {
        const Position registration = registrations.begin();
        CQVEventHandler* const handler = registration->handler;
        HandlerState& state = *registration->state;
        impl->retire(registrations, registration);
        if (--state.count == 0 && state.busy == 0 && state.deferred.empty()) impl->handlers.erase(handler);
      }
      dropped.push_back(std::move(entry.def));
    }
    impl->entries.clear();
    impl->classOrders.clear();
  }
  for (const auto& def : dropped) unregisteredLastHandlerForEvent(*def);
}

void CQVBaseEventsManager::discardPending() {
  std::deque<QueuedItem> dropped;
  {
    QVMutexLock lock(impl_->mutex);
    dropped.swap(impl_->queue);
    impl_->countQueue();
  }
  // Destroyed here, outside the lock: destroying a request may run its own code.
}

void CQVBaseEventsManager::notifyOnEvent(const CQVEventDef& def) { addEventToNotifyOn(def); }

long CQVBaseEventsManager::registrationCount(CQVEventHandler* handler) const {
  QVMutexLock lock(impl_->mutex);
  const auto it = impl_->handlers.find(handler);
  return it == impl_->handlers.end() ? 0 : it->second.count;
}

std::size_t CQVBaseEventsManager::pendingCount() const {
  QVMutexLock lock(impl_->mutex);
  return impl_->queue.size();
}

void CQVBaseEventsManager::addRequest(const CQVEventRequest& request) { enqueueAndRun(&request, nullptr); }

void CQVBaseEventsManager::addRequestInPlace(CQVEventRequest& request) { addInPlace(&request, nullptr); }

void CQVBaseEventsManager::addEventToNotifyOn(const CQVEventDef& def) { addInPlace(nullptr, &def); }

void CQVBaseEventsManager::addInPlace(CQVEventRequest* request, const CQVEventDef* event) {
  const Claim claim = claimIdle();
  if (claim == Claim::Idle) {
    if (runClaimed(request, event)) runQueue();
    return;
  }
  if (claim == Claim::None) {
    enqueueAndRun(request, event);
    return;
  }
  // Items came first: the copy runs behind them, in the same run.
  try {
    impl_->enqueue(copyOf(request, event));
  } catch (...) {
    // No hook has run in this call, so the manager is still there to give the claim back.
    if (impl_->leave()) runQueue();
    throw;
  }
  if (runClaimed(nullptr, nullptr)) runQueue();
}

void CQVBaseEventsManager::notifyOnEventsNow() { runQueue(); }

void CQVBaseEventsManager::deliverNow(const CQVEventDef& def) { impl_->deliver(def); }

void CQVBaseEventsManager::enqueueAndRun(const CQVEventRequest* request, const CQVEventDef* event) {
  // Already running (here or on another thread): the running thread takes the new item.
  if (!impl_->enqueue(copyOf(request, event))) runQueue();
}

CQVBaseEventsManager::Claim CQVBaseEventsManager::claimIdle() {
  // Busy (typically further up this thread's stack): no compare-and-swap needed to know.
  if (impl_->running.load(std::memory_order_relaxed) || !canExecuteRequests() || !impl_->claim()) return Claim::None;
  // Items held while the queue was closed and not yet asked for, queued by a thread that saw this
  // claim, or not yet run by the thread that queued them.
  return impl_->anyQueued() ? Claim::Behind : Claim::Idle;
}

void CQVBaseEventsManager::runQueue() {
  Impl& impl = *impl_;
  for (;;) {
    // Closed, nothing queued, or already running here or on another thread (the running thread
    // takes the new items).
    if (!canExecuteRequests() || !impl.anyQueued() || !impl.claim()) return;
    if (!runClaimed(nullptr, nullptr)) return;
  }
}

// The hooks' bracket around running items: preExecuteEventRequests now, postExecuteEventRequests
// when the scope ends, also when an item throws.
class CQVBaseEventsManager::ExecuteScope {
 public:
  explicit ExecuteScope(CQVBaseEventsManager& manager) : manager_(manager) { manager_.preExecuteEventRequests(); }
  ~ExecuteScope() { manager_.postExecuteEventRequests(); }
  ExecuteScope(const ExecuteScope&) = delete;
  ExecuteScope& operator=(const ExecuteScope&) = delete;

 private:
  CQVBaseEventsManager& manager_;
};

bool CQVBaseEventsManager::runClaimed(CQVEventRequest* request, const CQVEventDef* event) {
  // Once postExecuteEventRequests has returned, another thread may delete the manager (a derived
  // one releases a lock there); the state lives on until the claim is left.
  const std::shared_ptr<Impl> keep = impl_;
  Impl& impl = *keep;
  Impl::RunningClaim claim(impl);
  {
    const ExecuteScope scope(*this);
    // Asked again now that the hook has run: the manager may have closed while this thread waited
    // in it (a pause that held the hook's lock). Then nothing runs, the caller's item included,
    // which goes ahead of anything queued meanwhile.
    if (request || event) {
      if (!canExecuteRequests()) {
        impl.enqueueFirst(copyOf(request, event));
      } else if (request) {
        request->execute();
      } else {
        impl.deliver(*event);
      }
    }
    while (canExecuteRequests()) {
      if (!impl.anyQueued()) break;  // the usual case: no lock
      QueuedItem item;
      {
        QVMutexLock lock(impl.mutex);
        if (impl.queue.empty()) break;
        item = std::move(impl.queue.front());
        impl.queue.pop_front();
        impl.countQueue();
      }
      if (item.request) {
        item.request->execute();
      } else {
        impl.deliver(*item.event);
      }
    }
  }
  // Leave the running state, then look at the queue: an item queued while this thread was
  // finishing (its caller saw `running` and left it here), or a canExecuteRequests() that turned
  // true again meanwhile, is handled by the caller going round again.
  return claim.finish();
}

void CQVBaseEventsManager::registeredFirstHandlerForEvent(const CQVEventDef&) {}

void CQVBaseEventsManager::unregisteredLastHandlerForEvent(const CQVEventDef&) {}

bool CQVBaseEventsManager::canExecuteRequests() { return true; }

void CQVBaseEventsManager::preExecuteEventRequests() {}

void CQVBaseEventsManager::postExecuteEventRequests() {}
