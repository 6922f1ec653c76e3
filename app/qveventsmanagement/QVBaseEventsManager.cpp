#include "QVBaseEventsManager.h"

#include "QVCriticalSection.h"
#include "QVEventDef.h"
#include "QVEventHandler.h"
#include "QVEventRequest.h"
#include "QVMutex.h"

#include <algorithm>
#include <atomic>
#include <deque>
#include <iterator>
#include <list>
#include <unordered_map>
#include <utility>
#include <vector>

namespace {

// One registration of a handler for a definition. Deliveries work on snapshots of these records;
// a registration turns dead when it is dropped, so a snapshot taken earlier never calls a handler
// after its unregistration. Whether it is alive is read and changed only with the data lock of its
// manager held, which the accessors name.
class Registration {
 public:
  explicit Registration(CQVEventHandler* h) : handler(h) {}
  CQVEventHandler* const handler;

  // `dataLock` names the lock for the compiler's check only.
  bool alive([[maybe_unused]] const QVMutex& dataLock) const QV_REQUIRES(dataLock) { return alive_; }
  void drop([[maybe_unused]] const QVMutex& dataLock) QV_REQUIRES(dataLock) { alive_ = false; }

 private:
  bool alive_ = true;
};
using RegistrationPtr = std::shared_ptr<Registration>;

using RegistrationList = std::list<RegistrationPtr>;

// The registrations of one definition. Most definitions have a handful; one that many handlers
// share (every group waiting for the same event) gets an index from handler to its positions, so
// that unregistering stays cheap whatever the order handlers leave in.
class DefinitionEntry {
 public:
  explicit DefinitionEntry(std::unique_ptr<CQVEventDef> definition) : def(std::move(definition)) {}

  const RegistrationList& registrations() const { return registrations_; }
  bool empty() const { return registrations_.empty(); }

  void add(RegistrationPtr registration) {
    CQVEventHandler* handler = registration->handler;
    registrations_.push_back(std::move(registration));
    if (index_) {
      (*index_)[handler].push_back(std::prev(registrations_.end()));
    } else if (registrations_.size() > kIndexFrom) {
      index_ = std::make_unique<Index>();
      for (auto it = registrations_.begin(); it != registrations_.end(); ++it) (*index_)[(*it)->handler].push_back(it);
    }
  }

  // Takes out the earliest registration of `handler`; null when it has none.
  RegistrationPtr removeEarliest(CQVEventHandler* handler) {
    RegistrationList::iterator position;
    if (index_) {
      const auto found = index_->find(handler);
      if (found == index_->end()) return nullptr;
      position = found->second.front();
      found->second.erase(found->second.begin());
      if (found->second.empty()) index_->erase(found);
    } else {
      position = std::find_if(registrations_.begin(), registrations_.end(),
                              [handler](const RegistrationPtr& r) { return r->handler == handler; });
      if (position == registrations_.end()) return nullptr;
    }
    RegistrationPtr registration = std::move(*position);
    registrations_.erase(position);
    return registration;
  }

  std::unique_ptr<CQVEventDef> def;  // the map key points at this clone

 private:
  static constexpr std::size_t kIndexFrom = 16;
  using Index = std::unordered_map<CQVEventHandler*, std::vector<RegistrationList::iterator>>;

  RegistrationList registrations_;  // live ones only, in registration order
  std::unique_ptr<Index> index_;    // each handler's positions, earliest first; for large entries
};

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

// Exactly one of the two is set.
struct QueuedItem {
  std::unique_ptr<CQVEventRequest> request;
  std::unique_ptr<CQVEventDef> event;
};

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
  // and clone, for a report that has to wait).
  mutable QVMutex mutex;
  std::unordered_map<const CQVEventDef*, DefinitionEntry, CQVEventDefHash, CQVEventDefEqual> entries QV_GUARDED_BY(mutex);
  std::unordered_map<CQVEventHandler*, HandlerState> handlers QV_GUARDED_BY(mutex);
  std::deque<QueuedItem> queue QV_GUARDED_BY(mutex);
  // A thread is between pre- and postExecuteEventRequests. Written under `mutex`; read without it
  // only as a hint that the queue is busy.
  std::atomic<bool> running{false};

  // What unregistering one registration found (registration lock held).
  struct Removal {
    bool found = false;
    bool last = false;       // the definition lost its last handler
    bool reportNow = false;  // report at once (a busy unit is reserved for it)
    long remaining = 0;      // the handler's registrations left
  };
  Removal remove(const CQVEventDef& def, CQVEventHandler* handler) QV_EXCLUDES(mutex);
  // Calls every handler registered for `def` now.
  void deliver(const CQVEventDef& def) QV_EXCLUDES(mutex);
  // Reports one unregistration of `handler` whose busy unit the caller reserved, then releases it.
  void report(CQVEventHandler* handler, const CQVEventDef& def, long remaining) QV_EXCLUDES(mutex);
  // Drops one busy unit of `handler`; whoever drops the last one makes the deferred reports.
  void release(CQVEventHandler* handler) QV_EXCLUDES(mutex);

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

    bool finish() QV_EXCLUDES(impl_.mutex) {
      QVMutexLock lock(impl_.mutex);
      released_ = true;
      impl_.running = false;
      return !impl_.queue.empty();
    }

   private:
    Impl& impl_;
    bool released_ = false;
  };
};

void CQVBaseEventsManager::Impl::deliver(const CQVEventDef& def) {
  // The first registration is taken (and marked busy) in the lookup itself; the others, if any,
  // from a snapshot, each checked for being still alive just before its call.
  RegistrationPtr first;
  std::vector<RegistrationPtr> rest;
  {
    QVMutexLock lock(mutex);
    const auto it = entries.find(&def);
    if (it == entries.end() || it->second.empty()) return;
    const RegistrationList& registrations = it->second.registrations();
    first = registrations.front();
    // A live registration implies a state entry with count > 0.
    ++handlers[first->handler].busy;
    if (registrations.size() > 1) rest.assign(std::next(registrations.begin()), registrations.end());
  }
  first->handler->onEvent(def);
  release(first->handler);
  for (const RegistrationPtr& registration : rest) {
    {
      QVMutexLock lock(mutex);
      if (!registration->alive(mutex)) continue;
      ++handlers[registration->handler].busy;
    }
    registration->handler->onEvent(def);
    release(registration->handler);
  }
}

void CQVBaseEventsManager::Impl::report(CQVEventHandler* handler, const CQVEventDef& def,
                                        long remaining) {
  handler->setUnregisteredFromEvent(def, remaining);
  // The handler may be gone now: only its address is used from here on.
  release(handler);
}

void CQVBaseEventsManager::Impl::release(CQVEventHandler* handler) {
  QVMutexLock lock(mutex);
  for (;;) {
    const auto it = handlers.find(handler);
    if (it == handlers.end()) return;  // not reached: a busy unit keeps the state
    HandlerState& state = it->second;
    if (state.busy > 1 || state.deferred.empty()) {
      if (--state.busy == 0 && state.count == 0 && state.deferred.empty()) handlers.erase(it);
      return;
    }
    // Last busy unit and reports owed: keep the unit while reporting so that no other thread
    // reports to this handler meanwhile, then look again for reports queued in between. Report k
    // of n says count + (n - 1 - k), so only the last one can say 0.
    std::vector<std::unique_ptr<CQVEventDef>> batch = std::move(state.deferred);
    state.deferred.clear();
    const long count = state.count;
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
  std::unique_ptr<CQVEventDef> copy(def.clone());
  QVCriticalSectionLock registrationLock(impl->registrationLock);
  bool first = false;
  {
    QVMutexLock lock(impl->mutex);
    auto it = impl->entries.find(&def);
    if (it == impl->entries.end()) {
      const CQVEventDef* key = copy.get();
      it = impl->entries.emplace(key, DefinitionEntry(std::move(copy))).first;
    }
    first = it->second.empty();
    it->second.add(std::make_shared<Registration>(handler));
    ++impl->handlers[handler].count;
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
  const RegistrationPtr removed = entry->second.removeEarliest(handler);
  if (!removed) return removal;
  removal.found = true;
  removed->drop(mutex);
  if (entry->second.empty()) {
    entries.erase(entry);
    removal.last = true;
  }
  HandlerState& state = handlers[handler];
  --state.count;
  if (state.busy > 0) {
    // A delivery to the handler (or a report to it) is in progress: whoever finishes it reports,
    // from a copy of the definition.
    state.deferred.emplace_back(def.clone());
  } else {
    ++state.busy;
    removal.reportNow = true;
    removal.remaining = state.count;
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
  if (removal.reportNow) impl->report(handler, def, removal.remaining);
  return true;
}

void CQVBaseEventsManager::unregisterAllHandlers() {
  const std::shared_ptr<Impl> impl = impl_;
  QVCriticalSectionLock registrationLock(impl->registrationLock);
  std::vector<std::unique_ptr<CQVEventDef>> dropped;
  {
    QVMutexLock lock(impl->mutex);
    for (auto& [key, entry] : impl->entries) {
      for (const RegistrationPtr& registration : entry.registrations()) {
        registration->drop(impl->mutex);
        const auto state = impl->handlers.find(registration->handler);
        if (--state->second.count == 0 && state->second.busy == 0 && state->second.deferred.empty())
          impl->handlers.erase(state);
      }
      dropped.push_back(std::move(entry.def));
    }
    impl->entries.clear();
  }
  for (const auto& def : dropped) unregisteredLastHandlerForEvent(*def);
}

void CQVBaseEventsManager::discardPending() {
  std::deque<QueuedItem> dropped;
  {
    QVMutexLock lock(impl_->mutex);
    dropped.swap(impl_->queue);
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

void CQVBaseEventsManager::addRequest(const CQVEventRequest& request) {
  enqueueAndRun(std::unique_ptr<CQVEventRequest>(request.clone()), nullptr);
}

void CQVBaseEventsManager::addRequestInPlace(CQVEventRequest& request) {
  if (claimIdle()) {
    if (runClaimed(&request, nullptr)) runQueue();
    return;
  }
  enqueueAndRun(std::unique_ptr<CQVEventRequest>(request.clone()), nullptr);
}

void CQVBaseEventsManager::addEventToNotifyOn(const CQVEventDef& def) {
  if (claimIdle()) {
    if (runClaimed(nullptr, &def)) runQueue();
    return;
  }
  enqueueAndRun(nullptr, std::unique_ptr<CQVEventDef>(def.clone()));
}

void CQVBaseEventsManager::notifyOnEventsNow() { runQueue(); }

void CQVBaseEventsManager::deliverNow(const CQVEventDef& def) { impl_->deliver(def); }

void CQVBaseEventsManager::enqueueAndRun(std::unique_ptr<CQVEventRequest> request,
                                         std::unique_ptr<CQVEventDef> event) {
  {
    QVMutexLock lock(impl_->mutex);
    impl_->queue.push_back(QueuedItem{std::move(request), std::move(event)});
    // Already running (here or on another thread): the running thread takes the new item.
    if (impl_->running) return;
  }
  runQueue();
}

bool CQVBaseEventsManager::claimIdle() {
  // Busy (typically further up this thread's stack): the item is queued without asking the lock.
  if (impl_->running.load(std::memory_order_relaxed) || !canExecuteRequests()) return false;
  QVMutexLock lock(impl_->mutex);
  if (impl_->running || !impl_->queue.empty()) return false;
  impl_->running = true;
  return true;
}

void CQVBaseEventsManager::runQueue() {
  const std::shared_ptr<Impl> impl = impl_;
  for (;;) {
    if (!canExecuteRequests()) return;
    {
      QVMutexLock lock(impl->mutex);
      // Already running (here or on another thread): the running thread takes the new items.
      if (impl->running || impl->queue.empty()) return;
      impl->running = true;
    }
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
  const std::shared_ptr<Impl> impl = impl_;
  Impl::RunningClaim claim(*impl);
  {
    const ExecuteScope scope(*this);
    if (request) {
      request->execute();
    } else if (event) {
      impl->deliver(*event);
    }
    for (bool mayRun = !request && !event; mayRun || canExecuteRequests(); mayRun = false) {
      QueuedItem item;
      {
        QVMutexLock lock(impl->mutex);
        if (impl->queue.empty()) break;
        item = std::move(impl->queue.front());
        impl->queue.pop_front();
      }
      if (item.request) {
        item.request->execute();
      } else {
        impl->deliver(*item.event);
      }
    }
  }
  // Leave the running state and look at the queue in one step: an item queued while this thread
  // was finishing (its caller saw `running` and left it here), or a canExecuteRequests() that
  // turned true again meanwhile, is handled by the caller going round again.
  return claim.finish();
}

void CQVBaseEventsManager::registeredFirstHandlerForEvent(const CQVEventDef&) {}

void CQVBaseEventsManager::unregisteredLastHandlerForEvent(const CQVEventDef&) {}

bool CQVBaseEventsManager::canExecuteRequests() { return true; }

void CQVBaseEventsManager::preExecuteEventRequests() {}

void CQVBaseEventsManager::postExecuteEventRequests() {}
