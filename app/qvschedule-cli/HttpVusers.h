// Real vusers over HTTP: the host that `qvschedule run --http URL` hands to the scheduler. Each
// vuser is an HTTP client loop (request, response, think time, next request) over its own
// kept-alive connection, driven by one of a few event loops (EventLoop); the pools answer the
// scheduler's calls as the simulated pools do.
//
// The scheduler's calls map onto vusers so:
// - init n / all: makes up to n / all idle vusers and opens their connections (name resolution,
//   TCP, TLS); a failure is an init error, and such a vuser ends at once when it is run.
// - run n / all: starts up to n / all vusers not yet started (initialized ones first, idle ones
//   connect on the way); run-until-complete vusers send `iterations` requests and complete.
// - stop n / all: stops up to n / all running vusers, the most recently started first, after
//   their request in flight (at once with stopAbort).
// - statuses: 2 (no more vusers) when the pool had fewer vusers left than asked (for "all": none
//   at all), else 0; a duration may always start.
// - all vusers initialized: raised once a pool has had its last initialization call (init all,
//   or init answered 2) and every connection it asked for is open or has failed; by groups, the
//   scenario-wide event follows once every group's event is raised.
// - group finished running: raised once the scheduler has finished the group's schedule and
//   none of the group's vusers runs any more (a stopped vuser runs until its request is done).
// - pause: running vusers finish the request in flight and wait; resume: they go on.
// - the run is over (isFinished) once the scheduler has finished the schedule and no vuser runs
//   any more: vusers left running (indefinitely, or until complete) go on until they complete
//   or the run is stopped.
//
// Threads: the scheduler calls in on its own threads and only updates the pools and queues
// commands to the loops (no call waits for the network). The loops report back on their threads.
// One helper thread raises the host events, reports what the loops did and takes one sample of
// the metrics a second. Lock order: the scheduler's lock, then mutex_, then a loop's command lock
// or the metrics' series lock (leaves); the listener and note callbacks are called with mutex_
// held and must not call the scheduler. shutdown() and the destructor must not be called with
// mutex_ held (they join the loops).
#pragma once

#include "EventLoop.h"
#include "HttpTarget.h"
#include "Metrics.h"
#include "VusersHost.h"

#include <condition_variable>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

struct HttpSettings {
  long defaultVusers = 10;
  std::map<std::string, long> groupVusers;    // overrides defaultVusers per group
  HttpTarget target;                          // every pool's request
  std::map<std::string, std::string> groupUrls;  // overrides target.url per group
  LoopSettings loop;
  bool stopAbort = false;
  unsigned loops = 0;  // event-loop threads; 0: one per core
};

// The state of one pool (or of all of them) at a moment, for a reader on any thread.
struct PoolState {
  std::string name;
  VusersCounts counts;
  MetricsTotals cumulative;
  MetricsTotals lastSecond;  // the span of the last sample
};
struct HttpSnapshot {
  double seconds = 0;  // real seconds since the start of the run
  std::vector<PoolState> pools;
  PoolState total;
};

class HttpVusers : public VusersHost, private LoopListener {
 public:
  static const char* const kScenarioPool;
  using Note = std::function<void(std::uint64_t at, const std::string& text)>;

  // byGroup: the definition is by groups and `groups` names its pools; otherwise one pool.
  HttpVusers(const HttpSettings& settings, bool byGroup, const std::vector<std::string>& groups, Listener listener,
             Note note);
  ~HttpVusers() override;
  HttpVusers(const HttpVusers&) = delete;
  HttpVusers& operator=(const HttpVusers&) = delete;

  void begin(std::uint64_t origin) override;
  void shutdown() override;
  bool isFinished() const override;
  std::uint64_t finishedAt() const override;
  QVEvent& finishedEvent() override { return finishedEvent_; }
  std::vector<std::string> poolNames() const override;
  VusersCounts counts(const std::string& pool) const override;
  std::string progressDetail() const override;

  // The live view and the record of the run (any thread).
  HttpSnapshot snapshot() const;
  std::vector<SeriesSample> series() const { return metrics_.series(); }
  std::vector<TimelineEntry> timeline() const;
  // Real seconds from begin() to the end of the last vuser (or to now while running).
  double runSeconds() const;
  const std::string& url(const std::string& pool) const;
  // Init errors of a pool and the first one's message.
  std::pair<long, std::string> initErrors(const std::string& pool) const;

  void onSchedulerFinished() override;
  void onSchedulerPaused() override;
  void onSchedulerResumed() override;
  void onGroupFinished(const std::string& groupName) override;

  int initAllVusers(RunMode runMode) override;
  int initVusers(long count, RunMode runMode) override;
  int runAllVusers(RunMode runMode) override;
  int runVusers(RunMode runMode, long count) override;
  int stopAllVusers() override;
  int stopVusers(long count) override;
  int canStartDuration() override;
  bool isInFinalStage() override;

  int initAllGroupVusers(const std::string& groupName, RunMode runMode) override;
  int initGroupVusers(const std::string& groupName, long count, RunMode runMode) override;
  int runAllGroupVusers(const std::string& groupName, RunMode runMode) override;
  int runGroupVusers(const std::string& groupName, RunMode runMode, long count) override;
  int stopAllGroupVusers(const std::string& groupName) override;
  int stopGroupVusers(const std::string& groupName, long count) override;
  int canStartGroupDuration(const std::string& groupName) override;

 private:
  static constexpr long kAll = -1;

  struct Pool {
    std::string name;
    long total = 0;
    HttpTarget target;
    std::vector<std::unique_ptr<Vuser>> made;  // in order of making
    std::size_t nextNotStarted = 0;  // made[nextNotStarted..] are initialized, not started
    std::vector<Vuser*> started;     // in order of starting; stop takes from the back
    long running = 0;                // started, neither stopped nor ended
    long live = 0;                   // started and not ended
    long done = 0;
    long connecting = 0;             // connections of init calls not yet open or failed
    long initErrors = 0;
    std::string firstInitError;
    long completedToReport = 0;
    long initFailedToReport = 0;
    bool lastInitDone = false;
    bool initRaised = false;
    bool scheduleFinished = false;
    bool finishedRaised = false;
  };
  enum class Raise { ScenarioInit, GroupInit, GroupFinished };
  struct PendingEvent {
    Raise what;
    std::string pool;
  };

  int init(const std::string& pool, long count, RunMode mode, const char* call);
  int run(const std::string& pool, long count, RunMode mode, const char* call);
  int stop(const std::string& pool, long count, const char* call);
  int canStart(const std::string& pool, const char* call);
  void notification(const std::string& pool, const char* call);
  void notificationLocked(const std::string& pool, const char* call);

  Pool& poolLocked(const std::string& name);
  std::size_t poolIndexLocked(const std::string& name);
  Vuser* makeLocked(std::size_t poolIndex);
  VusersCounts countsLocked(const Pool& pool) const;
  void reportLocked(TimelineEntry entry, const Pool* pool);
  void reportCallLocked(const std::string& call, std::string count, int status, const char* mode, const Pool& pool);
  void post(std::vector<std::vector<EventLoop::Command>>& perLoop);
  void checkInitLocked(Pool& pool);
  void checkGroupFinishedLocked(Pool& pool);
  void checkDrainedLocked();
  void raiseLocked(Raise what, const std::string& pool);

  void onConnected(Vuser& vuser, bool ok, const std::string& error) override;
  void onEnded(Vuser& vuser, End how) override;

  void helperBody();
  void reportEndsLocked();
  void takeSample();
  void stopAllLocked(std::vector<std::vector<EventLoop::Command>>& perLoop);

  const HttpSettings settings_;
  const bool byGroup_;
  const Listener listener_;
  const Note note_;
  const std::int64_t startNs_;

  mutable std::mutex mutex_;  // guards every member below up to the loops
  std::condition_variable changed_;  // helper work, vusers ended
  std::vector<Pool> pools_;          // in definition order
  std::vector<TimelineEntry> timeline_;
  std::vector<PendingEvent> events_;
  std::size_t nextLoop_ = 0;
  std::uint64_t origin_ = 0;
  std::int64_t beginNs_ = 0;
  std::int64_t endNs_ = 0;
  std::uint64_t finishedAt_ = 0;
  bool schedulerFinished_ = false;
  bool finished_ = false;
  bool scenarioInitRaised_ = false;
  bool stopping_ = false;
  bool helperQuit_ = false;
  std::vector<MetricsTotals> lastSpans_;  // per pool, from the last sample

  Metrics metrics_;
  QVEvent finishedEvent_;
  std::vector<std::unique_ptr<EventLoop>> loops_;
  std::thread helper_;
  bool shutDown_ = false;  // main thread only
};
