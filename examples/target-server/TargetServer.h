// A small HTTP server on 127.0.0.1 for trying HTTP vusers out and for the tests: it listens on a
// free port (or the one asked for) in threads of its own and answers
//   /ok           200 at once
//   /fail         500 at once
//   /slow?ms=N    200 after N milliseconds (at most 10 s; cut short when the server stops)
//   anything else 200 at once
// and keeps every request's arrival (time, path, client port) and the requests in progress per
// path. Every member may be called from any thread; mutex_ guards the records and is a leaf lock
// (the handlers run in the server's threads and take it briefly).
#pragma once

#include <httplib.h>

#include <dirent.h>
#include <netinet/in.h>
#include <sys/socket.h>

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <cstdlib>
#include <map>
#include <mutex>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

class TargetServer {
 public:
  using Clock = std::chrono::steady_clock;
  struct Hit {
    Clock::time_point at;
    std::string path;
    int clientPort = 0;
  };

  // port 0: a free port. threads: requests served at once (a kept-alive connection holds one).
  explicit TargetServer(int port = 0, std::size_t threads = 64) {
    server_.new_task_queue = [threads] { return new httplib::ThreadPool(threads); };
    server_.set_tcp_nodelay(true);
    server_.set_keep_alive_max_count(1000000);
    server_.set_keep_alive_timeout(60);
    server_.Get(".*", [this](const httplib::Request& request, httplib::Response& response) { serve(request, response); });
    server_.Post(".*", [this](const httplib::Request& request, httplib::Response& response) { serve(request, response); });
    port_ = port ? (server_.bind_to_port("127.0.0.1", port) ? port : -1) : server_.bind_to_any_port("127.0.0.1");
    if (port_ <= 0) throw std::runtime_error("cannot listen on 127.0.0.1");
    widenBacklog(port_);
    thread_ = std::thread([this] { server_.listen_after_bind(); });
    // stop() before the accept loop runs would not end it: wait for the loop (bounded).
    const auto deadline = Clock::now() + std::chrono::seconds(10);
    while (!server_.is_running() && Clock::now() < deadline) std::this_thread::yield();
  }

  ~TargetServer() {
    {
      std::lock_guard<std::mutex> lock(mutex_);
      stopping_ = true;
    }
    stalls_.notify_all();
    server_.stop();
    if (thread_.joinable()) thread_.join();
  }

  TargetServer(const TargetServer&) = delete;
  TargetServer& operator=(const TargetServer&) = delete;

  int port() const { return port_; }
  std::string url(const std::string& path) const { return "http://127.0.0.1:" + std::to_string(port_) + path; }

  std::vector<Hit> hits() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return hits_;
  }
  std::size_t count(const std::string& path) const {
    std::lock_guard<std::mutex> lock(mutex_);
    return static_cast<std::size_t>(
        std::count_if(hits_.begin(), hits_.end(), [&](const Hit& hit) { return hit.path == path; }));
  }
  std::size_t total() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return hits_.size();
  }
  // The most requests of `path` in progress at once so far.
  int peakInProgress(const std::string& path) const {
    std::lock_guard<std::mutex> lock(mutex_);
    const auto it = peak_.find(path);
    return it == peak_.end() ? 0 : it->second;
  }

 private:
  // The server library listens with a backlog of 5: a burst of connects (a batch of vusers
  // initialized at once) overflows it, and the clients left out wait a second for their SYN to be
  // sent again. Listening again on the same socket only widens its queue.
  static void widenBacklog(int port) {
    DIR* fds = opendir("/proc/self/fd");
    if (!fds) return;
    while (const dirent* entry = readdir(fds)) {
      const int fd = std::atoi(entry->d_name);
      sockaddr_in address{};
      socklen_t length = sizeof address;
      int listening = 0;
      socklen_t flagLength = sizeof listening;
      if (fd <= 2 || getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length) != 0) continue;
      if (address.sin_family != AF_INET || ntohs(address.sin_port) != port) continue;
      if (getsockopt(fd, SOL_SOCKET, SO_ACCEPTCONN, &listening, &flagLength) == 0 && listening) listen(fd, SOMAXCONN);
    }
    closedir(fds);
  }

  void serve(const httplib::Request& request, httplib::Response& response) {
    std::unique_lock<std::mutex> lock(mutex_);
    hits_.push_back(Hit{Clock::now(), request.path, request.remote_port});
    const int now = ++inProgress_[request.path];
    peak_[request.path] = std::max(peak_[request.path], now);
    if (request.path == "/fail") {
      response.status = 500;
    } else if (request.path == "/slow") {
      const long ms = request.has_param("ms") ? std::stol(request.get_param_value("ms")) : 1000;
      stalls_.wait_for(lock, std::chrono::milliseconds(std::min(ms, 10000L)), [this] { return stopping_; });
    }
    --inProgress_[request.path];
    lock.unlock();
    response.set_content(response.status == 500 ? "failed\n" : "ok\n", "text/plain");
  }

  httplib::Server server_;
  int port_ = 0;
  std::thread thread_;
  mutable std::mutex mutex_;
  std::condition_variable stalls_;
  bool stopping_ = false;
  std::vector<Hit> hits_;
  std::map<std::string, int> inProgress_;
  std::map<std::string, int> peak_;
};
