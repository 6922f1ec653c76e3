#include "QVTimer.h"

#include "QVFileTime.h"
#include "QVScheduleLog.h"
#include "QVTimeCompare.h"

#include <cstdio>
#include <system_error>

QV_SOURCE_FILE("QVTimer.cpp");

// Holds the timer lock for its scope, with the trace lines of entering and leaving it.
class QV_SCOPED_CAPABILITY CQVTimer::TimerLock {
 public:
  explicit TimerLock(CQVTimer& timer) QV_ACQUIRE(timer.timerLock) : timer_(timer) {
    timer_.EnterTimerCriticalSection();
  }
  ~TimerLock() QV_RELEASE() { timer_.LeaveTimerCriticalSection(); }
  TimerLock(const TimerLock&) = delete;
  TimerLock& operator=(const TimerLock&) = delete;

 private:
  CQVTimer& timer_;
};

CQVTimer::CQVTimer() : currTimeHandlersMap(&absTimeHandlersMap) {
  QV_TRACE_SCOPE("CQVTimer::CQVTimer");
  handles[WAKE_STOP] = &stopEvent;
  handles[WAKE_PAUSE] = &pauseEvent;
  handles[WAKE_EARLIER_TIME] = &earlierTimeEvent;
  handles[WAKE_TIMER_DUE] = &waitableTimer;
  startThread();
}

CQVTimer::~CQVTimer() {
  QV_TRACE_SCOPE("CQVTimer::~CQVTimer");
  stopThread();
  reset();
}

bool CQVTimer::startThread() {
  QV_TRACE_SCOPE("CQVTimer::init");
  // The thread's first setTimer waits for this lock, so it starts only once the thread is stored.
  TimerLock lock(*this);
  if (thread) return true;
  // The events and the waitable timer exist with the object; only the thread can fail here.
  try {
    thread = std::make_unique<QVThread>([this] { waitForTimeAndCallHandlers(); });
    threadId = thread->id();
  } catch (const std::system_error& error) {
    QVScheduleLog().logErrorFormatted("CQVTimer::init - the timer thread could not be started: %_1_s", __LINE__,
                                      qvSourceFile, {error.what()});
  }
  return thread != nullptr;
}

void CQVTimer::stopThread() {
  QVThread* running = nullptr;
  {
    TimerLock lock(*this);
    running = thread.get();
  }
  if (!running) return;
  stopEvent.set();
  if (running->isCurrentThread()) {
    // Joining itself would never return. Owners delete the timer from another thread.
    QVScheduleLog().logErrorText("CQVTimer::~CQVTimer called on the timer thread; the thread cannot be joined",
                                 QV_LOG_ARGS);
    running->detach();
  } else {
    running->join();  // without the timer lock: the thread takes it until it sees the stop
  }
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
    switch (QVWaitForAny(handles, WAKE_REASONS)) {
      case WAKE_STOP:
        log->traceExit("CQVTimer::waitForTimeAndCallHandlers", QV_LOG_ARGS);
        return;
      case WAKE_PAUSE:
        // "aksed" as it always read: log readers match the line.
        log->logFormatted(QV_LOG_ARGS, "CQVTimer::waitForTimeAndCallHandlers() - woke up since it was aksed to pause");
        executePause();
        break;
      case WAKE_EARLIER_TIME:
        log->logFormatted(QV_LOG_ARGS, "CQVTimer::waitForTimeAndCallHandlers() - woke up by earlier time registration");
        break;
      case WAKE_TIMER_DUE:
        log->logFormatted(QV_LOG_ARGS, "CQVTimer::waitForTimeAndCallHandlers() - woke up by the timer");
        onTime();
        break;
      default:
        break;
    }
  }
}

bool CQVTimer::setTimer() {
  TimerLock lock(*this);
  return setTimerLocked();
}

bool CQVTimer::setTimerLocked() {
  QV_TRACE_SCOPE("CQVTimer::setTimer");
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
  // Arming cannot fail here; without the thread nothing waits on the waitable timer.
  return thread != nullptr;
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
  TimerLock lock(*this);
  // A resume that came before this thread served the pause leaves nothing to move.
  if (paused) {
    currTimeHandlersMap = &relTimeHandlersMap;
    moveAll(absTimeHandlersMap, relTimeHandlersMap);
  }
}

void CQVTimer::onTime() {
  QV_TRACE_SCOPE("CQVTimer::onTime");
  const auto pass = [this] {
    const ULARGE_INTEGER now = CQVTimeCompare::getCurrTimeIn100NanoSeconds();
    if (QVScheduleLog().isEnabled()) {
      const std::string text = formatFileTime(now);
      QVScheduleLog().logFormatted(QV_LOG_ARGS, "CQVTimer::onTime() - current time is @(%_1_s)", {text});
    }
    notifyOnTime(now);
  };
  // The whole pass runs under the scheduler lock, so that time and event callbacks never overlap.
  QVCriticalSection* const lockOfPass = getSchedulerLock();
  if (!lockOfPass) {
    pass();
    return;
  }
  const CQVSchedulerLockGuard lock(*lockOfPass);
  pass();
}

bool CQVTimer::firstDueBy(const ULARGE_INTEGER& now, std::uint64_t& due) {
  TimerLock lock(*this);
  absTimeHandlersMap.setCurrToFirst();
  // A pause asked for by a handler ends the pass: the rest keeps its remaining time.
  if (paused || absTimeHandlersMap.currIsEnd()) return false;
  due = absTimeHandlersMap.getCurrAbsTime().QuadPart;
  return !CQVTimeCompare::isSmaller(now.QuadPart, due, CQVTimeCompare::EPSILON_3);
}

void CQVTimer::notifyOnTime(const ULARGE_INTEGER& now) {
  QV_TRACE_SCOPE("CQVTimer::notifyOnTime");
  // One round per entry: the first entry is looked up, emptied, and only then looked up again, so
  // entries that became due while handlers ran (even earlier ones) are served in the same pass,
  // after the entry being served.
  std::uint64_t due = 0;
  while (firstDueBy(now, due)) {
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
    CQVTimeHandler* handler = nullptr;
    bool stillRunning = false;
    {
      TimerLock lock(*this);
      // Found afresh for every handler: handlers may add to the entry, empty it, or move the map's
      // current position while they run.
      stillRunning = !paused;
      if (stillRunning) {
        absTimeHandlersMap.setCurrTo(due);
        handler = absTimeHandlersMap.popHandler();
        if (!handler) absTimeHandlersMap.eraseCurrIfEmpty();
      }
    }
    if (!handler) return stillRunning;
    handler->onTime();
  }
}

bool CQVTimer::registerOnRelativeTime(long relSeconds, CQVTimeHandler* handler) {
  QV_TRACE_SCOPE("CQVTimer::registerOnRelativeTime");
  QVScheduleLog().logFormatted(QV_LOG_ARGS, "CQVTimer::registerOnRelativeTime(), rel time = @ (%_1_ld)", {relSeconds});
  TimerLock lock(*this);
  bool isFirst = false;
  currTimeHandlersMap->addTimeHandlerByRelTime(relSeconds, handler, isFirst);
  if (!paused && isFirst) earlierTimeEvent.set();
  return true;
}

void CQVTimer::unregisterTimeHandler(CQVTimeHandler* handler) {
  QV_TRACE_SCOPE("CQVTimer::unregisterTimeHandler");
  TimerLock lock(*this);
  absTimeHandlersMap.removeTimeHandler(handler);
  relTimeHandlersMap.removeTimeHandler(handler);
}

void CQVTimer::pause() {
  QV_TRACE_SCOPE("CQVTimer::pause");
  TimerLock lock(*this);
  if (!paused) {
    paused = true;
    pauseEvent.set();
  }
}

void CQVTimer::resume() {
  QV_TRACE_SCOPE("CQVTimer::resume");
  TimerLock lock(*this);
  if (paused) {
    paused = false;
    currTimeHandlersMap = &absTimeHandlersMap;
    moveAll(relTimeHandlersMap, absTimeHandlersMap);
    setTimerLocked();
  }
}

bool CQVTimer::getRelativeTimeToNotifyHandler(CQVTimeHandler* handler, long& seconds) {
  QV_TRACE_SCOPE("CQVTimer::getRelativeTimeToNotifyHandler");
  TimerLock lock(*this);
  return currTimeHandlersMap->getRelativeTimeToNotifyHandler(handler, seconds);
}

void CQVTimer::reset() {
  QV_TRACE_SCOPE("CQVTimer::reset");
  TimerLock lock(*this);
  absTimeHandlersMap.clear();
  relTimeHandlersMap.clear();
  currTimeHandlersMap = &absTimeHandlersMap;
  paused = false;
}

bool CQVTimer::isPaused() {
  const QVCriticalSectionLock lock(timerLock);
  return paused;
}

std::size_t CQVTimer::registrationCount() {
  const QVCriticalSectionLock lock(timerLock);
  std::size_t count = 0;
  for (const CQVBaseTimeHandlersMap* map : {static_cast<CQVBaseTimeHandlersMap*>(&absTimeHandlersMap),
                                            static_cast<CQVBaseTimeHandlersMap*>(&relTimeHandlersMap)}) {
    for (const auto& entry : map->entries()) count += entry.second->size();
  }
  return count;
}

long CQVTimer::getThreadId() {
  const QVCriticalSectionLock lock(timerLock);
  return threadId;
}

bool CQVTimer::isTimerThread() {
  const QVCriticalSectionLock lock(timerLock);
  return thread && thread->isCurrentThread();
}
