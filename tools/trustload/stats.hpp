// What trustload measures: latency histograms per operation, answers that
// were not what the mix asked for, and the report (a text table and JSON)
// made of them and of the daemon's resident memory.
#pragma once

#include <array>
#include <atomic>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "mix.hpp"

namespace Trustload {

// Latencies in microseconds, counted in buckets of at most 1/64 of their
// value (exact below 64 us), so percentiles are within 1.6 % whatever the
// number of calls, in fixed memory. Record is thread-safe and lock-free.
class LatencyHistogram {
 public:
  static constexpr std::size_t kSubBuckets = 64;
  static constexpr std::size_t kBuckets = kSubBuckets * 27;  // up to 2^32 us, beyond is clamped

  void Record(std::uint64_t micros);
  std::uint64_t Count() const;
  // The smallest recorded value v (as its bucket's midpoint) such that at
  // least `fraction` of the values are <= v; 0 when empty. fraction in (0,1].
  std::uint64_t Percentile(double fraction) const;
  void MergeInto(LatencyHistogram& total) const;

  static std::size_t BucketOf(std::uint64_t micros);
  // The midpoint of the values a bucket holds.
  static std::uint64_t ValueOf(std::size_t bucket);

 private:
  std::array<std::atomic<std::uint64_t>, kBuckets> counts_{};
};

// Error counts by id (or by a "trustload.*" id for a wrong value), with
// the first few descriptions kept to say what went wrong.
class ErrorCounts {
 public:
  void Add(const std::string& id, const std::string& description);
  std::map<std::string, std::uint64_t> ById() const;
  std::vector<std::string> Samples() const;
  std::uint64_t Total() const;

 private:
  mutable std::mutex mutex_;
  std::map<std::string, std::uint64_t> counts_;
  std::vector<std::string> samples_;
};

struct OperationStats {
  LatencyHistogram latency;
  std::atomic<std::uint64_t> unexpected{0};
};

struct Rss {
  std::optional<std::uint64_t> startKib, peakKib, endKib;
  std::string problem;  // why a figure is missing
};

// Everything a run ends with.
struct Measurements {
  int connections = 0;
  double warmupSeconds = 0, durationSeconds = 0;  // as asked
  double measuredSeconds = 0;                     // first measured call to last answer
  std::array<OperationStats, kOperationCount> operations;
  ErrorCounts unexpected;  // answers the mix did not ask for, measured calls
  ErrorCounts asked;       // the errors the mix asked for, measured calls
  ErrorCounts outside;     // unexpected answers during warm-up or clean-up
  std::atomic<std::uint64_t> warmupCalls{0}, warmupUnexpected{0};
  std::atomic<std::uint64_t> cleanupCalls{0}, cleanupUnexpected{0};
  std::atomic<std::uint64_t> skipped{0};  // steps whose entry a failed create never made
  std::uint64_t unanswered = 0;           // calls in flight when the run gave up waiting
  int clientSocketsPeak = 0;
  Rss rss;
};

// "not_found" for a standard error id; other ids unchanged.
std::string ShortErrorId(const std::string& id);

std::string TextReport(const Measurements& measurements);
std::string JsonReport(const Measurements& measurements);

}  // namespace Trustload
