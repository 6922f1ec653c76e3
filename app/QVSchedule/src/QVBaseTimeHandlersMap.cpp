#include "QVBaseTimeHandlersMap.h"

#include "QVScheduleLog.h"
#include "QVTimeCompare.h"

#include <iterator>

QV_SOURCE_FILE("QVBaseTimeHandlersMap.cpp");

CQVBaseTimeHandlersMap::CQVBaseTimeHandlersMap() : curr_(entries_.end()) {}

CQVBaseTimeHandlersMap::~CQVBaseTimeHandlersMap() = default;

bool CQVBaseTimeHandlersMap::isFirstKey(const Entries& entries, std::uint64_t key) {
  return entries.empty() || key < entries.begin()->first;
}

CQVBaseTimeHandlersMap::Entries::iterator CQVBaseTimeHandlersMap::findEquivalent(std::uint64_t key) {
  // Keys a and b are the same entry when neither is isSmaller(EPSILON_3) than the other, i.e. their
  // whole milliseconds differ by at most 1. The first entry not before the key is the first whose
  // whole millisecond is at least key's minus one; it is taken when the key is not before it.
  const std::uint64_t ms = CQVTimeCompare::MILLI_SECOND_TO_100_NANO_SECONDS;
  const std::uint64_t keyMs = key / ms;
  const std::uint64_t lowMs = keyMs > 0 ? keyMs - 1 : 0;
  auto it = entries_.lower_bound(lowMs * ms);
  if (it != entries_.end() && !CQVTimeCompare::isSmaller(key, it->first, CQVTimeCompare::EPSILON_3)) return it;
  return entries_.end();
}

bool CQVBaseTimeHandlersMap::findHandlerKey(CQVTimeHandler* handler, std::uint64_t& key) const {
  auto found = index_.find(handler);
  if (found == index_.end() || found->second.empty()) return false;
  key = found->second.begin()->first.first;
  return true;
}

void CQVBaseTimeHandlersMap::indexAppended(std::uint64_t entryKey, CQVTimeHandlerList::iterator first,
                                           CQVTimeHandlerList::iterator last) {
  for (auto it = first; it != last; ++it) index_[*it].emplace(std::make_pair(entryKey, nextSequence_++), it);
}

void CQVBaseTimeHandlersMap::unindexFront(CQVTimeHandler* handler, std::uint64_t entryKey) {
  auto found = index_.find(handler);
  if (found == index_.end()) return;
  Positions& positions = found->second;
  auto record = positions.lower_bound(std::make_pair(entryKey, std::uint64_t{0}));
  if (record != positions.end() && record->first.first == entryKey) positions.erase(record);
  if (positions.empty()) index_.erase(found);
}

void CQVBaseTimeHandlersMap::clear() {
  QV_TRACE_SCOPE("CQVBaseTimeHandlersMap::clear()");
  entries_.clear();
  index_.clear();
  curr_ = entries_.end();
}

void CQVBaseTimeHandlersMap::removeTimeHandler(CQVTimeHandler* handler) {
  QV_TRACE_SCOPE("CQVBaseTimeHandlersMap::removeTimeHandler");
  auto found = index_.find(handler);
  if (found == index_.end() || found->second.empty()) return;
  Positions& positions = found->second;
  const auto earliest = positions.begin();
  auto it = entries_.find(earliest->first.first);
  if (it != entries_.end()) it->second->erase(earliest->second);
  positions.erase(earliest);
  if (positions.empty()) index_.erase(found);
  if (it != entries_.end() && it->second->empty()) {
    if (curr_ == it) curr_ = entries_.end();
    entries_.erase(it);
  }
}

void CQVBaseTimeHandlersMap::addHandler(const ULARGE_INTEGER& key, CQVTimeHandler* handler) {
  QV_TRACE_SCOPE("CQVBaseTimeHandlersMap::addHandler");
  auto it = findEquivalent(key.QuadPart);
  if (it == entries_.end()) {
    it = entries_.emplace(key.QuadPart, std::make_unique<CQVTimeHandlerList>()).first;
  }
  it->second->push_back(handler);
  indexAppended(it->first, std::prev(it->second->end()), it->second->end());
}

void CQVBaseTimeHandlersMap::addHandlers(const ULARGE_INTEGER& key, std::unique_ptr<CQVTimeHandlerList> handlers) {
  QV_TRACE_SCOPE("CQVBaseTimeHandlersMap::addHandlers");
  if (!handlers) return;
  auto it = findEquivalent(key.QuadPart);
  if (it == entries_.end()) {
    it = entries_.emplace(key.QuadPart, std::move(handlers)).first;
    indexAppended(it->first, it->second->begin(), it->second->end());
  } else if (!handlers->empty()) {
    // Splicing keeps the moved positions valid; they are indexed under their new entry.
    const auto first = handlers->begin();
    it->second->splice(it->second->end(), *handlers);
    indexAppended(it->first, first, it->second->end());
  }
}

CQVTimeHandler* CQVBaseTimeHandlersMap::popHandler() {
  QV_TRACE_SCOPE("CQVBaseTimeHandlersMap::popHandler");
  if (curr_ == entries_.end() || curr_->second->empty()) return nullptr;
  CQVTimeHandler* handler = curr_->second->front();
  unindexFront(handler, curr_->first);
  curr_->second->pop_front();
  return handler;
}

void CQVBaseTimeHandlersMap::eraseCurrIfEmpty() {
  QV_TRACE_SCOPE("CQVBaseTimeHandlersMap::eraseCurrIfEmpty");
  if (curr_ != entries_.end() && curr_->second->empty()) {
    entries_.erase(curr_);
    curr_ = entries_.end();
  }
}

std::unique_ptr<CQVTimeHandlerList> CQVBaseTimeHandlersMap::takeCurrHandlers() {
  if (curr_ == entries_.end()) return nullptr;
  std::unique_ptr<CQVTimeHandlerList> list = std::move(curr_->second);
  // In list order, so each handler's frontmost record in this entry is the one dropped.
  for (CQVTimeHandler* handler : *list) unindexFront(handler, curr_->first);
  entries_.erase(curr_);
  curr_ = entries_.end();
  return list;
}

ULARGE_INTEGER CQVBaseTimeHandlersMap::getCurrTime() const {
  return QVMakeULargeInteger(curr_ == entries_.end() ? 0 : curr_->first);
}
