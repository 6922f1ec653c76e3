#include "QVTimer.h"

#include "QVFileTime.h"
#include "QVScheduleLog.h"
#include "QVTimeCompare.h"

#include <cstdio>
#include <mutex>

QV_SOURCE_FILE("QVTimer.cpp");

CQVTimer::CQVTimer() : currTimeHandlersMap(&absTimeHandlersMap) {
  QV_TRACE_SCOPE("CQVTimer::CQVTimer");
  handles[0] = &stopEvent;
  handles[1] = &pauseEvent;
  handles[2] = &earlierTimeEvent;
  handles[3] = &waitableTimer;
  init();
}

CQVTimer::~CQVTimer() {
  QV_TRACE_SCOPE("CQVTimer::~CQVTimer");
  stopThread();
  reset();
}

void CQVTimer::stopThread() {
  stopEvent.set();
  if (thread && thread->isCurrentThread()) {
    // Joining itself would never return. Owners delete the timer from another thread.
    QVScheduleLog().logErrorText("CQVTimer::~CQVTimer called on the timer thread; the thread cannot be joined",
                                 QV_LOG_ARGS);
    thread->detach();
  } else if (thread) {
    thread->join();
  }
}

bool CQVTimer::init() {
  QV_TRACE_SCOPE("CQVTimer::init");
  EnterTimerCriticalSection();
  // The events and the waitable timer exist with the object; only the thread can fail here.
  try {
    thread = std::make_unique<QVThread>([this] { waitForTimeAndCallHandlers(); });
    threadId = thread->id();
  } catch (const std::system_error&) {
    thread.reset();
  }
  LeaveTimerCriticalSection();
  return thread != nullptr;
}

void CQVTimer::EnterTimerCriticalSection() {
  const long id = QVCurrentThreadId();
  QVScheduleLog().logFormatted(QV_LOG_ARGS, "Before EnterTimerCriticalSection(), thread id = @ (%_1_ld)", {id});
  timerLock.enter();
  QVScheduleLog().logFormatted(QV_LOG_ARGS, "After EnterTimerCriticalSection(), thread id = @ (%_1_ld)", {id});
}

void CQVTimer::LeaveTimerCriticalSection() {
  const long id = QVCurrentThreadId();
  QVScheduleLog().logFormatted(QV_LOG_ARGS, "Before LeaveTimerCriticalSection(), thread id = @ (%_1_ld)", {id});
  timerLock.leave();
  QVScheduleLog().logFormatted(QV_LOG_ARGS, "After LeaveTimerCriticalSection(), thread id = @ (%_1_ld)", {id});
}

std::string CQVTimer::formatFileTime(const ULARGE_INTEGER& time) {
  QVSystemTime st{};
  if (!QVFileTimeToSystemTime(time.QuadPart, st)) return std::string();
  char buffer[64];
  std::snprintf(buffer, sizeof buffer, "%d/%d/%d %d:%d:%d:%d", st.day, st.month, st.year, st.hour, st.minute,
                st.second, st.milliseconds);
  return buffer;
}

void CQVTimer::waitForTimeAndCallHandlers() {
  QVObjectPtrT<ILogger> log = QVLogger::GetLogger("QVSchedule");
  log->traceEnter("CQVTimer::waitForTimeAndCallHandlers", QV_LOG_ARGS);
  for (;;) {
    setTimer();
    switch (QVWaitForAny(handles, 4)) {
      case 0:
        log->traceExit("CQVTimer::waitForTimeAndCallHandlers", QV_LOG_ARGS);
        return;
      case 1:
        log->logFormatted(QV_LOG_ARGS, "CQVTimer::waitForTimeAndCallHandlers() - woke up since it was aksed to pause");
        executePause();
        break;
      case 2:
        log->logFormatted(QV_LOG_ARGS, "CQVTimer::waitForTimeAndCallHandlers() - woke up by earlier time registration");
        break;
      case 3:
        log->logFormatted(QV_LOG_ARGS, "CQVTimer::waitForTimeAndCallHandlers() - woke up by the timer");
        onTime();
        break;
      default:
        break;
    }
  }
}

bool CQVTimer::setTimer() {
  QV_TRACE_SCOPE("CQVTimer::setTimer");
  EnterTimerCriticalSection();
  bool armed = true;
  if (absTimeHandlersMap.empty()) {
    QVScheduleLog().logFormatted(QV_LOG_ARGS, "CQVTimer::setTimer() - empty list, don't set the timer");
  } else {
    absTimeHandlersMap.setCurrToFirst();
    const ULARGE_INTEGER due = absTimeHandlersMap.getCurrAbsTime();
    waitableTimer.set(due.QuadPart);
    if (QVScheduleLog().isEnabled()) {
      const std::string text = formatFileTime(due);
      QVScheduleLog().logFormatted(QV_LOG_ARGS, "CQVTimer::setTimer() - set the timer to @(%_1_s)", {text});
    }
  }
  LeaveTimerCriticalSection();
  return armed;
}

void CQVTimer::moveAll(CQVBaseTimeHandlersMap& from, CQVBaseTimeHandlersMap& to) {
  // Each entry keeps its remaining time: read per entry, then re-keyed by the target map.
  for (;;) {
    from.setCurrToFirst();
    if (from.currIsEnd()) break;
    const ULARGE_INTEGER remaining = from.getCurrRelTime();
    to.addTimeHandlersByRelTime(remaining, from.takeCurrHandlers());
  }
}

void CQVTimer::executePause() {
  QV_TRACE_SCOPE("CQVTimer::executePause");
  EnterTimerCriticalSection();
  // A resume that came before this thread served the pause leaves nothing to move.
  if (paused) {
    currTimeHandlersMap = &relTimeHandlersMap;
    moveAll(absTimeHandlersMap, relTimeHandlersMap);
  }
  LeaveTimerCriticalSection();
}

void CQVTimer::onTime() {
  QV_TRACE_SCOPE("CQVTimer::onTime");
  QVCriticalSection* lock = getSchedulerLock();
  if (lock) lock->enter();
  const ULARGE_INTEGER now = CQVTimeCompare::getCurrTimeIn100NanoSeconds();
  if (QVScheduleLog().isEnabled()) {
    const std::string text = formatFileTime(now);
    QVScheduleLog().logFormatted(QV_LOG_ARGS, "CQVTimer::onTime() - current time is @(%_1_s)", {text});
  }
  notifyOnTime(now);
  if (lock) lock->leave();
}

void CQVTimer::notifyOnTime(const ULARGE_INTEGER& now) {
  QV_TRACE_SCOPE("CQVTimer::notifyOnTime");
  // One round per entry: the first entry is looked up, emptied, and only then looked up again, so
  // entries that became due while handlers ran (even earlier ones) are served in the same pass,
  // after the entry being served.
  for (;;) {
    EnterTimerCriticalSection();
    absTimeHandlersMap.setCurrToFirst();
    // A pause asked for by a handler ends the pass: the rest keeps its remaining time.
    const bool any = !paused && !absTimeHandlersMap.currIsEnd();
    const std::uint64_t due = any ? absTimeHandlersMap.getCurrAbsTime().QuadPart : 0;
    LeaveTimerCriticalSection();
    if (!any || CQVTimeCompare::isSmaller(now.QuadPart, due, CQVTimeCompare::EPSILON_3)) return;
    if (QVScheduleLog().isEnabled()) {
      const std::string text = formatFileTime(QVMakeULargeInteger(due));
      QVScheduleLog().logFormatted(QV_LOG_ARGS, "CQVTimer::notifyOnTime() - notifying the handlers on time @(%_1_s)",
                                   {text});
    }
    if (!serveEntry(due)) return;
  }
}

bool CQVTimer::serveEntry(std::uint64_t due) {
  for (;;) {
    EnterTimerCriticalSection();
    // Found afresh for every handler: handlers may add to the entry, empty it, or move the map's
    // current position while they run.
    CQVTimeHandler* handler = nullptr;
    if (!paused) {
      absTimeHandlersMap.setCurrTo(due);
      handler = absTimeHandlersMap.popHandler();
      if (!handler) absTimeHandlersMap.eraseCurrIfEmpty();
    }
    const bool stillRunning = !paused;
    LeaveTimerCriticalSection();
    if (!handler) return stillRunning;
    handler->onTime();
  }
}

bool CQVTimer::registerOnRelativeTime(long relSeconds, CQVTimeHandler* handler) {
  QV_TRACE_SCOPE("CQVTimer::registerOnRelativeTime");
  QVScheduleLog().logFormatted(QV_LOG_ARGS, "CQVTimer::registerOnRelativeTime(), rel time = @ (%_1_ld)", {relSeconds});
  EnterTimerCriticalSection();
  bool isFirst = false;
  currTimeHandlersMap->addTimeHandlerByRelTime(relSeconds, handler, isFirst);
  if (!paused && isFirst) earlierTimeEvent.set();
  LeaveTimerCriticalSection();
  return true;
}

void CQVTimer::unregisterTimeHandler(CQVTimeHandler* handler) {
  QV_TRACE_SCOPE("CQVTimer::unregisterTimeHandler");
  EnterTimerCriticalSection();
  absTimeHandlersMap.removeTimeHandler(handler);
  relTimeHandlersMap.removeTimeHandler(handler);
  LeaveTimerCriticalSection();
}

void CQVTimer::pause() {
  QV_TRACE_SCOPE("CQVTimer::pause");
  EnterTimerCriticalSection();
  if (!paused) {
    paused = true;
    pauseEvent.set();
  }
  LeaveTimerCriticalSection();
}

void CQVTimer::resume() {
  QV_TRACE_SCOPE("CQVTimer::resume");
  EnterTimerCriticalSection();
  if (paused) {
    paused = false;
    currTimeHandlersMap = &absTimeHandlersMap;
    moveAll(relTimeHandlersMap, absTimeHandlersMap);
    setTimer();
  }
  LeaveTimerCriticalSection();
}

bool CQVTimer::getRelativeTimeToNotifyHandler(CQVTimeHandler* handler, long& seconds) {
  QV_TRACE_SCOPE("CQVTimer::getRelativeTimeToNotifyHandler");
  EnterTimerCriticalSection();
  const bool found = currTimeHandlersMap->getRelativeTimeToNotifyHandler(handler, seconds);
  LeaveTimerCriticalSection();
  return found;
}

void CQVTimer::reset() {
  QV_TRACE_SCOPE("CQVTimer::reset");
  EnterTimerCriticalSection();
  absTimeHandlersMap.clear();
  relTimeHandlersMap.clear();
  currTimeHandlersMap = &absTimeHandlersMap;
  paused = false;
  LeaveTimerCriticalSection();
}

bool CQVTimer::isPaused() {
  std::lock_guard<QVCriticalSection> lock(timerLock);
  return paused;
}

std::size_t CQVTimer::registrationCount() {
  std::lock_guard<QVCriticalSection> lock(timerLock);
  std::size_t count = 0;
  for (const CQVBaseTimeHandlersMap* map : {static_cast<CQVBaseTimeHandlersMap*>(&absTimeHandlersMap),
                                            static_cast<CQVBaseTimeHandlersMap*>(&relTimeHandlersMap)}) {
    for (const auto& entry : map->entries()) count += entry.second->size();
  }
  return count;
}

bool CQVTimer::isTimerThread() const { return thread && thread->isCurrentThread(); }
