// Every committed fuzz corpus input, run through its target's properties.
// A fuzzing finding keeps its input in the corpus, so this replays every
// finding as well as the seeds.
#include <algorithm>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "check_properties.hpp"
#include "eventlog_properties.hpp"
#include "format_properties.hpp"
#include "http_request_properties.hpp"
#include "lossless_json_properties.hpp"
#include "natural_json_properties.hpp"
#include "primitive_properties.hpp"
#include "road_properties.hpp"
#include "support/test_support.hpp"
#include "trustd_input_properties.hpp"

namespace {

namespace fs = std::filesystem;

using CaseFunction = void (*)(const std::uint8_t*, std::size_t, DralFuzz::Verdict&);

// Small enough that recursing once per level of a deep tree overflows it.
constexpr std::size_t kSmallStack = 256 * 1024;

void Replay(const std::string& target, CaseFunction run, std::size_t stack = 0) {
  const fs::path directory = fs::path(DRAL_FUZZ_CORPUS_DIR) / target;
  ASSERT_TRUE(fs::is_directory(directory)) << directory;
  std::vector<fs::path> inputs;
  for (const auto& entry : fs::directory_iterator(directory)) {
    if (entry.is_regular_file()) inputs.push_back(entry.path());
  }
  std::sort(inputs.begin(), inputs.end());
  EXPECT_FALSE(inputs.empty()) << "no corpus in " << directory;
  for (const fs::path& input : inputs) {
    std::ifstream file(input, std::ios::binary);
    const std::string bytes((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
    DralFuzz::Verdict verdict;
    const auto once = [&] {
      run(reinterpret_cast<const std::uint8_t*>(bytes.data()), bytes.size(), verdict);
    };
    if (stack == 0) {
      once();
    } else {
      Dral::TestSupport::RunOnStack(stack, once);
    }
    EXPECT_TRUE(verdict.Passed()) << input.filename() << "\n" << verdict.Report();
  }
}

void RunCheck(const std::uint8_t* data, std::size_t size, DralFuzz::Verdict& verdict) {
  DralFuzz::CheckDefinitionCase(data, size, verdict);
}

// Trees of 100k levels; they must not overflow the stack.
void RunDeepCheck(const std::uint8_t* data, std::size_t size, DralFuzz::Verdict& verdict) {
  DralFuzz::CheckOptions options;
  options.deep = true;
  DralFuzz::CheckDefinitionCase(data, size, verdict, options);
}

TEST(FuzzCorpusReplay, Format) { Replay("format", &DralFuzz::CheckFormatCase); }
TEST(FuzzCorpusReplay, Primitive) { Replay("primitive", &DralFuzz::CheckPrimitiveCase); }
TEST(FuzzCorpusReplay, Check) { Replay("check", &RunCheck); }
TEST(FuzzCorpusReplay, CheckDeepOnASmallStack) { Replay("check-deep", &RunDeepCheck, kSmallStack); }

void RunRoad(const std::uint8_t* data, std::size_t size, DralFuzz::Verdict& verdict) {
  DralFuzz::CheckRoadCase(data, size, verdict);
}

void RunDeepRoad(const std::uint8_t* data, std::size_t size, DralFuzz::Verdict& verdict) {
  DralFuzz::RoadOptions options;
  options.deep = true;
  DralFuzz::CheckRoadCase(data, size, verdict, options);
}

TEST(FuzzCorpusReplay, Road) { Replay("road", &RunRoad); }
TEST(FuzzCorpusReplay, RoadDeepOnASmallStack) { Replay("road-deep", &RunDeepRoad, kSmallStack); }

TEST(FuzzCorpusReplay, NaturalJson) { Replay("natural_json", &DralFuzz::CheckNaturalJsonCase, kSmallStack); }
TEST(FuzzCorpusReplay, LosslessJson) {
  Replay("lossless_json", &DralFuzz::CheckLosslessJsonCase, kSmallStack);
}

TEST(FuzzCorpusReplay, EventLog) { Replay("eventlog", &DralFuzz::CheckEventLogCase); }
TEST(FuzzCorpusReplay, TrustdInput) { Replay("trustd_input", &DralFuzz::CheckTrustdInputCase); }
TEST(FuzzCorpusReplay, HttpRequest) { Replay("http_request", &DralFuzz::CheckHttpRequestCase); }

}  // namespace
