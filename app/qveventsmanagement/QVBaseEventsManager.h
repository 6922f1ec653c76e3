// CQVBaseEventsManager: registrations of handlers for event definitions, and one queue of requests
// and events that runs in arrival order.
//
// Registrations. registerOnEvent/unregisterOnEvent add and drop one registration of a handler for
// a definition; a handler registered twice for one definition holds two registrations and
// receives each event twice. Lookups hash the definition (CQVEventDef::hash). When a
// definition gains its first handler the registeredFirstHandlerForEvent hook runs, when it loses
// its last one unregisteredLastHandlerForEvent runs; then the handler gets its
// setUnregisteredFromEvent report (deferred while one of its onEvent calls is running).
//
// Queue. addRequest and addEventToNotifyOn append clones to one FIFO queue, which runs at once
// when canExecuteRequests() answers true, else at the next notifyOnEventsNow() or the next item
// added while it answers true. An item that arrives while the queue is empty and no thread runs
// it is run at once without a clone (same order, same locks, no copy). Only one thread
// runs a manager's queue at a time: a thread that finds it running (on another thread, or further
// up its own stack) leaves its item queued for the running thread and returns. The running thread
// calls preExecuteEventRequests() once, runs items while canExecuteRequests() answers true (asked
// again after that hook, before the first item: a manager closed while the thread waited in the
// hook runs nothing) and the queue is not empty, then calls postExecuteEventRequests() (also when
// an item throws). An event runs by onEvent on every handler registered for a matching definition
// at the time it runs; handlers registered during a delivery do not get that event, handlers
// unregistered during it are not called after their unregistration.
//
// Ownership: the manager owns its clones of definitions and requests; it never owns handlers.
// A derived manager may delete itself from inside unregisteredLastHandlerForEvent (for example
// when a report from another manager tells it nothing refers to it any more): after that hook the
// manager's own unregistration code touches no member of the object. Another thread may delete
// the manager as soon as a run's postExecuteEventRequests() has returned, provided nothing adds
// to the queue any more: the run then touches nothing of the object.
//
// Threads and locks: every operation may be called from any thread. Two internal locks (declared
// in the .cpp): the registration lock, recursive, per manager, serialises registration changes
// and is held across the first/last hooks (so they cannot reorder between threads) but released
// before any report; then the data lock, a leaf. No hook, handler or request is ever called with
// the data lock held. Hooks must not register with a manager whose hooks register back here.
// Handlers, requests and hooks must not let exceptions escape.
#pragma once

#include <cstddef>
#include <memory>

class CQVEventDef;
class CQVEventHandler;
class CQVEventRequest;

class CQVBaseEventsManager {
 public:
  CQVBaseEventsManager();
  virtual ~CQVBaseEventsManager();
  CQVBaseEventsManager(const CQVBaseEventsManager&) = delete;
  CQVBaseEventsManager& operator=(const CQVBaseEventsManager&) = delete;

  // Adds one registration of `handler` for `def` (a clone is kept). False only for a null handler.
  bool registerOnEvent(const CQVEventDef& def, CQVEventHandler* handler);
  // Drops the earliest registration of `handler` for a definition matching `def`. False, with no
  // callback, when there is none.
  bool unregisterOnEvent(const CQVEventDef& def, CQVEventHandler* handler);

  // Raises an event: by default queues it for delivery to this manager's handlers.
  virtual void notifyOnEvent(const CQVEventDef& def);

  // Registrations `handler` holds in this manager.
  long registrationCount(CQVEventHandler* handler) const;
  // Requests and events queued and not yet started.
  std::size_t pendingCount() const;

 protected:
  void addRequest(const CQVEventRequest& request);
  // As addRequest, for a request the caller lets the manager execute in place when it can run
  // at once (no clone then).
  void addRequestInPlace(CQVEventRequest& request);
  void addEventToNotifyOn(const CQVEventDef& def);
  // Runs the queued items now, for as long as canExecuteRequests() answers true.
  void notifyOnEventsNow();
  // Delivers `def` to this manager's handlers at once, on the calling thread. Only for the thread
  // that runs this manager's queue (from inside a request's execute), for an event that takes the
  // place of the request being run.
  void deliverNow(const CQVEventDef& def);
  // Drops every registration; calls unregisteredLastHandlerForEvent once per definition that had
  // handlers, and makes no setUnregisteredFromEvent report.
  void unregisterAllHandlers();
  // Drops every queued request and event that has not started yet.
  void discardPending();

  virtual void registeredFirstHandlerForEvent(const CQVEventDef& def);
  virtual void unregisteredLastHandlerForEvent(const CQVEventDef& def);
  // Read by any thread, without a lock of the manager's: a derived manager keeps its answer in a
  // sequentially consistent atomic (or behind a lock of its own), and calls notifyOnEventsNow()
  // after it turns true, so that the held items cannot be missed by both that call and a thread
  // just leaving the queue.
  virtual bool canExecuteRequests();
  virtual void preExecuteEventRequests();
  virtual void postExecuteEventRequests();

 private:
  struct Impl;
  class ExecuteScope;

  // What claimIdle() got: nothing (the queue runs, on another thread or further up this one, or
  // it is closed), the running state of an empty queue, or the running state with items queued
  // before the caller's, which the caller queues its copy behind and runs with them.
  enum class Claim { None, Idle, Behind };

  // Runs the request or the event at once when the queue is idle, else queues a copy of it.
  void addInPlace(CQVEventRequest* request, const CQVEventDef* event);
  // Queues a copy of the request or the event, and runs the queue unless a thread (maybe further
  // up this one) runs it.
  void enqueueAndRun(const CQVEventRequest* request, const CQVEventDef* event);
  void runQueue();
  // Claims the running state when nobody runs the queue and canExecuteRequests().
  Claim claimIdle();
  // With the running state claimed: preExecute, then while canExecuteRequests() the given item
  // (held at the queue's front when closed by then) and the queued ones, postExecute, release.
  // True when items were left queued.
  bool runClaimed(CQVEventRequest* request, const CQVEventDef* event);

  // Shared so that an operation in progress keeps the state alive even if the manager deletes
  // itself from one of its hooks.
  const std::shared_ptr<Impl> impl_;
};
