#include "QVBaseTimeHandlersMap.h"

#include "QVScheduleLog.h"
#include "QVTimeCompare.h"

#include <algorithm>

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
  for (const auto& entry : entries_) {
    if (std::find(entry.second->begin(), entry.second->end(), handler) != entry.second->end()) {
      key = entry.first;
      return true;
    }
  }
  return false;
}

void CQVBaseTimeHandlersMap::clear() {
  QV_TRACE_SCOPE("CQVBaseTimeHandlersMap::clear()");
  entries_.clear();
  curr_ = entries_.end();
}

void CQVBaseTimeHandlersMap::removeTimeHandler(CQVTimeHandler* handler) {
  QV_TRACE_SCOPE("CQVBaseTimeHandlersMap::removeTimeHandler");
  for (auto it = entries_.begin(); it != entries_.end(); ++it) {
    CQVTimeHandlerList& list = *it->second;
    auto found = std::find(list.begin(), list.end(), handler);
    if (found == list.end()) continue;
    list.erase(found);
    if (list.empty()) {
      if (curr_ == it) curr_ = entries_.end();
      entries_.erase(it);
    }
    return;
  }
}

void CQVBaseTimeHandlersMap::addHandler(const ULARGE_INTEGER& key, CQVTimeHandler* handler) {
  QV_TRACE_SCOPE("CQVBaseTimeHandlersMap::addHandler");
  auto it = findEquivalent(key.QuadPart);
  if (it == entries_.end()) {
    it = entries_.emplace(key.QuadPart, std::make_unique<CQVTimeHandlerList>()).first;
  }
  it->second->push_back(handler);
}

void CQVBaseTimeHandlersMap::addHandlers(const ULARGE_INTEGER& key, std::unique_ptr<CQVTimeHandlerList> handlers) {
  QV_TRACE_SCOPE("CQVBaseTimeHandlersMap::addHandlers");
  if (!handlers) return;
  auto it = findEquivalent(key.QuadPart);
  if (it == entries_.end()) {
    entries_.emplace(key.QuadPart, std::move(handlers));
  } else {
    it->second->splice(it->second->end(), *handlers);
  }
}

CQVTimeHandler* CQVBaseTimeHandlersMap::popHandler() {
  QV_TRACE_SCOPE("CQVBaseTimeHandlersMap::popHandler");
  if (curr_ == entries_.end() || curr_->second->empty()) return nullptr;
  CQVTimeHandler* handler = curr_->second->front();
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
  entries_.erase(curr_);
  curr_ = entries_.end();
  return list;
}

ULARGE_INTEGER CQVBaseTimeHandlersMap::getCurrTime() const {
  return QVMakeULargeInteger(curr_ == entries_.end() ? 0 : curr_->first);
}
