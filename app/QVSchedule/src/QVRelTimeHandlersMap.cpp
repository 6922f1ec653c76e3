#include "QVRelTimeHandlersMap.h"

#include "QVScheduleLog.h"
#include "QVTimeCompare.h"

QV_SOURCE_FILE("QVRelTimeHandlersMap.cpp");

namespace {

std::uint64_t secondsToUnits(long seconds) {
  return static_cast<std::uint64_t>(static_cast<std::int64_t>(static_cast<std::int32_t>(seconds)) *
                                    static_cast<std::int64_t>(CQVTimeCompare::SECOND_TO_100_NANO_SECONDS));
}

}  // namespace

void CQVRelTimeHandlersMap::addTimeHandlerByRelTime(long relSeconds, CQVTimeHandler* handler, bool& isFirst) {
  QV_TRACE_SCOPE("CQVRelTimeHandlersMap::addTimeHandlerByRelTime");
  const ULARGE_INTEGER key = QVMakeULargeInteger(secondsToUnits(relSeconds));
  isFirst = isFirstKey(entries_, key.QuadPart);
  addHandler(key, handler);
}

void CQVRelTimeHandlersMap::addTimeHandlerByRelTime(const ULARGE_INTEGER& relTime, CQVTimeHandler* handler,
                                                    bool& isFirst) {
  QV_TRACE_SCOPE("CQVRelTimeHandlersMap::addTimeHandlerByRelTime");
  isFirst = isFirstKey(entries_, relTime.QuadPart);
  addHandler(relTime, handler);
}

void CQVRelTimeHandlersMap::addTimeHandlersByRelTime(const ULARGE_INTEGER& relTime,
                                                     std::unique_ptr<CQVTimeHandlerList> handlers) {
  QV_TRACE_SCOPE("CQVRelTimeHandlersMap::addTimeHandlersByRelTime");
  addHandlers(relTime, std::move(handlers));
}

ULARGE_INTEGER CQVRelTimeHandlersMap::getCurrRelTime() { return getCurrTime(); }

ULARGE_INTEGER CQVRelTimeHandlersMap::getCurrAbsTime() {
  if (currIsEnd()) return QVMakeULargeInteger(0);
  return QVMakeULargeInteger(CQVTimeCompare::getCurrTimeIn100NanoSeconds().QuadPart + getCurrTime().QuadPart);
}

bool CQVRelTimeHandlersMap::getRelativeTimeToNotifyHandler(CQVTimeHandler* handler, long& seconds) {
  std::uint64_t key = 0;
  if (!findHandlerKey(handler, key)) return false;
  const bool overdue = static_cast<std::int64_t>(key) < 0;
  seconds = overdue ? 0 : static_cast<long>(key / CQVTimeCompare::SECOND_TO_100_NANO_SECONDS);
  return true;
}
