// Concurrency stress: eight threads share one stub per service and issue a
// mixed workload over all seven services of the package through the
// in-process provider; the implementations answer from a pool of their own
// threads. Every call must be answered exactly once, with the answer its own
// arguments ask for, and refused inputs must never reach an implementation.
//
// Environment: DRAL_STRESS_CALLS, the number of calls (default 20000; the
// ThreadSanitizer run uses fewer); DRAL_STRESS_DEADLINE_SECONDS, how long to
// wait for the answers before calling the missing ones lost (default 120).
#include <array>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <cstdlib>
#include <iostream>
#include <memory>
#include <mutex>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "thread_pool.hpp"
#include "workload.hpp"

namespace {

using namespace Dral::Stress;

constexpr int kCallingThreads = 8;
constexpr int kPoolThreads = 3;

std::uint64_t FromEnvironment(const char* name, std::uint64_t fallback) {
  const char* text = std::getenv(name);
  if (!text || !*text) return fallback;
  char* end = nullptr;
  const unsigned long long value = std::strtoull(text, &end, 10);
  return end && *end == '\0' && value > 0 ? value : fallback;
}

// Holds the calling threads until all of them exist, so that they start
// together.
class StartGate {
 public:
  void Wait() {
    std::unique_lock<std::mutex> lock(mutex_);
    opened_.wait(lock, [this] { return open_; });
  }
  void Open() {
    {
      std::lock_guard<std::mutex> lock(mutex_);
      open_ = true;
    }
    opened_.notify_all();
  }

 private:
  std::mutex mutex_;
  std::condition_variable opened_;
  bool open_ = false;
};

TEST(ConcurrencyStress, PlanCoversEveryOperationAndOutcome) {
  std::set<std::pair<int, int>> seen;
  std::set<int> progressCounts;
  bool sharedActivation = false;
  for (std::uint64_t id = 0; id < 19 * 10 * 3; ++id) {
    const Plan plan = PlanFor(id);
    seen.emplace(static_cast<int>(plan.operation), static_cast<int>(plan.outcome));
    progressCounts.insert(plan.progressReports);
    sharedActivation = sharedActivation || !plan.ownActivation;
  }
  for (int operation = 0; operation < kOperationCount; ++operation) {
    for (int outcome = 0; outcome < kOutcomeCount; ++outcome) {
      const bool possible = static_cast<Outcome>(outcome) != Outcome::kRefused ||
                            TakesStructure(static_cast<Operation>(operation));
      EXPECT_EQ(seen.count({operation, outcome}), possible ? 1u : 0u)
          << "operation " << operation << ", outcome " << OutcomeName(static_cast<Outcome>(outcome));
    }
  }
  EXPECT_EQ(progressCounts, (std::set<int>{0, 1, 2}));
  EXPECT_TRUE(sharedActivation);
}

TEST(ConcurrencyStress, EveryCallIsAnsweredOnceAndCorrectly) {
  const std::uint64_t calls = FromEnvironment("DRAL_STRESS_CALLS", 20000);
  const auto patience = std::chrono::seconds(FromEnvironment("DRAL_STRESS_DEADLINE_SECONDS", 120));

  ThreadPool pool(kPoolThreads);
  Ledger ledger(calls);
  Provision provision(ledger, [&pool](std::function<void()> job) { pool.Post(std::move(job)); });
  auto provider = std::make_shared<::Tovri::Core::LocalProvider>();
  ASSERT_TRUE(BindAll(*provider, provision));
  Clients clients(std::make_shared<::Tovri::Stub::AsyncApiStub>(provider, DefaultActivation()));

  StartGate gate;
  std::vector<std::thread> callers;
  for (int t = 0; t < kCallingThreads; ++t) {
    callers.emplace_back([&, t] {
      gate.Wait();
      for (std::uint64_t id = static_cast<std::uint64_t>(t); id < calls; id += kCallingThreads) {
        Issue(clients, ledger, id);
      }
    });
  }
  const auto start = std::chrono::steady_clock::now();
  gate.Open();
  for (auto& caller : callers) caller.join();
  const bool allAnswered = ledger.WaitForAnswers(calls, start + patience);
  const std::chrono::duration<double> elapsed = std::chrono::steady_clock::now() - start;
  // Whatever is still queued runs now, while the ledger it reports to exists;
  // an answer arriving this late still shows up in the counts below.
  pool.Stop();

  std::array<std::uint64_t, kOutcomeCount> byOutcome{};
  std::vector<std::uint64_t> lost;
  std::vector<std::uint64_t> repeated;
  std::vector<std::uint64_t> misrouted;
  for (std::uint64_t id = 0; id < calls; ++id) {
    const Plan plan = PlanFor(id);
    ++byOutcome[static_cast<std::size_t>(plan.outcome)];
    const int finals = ledger.Finals(id);
    if (finals == 0) lost.push_back(id);
    if (finals > 1) repeated.push_back(id);
    if (ledger.Reached(id) != (plan.outcome == Outcome::kRefused ? 0 : 1)) misrouted.push_back(id);
  }
  std::cout << "[ stress   ] " << calls << " calls by " << kCallingThreads << " threads, answered by "
            << kPoolThreads << " pool threads in " << elapsed.count() << " s ("
            << static_cast<std::uint64_t>(static_cast<double>(calls) / elapsed.count()) << " calls/s):";
  for (int outcome = 0; outcome < kOutcomeCount; ++outcome) {
    std::cout << " " << byOutcome[static_cast<std::size_t>(outcome)] << " "
              << OutcomeName(static_cast<Outcome>(outcome)) << (outcome + 1 < kOutcomeCount ? "," : "\n");
  }

  const auto firstIds = [](const std::vector<std::uint64_t>& ids) {
    std::string text;
    for (std::size_t i = 0; i < ids.size() && i < 20; ++i) text += " " + std::to_string(ids[i]);
    return text + (ids.size() > 20 ? " ..." : "");
  };
  EXPECT_TRUE(allAnswered) << ledger.Answered() << " of " << calls << " calls answered within "
                           << patience.count() << " s";
  EXPECT_TRUE(lost.empty()) << lost.size() << " calls never answered:" << firstIds(lost);
  EXPECT_TRUE(repeated.empty()) << repeated.size() << " calls answered more than once:" << firstIds(repeated);
  EXPECT_TRUE(misrouted.empty()) << misrouted.size()
                                 << " calls reached the implementation a wrong number of times:"
                                 << firstIds(misrouted);
  EXPECT_EQ(ledger.FailureCount(), 0u);
  for (const auto& failure : ledger.Failures()) ADD_FAILURE() << failure;
}

}  // namespace
