#include "Metrics.h"

#include <algorithm>
#include <cstdio>

const char* errorKindName(ErrorKind kind) {
  switch (kind) {
    case ErrorKind::Connect: return "connect";
    case ErrorKind::Timeout: return "timeout";
    case ErrorKind::Http: return "http";
    case ErrorKind::Other: return "other";
  }
  return "other";
}

const char* protocolName(std::size_t index) {
  static const char* const names[kProtocols] = {"HTTP/1.0", "HTTP/1.1", "HTTP/2", "HTTP/3"};
  return index < kProtocols ? names[index] : "other";
}

PoolRecorder::PoolRecorder()
    : requests(0), bytes(0), latencySumUs(0), latencyMaxUs(0), initOk(0), initErrors(0), startLagMaxUs(0) {
  for (auto& e : errors) e.store(0, std::memory_order_relaxed);
  for (auto& s : statuses) s.store(0, std::memory_order_relaxed);
  for (auto& p : protocols) p.store(0, std::memory_order_relaxed);
}

void MetricsTotals::add(const PoolRecorder& r) {
  const auto get = [](const std::atomic<std::uint64_t>& a) { return a.load(std::memory_order_relaxed); };
  requests += get(r.requests);
  for (std::size_t k = 0; k < kErrorKinds; ++k) errors[k] += get(r.errors[k]);
  bytes += get(r.bytes);
  latencySumUs += get(r.latencySumUs);
  latencyMaxUs = std::max(latencyMaxUs, get(r.latencyMaxUs));
  initOk += get(r.initOk);
  initErrors += get(r.initErrors);
  startLagMaxUs = std::max(startLagMaxUs, get(r.startLagMaxUs));
  for (std::size_t code = 0; code < PoolRecorder::kStatusCodes; ++code) {
    const std::uint64_t n = get(r.statuses[code]);
    if (n) statuses[static_cast<int>(code)] += n;
  }
  for (std::size_t p = 0; p < kProtocols; ++p) protocols[p] += get(r.protocols[p]);
  r.latencyUs.addTo(latencyUs);
}

void MetricsTotals::merge(const MetricsTotals& o) {
  requests += o.requests;
  for (std::size_t k = 0; k < kErrorKinds; ++k) errors[k] += o.errors[k];
  bytes += o.bytes;
  latencySumUs += o.latencySumUs;
  latencyMaxUs = std::max(latencyMaxUs, o.latencyMaxUs);
  initOk += o.initOk;
  initErrors += o.initErrors;
  startLagMaxUs = std::max(startLagMaxUs, o.startLagMaxUs);
  for (const auto& item : o.statuses) statuses[item.first] += item.second;
  for (std::size_t p = 0; p < kProtocols; ++p) protocols[p] += o.protocols[p];
  latencyUs.merge(o.latencyUs);
}

MetricsTotals MetricsTotals::since(const MetricsTotals& e) const {
  const auto minus = [](std::uint64_t now, std::uint64_t before) { return now > before ? now - before : 0; };
  MetricsTotals d;
  d.requests = minus(requests, e.requests);
  for (std::size_t k = 0; k < kErrorKinds; ++k) d.errors[k] = minus(errors[k], e.errors[k]);
  d.bytes = minus(bytes, e.bytes);
  d.latencySumUs = minus(latencySumUs, e.latencySumUs);
  d.latencyMaxUs = latencyMaxUs;
  d.initOk = minus(initOk, e.initOk);
  d.initErrors = minus(initErrors, e.initErrors);
  d.startLagMaxUs = startLagMaxUs;
  for (const auto& item : statuses) {
    const auto before = e.statuses.find(item.first);
    const std::uint64_t n = minus(item.second, before == e.statuses.end() ? 0 : before->second);
    if (n) d.statuses[item.first] = n;
  }
  for (std::size_t p = 0; p < kProtocols; ++p) d.protocols[p] = minus(protocols[p], e.protocols[p]);
  d.latencyUs = latencyUs.since(e.latencyUs);
  return d;
}

std::uint64_t MetricsTotals::errorCount() const {
  std::uint64_t n = 0;
  for (const std::uint64_t e : errors) n += e;
  return n;
}

double MetricsTotals::errorRate() const {
  return requests ? static_cast<double>(errorCount()) / static_cast<double>(requests) : 0.0;
}

double MetricsTotals::meanMs() const {
  const std::uint64_t n = latencyUs.count();
  return n ? static_cast<double>(latencySumUs) / static_cast<double>(n) / 1000.0 : 0.0;
}

Metrics::Metrics(std::size_t loops, std::vector<std::string> pools)
    : loops_(loops), pools_(std::move(pools)), recorders_(new std::atomic<PoolRecorder*>[loops * pools_.size()]),
      previous_(pools_.size()) {
  for (std::size_t i = 0; i < loops_ * pools_.size(); ++i) recorders_[i].store(nullptr, std::memory_order_relaxed);
}

Metrics::~Metrics() {
  for (std::size_t i = 0; i < loops_ * pools_.size(); ++i) delete recorders_[i].load(std::memory_order_acquire);
}

PoolRecorder& Metrics::recorder(std::size_t loop, std::size_t pool) {
  std::atomic<PoolRecorder*>& slot = recorders_[loop * pools_.size() + pool];
  PoolRecorder* r = slot.load(std::memory_order_relaxed);  // this thread is the only one to store it
  if (!r) {
    r = new PoolRecorder();
    slot.store(r, std::memory_order_release);
  }
  return *r;
}

MetricsTotals Metrics::cumulative(std::size_t pool) const {
  MetricsTotals totals;
  for (std::size_t loop = 0; loop < loops_; ++loop) {
    const PoolRecorder* r = recorders_[loop * pools_.size() + pool].load(std::memory_order_acquire);
    if (r) totals.add(*r);
  }
  return totals;
}

MetricsTotals Metrics::cumulativeTotal() const {
  MetricsTotals totals;
  for (std::size_t pool = 0; pool < pools_.size(); ++pool) totals.merge(cumulative(pool));
  return totals;
}

namespace {

SeriesPoint pointOf(const MetricsTotals& span, double seconds, long running) {
  SeriesPoint p;
  p.running = running;
  p.requests = span.requests;
  p.errors = span.errorCount();
  p.requestsPerSecond = seconds > 0 ? static_cast<double>(p.requests) / seconds : 0;
  p.errorsPerSecond = seconds > 0 ? static_cast<double>(p.errors) / seconds : 0;
  p.p95Ms = span.quantileMs(0.95);
  return p;
}

}  // namespace

std::vector<MetricsTotals> Metrics::sample(double seconds, double scheduleSeconds, const std::vector<long>& running) {
  std::vector<MetricsTotals> now(pools_.size());
  for (std::size_t pool = 0; pool < pools_.size(); ++pool) now[pool] = cumulative(pool);

  std::lock_guard<std::mutex> lock(seriesMutex_);
  const double span = seconds - previousSeconds_;
  std::vector<MetricsTotals> spans(pools_.size());
  SeriesSample s;
  s.seconds = seconds;
  s.scheduleSeconds = scheduleSeconds;
  MetricsTotals all;
  long allRunning = 0;
  for (std::size_t pool = 0; pool < pools_.size(); ++pool) {
    spans[pool] = now[pool].since(previous_[pool]);
    const long r = pool < running.size() ? running[pool] : 0;
    s.pools.push_back(pointOf(spans[pool], span, r));
    all.merge(spans[pool]);
    allRunning += r;
  }
  s.total = pointOf(all, span, allRunning);
  series_.push_back(std::move(s));
  previous_ = std::move(now);
  previousSeconds_ = seconds;
  return spans;
}

std::vector<SeriesSample> Metrics::series() const {
  std::lock_guard<std::mutex> lock(seriesMutex_);
  return series_;
}

SeriesSample Metrics::latest() const {
  std::lock_guard<std::mutex> lock(seriesMutex_);
  return series_.empty() ? SeriesSample{} : series_.back();
}

std::string formatMs(double ms) {
  char buffer[48];
  if (ms >= 1000) {
    std::snprintf(buffer, sizeof buffer, "%.2f s", ms / 1000);
  } else if (ms >= 1) {
    std::snprintf(buffer, sizeof buffer, "%.1f ms", ms);
  } else {
    std::snprintf(buffer, sizeof buffer, "%.0f us", ms * 1000);
  }
  return buffer;
}
