#include "QVScheduler.h"

#include "QVGroupContext.h"
#include "QVLoadTestSchedulerRunnerBuilder.h"
#include "QVScenarioContext.h"
#include "QVScheduleLog.h"

#include <mutex>

QV_SOURCE_FILE("QVScheduler.cpp");

// Holds the scheduler lock for a facade operation, after deleting the runners a host stopped from
// inside one of its callbacks.
class QV_SCOPED_CAPABILITY CQVScheduler::ScheduleLock {
 public:
  explicit ScheduleLock(CQVScheduler& scheduler) QV_ACQUIRE(QVSchedulerLock)
      : lock_(scheduler.services.getSchedulerLock()) {
    scheduler.root.deleteRetiredRunners();
  }
  ~ScheduleLock() QV_RELEASE() {}
  ScheduleLock(const ScheduleLock&) = delete;
  ScheduleLock& operator=(const ScheduleLock&) = delete;

 private:
  CQVSchedulerLockGuard lock_;
};

namespace {
CQVScheduler* gInstance = nullptr;
std::once_flag gInstanceOnce;
}  // namespace

CQVScheduler* CQVScheduler::getInstance() {
  // Created once even when the host's first calls come from several threads at once.
  std::call_once(gInstanceOnce, [] { gInstance = new CQVScheduler(); });
  return gInstance;
}

CQVScheduler::CQVScheduler() {
  QV_TRACE_SCOPE("CQVScheduler::CQVScheduler");
}

bool CQVScheduler::setVusersServices(CQVVusersServices* vusersServices) {
  QV_TRACE_SCOPE("CQVScheduler::setVusersServices");
  const ScheduleLock lock(*this);
  return services.setVusersServices(vusersServices);
}

bool CQVScheduler::load(const char* source, Source kind) {
  const ScheduleLock lock(*this);
  // A running schedule is stopped first, under the same locks as stop, so that no callback can
  // reach a runner that the load deletes.
  root.stop();
  // The queries see no schedule until the new one is whole.
  root.setServices(&services);
  root.setLoading(true);
  // Shown again however the build ends (a refusal, or an exception from the document layer).
  struct Shown {
    CQVLoadTestSchedulerRunner& root;
    ~Shown() { root.setLoading(false); }
  } shown{root};
  CQVLoadTestSchedulerRunnerBuilder builder(&services);
  return kind == Source::File ? builder.buildFromXMLFile(root, source) : builder.buildFromXMLString(root, source);
}

bool CQVScheduler::setXMLFile(const char* path) {
  QV_TRACE_SCOPE("CQVScheduler::setXMLFile");
  return load(path, Source::File);
}

bool CQVScheduler::setXMLString(const char* xml) {
  QV_TRACE_SCOPE("CQVScheduler::setXMLString");
  return load(xml, Source::Text);
}

bool CQVScheduler::start() {
  QV_TRACE_SCOPE("CQVScheduler::start");
  QVScheduleTestLog().logFormatted(QV_LOG_ARGS, "SCHEDULER @  @ Started");
  // Under the scheduler lock, so that a zero-delay start callback cannot interleave with mayStart.
  const ScheduleLock lock(*this);
  return root.start();
}

bool CQVScheduler::stop() {
  QV_TRACE_SCOPE("CQVScheduler::stop");
  QVScheduleTestLog().logFormatted(QV_LOG_ARGS, "SCHEDULER @  @ Stopped");
  const ScheduleLock lock(*this);
  root.stop();
  return true;
}

bool CQVScheduler::pause() {
  QV_TRACE_SCOPE("CQVScheduler::pause");
  QVScheduleTestLog().logFormatted(QV_LOG_ARGS, "SCHEDULER @  @ Paused");
  const ScheduleLock lock(*this);
  if (root.isRunning()) root.pause();
  return true;
}

bool CQVScheduler::resume() {
  QV_TRACE_SCOPE("CQVScheduler::resume");
  QVScheduleTestLog().logFormatted(QV_LOG_ARGS, "SCHEDULER @  @ Resumed");
  const ScheduleLock lock(*this);
  if (root.isRunning() && root.isPaused()) root.resume();
  return true;
}

bool CQVScheduler::isRunning() { return root.isRunning(); }

bool CQVScheduler::isPaused() { return root.isRunning() && root.isPaused(); }

bool CQVScheduler::getScenarioRunTime(long& seconds) { return root.getRunTime(CQVScenarioContext(), seconds); }

bool CQVScheduler::getGroupRunTime(const std::string& groupName, long& seconds) {
  return root.getRunTime(CQVGroupContext(groupName), seconds);
}

bool CQVScheduler::getScenarioRunMode(CQVVusersServices::RunMode& mode) {
  return root.getRunMode(CQVScenarioContext(), mode);
}

bool CQVScheduler::getGroupRunMode(const std::string& groupName, CQVVusersServices::RunMode& mode) {
  return root.getRunMode(CQVGroupContext(groupName), mode);
}

bool CQVScheduler::getSchedulerStage(CQVSchedulerStage& stage) { return root.getSchedulerStage(stage); }
