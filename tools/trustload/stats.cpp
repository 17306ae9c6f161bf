#include "stats.hpp"

#include <algorithm>
#include <cmath>
#include <cstdio>

#include <boost/json.hpp>

namespace Trustload {

std::size_t LatencyHistogram::BucketOf(std::uint64_t micros) {
  if (micros < kSubBuckets) return static_cast<std::size_t>(micros);
  int exponent = 63;
  while (!(micros >> exponent)) --exponent;  // micros >= 64, so exponent >= 6
  const std::size_t bucket = kSubBuckets * static_cast<std::size_t>(exponent - 5) +
                             static_cast<std::size_t>((micros >> (exponent - 6)) & (kSubBuckets - 1));
  return std::min(bucket, kBuckets - 1);
}

std::uint64_t LatencyHistogram::ValueOf(std::size_t bucket) {
  if (bucket < kSubBuckets) return bucket;
  const int exponent = static_cast<int>(bucket / kSubBuckets) + 5;
  const std::uint64_t width = std::uint64_t{1} << (exponent - 6);
  const std::uint64_t low = (kSubBuckets + bucket % kSubBuckets) * width;
  return low + width / 2;
}

void LatencyHistogram::Record(std::uint64_t micros) {
  counts_[BucketOf(micros)].fetch_add(1, std::memory_order_relaxed);
}

std::uint64_t LatencyHistogram::Count() const {
  std::uint64_t total = 0;
  for (const auto& count : counts_) total += count.load(std::memory_order_relaxed);
  return total;
}

std::uint64_t LatencyHistogram::Percentile(double fraction) const {
  const std::uint64_t total = Count();
  if (total == 0) return 0;
  // Nearest rank: the ceil(fraction * total)-th smallest value.
  const auto rank = std::max<std::uint64_t>(
      1, static_cast<std::uint64_t>(std::ceil(fraction * static_cast<double>(total) - 1e-9)));
  std::uint64_t seen = 0;
  for (std::size_t bucket = 0; bucket < kBuckets; ++bucket) {
    seen += counts_[bucket].load(std::memory_order_relaxed);
    if (seen >= rank) return ValueOf(bucket);
  }
  return ValueOf(kBuckets - 1);
}

void LatencyHistogram::MergeInto(LatencyHistogram& total) const {
  for (std::size_t bucket = 0; bucket < kBuckets; ++bucket)
    total.counts_[bucket].fetch_add(counts_[bucket].load(std::memory_order_relaxed),
                                    std::memory_order_relaxed);
}

void ErrorCounts::Add(const std::string& id, const std::string& description) {
  std::lock_guard<std::mutex> lock(mutex_);
  ++counts_[id];
  if (samples_.size() < 5 && !description.empty()) samples_.push_back(description);
}

std::map<std::string, std::uint64_t> ErrorCounts::ById() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return counts_;
}

std::vector<std::string> ErrorCounts::Samples() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return samples_;
}

std::uint64_t ErrorCounts::Total() const {
  std::uint64_t total = 0;
  for (const auto& [id, count] : ById()) total += count;
  return total;
}

std::string ShortErrorId(const std::string& id) {
  static const std::string kPrefix = "com.corvane.tovri.std.errors.";
  return id.compare(0, kPrefix.size(), kPrefix) == 0 ? id.substr(kPrefix.size()) : id;
}

namespace {

double Millis(std::uint64_t micros) { return static_cast<double>(micros) / 1000.0; }

std::uint64_t TotalCalls(const Measurements& m) {
  std::uint64_t calls = 0;
  for (const auto& operation : m.operations) calls += operation.latency.Count();
  return calls;
}

double CallsPerSecond(const Measurements& m) {
  return m.measuredSeconds > 0 ? static_cast<double>(TotalCalls(m)) / m.measuredSeconds : 0.0;
}

std::string Kib(const std::optional<std::uint64_t>& value) {
  return value ? std::to_string(*value) : std::string("-");
}

}  // namespace

std::string TextReport(const Measurements& m) {
  LatencyHistogram all;
  for (const auto& operation : m.operations) operation.latency.MergeInto(all);
  std::string text;
  char line[512];
  std::snprintf(line, sizeof line, "trustload: %d connections, %.1f s warm-up, then %.2f s measured\n",
                m.connections, m.warmupSeconds, m.measuredSeconds);
  text += line;
  std::snprintf(line, sizeof line,
                "calls %llu: %.1f calls/s, p50 %.2f ms, p99 %.2f ms, p99.9 %.2f ms; unexpected errors %llu, "
                "asked-for errors %llu\n",
                static_cast<unsigned long long>(all.Count()), CallsPerSecond(m), Millis(all.Percentile(0.5)),
                Millis(all.Percentile(0.99)), Millis(all.Percentile(0.999)),
                static_cast<unsigned long long>(m.unexpected.Total()),
                static_cast<unsigned long long>(m.asked.Total()));
  text += line;
  std::snprintf(
      line, sizeof line, "client sockets (peak) %d; trustd RSS KiB: start %s, peak %s, end %s%s%s\n",
      m.clientSocketsPeak, Kib(m.rss.startKib).c_str(), Kib(m.rss.peakKib).c_str(), Kib(m.rss.endKib).c_str(),
      m.rss.problem.empty() ? "" : " (", m.rss.problem.empty() ? "" : (m.rss.problem + ")").c_str());
  text += line;
  std::snprintf(line, sizeof line,
                "warm-up calls %llu (unexpected %llu); clean-up calls %llu (unexpected %llu); skipped %llu; "
                "unanswered %llu\n\n",
                static_cast<unsigned long long>(m.warmupCalls.load()),
                static_cast<unsigned long long>(m.warmupUnexpected.load()),
                static_cast<unsigned long long>(m.cleanupCalls.load()),
                static_cast<unsigned long long>(m.cleanupUnexpected.load()),
                static_cast<unsigned long long>(m.skipped.load()),
                static_cast<unsigned long long>(m.unanswered));
  text += line;
  std::snprintf(line, sizeof line, "%-36s %8s %9s %9s %9s %7s\n", "operation", "calls", "p50 ms", "p99 ms",
                "p99.9 ms", "errors");
  text += line;
  for (int i = 0; i < kOperationCount; ++i) {
    const OperationStats& operation = m.operations[static_cast<std::size_t>(i)];
    const LatencyHistogram& h = operation.latency;
    std::snprintf(line, sizeof line, "%-36s %8llu %9.2f %9.2f %9.2f %7llu\n",
                  OperationName(static_cast<Operation>(i)), static_cast<unsigned long long>(h.Count()),
                  Millis(h.Percentile(0.5)), Millis(h.Percentile(0.99)), Millis(h.Percentile(0.999)),
                  static_cast<unsigned long long>(operation.unexpected.load()));
    text += line;
  }
  std::snprintf(line, sizeof line, "%-36s %8llu %9.2f %9.2f %9.2f %7llu\n", "all",
                static_cast<unsigned long long>(all.Count()), Millis(all.Percentile(0.5)),
                Millis(all.Percentile(0.99)), Millis(all.Percentile(0.999)),
                static_cast<unsigned long long>(m.unexpected.Total()));
  text += line;
  const auto unexpected = m.unexpected.ById();
  const auto asked = m.asked.ById();
  if (!unexpected.empty() || !asked.empty() || m.outside.Total() > 0) text += "\nerrors by id\n";
  for (const auto& [id, count] : unexpected) {
    std::snprintf(line, sizeof line, "  %-40s %8llu  unexpected\n", ShortErrorId(id).c_str(),
                  static_cast<unsigned long long>(count));
    text += line;
  }
  for (const auto& [id, count] : asked) {
    std::snprintf(line, sizeof line, "  %-40s %8llu  asked for\n", ShortErrorId(id).c_str(),
                  static_cast<unsigned long long>(count));
    text += line;
  }
  for (const std::string& sample : m.unexpected.Samples()) text += "  e.g. " + sample + "\n";
  for (const auto& [id, count] : m.outside.ById()) {
    std::snprintf(line, sizeof line, "  %-40s %8llu  unexpected, in warm-up or clean-up\n",
                  ShortErrorId(id).c_str(), static_cast<unsigned long long>(count));
    text += line;
  }
  for (const std::string& sample : m.outside.Samples()) text += "  e.g. " + sample + "\n";
  return text;
}

std::string JsonReport(const Measurements& m) {
  namespace json = boost::json;
  const auto latency = [](const LatencyHistogram& h) {
    return json::object{{"p50_ms", Millis(h.Percentile(0.5))},
                        {"p99_ms", Millis(h.Percentile(0.99))},
                        {"p99_9_ms", Millis(h.Percentile(0.999))}};
  };
  LatencyHistogram all;
  json::object operations;
  for (int i = 0; i < kOperationCount; ++i) {
    const OperationStats& operation = m.operations[static_cast<std::size_t>(i)];
    operation.latency.MergeInto(all);
    json::object entry = latency(operation.latency);
    entry["calls"] = operation.latency.Count();
    entry["unexpected_errors"] = operation.unexpected.load();
    operations[OperationName(static_cast<Operation>(i))] = std::move(entry);
  }
  const auto counts = [](const ErrorCounts& errors) {
    json::object out;
    for (const auto& [id, count] : errors.ById()) out[ShortErrorId(id)] = count;
    return out;
  };
  const auto kib = [](const std::optional<std::uint64_t>& value) -> json::value {
    if (value) return *value;
    return nullptr;
  };
  json::array samples;
  for (const std::string& sample : m.unexpected.Samples()) samples.emplace_back(sample);
  json::object root{
      {"connections", m.connections},
      {"warmup_seconds", m.warmupSeconds},
      {"duration_seconds", m.durationSeconds},
      {"measured_seconds", m.measuredSeconds},
      {"calls", all.Count()},
      {"calls_per_second", CallsPerSecond(m)},
      {"latency", latency(all)},
      {"operations", std::move(operations)},
      {"unexpected_errors", counts(m.unexpected)},
      {"unexpected_error_samples", std::move(samples)},
      {"asked_for_errors", counts(m.asked)},
      {"warmup_calls", m.warmupCalls.load()},
      {"warmup_unexpected_errors", m.warmupUnexpected.load()},
      {"cleanup_calls", m.cleanupCalls.load()},
      {"cleanup_unexpected_errors", m.cleanupUnexpected.load()},
      {"skipped_steps", m.skipped.load()},
      {"unanswered_calls", m.unanswered},
      {"client_sockets_peak", m.clientSocketsPeak},
      {"daemon_rss_kib",
       json::object{
           {"start", kib(m.rss.startKib)}, {"peak", kib(m.rss.peakKib)}, {"end", kib(m.rss.endKib)}}},
  };
  return json::serialize(root) + "\n";
}

}  // namespace Trustload
