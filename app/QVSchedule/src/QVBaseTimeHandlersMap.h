// Handlers waiting for a time, ordered by due time. Each entry holds one due-time key (100 ns
// units) and its handlers in the order they were added; the map owns the lists, never the
// handlers. Keys within 1 whole millisecond of an existing entry join that entry (the entry keeps
// the key of the addition that created it); a key within tolerance of two entries joins the
// earlier one. The derived maps decide whether keys are absolute times or remaining durations.
// An index from handler to its registrations makes removal and lookup independent of how many
// registrations are pending.
//
// Not thread-safe: the timer calls every operation with its timer lock held.
#pragma once

#include "QVTimeHandler.h"
#include "QVWinTypes.h"

#include <cstdint>
#include <list>
#include <map>
#include <memory>
#include <unordered_map>
#include <utility>

using CQVTimeHandlerList = std::list<CQVTimeHandler*>;

class CQVBaseTimeHandlersMap {
 public:
  using Entries = std::map<std::uint64_t, std::unique_ptr<CQVTimeHandlerList>>;

  CQVBaseTimeHandlersMap();
  CQVBaseTimeHandlersMap(const CQVBaseTimeHandlersMap&) = delete;
  CQVBaseTimeHandlersMap& operator=(const CQVBaseTimeHandlersMap&) = delete;

  // Slot 0: due `relSeconds` from now (absolute map) or remaining `relSeconds` (relative map).
  // isFirst: the map was empty or the key is below the first key (plain comparison).
  virtual void addTimeHandlerByRelTime(long relSeconds, CQVTimeHandler* handler, bool& isFirst) = 0;
  // Slot 1: the same for a relative time in 100 ns units.
  virtual void addTimeHandlerByRelTime(const ULARGE_INTEGER& relTime, CQVTimeHandler* handler, bool& isFirst) = 0;
  // Slot 2: merges a whole list (ownership passes to the map).
  virtual void addTimeHandlersByRelTime(const ULARGE_INTEGER& relTime, std::unique_ptr<CQVTimeHandlerList> handlers) = 0;
  // Slot 3: time remaining until the current entry.
  virtual ULARGE_INTEGER getCurrRelTime() = 0;
  // Slot 4: absolute due time of the current entry.
  virtual ULARGE_INTEGER getCurrAbsTime() = 0;
  // Slot 5: whole seconds until the handler's earliest registration is due; false if absent.
  virtual bool getRelativeTimeToNotifyHandler(CQVTimeHandler* handler, long& seconds) = 0;

  void clear();
  // Removes the earliest registration of `handler` (first entry in key order, front of its list).
  void removeTimeHandler(CQVTimeHandler* handler);
  void addHandler(const ULARGE_INTEGER& key, CQVTimeHandler* handler);
  void addHandlers(const ULARGE_INTEGER& key, std::unique_ptr<CQVTimeHandlerList> handlers);

  // The current position: set to the first entry (or to the entry of exactly `key`) before use.
  void setCurrToFirst() { curr_ = entries_.begin(); }
  void setCurrTo(std::uint64_t key) { curr_ = entries_.find(key); }
  // Takes the front handler of the current entry; null when there is none (the entry stays).
  CQVTimeHandler* popHandler();
  void eraseCurrIfEmpty();
  // Removes the current entry and hands over its list (null at the end).
  std::unique_ptr<CQVTimeHandlerList> takeCurrHandlers();
  // Key at the current position, or 0 at the end.
  ULARGE_INTEGER getCurrTime() const;
  bool currIsEnd() const { return curr_ == entries_.end(); }

  bool empty() const { return entries_.empty(); }
  std::size_t entryCount() const { return entries_.size(); }
  const Entries& entries() const { return entries_; }

 protected:
  ~CQVBaseTimeHandlersMap();

  static bool isFirstKey(const Entries& entries, std::uint64_t key);
  // The entry equivalent to `key` under the tolerant order, or end.
  Entries::iterator findEquivalent(std::uint64_t key);
  // The key of the first entry holding `handler`; false when none does.
  bool findHandlerKey(CQVTimeHandler* handler, std::uint64_t& key) const;

  Entries entries_;
  Entries::iterator curr_;

 private:
  // Every registration of a handler, by (entry key, insertion sequence), with its list position.
  // Sequences grow with every insertion (a list merged into an entry gets new ones as it is
  // appended), so within an entry they follow list order and a handler's first record is its
  // earliest registration: first entry in key order, nearest the front of that entry's list.
  using Positions = std::map<std::pair<std::uint64_t, std::uint64_t>, CQVTimeHandlerList::iterator>;

  void indexAppended(std::uint64_t entryKey, CQVTimeHandlerList::iterator first, CQVTimeHandlerList::iterator last);
  // Drops the record of the frontmost registration of `handler` in the entry `entryKey`.
  void unindexFront(CQVTimeHandler* handler, std::uint64_t entryKey);

  std::unordered_map<CQVTimeHandler*, Positions> index_;
  std::uint64_t nextSequence_ = 0;
};
