// The benchmark binary: every case of registry.hpp under Google Benchmark,
// each reporting, besides its time, the allocations per operation
// ("allocs") and the high-water mark of live bytes one operation adds
// ("peak_bytes"). CPU time is the whole process's, so the work gRPC does on
// its server threads is counted with the caller's.
//
// `--profile=<case> [--reps=N]` runs one case's operation N times outside
// Google Benchmark, inside ProfileLoop, for
// `valgrind --tool=callgrind --toggle-collect=*ProfileLoop*`.
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <utility>
#include <vector>

#include <benchmark/benchmark.h>

#include "alloc_counter.hpp"
#include "registry.hpp"

namespace DralBench {
namespace {

struct Case {
  Factory factory;
  int probeOps;
  Operation operation;  // made on first use
  bool probed = false;
  AllocStats perOp;
};

std::map<std::string, std::shared_ptr<Case>>& Cases() {
  static std::map<std::string, std::shared_ptr<Case>> cases;
  return cases;
}

struct ThroughputCase {
  std::function<CallerFactory()> setup;
  int threads;
  std::once_flag once;
  CallerFactory makeCaller;
};

std::map<std::string, std::shared_ptr<ThroughputCase>>& ThroughputCases() {
  static std::map<std::string, std::shared_ptr<ThroughputCase>> cases;
  return cases;
}

std::vector<std::function<void()>>& Cleanups() {
  static std::vector<std::function<void()>> cleanups;
  return cleanups;
}

Operation& Prepare(Case& c) {
  if (!c.operation) c.operation = c.factory();
  return c.operation;
}

// Before the first timed run: one warm-up operation, one to take the peak of
// live bytes, then `probeOps` to count allocations.
void Probe(Case& c) {
  if (c.probed) return;
  Operation& op = Prepare(c);
  op();
  BeginProbe();
  op();
  const AllocStats once = EndProbe();
  BeginProbe();
  for (int i = 0; i < c.probeOps; ++i) op();
  const AllocStats many = EndProbe();
  c.perOp.peakBytes = once.peakBytes;
  c.perOp.allocations = many.allocations;
  c.probed = true;
}

void Run(benchmark::State& state, Case& c) {
  Probe(c);
  const Operation& op = c.operation;
  for (auto _ : state) op();
  state.counters["allocs"] = static_cast<double>(c.perOp.allocations) / c.probeOps;
  state.counters["peak_bytes"] = static_cast<double>(c.perOp.peakBytes);
}

// Every thread runs this; the timer starts after all of them reached the
// loop, so making and warming up each caller is not timed.
void RunThroughput(benchmark::State& state, ThroughputCase& c) {
  std::call_once(c.once, [&c] { c.makeCaller = c.setup(); });
  const Operation op = c.makeCaller();
  op();
  for (auto _ : state) op();
  state.SetItemsProcessed(state.iterations());
}

// Kept out of line so that callgrind can collect inside it only.
__attribute__((noinline)) void ProfileLoop(const Operation& op, long reps) {
  for (long i = 0; i < reps; ++i) op();
}

int Profile(const std::string& name, long reps) {
  const auto it = Cases().find(name);
  if (it == Cases().end()) {
    std::fprintf(stderr, "no case named %s; cases:\n", name.c_str());
    for (const auto& c : Cases()) std::fprintf(stderr, "  %s\n", c.first.c_str());
    return 2;
  }
  Operation& op = Prepare(*it->second);
  op();  // warm-up, outside the collected loop
  ProfileLoop(op, reps);
  return 0;
}

}  // namespace

void AddCase(const std::string& name, Factory factory, int probeOps) {
  auto c = std::make_shared<Case>();
  c->factory = std::move(factory);
  c->probeOps = probeOps;
  Cases()[name] = std::move(c);
}

void Require(bool condition, const std::string& what) {
  if (condition) return;
  std::fprintf(stderr, "dral_bench: check failed: %s\n", what.c_str());
  std::exit(1);
}

void AddThroughputCase(const std::string& name, std::function<CallerFactory()> setup, int threads) {
  auto c = std::make_shared<ThroughputCase>();
  c->setup = std::move(setup);
  c->threads = threads;
  ThroughputCases()[name] = std::move(c);
}

void AtEnd(std::function<void()> cleanup) { Cleanups().push_back(std::move(cleanup)); }

}  // namespace DralBench

int main(int argc, char** argv) {
  using namespace DralBench;
  AddConversionCases();
  AddCallCases();
  AddBindingCases();
#ifdef DRAL_BENCH_WITH_JSON
  AddJsonCases();
#endif
#ifdef DRAL_BENCH_WITH_GRPC
  AddGrpcCases();
  AddGrpcLoopbackCases();
#endif
  AddLoopbackCases();

  std::string profile;
  long reps = 1000;
  for (int i = 1; i < argc; ++i) {
    if (std::strncmp(argv[i], "--profile=", 10) == 0) profile = argv[i] + 10;
    if (std::strncmp(argv[i], "--reps=", 7) == 0) reps = std::atol(argv[i] + 7);
  }
  if (!profile.empty()) return Profile(profile, reps);

  for (auto& entry : Cases()) {
    std::shared_ptr<Case> c = entry.second;
    benchmark::RegisterBenchmark(entry.first.c_str(), [c](benchmark::State& state) { Run(state, *c); })
        ->Unit(benchmark::kMicrosecond)
        ->MeasureProcessCPUTime();
  }
  for (auto& entry : ThroughputCases()) {
    std::shared_ptr<ThroughputCase> c = entry.second;
    benchmark::RegisterBenchmark(entry.first.c_str(),
                                 [c](benchmark::State& state) { RunThroughput(state, *c); })
        ->Unit(benchmark::kMicrosecond)
        ->Threads(c->threads)
        ->UseRealTime();
  }
#ifdef DRAL_BENCH_WITH_JSON
  benchmark::AddCustomContext("peer_nlohmann_json", "yes");
#endif
#ifdef DRAL_BENCH_WITH_GRPC
  benchmark::AddCustomContext("peer_grpc", "yes");
#endif
  benchmark::AddCustomContext("compiler", "g++ " __VERSION__);
  benchmark::AddCustomContext("build_type", DRAL_BENCH_BUILD_TYPE);
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  for (auto& cleanup : Cleanups()) cleanup();
  return 0;
}
