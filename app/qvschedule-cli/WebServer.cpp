#include "WebServer.h"

#include "Output.h"
#include "WebAssets.h"

#include <cerrno>
#include <chrono>
#include <cstring>
#include <fcntl.h>
#include <sys/socket.h>

#if defined(__SANITIZE_THREAD__)
// Debian's cpp-httplib library is not built with ThreadSanitizer, which then cannot see that
// library's own synchronization between its threads.
extern "C" const char* __tsan_default_suppressions() { return "race:libcpp-httplib.so\n"; }
#endif

namespace {

using Json = nlohmann::ordered_json;
using namespace std::chrono_literals;

constexpr std::size_t kWorkers = 8;
constexpr int kMaxStreams = 4;                 // event streams at once; the other workers answer calls
constexpr auto kAnswerTimeout = 5s;            // how long a control call waits for the run loop
constexpr auto kPlanTimeout = 10s;             // how long /api/plan waits for the preview
constexpr auto kTick = 1s;                     // one sample and one status a second
constexpr auto kKeepAlive = 10s;               // a comment on an idle stream, to find gone readers
constexpr std::size_t kEventsPerWrite = 500;

const char* const kSecurityPolicy =
    "default-src 'none'; script-src 'self'; style-src 'self'; connect-src 'self'; img-src 'self' data:; "
    "base-uri 'none'; form-action 'none'; frame-ancestors 'none'";

// The JSON text of `value`; bytes that are not UTF-8 become U+FFFD.
std::string text(const Json& value) { return value.dump(-1, ' ', false, Json::error_handler_t::replace); }

void sendJson(httplib::Response& response, int status, const Json& body) {
  response.status = status;
  response.set_content(text(body), "application/json");
}

void sendError(httplib::Response& response, int status, const std::string& reason) {
  sendJson(response, status, {{"error", reason}});
}

// Equal texts, in a time that does not depend on where they differ.
bool sameSecret(const std::string& expected, const std::string& given) {
  if (expected.size() != given.size()) return false;
  unsigned char diff = 0;
  for (std::size_t i = 0; i < expected.size(); ++i) diff |= static_cast<unsigned char>(expected[i] ^ given[i]);
  return diff == 0;
}

// The host part of a Host header ("127.0.0.1:8080", "[::1]:8080", "localhost").
std::string hostOf(const std::string& header) {
  if (!header.empty() && header[0] == '[') return header.substr(1, header.find(']') - 1);
  return header.substr(0, header.find(':'));
}

// SO_REUSEADDR only: another process on the same port must be an error, not a shared port. The
// socket is not handed to child processes.
void socketOptions(socket_t sock) {
  int yes = 1;
  setsockopt(sock, SOL_SOCKET, SO_REUSEADDR, &yes, sizeof yes);
  fcntl(sock, F_SETFD, FD_CLOEXEC);
}

std::string sseEvent(const LiveRun::Event& event) {
  return "id: " + std::to_string(event.id) + "\nevent: " + event.type + "\ndata: " + event.data + "\n\n";
}

}  // namespace

const WebAsset* findWebAsset(const std::string& path) {
  const std::string wanted = path == "/" ? std::string("/index.html") : path;
  for (std::size_t i = 0; i < kWebAssetCount; ++i) {
    if (wanted == kWebAssets[i].path) return &kWebAssets[i];
  }
  return nullptr;
}

struct WebServer::Stream {
  std::uint64_t lastId = 0;
  std::uint64_t statusVersion = 0;
  std::chrono::steady_clock::time_point lastWrite = std::chrono::steady_clock::now();
  bool greeted = false;
};

WebServer::WebServer(const ServeAddress& address, std::string token, Parts parts)
    : address_(address), token_(std::move(token)), parts_(parts) {
  server_.new_task_queue = [] { return new httplib::ThreadPool(kWorkers); };
  server_.set_socket_options(socketOptions);
  server_.set_keep_alive_timeout(1);  // a stop waits for idle kept-alive connections this long
  server_.set_read_timeout(2, 0);
  server_.set_payload_max_length(64 * 1024);
  server_.set_default_headers({{"Cache-Control", "no-store"},
                               {"X-Content-Type-Options", "nosniff"},
                               {"Referrer-Policy", "no-referrer"},
                               {"Content-Security-Policy", kSecurityPolicy}});
  addRoutes();
}

WebServer::~WebServer() { stop(); }

bool WebServer::start(std::string& problem) {
  errno = 0;
  port_ = address_.port ? (server_.bind_to_port(address_.host, address_.port) ? address_.port : -1)
                        : server_.bind_to_any_port(address_.host);
  if (port_ <= 0) {
    problem = "cannot listen on " + serveOrigin(address_, address_.port).substr(7) +
              (errno ? ": " + errorText(errno) : std::string());
    return false;
  }
  listener_ = std::thread([this] { server_.listen_after_bind(); });
  ticker_ = std::thread([this] { tick(); });
  return true;
}

void WebServer::stop() {
  if (stopped_) return;
  stopped_ = true;
  parts_.live.close();  // the streams send what is left and end; the ticker ends
  if (ticker_.joinable()) ticker_.join();
  // stop() before the accept loop runs would not end it: wait for the loop (bounded).
  const auto deadline = std::chrono::steady_clock::now() + 5s;
  while (listener_.joinable() && !server_.is_running() && std::chrono::steady_clock::now() < deadline) {
    std::this_thread::sleep_for(1ms);
  }
  server_.stop();
  if (listener_.joinable()) listener_.join();
}

void WebServer::addRoutes() {
  server_.set_pre_routing_handler(
      [this](const httplib::Request& request, httplib::Response& response) { return screen(request, response); });
  const auto asset = [this](const httplib::Request& request, httplib::Response& response) {
    serveAsset(request, response);
  };
  server_.Get("/", asset);
  server_.Get("/[a-z]+\\.(html|js|css)", asset);
  server_.Get("/api/status", [this](const httplib::Request&, httplib::Response& response) {
    sendJson(response, 200, parts_.status.status());
  });
  server_.Get("/api/plan", [this](const httplib::Request&, httplib::Response& response) { servePlan(response); });
  server_.Get("/api/events",
              [this](const httplib::Request& request, httplib::Response& response) { events(request, response); });
  const std::pair<const char*, CommandQueue::Command> commands[] = {{"/api/pause", CommandQueue::Command::Pause},
                                                                   {"/api/resume", CommandQueue::Command::Resume},
                                                                   {"/api/stop", CommandQueue::Command::Stop}};
  for (const auto& item : commands) {
    const CommandQueue::Command command = item.second;
    // A control call has no body; one without Content-Length (curl -X POST) is served all the same.
    server_.Post(item.first, [this, command](const httplib::Request& request, httplib::Response& response,
                                             const httplib::ContentReader& read) {
      if (request.has_header("Content-Length") || request.has_header("Transfer-Encoding")) {
        read([](const char*, std::size_t) { return true; });
      }
      control(command, response);
    });
    server_.Get(item.first, [](const httplib::Request&, httplib::Response& response) {
      response.set_header("Allow", "POST");
      sendError(response, 405, "use POST");
    });
  }
  server_.set_error_handler([](const httplib::Request& request, httplib::Response& response) {
    if (!response.body.empty()) return;
    sendError(response, response.status,
              response.status == 404 ? "nothing at " + request.path
                                     : "the request could not be served (HTTP " + std::to_string(response.status) + ")");
  });
}

httplib::Server::HandlerResponse WebServer::screen(const httplib::Request& request,
                                                   httplib::Response& response) const {
  using Handled = httplib::Server::HandlerResponse;
  if (address_.loopback && !isLoopbackHost(hostOf(request.get_header_value("Host")))) {
    sendError(response, 403, "this server answers requests for a loopback host only");
    return Handled::Handled;
  }
  const std::string origin = request.get_header_value("Origin");
  if (request.method == "POST" && !origin.empty() && origin != "http://" + request.get_header_value("Host")) {
    sendError(response, 403, "a control call must come from this server's own page");
    return Handled::Handled;
  }
  if (request.path.compare(0, 5, "/api/") == 0 && !authorized(request)) {
    response.set_header("WWW-Authenticate", "Bearer");
    sendError(response, 401, "this server needs its token: Authorization: Bearer TOKEN");
    return Handled::Handled;
  }
  return Handled::Unhandled;
}

bool WebServer::authorized(const httplib::Request& request) const {
  if (token_.empty()) return true;
  if (sameSecret("Bearer " + token_, request.get_header_value("Authorization"))) return true;
  return request.path == "/api/events" && sameSecret(token_, request.get_param_value("token"));
}

void WebServer::serveAsset(const httplib::Request& request, httplib::Response& response) const {
  const WebAsset* asset = findWebAsset(request.path);
  if (!asset) return sendError(response, 404, "nothing at " + request.path);
  response.set_content(reinterpret_cast<const char*>(asset->data), asset->size, asset->contentType);
}

void WebServer::servePlan(httplib::Response& response) const {
  Json plan;
  std::string problem;
  if (parts_.plan.get(kPlanTimeout, plan, problem)) return sendJson(response, 200, plan);
  sendError(response, 503, problem);
}

void WebServer::control(CommandQueue::Command command, httplib::Response& response) {
  const CommandQueue::Answer answer = parts_.commands.call(command, kAnswerTimeout);
  const Json status = parts_.status.status();
  switch (answer.outcome) {
    case CommandQueue::Outcome::Applied:
      parts_.live.publishStatus(text(status));
      return sendJson(response, 200, status);
    case CommandQueue::Outcome::Refused:
    case CommandQueue::Outcome::Over:
      return sendJson(response, 409, {{"error", answer.reason}, {"status", status}});
    case CommandQueue::Outcome::TimedOut:
      return sendError(response, 503, answer.reason);
  }
}

void WebServer::events(const httplib::Request& request, httplib::Response& response) {
  if (streams_.fetch_add(1) >= kMaxStreams) {
    streams_.fetch_sub(1);
    return sendError(response, 503, "too many event streams at once");
  }
  auto stream = std::make_shared<Stream>();
  const std::string since = request.has_header("Last-Event-ID") ? request.get_header_value("Last-Event-ID")
                                                               : request.get_param_value("since");
  stream->lastId = std::strtoull(since.c_str(), nullptr, 10);
  response.set_header("X-Accel-Buffering", "no");
  response.set_chunked_content_provider(
      "text/event-stream",
      [this, stream](std::size_t, httplib::DataSink& sink) { return pump(*stream, sink); },
      [this](bool) { streams_.fetch_sub(1); });
}

// One step of an event stream: the events it has not had, else the status when it changed, else
// a wait for the next change. False when the reader has gone.
bool WebServer::pump(Stream& stream, httplib::DataSink& sink) {
  LiveRun& live = parts_.live;
  const std::uint64_t seen = live.version();
  std::string out;
  if (!stream.greeted) out = "retry: 1000\n\n";
  stream.greeted = true;
  for (const LiveRun::Event& event : live.eventsAfter(stream.lastId, kEventsPerWrite)) {
    out += sseEvent(event);
    stream.lastId = event.id;
  }
  const auto status = live.status();
  if (out.empty() && status.first != stream.statusVersion && !status.second.empty()) {
    out = "event: status\ndata: " + status.second + "\n\n";
    stream.statusVersion = status.first;
  }
  const auto now = std::chrono::steady_clock::now();
  if (out.empty() && now - stream.lastWrite >= kKeepAlive) out = ": still here\n\n";
  if (!out.empty()) {
    stream.lastWrite = now;
    return sink.write(out.data(), out.size());
  }
  if (live.closed()) {
    sink.done();
    return true;
  }
  live.waitForChange(seen, 1000ms);
  return true;
}

void WebServer::tick() {
  LiveRun& live = parts_.live;
  auto next = std::chrono::steady_clock::now();
  std::uint64_t stateSeen = ~std::uint64_t{0};
  std::uint64_t seen = live.version();
  while (!live.closed()) {
    const bool due = std::chrono::steady_clock::now() >= next;
    const std::uint64_t state = live.stateVersion();
    const RunState run = live.state();
    if (due && (run == RunState::Running || run == RunState::Paused)) live.addSample(text(parts_.status.sample()));
    if (due || state != stateSeen) {
      live.publishStatus(text(parts_.status.status()));
      stateSeen = state;
    }
    if (due) next += kTick;
    seen = live.version();
    const auto left = next - std::chrono::steady_clock::now();
    if (left > 0s) live.waitForChange(seen, std::chrono::duration_cast<std::chrono::milliseconds>(left) + 1ms);
  }
}
