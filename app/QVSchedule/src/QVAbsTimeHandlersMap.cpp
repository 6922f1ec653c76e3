#include "QVAbsTimeHandlersMap.h"

#include "QVScheduleLog.h"
#include "QVTimeCompare.h"

QV_SOURCE_FILE("QVAbsTimeHandlersMap.cpp");

void CQVAbsTimeHandlersMap::addTimeHandlerByRelTime(long relSeconds, CQVTimeHandler* handler, bool& isFirst) {
  QV_TRACE_SCOPE("CQVAbsTimeHandlersMap::addTimeHandlerByRelTime");
  const ULARGE_INTEGER key = CQVTimeCompare::relTimeInSecondsToAbsTimeIn100NanoSeconds(relSeconds);
  isFirst = isFirstKey(entries_, key.QuadPart);
  addHandler(key, handler);
}

void CQVAbsTimeHandlersMap::addTimeHandlerByRelTime(const ULARGE_INTEGER& relTime, CQVTimeHandler* handler,
                                                    bool& isFirst) {
  QV_TRACE_SCOPE("CQVAbsTimeHandlersMap::addTimeHandlerByRelTime");
  const ULARGE_INTEGER key = QVMakeULargeInteger(CQVTimeCompare::getCurrTimeIn100NanoSeconds().QuadPart + relTime.QuadPart);
  isFirst = isFirstKey(entries_, key.QuadPart);
  addHandler(key, handler);
}

void CQVAbsTimeHandlersMap::addTimeHandlersByRelTime(const ULARGE_INTEGER& relTime,
                                                     std::unique_ptr<CQVTimeHandlerList> handlers) {
  QV_TRACE_SCOPE("CQVAbsTimeHandlersMap::addTimeHandlersByRelTime");
  // Modulo 2^64: a negative remaining time (overdue at pause) gives a time before now.
  addHandlers(QVMakeULargeInteger(CQVTimeCompare::getCurrTimeIn100NanoSeconds().QuadPart + relTime.QuadPart),
              std::move(handlers));
}

ULARGE_INTEGER CQVAbsTimeHandlersMap::getCurrRelTime() {
  if (currIsEnd()) return QVMakeULargeInteger(0);
  return QVMakeULargeInteger(getCurrTime().QuadPart - CQVTimeCompare::getCurrTimeIn100NanoSeconds().QuadPart);
}

ULARGE_INTEGER CQVAbsTimeHandlersMap::getCurrAbsTime() { return getCurrTime(); }

bool CQVAbsTimeHandlersMap::getRelativeTimeToNotifyHandler(CQVTimeHandler* handler, long& seconds) {
  std::uint64_t key = 0;
  if (!findHandlerKey(handler, key)) return false;
  const std::uint64_t now = CQVTimeCompare::getCurrTimeIn100NanoSeconds().QuadPart;
  seconds = key <= now ? 0 : static_cast<long>((key - now) / CQVTimeCompare::SECOND_TO_100_NANO_SECONDS);
  return true;
}
