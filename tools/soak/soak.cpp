// Memory soak: a million in-process calls through shared stubs and bound
// implementations of all seven services of the package, mixed as in the
// concurrency stress test (values, declared and undeclared errors, refused
// inputs, progress reports) but completed at once on the calling thread.
// The resident set size is sampled after every tenth of the calls and the
// series printed. Exits 1 when an answer is wrong or missing, or when the
// resident set at the end exceeds the one after the first tenth by more than
// the tolerance (the larger of 2 MiB and 5 %); the first tenth warms up the
// allocator and the lazily built parts of the library.
//
// Usage: dral_soak [calls]   (default 1000000)
//
// Under AddressSanitizer the freed-memory quarantine makes the resident set
// meaningless: the series is printed but not judged, and leaks are left to
// LeakSanitizer at exit.
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <functional>
#include <memory>
#include <string>

#include "workload.hpp"

#if defined(__SANITIZE_ADDRESS__)
#define DRAL_SOAK_SANITIZED 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define DRAL_SOAK_SANITIZED 1
#endif
#endif
#ifndef DRAL_SOAK_SANITIZED
#define DRAL_SOAK_SANITIZED 0
#endif

namespace {

using namespace Dral::Stress;

constexpr std::int64_t kToleranceKib = 2048;
constexpr double kTolerancePercent = 5.0;

// Resident set size in KiB, from /proc/self/statm (second field, in pages).
std::int64_t ResidentKib() {
  std::ifstream statm("/proc/self/statm");
  std::int64_t size = 0;
  std::int64_t resident = 0;
  if (!(statm >> size >> resident)) return -1;
  return resident * static_cast<std::int64_t>(sysconf(_SC_PAGESIZE)) / 1024;
}

}  // namespace

int main(int argc, char** argv) {
  std::uint64_t calls = 1000000;
  if (argc > 2 || (argc == 2 && (calls = std::strtoull(argv[1], nullptr, 10)) < 10)) {
    std::fprintf(stderr, "usage: %s [calls >= 10]\n", argv[0]);
    return 2;
  }

  // One slot: each call is answered before the next one is issued.
  Ledger ledger(1);
  Provision provision(ledger, [](std::function<void()> job) { job(); });
  auto provider = std::make_shared<::Tovri::Core::LocalProvider>();
  if (!BindAll(*provider, provision)) {
    std::fprintf(stderr, "dral_soak: binding the services failed\n");
    return 1;
  }
  Clients clients(std::make_shared<::Tovri::Stub::AsyncApiStub>(provider, DefaultActivation()));

  std::printf("%10s %12s %12s %10s\n", "calls", "rss_kib", "calls/s", "vs_10%");
  std::int64_t first = -1;
  std::int64_t last = -1;
  const auto start = std::chrono::steady_clock::now();
  auto sliceStart = start;
  std::uint64_t next = 0;
  for (int tenth = 1; tenth <= 10; ++tenth) {
    const std::uint64_t end = calls * static_cast<std::uint64_t>(tenth) / 10;
    for (; next < end; ++next) {
      Issue(clients, ledger, next);
      if (ledger.Finals(next) != 1) ledger.Fail(next, "not answered at once");
      ledger.Reset(next);
    }
    const auto now = std::chrono::steady_clock::now();
    const std::chrono::duration<double> slice = now - sliceStart;
    sliceStart = now;
    last = ResidentKib();
    if (tenth == 1) first = last;
    const double rate =
        static_cast<double>(end - calls * static_cast<std::uint64_t>(tenth - 1) / 10) / slice.count();
    std::printf("%10llu %12lld %12.0f %+10lld\n", static_cast<unsigned long long>(end),
                static_cast<long long>(last), rate, static_cast<long long>(last - first));
    std::fflush(stdout);
  }
  const std::chrono::duration<double> total = std::chrono::steady_clock::now() - start;

  int status = 0;
  std::printf("%llu calls in %.2f s: %.0f calls/s\n", static_cast<unsigned long long>(calls), total.count(),
              static_cast<double>(calls) / total.count());
  if (ledger.Answered() != calls || ledger.FailureCount() != 0) {
    std::printf("FAIL: %zu of %llu calls answered, %zu wrong answers\n", ledger.Answered(),
                static_cast<unsigned long long>(calls), ledger.FailureCount());
    for (const auto& failure : ledger.Failures()) std::printf("  %s\n", failure.c_str());
    status = 1;
  }
  const std::int64_t limit = std::max<std::int64_t>(
      kToleranceKib, static_cast<std::int64_t>(static_cast<double>(first) * kTolerancePercent / 100));
  const std::int64_t growth = last - first;
  if (first < 0 || last < 0) {
    std::printf("FAIL: /proc/self/statm unreadable\n");
    status = 1;
  } else if (DRAL_SOAK_SANITIZED) {
    std::printf("rss growth after the first 10%%: %lld KiB (not judged under AddressSanitizer)\n",
                static_cast<long long>(growth));
  } else if (growth > limit) {
    std::printf("FAIL: rss grew by %lld KiB after the first 10%% (limit %lld KiB)\n",
                static_cast<long long>(growth), static_cast<long long>(limit));
    status = 1;
  } else {
    std::printf("rss growth after the first 10%%: %lld KiB (limit %lld KiB): ok\n",
                static_cast<long long>(growth), static_cast<long long>(limit));
  }
  return status;
}
