#include "HttpRun.h"

#include "DefinitionSummary.h"
#include "ExitCodes.h"
#include "OptionRanges.h"
#include "Output.h"
#include "HttpReport.h"
#include "QVClock.h"

#include <algorithm>
#include <fstream>
#include <iostream>
#include <sstream>
#include <thread>

namespace {

bool problem(const std::string& text) {
  std::cerr << "qvschedule: " << text << '\n';
  return false;
}

bool isToken(const std::string& text) {
  return !text.empty() && std::all_of(text.begin(), text.end(), [](char c) {
    return std::isalnum(static_cast<unsigned char>(c)) || std::string("!#$%&'*+-.^_`|~").find(c) != std::string::npos;
  });
}

// Reads the whole file; false when it cannot be read.
bool readWhole(const std::string& path, std::string& text) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream content;
  content << in.rdbuf();
  if (!in || in.bad()) return false;
  text = content.str();
  return true;
}

const char* const kHttpFooter = R"(

HTTP vusers (--http URL, or --group-http NAME=URL for every group): each vuser is an HTTP client
loop over its own kept-alive connection: request, response, --think-ms, next request. init opens
the connection, run starts the loop (run until complete: --iterations requests), stop ends it
after the request in flight (--stop-abort: at once); statuses as the simulated pools answer them.
HTTPS targets are verified against the system's certificates, or only those of --cacert FILE;
--insecure checks nothing. HTTP/2 is used where a TLS server offers it.
At the end a summary per group; --out FILE.json and --out-csv FILE keep the results.
Thresholds: [GROUP:]METRIC OP VALUE with p50 p90 p95 p99 max mean (us, ms, s), errors (% or a
count), rps, requests, init-errors and <, <=, >, >=; e.g. p95<250ms, errors<1%, g1:p99<1s.

)";

}  // namespace

void addHttpOptions(CLI::App* run, HttpOptions& o) {
  run->footer(run->get_footer() + kHttpFooter);
  const std::string group = "HTTP vusers";
  run->add_option("--http", o.url, "send real HTTP requests to URL (every group)")->group(group);
  run->add_option("--group-http", o.groupUrls, "URL of one group, NAME=URL (repeatable)")->group(group);
  run->add_option("--method", o.method, "request method")->capture_default_str()->group(group);
  run->add_option("--header", o.headers, "request header 'Name: value' (repeatable)")->group(group);
  run->add_option("--body-file", o.bodyFile, "send the contents of FILE as the request body")->group(group);
  run->add_option("--cacert", o.caFile, "trust the certificates in FILE (PEM) for HTTPS targets, not the system's")
      ->group(group);
  run->add_flag("--insecure", o.insecure, "do not verify the certificates and host names of HTTPS targets")
      ->group(group);
  run->add_option("--think-ms", o.thinkMs, "milliseconds between a response and the next request (0: none)")
      ->check(numberFromTo(0, kMaxMilliseconds, true))->capture_default_str()->group(group);
  run->add_option("--timeout-ms", o.timeoutMs, "milliseconds a connection or a request may take")
      ->check(numberFromTo(1, kMaxMilliseconds, true))->capture_default_str()->group(group);
  run->add_option("--iterations", o.iterations, "requests of a vuser run until complete")
      ->check(numberFromTo(1, kMaxIterations, true))->capture_default_str()->group(group);
  run->add_flag("--stop-abort", o.stopAbort, "stopped vusers abandon their request in flight")->group(group);
  run->add_option("--event-loops", o.loops, "event-loop threads (default: one per core)")
      ->check(numberFromTo(1, kMaxEventLoops, true))->group(group);
  run->add_option("--out", o.outJson, "write the summary, series and timeline to FILE (JSON)")->group(group);
  run->add_option("--out-csv", o.outCsv, "write the per-second series to FILE (CSV)")->group(group);
  run->add_option("--threshold", o.thresholds, "fail the run unless EXPR holds, e.g. p95<250ms (repeatable)")
      ->group(group);
}

std::unique_ptr<HttpRun> HttpRun::prepare(const HttpOptions& options, const PoolOptions& pools,
                                          const Definition& definition, double speed, bool& wanted) {
  wanted = options.enabled();
  const HttpOptions defaults;
  if (!wanted) {
    const bool stray = !options.thresholds.empty() || !options.outJson.empty() || !options.outCsv.empty() ||
                       !options.headers.empty() || !options.bodyFile.empty() || options.method != defaults.method ||
                       !options.caFile.empty() || options.insecure;
    if (stray) {
      wanted = true;  // a usage error all the same
      problem("--method, --header, --body-file, --cacert, --insecure, --out, --out-csv and --threshold need --http or "
              "--group-http");
    }
    return nullptr;
  }
  std::unique_ptr<HttpRun> run(new HttpRun());
  run->options_ = options;
  run->definitionName_ = definition.name;
  run->speed_ = speed;
  if (!run->check(options, pools, definition)) return nullptr;
  if (options.insecure) {
    std::cerr << "qvschedule: warning: --insecure: the certificates and host names of HTTPS targets are not verified\n";
  }
  return run;
}

bool HttpRun::check(const HttpOptions& options, const PoolOptions& pools, const Definition& definition) {
  SimulatedVusers::Settings poolSettings;
  if (!::poolSettings(pools, poolSettings)) return false;
  settings_.defaultVusers = poolSettings.defaultVusers;
  settings_.groupVusers = poolSettings.groupVusers;
  settings_.loop.thinkMs = options.thinkMs;
  settings_.loop.timeoutMs = options.timeoutMs;
  settings_.loop.iterations = options.iterations;
  settings_.stopAbort = options.stopAbort;
  settings_.loops = options.loops ? options.loops : std::max(1u, std::thread::hardware_concurrency());
  bool ok = checkRequest(options);
  ok = checkGroups(options, definition) && ok;
  for (const std::string& text : options.thresholds) {
    Threshold threshold;
    const std::string why = parseThreshold(text, threshold);
    if (!why.empty()) ok = problem("--threshold \"" + text + "\": " + why);
    thresholds_.push_back(threshold);
  }
  return ok && checkOutputs();
}

bool HttpRun::checkRequest(const HttpOptions& o) {
  bool ok = true;
  if (!o.url.empty()) {
    const std::string why = checkUrl(o.url);
    if (!why.empty()) ok = problem("--http \"" + o.url + "\": " + why);
  }
  if (!isToken(o.method)) ok = problem("--method \"" + o.method + "\": not a method name");
  for (const std::string& header : o.headers) {
    const std::string why = checkHeader(header);
    if (!why.empty()) ok = problem("--header \"" + header + "\": " + why);
  }
  settings_.target.url = o.url;
  settings_.target.method = o.method;
  settings_.target.headers = o.headers;
  std::string text;
  if (!o.bodyFile.empty()) {
    if (readWhole(o.bodyFile, text)) {
      settings_.target.body = std::make_shared<const std::string>(text);
    } else {
      ok = problem("--body-file " + o.bodyFile + ": cannot read the file");
    }
  }
  // Checked now: curl would only fail every connection with it.
  if (!o.caFile.empty() && !readWhole(o.caFile, text)) {
    ok = problem("--cacert " + o.caFile + ": cannot read the file");
  } else if (!o.caFile.empty() && text.find("-----BEGIN CERTIFICATE-----") == std::string::npos) {
    ok = problem("--cacert " + o.caFile + ": no certificate in it (expected PEM, \"-----BEGIN CERTIFICATE-----\")");
  }
  settings_.target.caFile = o.caFile;
  settings_.target.insecure = o.insecure;
  return ::prepare(settings_.target) && ok;
}

bool HttpRun::checkGroups(const HttpOptions& o, const Definition& definition) {
  const DefinitionSummary summary = summarizeDefinition(definition.text);
  const std::vector<std::string> groups = summary.groupNames();
  const bool known = definition.problem.empty() && summary.parsed && summary.found;
  bool ok = true;
  for (const std::string& item : o.groupUrls) {
    const auto eq = item.find('=');
    if (eq == std::string::npos || eq == 0) {
      ok = problem("--group-http expects NAME=URL, got \"" + item + "\"");
      continue;
    }
    const std::string name = item.substr(0, eq);
    const std::string url = item.substr(eq + 1);
    const std::string why = checkUrl(url);
    if (!why.empty()) ok = problem("--group-http " + name + ": \"" + url + "\": " + why);
    if (known && std::find(groups.begin(), groups.end(), name) == groups.end()) {
      ok = problem("--group-http: the definition " + definition.name + " has no group \"" + name + "\"");
    }
    settings_.groupUrls[name] = url;
  }
  if (known && o.url.empty()) {
    // Without --http every pool needs a URL of its own.
    const std::vector<std::string> pools = summary.byGroup() ? groups : std::vector<std::string>{HttpVusers::kScenarioPool};
    for (const std::string& pool : pools) {
      if (!settings_.groupUrls.count(pool)) ok = problem("no URL for " + pool + ": give --http URL or --group-http " + pool + "=URL");
    }
  }
  for (const std::string& text : o.thresholds) {
    Threshold t;
    if (!parseThreshold(text, t).empty() || t.group.empty() || !known) continue;
    const bool exists = summary.byGroup() ? std::find(groups.begin(), groups.end(), t.group) != groups.end()
                                          : t.group == HttpVusers::kScenarioPool;
    if (!exists) ok = problem("--threshold \"" + text + "\": the definition " + definition.name + " has no group \"" + t.group + "\"");
  }
  return ok;
}

// Opens the output files now, so that a path that cannot be written is told before the run.
bool HttpRun::checkOutputs() {
  bool ok = true;
  for (const std::string* path : {&options_.outJson, &options_.outCsv}) {
    if (path->empty()) continue;
    std::ofstream out(*path, std::ios::app);
    if (!out) ok = problem("cannot write " + *path);
  }
  return ok;
}

Session::HostMaker HttpRun::hostMaker(Session& session) {
  return [this, &session](const DefinitionSummary& read, VusersHost::Listener listener) {
    auto host = std::make_unique<HttpVusers>(settings_, read.byGroup(), read.groupNames(), std::move(listener),
                                             [&session](std::uint64_t at, const std::string& text) {
                                               session.console.line(at, "note", text);
                                             });
    host_ = host.get();
    return std::unique_ptr<VusersHost>(std::move(host));
  };
}

std::string HttpRun::description() const {
  std::ostringstream text;
  text << "HTTP vusers: " << settings_.target.method << ' '
       << (settings_.target.url.empty() ? std::string("(per group)") : settings_.target.url);
  for (const auto& item : settings_.groupUrls) text << ", " << item.first << ' ' << item.second;
  text << "; think " << settings_.loop.thinkMs << " ms, timeout " << settings_.loop.timeoutMs << " ms, "
       << settings_.loop.iterations << " iteration(s) until complete, " << settings_.loops << " event loop(s)";
  if (settings_.target.insecure) {
    text << "; certificates not verified";
  } else if (!settings_.target.caFile.empty()) {
    text << "; trusting " << settings_.target.caFile;
  }
  return text.str();
}

RunRecord HttpRun::record(bool stopped) const {
  RunRecord r;
  r.definition = definitionName_;
  r.method = settings_.target.method;
  r.thinkMs = settings_.loop.thinkMs;
  r.timeoutMs = settings_.loop.timeoutMs;
  r.iterations = settings_.loop.iterations;
  r.speed = speed_;
  r.stopped = stopped;
  r.seconds = host_->runSeconds();
  r.final = host_->snapshot();
  r.series = host_->series();
  r.timeline = host_->timeline();
  for (const PoolState& pool : r.final.pools) {
    r.urls.push_back(host_->url(pool.name));
    r.initErrors.push_back(host_->initErrors(pool.name));
  }
  for (const Threshold& t : thresholds_) {
    r.thresholds.emplace_back(t, evaluateThreshold(t, totalsFor(r, t.group), r.seconds));
  }
  return r;
}

int HttpRun::finish(Session& session, bool stopped) {
  if (!host_) return exitcode::kFinished;
  RunRecord r = record(stopped);
  r.origin = session.console.origin();
  r.exitCode = stopped ? exitcode::kStopped : exitcode::kFinished;
  const MetricsTotals& total = r.final.total.cumulative;
  const bool failed = std::any_of(r.thresholds.begin(), r.thresholds.end(), [](const auto& t) { return !t.second.passed; });
  if (total.initOk == 0 && total.initErrors > 0) {
    r.exitCode = exitcode::kUnreachable;
    for (std::size_t i = 0; i < r.initErrors.size(); ++i) {
      if (r.initErrors[i].first) std::cerr << "qvschedule: no vuser could connect to " << r.urls[i] << ": " << r.initErrors[i].second << '\n';
    }
  } else if (failed) {
    r.exitCode = exitcode::kThresholdFailed;
  }
  session.console.text(summaryTable(r));
  if (failed) std::cerr << "qvschedule: a threshold failed\n";
  const auto write = [&](const std::string& path, const char* what, auto writer) {
    if (path.empty()) return;
    std::ostringstream out;
    writer(out, r);
    if (writeOutputFile(path, out.str())) session.console.text(std::string(what) + " written to " + path);
  };
  write(options_.outJson, "results", [](std::ostream& out, const RunRecord& rec) { writeJson(out, rec); });
  write(options_.outCsv, "series", [](std::ostream& out, const RunRecord& rec) { writeSeriesCsv(out, rec); });
  return r.exitCode;
}
