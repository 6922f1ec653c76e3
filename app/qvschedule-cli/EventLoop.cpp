#include "EventLoop.h"

#include <algorithm>
#include <chrono>
#include <climits>
#include <limits>
#include <stdexcept>
#include <sys/epoll.h>
#include <sys/eventfd.h>
#include <unistd.h>

namespace {

constexpr int kEventsPerWait = 256;
constexpr int kTimeoutPasses = 4;
// After a failed connection a vuser without think time waits this long before it tries again,
// so that a target that went away is not hammered in a tight loop.
constexpr long kRetryAfterConnectErrorMs = 100;

ErrorKind classify(CURLcode result) {
  switch (result) {
    case CURLE_COULDNT_CONNECT:
    case CURLE_COULDNT_RESOLVE_HOST:
    case CURLE_COULDNT_RESOLVE_PROXY:
    case CURLE_SSL_CONNECT_ERROR:
    case CURLE_PEER_FAILED_VERIFICATION:
      return ErrorKind::Connect;
    case CURLE_OPERATION_TIMEDOUT:
      return ErrorKind::Timeout;
    default:
      return ErrorKind::Other;
  }
}

std::size_t discardBody(char*, std::size_t size, std::size_t count, void*) { return size * count; }

void setRequest(CURL* easy, const HttpTarget& t) {
  const std::string& m = t.method;
  if (m == "HEAD") {
    curl_easy_setopt(easy, CURLOPT_NOBODY, 1L);
  } else if (m != "GET" || t.body) {
    if (t.body || m == "POST") {
      const std::string& body = t.body ? *t.body : std::string();
      curl_easy_setopt(easy, CURLOPT_POSTFIELDSIZE_LARGE, static_cast<curl_off_t>(body.size()));
      curl_easy_setopt(easy, CURLOPT_POSTFIELDS, body.data());
    }
    if (m != "POST") curl_easy_setopt(easy, CURLOPT_CUSTOMREQUEST, m.c_str());
  }
  if (t.headerList) curl_easy_setopt(easy, CURLOPT_HTTPHEADER, t.headerList.get());
}

void setTrust(CURL* easy, const HttpTarget& t) {
  if (t.insecure) {
    curl_easy_setopt(easy, CURLOPT_SSL_VERIFYPEER, 0L);
    curl_easy_setopt(easy, CURLOPT_SSL_VERIFYHOST, 0L);
  } else if (!t.caFile.empty()) {
    curl_easy_setopt(easy, CURLOPT_CAINFO, t.caFile.c_str());
  }
}

// The index in PoolRecorder::protocols of a response's HTTP version; kProtocols when unknown.
std::size_t protocolIndex(long curlVersion) {
  switch (curlVersion) {
    case CURL_HTTP_VERSION_1_0: return 0;
    case CURL_HTTP_VERSION_1_1: return 1;
    case CURL_HTTP_VERSION_2_0: return 2;
    case CURL_HTTP_VERSION_3: return 3;
    default: return kProtocols;
  }
}

// Why a connection failed, with what to do about a certificate that is not trusted.
std::string connectError(const char* curlError, CURLcode result) {
  std::string text = curlError[0] ? curlError : curl_easy_strerror(result);
  if (result == CURLE_PEER_FAILED_VERIFICATION) {
    text += " (trust its certificate with --cacert FILE, or skip the check with --insecure)";
  }
  return text;
}

// An If-Modified-Since date that no request can carry (see EventLoop::startConnect).
constexpr curl_off_t kUnrepresentableTime = std::numeric_limits<curl_off_t>::max();

}  // namespace

std::int64_t EventLoop::nowNs() {
  return std::chrono::duration_cast<std::chrono::nanoseconds>(std::chrono::steady_clock::now().time_since_epoch())
      .count();
}

EventLoop::EventLoop(std::size_t index, const LoopSettings& settings, Metrics& metrics, LoopListener& listener)
    : index_(index), settings_(settings), metrics_(metrics), listener_(listener) {
  multi_ = curl_multi_init();
  epoll_ = epoll_create1(EPOLL_CLOEXEC);
  wakeFd_ = eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC);
  epoll_event wakeEvent{};
  wakeEvent.events = EPOLLIN;
  wakeEvent.data.fd = wakeFd_;
  if (!multi_ || epoll_ < 0 || wakeFd_ < 0 || epoll_ctl(epoll_, EPOLL_CTL_ADD, wakeFd_, &wakeEvent) != 0) {
    throw std::runtime_error("cannot make an event loop (curl multi handle, epoll or eventfd)");
  }
  curl_multi_setopt(multi_, CURLMOPT_SOCKETFUNCTION, &EventLoop::onSocket);
  curl_multi_setopt(multi_, CURLMOPT_SOCKETDATA, this);
  curl_multi_setopt(multi_, CURLMOPT_TIMERFUNCTION, &EventLoop::onTimer);
  curl_multi_setopt(multi_, CURLMOPT_TIMERDATA, this);
  // Each vuser's cache keeps its one idle connection and no other.
  curl_multi_setopt(multi_, CURLMOPT_MAXCONNECTS, 1L);
  thread_ = std::thread([this] { threadBody(); });
}

EventLoop::~EventLoop() {
  quit();
  if (multi_) curl_multi_cleanup(multi_);
  if (wakeFd_ >= 0) ::close(wakeFd_);
  if (epoll_ >= 0) ::close(epoll_);
}

void EventLoop::post(std::vector<Command>& commands) {
  {
    std::lock_guard<std::mutex> lock(commandsMutex_);
    commands_.insert(commands_.end(), commands.begin(), commands.end());
  }
  commands.clear();
  wake();
}

void EventLoop::quit() {
  {
    std::lock_guard<std::mutex> lock(commandsMutex_);
    quitting_ = true;
  }
  wake();
  if (thread_.joinable()) thread_.join();
}

void EventLoop::wake() {
  const std::uint64_t one = 1;
  [[maybe_unused]] const ssize_t n = ::write(wakeFd_, &one, sizeof one);
}

int EventLoop::waitMs(std::int64_t now) const {
  std::int64_t due = curlDueNs_;
  if (!timers_.empty() && (due < 0 || timers_.top().dueNs < due)) due = timers_.top().dueNs;
  if (due < 0) return -1;
  if (due <= now) return 0;
  // Rounded up: waking early would only spin.
  return static_cast<int>(std::min<std::int64_t>((due - now + 999999) / 1000000, INT_MAX));
}

void EventLoop::threadBody() {
  epoll_event events[kEventsPerWait];
  for (;;) {
    const int n = epoll_wait(epoll_, events, kEventsPerWait, waitMs(nowNs()));
    bool woken = false;
    for (int i = 0; i < n; ++i) {
      if (events[i].data.fd == wakeFd_) {
        woken = true;
        continue;
      }
      const std::uint32_t e = events[i].events;
      const int flags = ((e & EPOLLIN) ? CURL_CSELECT_IN : 0) | ((e & EPOLLOUT) ? CURL_CSELECT_OUT : 0) |
                        ((e & (EPOLLERR | EPOLLHUP)) ? CURL_CSELECT_ERR : 0);
      socketAction(events[i].data.fd, flags);
    }
    // Commands first, so that a stop is seen before a think timer starts another request.
    if (woken && !serveCommands()) break;
    fireTimers(nowNs());
    // Requests just added ask for a call at once: served now rather than after another wait.
    for (int pass = 0; pass < kTimeoutPasses && curlDueNs_ >= 0 && curlDueNs_ <= nowNs(); ++pass) {
      curlDueNs_ = -1;
      socketAction(CURL_SOCKET_TIMEOUT, 0);
    }
  }
  while (!vusers_.empty()) end(*vusers_.back(), LoopListener::End::Stopped);
}

// Answers false when the loop is to end.
bool EventLoop::serveCommands() {
  std::uint64_t count = 0;
  [[maybe_unused]] const ssize_t r = ::read(wakeFd_, &count, sizeof count);
  std::vector<Command> todo;
  {
    std::lock_guard<std::mutex> lock(commandsMutex_);
    if (quitting_) return false;
    todo.swap(commands_);
  }
  for (const Command& command : todo) serve(command);
  return true;
}

void EventLoop::serve(const Command& command) {
  switch (command.kind) {
    case Command::Kind::Init:
      adopt(*command.vuser);
      if (command.vuser->loopView.state == Vuser::LoopView::State::New) startConnect(*command.vuser);
      break;
    case Command::Kind::Run:
      adopt(*command.vuser);
      onRun(*command.vuser, command);
      break;
    case Command::Kind::Stop:
      onStop(*command.vuser, command.abort);
      break;
    case Command::Kind::Pause:
      paused_ = true;
      break;
    case Command::Kind::Resume: {
      paused_ = false;
      std::vector<Vuser*> waiting;
      waiting.swap(parked_);
      for (Vuser* v : waiting) {
        if (v->loopView.state == Vuser::LoopView::State::Parked) startRequest(*v);
      }
      break;
    }
  }
}

void EventLoop::adopt(Vuser& v) {
  const Vuser::LoopView& lv = v.loopView;
  if (lv.state != Vuser::LoopView::State::New || (lv.slot < vusers_.size() && vusers_[lv.slot] == &v)) return;
  v.loopView.slot = vusers_.size();
  vusers_.push_back(&v);
}

void EventLoop::onRun(Vuser& v, const Command& command) {
  using State = Vuser::LoopView::State;
  Vuser::LoopView& lv = v.loopView;
  lv.runRequested = true;
  lv.untilComplete = command.untilComplete;
  lv.iterationsLeft = settings_.iterations;
  lv.runCalledNs = command.calledNs;
  lv.firstRequestPending = true;
  switch (lv.state) {
    case State::New: startOnTheWay(v); break;
    case State::Ready: startRunning(v); break;
    case State::InitFailed: end(v, LoopListener::End::InitFailed); break;
    default: break;  // connecting: runs once connected
  }
}

void EventLoop::onStop(Vuser& v, bool abort) {
  using State = Vuser::LoopView::State;
  switch (v.loopView.state) {
    case State::Ended:
      return;
    case State::Requesting:
      if (!abort) {
        v.loopView.stopAfterRequest = true;
        return;
      }
      break;
    default:
      break;
  }
  end(v, LoopListener::End::Stopped);
}

void EventLoop::socketAction(curl_socket_t fd, int flags) {
  int running = 0;
  curl_multi_socket_action(multi_, fd, flags, &running);
  drainMessages();
}

void EventLoop::drainMessages() {
  int left = 0;
  while (CURLMsg* message = curl_multi_info_read(multi_, &left)) {
    if (message->msg != CURLMSG_DONE) continue;
    Vuser* v = nullptr;
    curl_easy_getinfo(message->easy_handle, CURLINFO_PRIVATE, &v);
    const CURLcode result = message->data.result;
    curl_multi_remove_handle(multi_, message->easy_handle);
    if (v->loopView.state == Vuser::LoopView::State::Connecting) {
      onConnectDone(*v, result);
    } else {
      onRequestDone(*v, result);
    }
  }
}

void EventLoop::fireTimers(std::int64_t now) {
  while (!timers_.empty() && timers_.top().dueNs <= now) {
    const Timer timer = timers_.top();
    timers_.pop();
    Vuser& v = *timer.vuser;
    if (timer.seq != v.loopView.timerSeq || v.loopView.state != Vuser::LoopView::State::Thinking) continue;
    startRequest(v);
  }
}

int EventLoop::onSocket(CURL*, curl_socket_t fd, int what, void* self, void*) {
  auto* loop = static_cast<EventLoop*>(self);
  if (fd < 0) return 0;
  std::vector<bool>& registered = loop->registered_;
  if (static_cast<std::size_t>(fd) >= registered.size()) registered.resize(static_cast<std::size_t>(fd) + 1, false);
  if (what == CURL_POLL_REMOVE) {
    if (registered[fd]) epoll_ctl(loop->epoll_, EPOLL_CTL_DEL, fd, nullptr);
    registered[fd] = false;
    return 0;
  }
  epoll_event event{};
  event.events = ((what & CURL_POLL_IN) ? std::uint32_t{EPOLLIN} : 0u) | ((what & CURL_POLL_OUT) ? std::uint32_t{EPOLLOUT} : 0u);
  event.data.fd = fd;
  // A socket curl closed without telling (it always tells) would fail the first try; the other
  // one then fits.
  const int first = registered[fd] ? EPOLL_CTL_MOD : EPOLL_CTL_ADD;
  if (epoll_ctl(loop->epoll_, first, fd, &event) != 0) {
    epoll_ctl(loop->epoll_, first == EPOLL_CTL_MOD ? EPOLL_CTL_ADD : EPOLL_CTL_MOD, fd, &event);
  }
  registered[fd] = true;
  return 0;
}

int EventLoop::onTimer(CURLM*, long timeoutMs, void* self) {
  auto* loop = static_cast<EventLoop*>(self);
  loop->curlDueNs_ = timeoutMs < 0 ? -1 : nowNs() + static_cast<std::int64_t>(timeoutMs) * 1000000;
  return 0;
}

// ---- a vuser's life ----

bool EventLoop::makeHandle(Vuser& v) {
  Vuser::LoopView& lv = v.loopView;
  lv.easy = curl_easy_init();
  lv.share = curl_share_init();
  if (!lv.easy || !lv.share) return false;
  curl_share_setopt(lv.share, CURLSHOPT_SHARE, CURL_LOCK_DATA_CONNECT);
  curl_share_setopt(lv.share, CURLSHOPT_SHARE, CURL_LOCK_DATA_SSL_SESSION);
  CURL* e = lv.easy;
  curl_easy_setopt(e, CURLOPT_SHARE, lv.share);
  curl_easy_setopt(e, CURLOPT_PRIVATE, &v);
  curl_easy_setopt(e, CURLOPT_URL, v.target.url.c_str());
  curl_easy_setopt(e, CURLOPT_NOSIGNAL, 1L);
  curl_easy_setopt(e, CURLOPT_TIMEOUT_MS, settings_.timeoutMs);
  curl_easy_setopt(e, CURLOPT_CONNECTTIMEOUT_MS, settings_.timeoutMs);
  curl_easy_setopt(e, CURLOPT_HTTP_VERSION, static_cast<long>(CURL_HTTP_VERSION_2TLS));
  curl_easy_setopt(e, CURLOPT_USERAGENT, "qvschedule");
  curl_easy_setopt(e, CURLOPT_ERRORBUFFER, lv.error);
  curl_easy_setopt(e, CURLOPT_WRITEFUNCTION, &discardBody);
  setTrust(e, v.target);
  setRequest(e, v.target);
  return true;
}

// Initialization: name resolution, TCP and TLS, and no request; the vuser's first request goes
// over this connection. libcurl has no call that opens a connection for later requests (it never
// reuses a connect-only connection, and it closes an HTTP/1 connection whose transfer a callback
// aborted), so the initialization is a request that cannot be built: its If-Modified-Since date
// is out of range. It fails once the connection is open, before anything is sent, and the
// connection stays in the vuser's cache. The pre-request callback tells that the connection was
// open. (Should a libcurl close it all the same, the first request connects anew.)
void EventLoop::startConnect(Vuser& v) {
  Vuser::LoopView& lv = v.loopView;
  lv.state = Vuser::LoopView::State::Connecting;
  if (!makeHandle(v)) {
    onConnectDone(v, CURLE_OUT_OF_MEMORY);
    return;
  }
  lv.connectionOpen = false;
  curl_easy_setopt(lv.easy, CURLOPT_PREREQFUNCTION, &EventLoop::onConnectionOpen);
  curl_easy_setopt(lv.easy, CURLOPT_PREREQDATA, &v);
  curl_easy_setopt(lv.easy, CURLOPT_TIMECONDITION, static_cast<long>(CURL_TIMECOND_IFMODSINCE));
  curl_easy_setopt(lv.easy, CURLOPT_TIMEVALUE_LARGE, kUnrepresentableTime);
  if (curl_multi_add_handle(multi_, lv.easy) != CURLM_OK) onConnectDone(v, CURLE_FAILED_INIT);
}

int EventLoop::onConnectionOpen(void* vuser, char*, char*, int, int) {
  static_cast<Vuser*>(vuser)->loopView.connectionOpen = true;
  return CURL_PREREQFUNC_OK;
}

// A vuser run without an initialization connects with its first request.
void EventLoop::startOnTheWay(Vuser& v) {
  if (!makeHandle(v)) {
    v.loopView.state = Vuser::LoopView::State::Connecting;
    onConnectDone(v, CURLE_OUT_OF_MEMORY);
    return;
  }
  v.loopView.connectOnTheWay = true;
  startRunning(v);
}

// The first request of a vuser that connected on the way: answers false when its connection
// failed, which is an init error (and ends the vuser) rather than a request's error.
bool EventLoop::connectedOnTheWay(Vuser& v, CURLcode result) {
  Vuser::LoopView& lv = v.loopView;
  lv.connectOnTheWay = false;
  curl_off_t connectUs = 0, tlsUs = 0;
  curl_easy_getinfo(lv.easy, CURLINFO_CONNECT_TIME_T, &connectUs);
  curl_easy_getinfo(lv.easy, CURLINFO_APPCONNECT_TIME_T, &tlsUs);
  const bool connected = result == CURLE_OK || (connectUs > 0 && (!v.target.https || tlsUs > 0));
  PoolRecorder& recorder = metrics_.recorder(index_, v.pool);
  bump(connected ? recorder.initOk : recorder.initErrors);
  listener_.onConnected(v, connected, connected ? std::string() : connectError(lv.error, result));
  if (!connected) end(v, LoopListener::End::InitFailed);
  return connected;
}

void EventLoop::onConnectDone(Vuser& v, CURLcode result) {
  Vuser::LoopView& lv = v.loopView;
  PoolRecorder& recorder = metrics_.recorder(index_, v.pool);
  const bool ok = lv.connectionOpen;
  std::string error;
  if (ok) {
    bump(recorder.initOk);
    curl_easy_setopt(lv.easy, CURLOPT_PREREQFUNCTION, nullptr);
    curl_easy_setopt(lv.easy, CURLOPT_TIMECONDITION, static_cast<long>(CURL_TIMECOND_NONE));
    lv.state = Vuser::LoopView::State::Ready;
  } else {
    bump(recorder.initErrors);
    error = connectError(lv.error, result);
    lv.state = Vuser::LoopView::State::InitFailed;
  }
  listener_.onConnected(v, ok, error);
  if (!lv.runRequested) return;
  if (ok) {
    startRunning(v);
  } else {
    end(v, LoopListener::End::InitFailed);
  }
}

void EventLoop::startRunning(Vuser& v) {
  if (paused_) {
    v.loopView.state = Vuser::LoopView::State::Parked;
    parked_.push_back(&v);
    return;
  }
  startRequest(v);
}

void EventLoop::startRequest(Vuser& v) {
  Vuser::LoopView& lv = v.loopView;
  if (paused_) {
    lv.state = Vuser::LoopView::State::Parked;
    parked_.push_back(&v);
    return;
  }
  lv.state = Vuser::LoopView::State::Requesting;
  lv.error[0] = '\0';
  lv.requestStartNs = nowNs();
  if (curl_multi_add_handle(multi_, lv.easy) != CURLM_OK) {
    record(v, CURLE_FAILED_INIT);
    end(v, LoopListener::End::Stopped);
  }
}

void EventLoop::onRequestDone(Vuser& v, CURLcode result) {
  if (v.loopView.connectOnTheWay && !connectedOnTheWay(v, result)) return;
  record(v, result);
  Vuser::LoopView& lv = v.loopView;
  if (lv.stopAfterRequest) {
    end(v, LoopListener::End::Stopped);
  } else if (lv.untilComplete && --lv.iterationsLeft <= 0) {
    end(v, LoopListener::End::Completed);
  } else {
    next(v, result);
  }
}

void EventLoop::record(Vuser& v, CURLcode result) {
  PoolRecorder& r = metrics_.recorder(index_, v.pool);
  CURL* e = v.loopView.easy;
  long status = 0;
  long headerBytes = 0;
  curl_off_t totalUs = 0, pretransferUs = 0, bodyBytes = 0;
  curl_easy_getinfo(e, CURLINFO_RESPONSE_CODE, &status);
  curl_easy_getinfo(e, CURLINFO_TOTAL_TIME_T, &totalUs);
  curl_easy_getinfo(e, CURLINFO_PRETRANSFER_TIME_T, &pretransferUs);
  curl_easy_getinfo(e, CURLINFO_SIZE_DOWNLOAD_T, &bodyBytes);
  curl_easy_getinfo(e, CURLINFO_HEADER_SIZE, &headerBytes);
  bump(r.requests);
  bump(r.bytes, static_cast<std::uint64_t>(std::max<curl_off_t>(0, bodyBytes) + std::max(0L, headerBytes)));
  if (result == CURLE_OK) {
    const auto us = static_cast<std::uint64_t>(std::max<curl_off_t>(0, totalUs));
    r.latencyUs.record(us);
    bump(r.latencySumUs, us);
    raiseTo(r.latencyMaxUs, us);
    bump(r.statuses[status >= 0 && status < static_cast<long>(PoolRecorder::kStatusCodes) ? status : 0]);
    long version = 0;
    curl_easy_getinfo(e, CURLINFO_HTTP_VERSION, &version);
    const std::size_t protocol = protocolIndex(version);
    if (protocol < kProtocols) bump(r.protocols[protocol]);
    if (status >= 400) bump(r.errors[static_cast<std::size_t>(ErrorKind::Http)]);
  } else {
    bump(r.errors[static_cast<std::size_t>(classify(result))]);
  }
  Vuser::LoopView& lv = v.loopView;
  if (lv.firstRequestPending && (result == CURLE_OK || pretransferUs > 0)) {
    const std::int64_t leftNs = lv.requestStartNs + static_cast<std::int64_t>(pretransferUs) * 1000;
    raiseTo(r.startLagMaxUs, static_cast<std::uint64_t>(std::max<std::int64_t>(0, leftNs - lv.runCalledNs) / 1000));
  }
  lv.firstRequestPending = false;
}

void EventLoop::next(Vuser& v, CURLcode result) {
  long thinkMs = settings_.thinkMs;
  if (thinkMs <= 0 && classify(result) == ErrorKind::Connect && result != CURLE_OK) thinkMs = kRetryAfterConnectErrorMs;
  if (thinkMs <= 0) {
    startRequest(v);
    return;
  }
  Vuser::LoopView& lv = v.loopView;
  lv.state = Vuser::LoopView::State::Thinking;
  lv.timerSeq = nextTimerSeq_++;
  timers_.push(Timer{nowNs() + static_cast<std::int64_t>(thinkMs) * 1000000, lv.timerSeq, &v});
}

void EventLoop::end(Vuser& v, LoopListener::End how) {
  using State = Vuser::LoopView::State;
  Vuser::LoopView& lv = v.loopView;
  if (lv.state == State::Ended) return;
  if (lv.easy && (lv.state == State::Requesting || lv.state == State::Connecting)) {
    curl_multi_remove_handle(multi_, lv.easy);
  }
  if (lv.easy) curl_easy_cleanup(lv.easy);
  // Closes its cached connection (the socket callback sees the second close of a handed-over one).
  if (lv.share) curl_share_cleanup(lv.share);
  lv.easy = nullptr;
  lv.share = nullptr;
  lv.state = State::Ended;
  lv.timerSeq = 0;
  if (lv.slot < vusers_.size() && vusers_[lv.slot] == &v) {
    vusers_[lv.slot] = vusers_.back();
    vusers_[lv.slot]->loopView.slot = lv.slot;
    vusers_.pop_back();
  }
  listener_.onEnded(v, how);
}
