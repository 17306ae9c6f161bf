// The load generator's parts that can go wrong quietly: percentiles, the
// loopback rule, reading the daemon's memory and the token, the shape of
// the mix, and the JSON report.
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <fstream>
#include <map>
#include <string>
#include <thread>

#include <gtest/gtest.h>
#include <boost/json.hpp>

#include "load.hpp"
#include "mix.hpp"
#include "options.hpp"
#include "process.hpp"
#include "stats.hpp"

namespace {

using namespace Trustload;

TEST(LatencyHistogram, BucketsHoldTheirValuesWithinOneSixtyFourth) {
  for (std::uint64_t value : {0ull, 1ull, 63ull, 64ull, 65ull, 127ull, 128ull, 1000ull, 4095ull, 4096ull,
                              123456ull, 999999ull, 60000000ull, (1ull << 32) - 1}) {
    const std::uint64_t back = LatencyHistogram::ValueOf(LatencyHistogram::BucketOf(value));
    const double error = value == 0 ? static_cast<double>(back)
                                    : std::abs(static_cast<double>(back) - static_cast<double>(value)) /
                                          static_cast<double>(value);
    EXPECT_LE(error, 1.0 / 64) << value << " -> " << back;
  }
  // Buckets are ordered like their values, and the largest clamps.
  std::size_t previous = 0;
  for (std::uint64_t value = 1; value < (1ull << 33); value = value * 3 / 2 + 1) {
    const std::size_t bucket = LatencyHistogram::BucketOf(value);
    EXPECT_GE(bucket, previous) << value;
    EXPECT_LT(bucket, LatencyHistogram::kBuckets) << value;
    previous = bucket;
  }
}

TEST(LatencyHistogram, PercentilesAreNearestRank) {
  struct Case {
    std::vector<std::uint64_t> values;
    double fraction;
    std::uint64_t expected;  // exact while below 64 us
  };
  const Case cases[] = {
      {{}, 0.5, 0},
      {{7}, 0.5, 7},
      {{7}, 0.999, 7},
      {{1, 2, 3, 4}, 0.5, 2},
      {{1, 2, 3, 4}, 0.51, 3},
      {{1, 2, 3, 4}, 1.0, 4},
      {{5, 5, 5, 60}, 0.75, 5},
      {{5, 5, 5, 60}, 0.99, 60},
  };
  for (const Case& c : cases) {
    LatencyHistogram h;
    for (std::uint64_t v : c.values) h.Record(v);
    EXPECT_EQ(h.Percentile(c.fraction), c.expected) << c.values.size() << " values, " << c.fraction;
  }
  // 100,000 calls of 1..100,000 us: p99.9 lies in the top 0.1 %.
  LatencyHistogram h;
  for (std::uint64_t v = 1; v <= 100000; ++v) h.Record(v);
  EXPECT_NEAR(static_cast<double>(h.Percentile(0.5)), 50000, 50000 / 64.0);
  EXPECT_NEAR(static_cast<double>(h.Percentile(0.99)), 99000, 99000 / 64.0);
  EXPECT_NEAR(static_cast<double>(h.Percentile(0.999)), 99900, 99900 / 64.0);
  LatencyHistogram merged;
  h.MergeInto(merged);
  h.MergeInto(merged);
  EXPECT_EQ(merged.Count(), 200000u);
  EXPECT_EQ(merged.Percentile(0.5), h.Percentile(0.5));
}

TEST(Options, OnlyLoopbackIpLiteralsAreServed) {
  struct Case {
    const char* url;
    const char* host;  // nullptr: refused
    int port;
    bool tls;
  };
  const Case cases[] = {
      {"https://127.0.0.1:8443", "127.0.0.1", 8443, true},
      {"http://127.200.3.4", "127.200.3.4", 80, false},
      {"https://127.0.0.1", "127.0.0.1", 443, true},
      {"https://[::1]:9000", "::1", 9000, true},
      {"https://10.0.0.1:8443", nullptr, 0, false},
      {"https://128.0.0.1:8443", nullptr, 0, false},
      {"https://0.0.0.0:8443", nullptr, 0, false},
      {"https://localhost:8443", nullptr, 0, false},  // a name: where it resolves is not ours to know
      {"https://[::ffff:127.0.0.1]:8443", nullptr, 0, false},
      {"https://[::2]:8443", nullptr, 0, false},
      {"https://127.0.0.1:0", nullptr, 0, false},
      {"ftp://127.0.0.1:21", nullptr, 0, false},
      {"https://127.0.0.1:8443/v1", nullptr, 0, false},
      {"https://user@127.0.0.1:8443", nullptr, 0, false},
      {"127.0.0.1:8443", nullptr, 0, false},
      {"", nullptr, 0, false},
  };
  for (const Case& c : cases) {
    const auto endpoint = ParseLoopbackServer(c.url);
    if (!c.host) {
      EXPECT_FALSE(endpoint) << c.url;
      EXPECT_NE(endpoint.Error().find(c.url), std::string::npos) << endpoint.Error();
      continue;
    }
    ASSERT_TRUE(endpoint) << c.url << ": " << endpoint.Error();
    EXPECT_EQ(endpoint.Value().host, c.host) << c.url;
    EXPECT_EQ(endpoint.Value().port, c.port) << c.url;
    EXPECT_EQ(endpoint.Value().tls, c.tls) << c.url;
  }
}

TEST(Process, VmRssIsReadOnlyFromAWellFormedLine) {
  const std::pair<const char*, std::optional<std::uint64_t>> cases[] = {
      {"Name:\ttrustd\nVmPeak:\t  99999 kB\nVmRSS:\t   12345 kB\nRssAnon:\t 1 kB\n", 12345},
      {"VmRSS: 0 kB", 0},
      {"Name:\tkthreadd\nState:\tS\n", std::nullopt},  // kernel threads have none
      {"VmRSS:\t   kB\n", std::nullopt},
      {"VmRSS:\t 12 MB\n", std::nullopt},
      {"VmRSS:\t 99999999999999999999999 kB\n", std::nullopt},
      {"XVmRSS:\t 5 kB\n", std::nullopt},
  };
  for (const auto& [text, expected] : cases) EXPECT_EQ(ParseVmRssKib(text), expected) << text;

  RssSampler self(::getpid(), std::chrono::milliseconds(10));
  ASSERT_TRUE(self.Start()) << self.Problem();
  std::vector<char> grow(32 << 20, 1);  // touched: resident
  std::this_thread::sleep_for(std::chrono::milliseconds(60));
  self.Stop();
  ASSERT_TRUE(self.StartKib() && self.PeakKib() && self.EndKib());
  EXPECT_GE(*self.PeakKib(), *self.StartKib() + 30 * 1024) << grow[grow.size() - 1];
  RssSampler gone(999999999, std::chrono::milliseconds(10));
  EXPECT_FALSE(gone.Start());
  EXPECT_NE(gone.Problem().find("999999999"), std::string::npos);
}

TEST(Options, TokenFileLikeTrustctl) {
  char directory[] = "/tmp/trustload-test-XXXXXX";
  ASSERT_TRUE(::mkdtemp(directory));
  const std::string path = std::string(directory) + "/token";
  struct Case {
    std::string content;
    mode_t mode;
    const char* token;  // nullptr: refused
  };
  const Case cases[] = {
      {"  secret-token \t\nsecond line\n", 0600, "secret-token"},
      {"token-without-newline", 0400, "token-without-newline"},
      {"token\r\n", 0600, "token"},
      {"readable-by-others\n", 0644, nullptr},
      {"readable-by-group\n", 0640, nullptr},
      {" \t\nnext\n", 0600, nullptr},
      {"", 0600, nullptr},
      {std::string(5000, 'x'), 0600, nullptr},
  };
  for (const Case& c : cases) {
    ::unlink(path.c_str());
    std::ofstream(path) << c.content;
    ASSERT_EQ(::chmod(path.c_str(), c.mode), 0);
    const auto token = ReadTokenFile(path);
    if (!c.token) {
      EXPECT_FALSE(token) << c.content.substr(0, 20);
      continue;
    }
    ASSERT_TRUE(token) << token.Error();
    EXPECT_EQ(token.Value().Reveal(), c.token);
  }
  EXPECT_FALSE(ReadTokenFile(std::string(directory) + "/absent"));
  ::unlink(path.c_str());
  ::rmdir(directory);
}

// A worker starts anywhere in the cycle, makes the prelude's creates, then
// walks the cycle: an entry must exist for every step that reads or changes
// it, and none for a create or a step that expects it gone.
TEST(Mix, EveryStepFindsTheStoreAsItExpectsFromEveryStart) {
  const auto calls = CallsPerCycle();
  for (int i = 0; i < kOperationCount; ++i)
    EXPECT_GT(calls[static_cast<std::size_t>(i)], 0) << OperationName(static_cast<Operation>(i));

  struct Kind {
    Operation create, remove;
    std::vector<Operation> uses;
  };
  const Kind kinds[] = {
      {Operation::kProvidersCreate,
       Operation::kProvidersDelete,
       {Operation::kProvidersGet, Operation::kProvidersList, Operation::kProvidersUpdate}},
      {Operation::kAttestationServicesCreate,
       Operation::kAttestationServicesDelete,
       {Operation::kAttestationServicesGet, Operation::kAttestationServicesList}},
      {Operation::kKeyServersCreate,
       Operation::kKeyServersDelete,
       {Operation::kKeyServersGet, Operation::kKeyServersList}},
  };
  const std::size_t length = Cycle().size();
  for (std::size_t start = 0; start < length; ++start) {
    std::vector<Step> walk = PreludeFor(start);
    for (std::size_t i = 0; i < 2 * length; ++i) walk.push_back(Cycle()[(start + i) % length]);
    for (const Kind& kind : kinds) {
      SCOPED_TRACE(std::string(OperationName(kind.create)) + " from step " + std::to_string(start));
      bool live = false;
      for (std::size_t i = 0; i < walk.size(); ++i) {
        const Step& step = walk[i];
        const bool use = std::find(kind.uses.begin(), kind.uses.end(), step.operation) != kind.uses.end();
        if (step.operation == kind.create && step.variant == Variant::kPresent) {
          EXPECT_FALSE(live) << "step " << i;
          live = true;
        } else if (step.operation == kind.create || step.operation == kind.remove ||
                   (use && step.variant == Variant::kPresent)) {
          EXPECT_TRUE(live) << "step " << i;
          if (step.operation == kind.remove) live = false;
        } else if (use) {
          EXPECT_FALSE(live) << "step " << i;
        }
      }
    }
  }
  // Starts spread over the whole cycle.
  EXPECT_EQ(StartOf(0, 8), 0u);
  EXPECT_EQ(StartOf(4, 8), length / 2);
  EXPECT_LT(StartOf(255, 256), length);

  // Reads dominate; the serialised TPM gets a small share.
  int reads = 0, tpm = 0;
  for (const Step& step : Cycle()) {
    const std::string name = OperationName(step.operation);
    if (name.find("/list") != std::string::npos || name.find("/get") != std::string::npos) ++reads;
    if (TalksToTpm(step.operation)) ++tpm;
  }
  EXPECT_GT(reads * 3, static_cast<int>(Cycle().size()) * 2);
  EXPECT_LT(tpm * 10, static_cast<int>(Cycle().size()));
}

TEST(Report, JsonAgreesWithTheTable) {
  Measurements m;
  m.connections = 64;
  m.measuredSeconds = 2.0;
  for (int i = 0; i < 300; ++i) m.operations[0].latency.Record(1000);
  for (int i = 0; i < 100; ++i) m.operations[5].latency.Record(3000);
  m.operations[5].unexpected = 2;
  m.unexpected.Add("com.corvane.tovri.std.errors.timed_out", "attestation.services/list: timed_out");
  m.unexpected.Add("com.corvane.tovri.std.errors.timed_out", "attestation.services/list: timed_out");
  m.asked.Add("com.corvane.tovri.std.errors.not_found", {});
  m.rss.startKib = 1000;
  m.rss.peakKib = 3000;
  const auto root = boost::json::parse(JsonReport(m)).as_object();
  EXPECT_EQ(root.at("calls").to_number<std::uint64_t>(), 400u);
  EXPECT_DOUBLE_EQ(root.at("calls_per_second").as_double(), 200.0);
  EXPECT_EQ(root.at("unexpected_errors").at("timed_out").to_number<std::uint64_t>(), 2u);
  EXPECT_EQ(root.at("asked_for_errors").at("not_found").to_number<std::uint64_t>(), 1u);
  const auto& list = root.at("operations").at("attestation.services/list").as_object();
  EXPECT_EQ(list.at("calls").to_number<std::uint64_t>(), 100u);
  EXPECT_EQ(list.at("unexpected_errors").to_number<std::uint64_t>(), 2u);
  EXPECT_NEAR(list.at("p50_ms").as_double(), 3.0, 3.0 / 64);
  EXPECT_NEAR(root.at("latency").at("p50_ms").as_double(), 1.0, 1.0 / 64);
  EXPECT_NEAR(root.at("latency").at("p99_ms").as_double(), 3.0, 3.0 / 64);
  EXPECT_EQ(root.at("daemon_rss_kib").at("peak").to_number<std::uint64_t>(), 3000u);
  EXPECT_TRUE(root.at("daemon_rss_kib").at("end").is_null());

  const std::string text = TextReport(m);
  EXPECT_NE(text.find("calls 400: 200.0 calls/s"), std::string::npos) << text;
  EXPECT_NE(text.find("unexpected errors 2, asked-for errors 1"), std::string::npos) << text;
  EXPECT_NE(text.find("timed_out"), std::string::npos) << text;
}

}  // namespace
